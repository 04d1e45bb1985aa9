#pragma once
// The parser of one downloaded page: a worker thread that decodes the page
// (TPageEncoding), cuts its text into tags as the HTML tokenizer does, reads
// each tag's name (and the attributes of the tags that can hold addresses),
// and collects the page's links (anchors) and embedded objects as absolute
// addresses, each with the number of times it occurs on the page. It reads
// the page where it lies and keeps no tag.
//
// One parser serves one page. The window creates it (suspended), hands it the
// address, the text, the server's Content-Type and the depth, resumes it (or
// runs it on its own thread with RunHere, for a small page), and reads Anchors() and
// Objects() once the end message WM_PARSER_END has arrived; then it deletes
// the parser, which frees every record it made.

#include "ParserText.h"
#include "TAddressIndex.h"
#include "TLinkResolver.h"
#include "TPageEncoding.h"
#include "TPharseTree.h"
#include "common/TObjectType.h"
#include "common/TTag.h"
#include "platform/TThread.h"
#include "platform/TWindowHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class THtmlParser : public TThread {
public:
    // Reads the skip list (see SetSkipFileName); throws EFOpenError, with a
    // message naming the file, when it cannot be opened.
    explicit THtmlParser(HWND window);
    // The skip list as the file reads now, to share among many parsers (a
    // crawl reads it once). Throws EFOpenError as the constructor does.
    using TSkipList = std::shared_ptr<const std::vector<std::string>>;
    static TSkipList ReadSkipList();
    // A parser with a skip list read before; it reads no file.
    THtmlParser(HWND window, TSkipList skipTags);
    // Waits for the thread, then frees every record it owns.
    ~THtmlParser() override;

    void SetUrl(const std::string& url);
    void SetDocument(std::string document);
    // The server's Content-Type, whose charset says how the page is decoded.
    void SetContentType(std::string contentType);
    void SetDepth(std::int32_t depth);

    // One record per distinct address, in order of first occurrence, with
    // the number of times the address occurs on the page.
    const std::vector<_TObjectType*>& Anchors() const noexcept { return FAnchors; }
    const std::vector<_TObjectType*>& Objects() const noexcept { return FObjects; }
    // The line (from 1) of the tag where each address first occurs, the line
    // of its "<"; in the order of Anchors() and Objects(). LF, CR LF and CR
    // each end a line.
    const std::vector<std::uint32_t>& AnchorLines() const noexcept { return FAnchorLines; }
    const std::vector<std::uint32_t>& ObjectLines() const noexcept { return FObjectLines; }
    const std::vector<std::string>& SkipTags() const noexcept { return *FSkipTags; }
    // The text to scan; the thread lets it go once its scan has ended.
    const std::string& Document() const noexcept { return FDocument; }
    const std::string& PageUrl() const noexcept { return FPageUrl; }
    bool UrlSet() const noexcept { return FUrlSet; }
    // True when the thread's parse stopped early (out of memory on a huge
    // page): the lists hold only what was found before.
    bool Incomplete() const noexcept { return FIncomplete; }
    std::int32_t Depth() const noexcept { return FDepth; }
    const TPharseTree* Tree() const noexcept { return FTree.get(); }

    // Scans the whole document and fills the lists. The thread body runs it;
    // it is public so that a caller may also run it on its own thread.
    void Parse();

    // Fills a fresh tag record from the text of one tag (everything from its
    // "<" up to, not including, its ">") as the scan reads it.
    void ReadTag(_TTag& tag, std::string_view tagText) const;

    // The attributes written in attributeText, in order; null when none. The
    // caller owns the list (FreeAttributeList).
    static _TAttribute* ReadAttributes(std::string_view attributeText);

    // The absolute address of link on the page at base, or empty when the
    // link is rejected or blank. Reads no parser state.
    static std::string ResolveLink(std::string base, std::string link);

    // The address of the next candidate of a srcset list ("a.png 1x, b.png
    // 2x"), read from pos on; pos is left past the candidate. Empty when no
    // candidate is left.
    static std::string_view NextSrcSetAddress(std::string_view list, std::size_t& pos);
    // The address a refresh content ("5; url=next.html") leads to; empty when
    // it names none.
    static std::string_view RefreshAddress(std::string_view content);

    // The skip file, "TTags.txt" unless set otherwise. An absolute path is
    // used as it is; any other name is looked for in the current directory
    // first, then in the directory of the running executable, then in
    // share/marrowby beside that directory (where an install puts it).
    static void SetSkipFileName(const std::string& nameOrPath);
    static std::string SkipFileName();
    static constexpr const char* DefaultSkipFileName = "TTags.txt";

protected:
    // Names the thread "HtmlParser" (through TThread), runs Parse and posts
    // WM_PARSER_END with wParam 0 and lParam this parser to the window.
    void Execute() override;

private:
    static std::vector<std::string> LoadSkipTags();
    // True when some line of the skip list could name a tag of the link
    // table or BASE; only then must such a tag be looked up in the list.
    static bool SkipListHidesLinkTags(const std::vector<std::string>& skipTags);
    // True when the tag name, as written, is a line of the skip list.
    bool IsSkipped(std::string_view name) const;

    // Reads one start tag (its name as written, and the page from the end of
    // the name on) for what it adds: the page's base or addresses. Only a
    // BASE tag or a tag named in the link table has its attributes read.
    // Says where in rest the tag's ">" is (npos: it never closes).
    parser_text::TTagRead ReadTagLinks(std::string_view name, std::string_view rest);
    // Records the addresses that these rows of the link table take from the
    // tag's attributes (FAttributes).
    void ExtractLinks(unsigned rows);
    // Sets the base from the HREF of a BASE tag's attributes (FAttributes)
    // and returns true; false when it has none.
    bool TakeBase();
    void FreeRecords() noexcept;
    // Reads the attributes of one tag into FAttributes; returns where its
    // ">" is in text, or npos when it never closes.
    std::size_t ReadAttributeList(std::string_view text);
    // The value of the first attribute of this name (in any letter case),
    // its character references decoded; empty when there is none. It stays
    // valid until the next call.
    std::string_view FirstValue(std::string_view name);
    // True when a LINK's rel tokens are all resource hints (preconnect,
    // dns-prefetch), which name an origin to contact, not a resource.
    bool OnlyResourceHints();
    void Record(bool anchor, std::string_view link);
    // The line of the tag being read. Lines are counted only when a tag
    // yields a new address, from where the last count ended.
    std::uint32_t TagLine() noexcept;

    std::string FDocument;
    std::string FContentType;
    TPageEncoding FEncoding;
    std::unique_ptr<TPharseTree> FTree;
    TSkipList FSkipTags;
    bool FSkipHidesLinkTags = false;
    HWND FWindow;
    bool FUrlSet = false;
    bool FIncomplete = false;
    std::string FPageUrl;
    // What links are resolved against: the page's address, or the address
    // that the page's BASE tag gives.
    std::string FBaseUrl;
    std::int32_t FDepth = 0;
    std::vector<_TObjectType*> FAnchors;
    std::vector<_TObjectType*> FObjects;
    TAddressIndex FAnchorIndex;
    TAddressIndex FObjectIndex;
    std::vector<std::uint32_t> FAnchorLines;
    std::vector<std::uint32_t> FObjectLines;

    // Working state of the scan, reused from tag to tag.
    TLinkResolver FResolver;
    bool FBaseTaken = false; // a BASE tag with an HREF was met
    bool FRescan = false;    // it changed the base after links were recorded
    std::vector<std::pair<std::string_view, std::string_view>> FAttributes;
    std::string FValue;
    std::string FMended;
    std::string FAddress;
    std::size_t FTagStart = 0;  // where the tag being read begins: its "<"
    std::size_t FCountedTo = 0; // line ends are counted up to here
    std::uint32_t FLine = 1;    // the line at FCountedTo
};
