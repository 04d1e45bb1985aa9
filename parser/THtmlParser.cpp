// The parser thread: construction with its skip list, the thread body and
// the scan that cuts a page into tags.

#include "THtmlParser.h"

#include "ParserText.h"
#include "TAttributeReader.h"
#include "TPageEncoding.h"
#include "common/Messages.h"
#include "platform/EFOpenError.h"
#include "platform/TLineReader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>

using namespace parser_text;

namespace {

constexpr std::size_t npos = std::string_view::npos;

// How many steps of the scan pass between two looks at a stop request.
constexpr std::size_t TerminateCheckInterval = 4096;

std::mutex& SkipFileLock() {
    static std::mutex lock;
    return lock;
}

std::string& SkipFileNameStore() {
    static std::string name = THtmlParser::DefaultSkipFileName;
    return name;
}

std::filesystem::path ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

// Elements whose content is text, not markup, up to their own end tag.
bool HoldsRawText(std::string_view name) noexcept {
    switch (PackedName(name)) {
    case PackedName("SCRIPT"):
    case PackedName("STYLE"):
    case PackedName("TEXTAREA"):
    case PackedName("TITLE"):
    case PackedName("XMP"):
    case PackedName("NOEMBED"):
    case PackedName("NOFRAMES"):
    case PackedName("IFRAME"):
        return true;
    default:
        return false;
    }
}

// The position of the "<" of the end tag "</name" (followed by a blank, "/"
// or ">") at or after from, or npos.
std::size_t RawTextEnd(std::string_view page, std::string_view name, std::size_t from) {
    for (std::size_t at = FindByte(page, '<', from); at != npos; at = FindByte(page, '<', at + 1)) {
        const std::size_t after = at + 2 + name.size();
        if (after <= page.size() && page[at + 1] == '/' &&
            EqualsNoCase(page.substr(at + 2, name.size()), name) &&
            (after == page.size() || IsHtmlSpace(page[after]) || page[after] == '/' ||
             page[after] == '>'))
            return at;
    }
    return npos;
}

// The position just past the end of the comment whose "<!--" is at lt, or
// npos when it runs to the end of the page. "-->" or "--!>" ends it, and
// "<!-->" and "<!--->" are whole comments.
std::size_t CommentEnd(std::string_view page, std::size_t lt) {
    const std::size_t body = lt + 4;
    if (page.substr(body).starts_with(">"))
        return body + 1;
    if (page.substr(body).starts_with("->"))
        return body + 2;
    for (std::size_t gt = FindByte(page, '>', body); gt != npos; gt = FindByte(page, '>', gt + 1)) {
        if (gt >= body + 2 && page[gt - 1] == '-' && page[gt - 2] == '-')
            return gt + 1;
        if (gt >= body + 3 && page[gt - 1] == '!' && page[gt - 2] == '-' && page[gt - 3] == '-')
            return gt + 1;
    }
    return npos;
}

// The scan reads a page as the HTML tokenizer does, as far as links need:
//  - a letter after "<" opens a start tag: its name, then its attributes up
//    to a ">" that no quote holds; onTag gets the name and the page after
//    it, and says where the tag ends and whether the scan goes on. The content of a raw-text
//    element (SCRIPT, STYLE, TEXTAREA, TITLE, ...) is passed over up to its
//    end tag; PLAINTEXT holds the rest of the page;
//  - "</" and a letter open an end tag, read the same way for its end;
//  - "<!--" opens a comment; "<!", "<?" and "</" with anything else open a
//    bogus comment, up to the next ">";
//  - any other "<" is text.
// A tag, comment or raw-text element that the page never closes holds the
// rest of the page. Positions only move forward, so a page is read in time
// linear in its length.
//
// The scan also ends when the thread is asked to stop.
template <class OnTag> void ScanTags(std::string_view page, const TThread& thread, OnTag&& onTag) {
    const std::size_t size = page.size();
    std::size_t pos = 0;
    for (std::size_t step = 0;; ++step) {
        if (step % TerminateCheckInterval == 0 && thread.Terminated())
            return;
        const std::size_t lt = FindByte(page, '<', pos);
        if (lt == npos || lt + 1 >= size)
            return;
        const char next = page[lt + 1];
        if (IsAsciiLetter(next)) {
            const std::size_t nameEnd = TagNameEnd(page, lt + 2);
            const std::string_view name = page.substr(lt + 1, nameEnd - lt - 1);
            const TTagRead read = onTag(name, page.substr(nameEnd));
            if (read.After == TAfterTag::Stop || read.End == npos)
                return;
            pos = nameEnd + read.End + 1;
            if (HoldsRawText(name)) {
                pos = RawTextEnd(page, name, pos);
                if (pos == npos)
                    return;
            } else if (name.size() == 9 && EqualsNoCase(name, "plaintext")) {
                return;
            }
            continue;
        }
        if (next == '/' && lt + 2 < size && IsAsciiLetter(page[lt + 2])) {
            pos = TAttributeReader::TagEnd(page, TagNameEnd(page, lt + 3));
        } else if (next == '!' && page.substr(lt + 2, 2) == "--") {
            pos = CommentEnd(page, lt);
            if (pos == npos)
                return;
            continue;
        } else if (next == '!' || next == '?' || next == '/') {
            pos = FindByte(page, '>', lt + 2);
        } else {
            pos = lt + 1;
            continue;
        }
        if (pos == npos)
            return;
        ++pos;
    }
}

} // namespace

THtmlParser::THtmlParser(HWND window) : THtmlParser(std::move(window), ReadSkipList()) {}

THtmlParser::THtmlParser(HWND window, TSkipList skipTags)
    : TThread("HtmlParser"), FTree(std::make_unique<TPharseTree>()), FSkipTags(std::move(skipTags)),
      FSkipHidesLinkTags(SkipListHidesLinkTags(*FSkipTags)), FWindow(std::move(window)),
      FPageUrl(1, '0'), FBaseUrl(FPageUrl) {}

THtmlParser::TSkipList THtmlParser::ReadSkipList() {
    return std::make_shared<const std::vector<std::string>>(LoadSkipTags());
}

THtmlParser::~THtmlParser() {
    WaitFor();
    FreeRecords();
}

void THtmlParser::SetUrl(const std::string& url) {
    FPageUrl = url;
    FBaseUrl = url;
    FUrlSet = true;
}

void THtmlParser::SetDocument(std::string document) {
    FDocument = std::move(document);
}

void THtmlParser::SetContentType(std::string contentType) {
    FContentType = std::move(contentType);
}

void THtmlParser::SetDepth(std::int32_t depth) {
    FDepth = depth;
}

void THtmlParser::SetSkipFileName(const std::string& nameOrPath) {
    std::lock_guard guard(SkipFileLock());
    SkipFileNameStore() = nameOrPath;
}

std::string THtmlParser::SkipFileName() {
    std::lock_guard guard(SkipFileLock());
    return SkipFileNameStore();
}

// The lines of the skip file, each as written (a line-ending CR is dropped,
// for files written on other systems). A relative name is looked for in the
// current directory, beside the executable, then under the install prefix the
// executable is in (bin/../share/marrowby).
std::vector<std::string> THtmlParser::LoadSkipTags() {
    const std::string name = SkipFileName();
    std::vector<std::string> candidates{name};
    if (!std::filesystem::path(name).is_absolute()) {
        const std::filesystem::path exeDir = ExecutableDirectory();
        if (!exeDir.empty()) {
            candidates.push_back((exeDir / name).string());
            candidates.push_back((exeDir.parent_path() / "share" / "marrowby" / name).string());
        }
    }
    std::string reasons;
    for (const std::string& path : candidates) {
        TLineReadResult lines = TLineReader::LoadFromFile(path);
        if (lines.Ok)
            return std::move(lines.Lines);
        reasons += (reasons.empty() ? "" : "; ") + lines.Error;
    }
    throw EFOpenError("Cannot open the skip-tag file \"" + name + "\" (" + reasons + ")");
}

void THtmlParser::Execute() {
    try {
        Parse();
    } catch (...) {
        // Out of memory on a huge page: the window still gets what was found.
        FIncomplete = true;
    }
    // The records hold their own addresses: the text is not needed while the
    // window merges them, and a big page would double the peak.
    std::string().swap(FDocument);
    PostMessage(FWindow, WM_PARSER_END, 0, reinterpret_cast<std::uintptr_t>(this));
}

bool THtmlParser::IsSkipped(std::string_view name) const {
    return std::find(FSkipTags->begin(), FSkipTags->end(), name) != FSkipTags->end();
}

// The page is decoded first (TPageEncoding). A BASE tag sets the base for the
// links before it too. The scan reads the
// page once with the page's address as the base; when it meets the BASE tag
// that changes the base after links were already recorded, it drops them and
// reads the page again with the new base. The BASE tag of a page usually
// comes first, in its head, so the second reading is rare and short.
void THtmlParser::Parse() {
    if (!FUrlSet)
        return;
    FEncoding = TPageEncoding::Detect(FDocument, FContentType, TPageEncoding::SystemLocale());
    FEncoding.Decode(FDocument);
    const std::string_view page(FDocument);
    FBaseUrl = FPageUrl;
    FResolver = TLinkResolver(FBaseUrl, &FEncoding);
    FBaseTaken = false;
    FRescan = false;
    FCountedTo = 0;
    FLine = 1;
    auto onTag = [this](std::string_view name, std::string_view rest) {
        return ReadTagLinks(name, rest);
    };
    ScanTags(page, *this, onTag);
    if (FRescan) {
        FreeRecords();
        FRescan = false;
        ScanTags(page, *this, onTag);
    }
}

std::uint32_t THtmlParser::TagLine() noexcept {
    if (FTagStart > FCountedTo) {
        const std::string_view page(FDocument);
        FLine += static_cast<std::uint32_t>(
            CountLineEnds(page.substr(FCountedTo, FTagStart - FCountedTo)));
        FCountedTo = FTagStart;
    }
    return FLine;
}

void THtmlParser::FreeRecords() noexcept {
    for (_TObjectType* record : FAnchors)
        delete record;
    for (_TObjectType* record : FObjects)
        delete record;
    FAnchors.clear();
    FObjects.clear();
    FAnchorIndex.Clear();
    FObjectIndex.Clear();
    FAnchorLines.clear();
    FObjectLines.clear();
    FCountedTo = 0;
    FLine = 1;
}
