#pragma once
// The parser of one downloaded page: a worker thread that cuts the page text
// into tags, reads each tag's name and attributes, and collects the page's
// links (anchors) and embedded objects as absolute addresses, each with the
// number of times it occurs on the page.
//
// One parser serves one page. The window creates it (suspended), hands it the
// address, the text and the depth, resumes it, and reads Anchors() and
// Objects() once the end message WM_PARSER_END has arrived; then it deletes
// the parser, which frees every record it made.

#include "TPharseTree.h"
#include "common/TObjectType.h"
#include "common/TTag.h"
#include "platform/TThread.h"
#include "platform/TWindowHandle.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class THtmlParser : public TThread {
public:
    using TCountMap = std::map<std::string, std::uint32_t>;

    // Reads the skip list (see SetSkipFileName); throws EFOpenError, with a
    // message naming the file, when it cannot be opened.
    explicit THtmlParser(HWND window);
    // Waits for the thread, then frees every tag and record it owns.
    ~THtmlParser() override;

    void SetUrl(const std::string& url);
    void SetDocument(std::string document);
    void SetDepth(std::int32_t depth);

    // One record per distinct address, in order of first occurrence.
    const std::vector<_TObjectType*>& Anchors() const noexcept { return FAnchors; }
    const std::vector<_TObjectType*>& Objects() const noexcept { return FObjects; }
    // Occurrences per address; the same addresses and counts as the records.
    const TCountMap& AnchorCounts() const noexcept { return FAnchorCounts; }
    const TCountMap& ObjectCounts() const noexcept { return FObjectCounts; }
    // The tags that matched a row of the link table, in page order.
    const std::vector<_TTag*>& Tags() const noexcept { return FTags; }
    const std::vector<std::string>& SkipTags() const noexcept { return FSkipTags; }
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

    // Looks the tag up in the link table and records the addresses it yields,
    // resolved against the page's base. True when at least one row matched
    // the tag (even if nothing was recorded). Upper-cases the tag's name and
    // the attribute names examined.
    bool ExtractLinks(_TTag& tag);

    // Fills a fresh tag record from the text of one tag: everything from its
    // "<" up to, not including, its ">".
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
    // Sets the base from a BASE tag with an HREF and returns true; false for
    // any other tag.
    bool TakeBase(_TTag& tag);
    void Record(bool anchor, std::string_view link);

    std::string FDocument;
    std::unique_ptr<TPharseTree> FTree;
    std::vector<std::string> FSkipTags;
    std::vector<_TTag*> FTags;
    HWND FWindow;
    bool FUrlSet = false;
    bool FIncomplete = false;
    std::string FPageUrl;
    // What links are resolved against: the page's address, or the address
    // that the page's BASE tag gives.
    std::string FBaseUrl;
    std::int32_t FDepth = 0;
    TCountMap FAnchorCounts;
    TCountMap FObjectCounts;
    std::vector<_TObjectType*> FAnchors;
    std::vector<_TObjectType*> FObjects;

    // From the key of a count map (map keys never move) to its record, so a
    // repeated address finds its record without walking the list.
    std::unordered_map<const std::string*, _TObjectType*> FAnchorIndex;
    std::unordered_map<const std::string*, _TObjectType*> FObjectIndex;
};
