// The parser thread: construction with its skip list, the thread body and
// the scan that cuts a page into tags.

#include "THtmlParser.h"

#include "ParserText.h"
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

// Finds the next "</script>", in any letter case, for searches whose start
// never goes backwards: a page with many unclosed scripts is still read once.
class TScriptEndFinder {
public:
    explicit TScriptEndFinder(std::string_view text) noexcept : FText(text), FLt(text, '<') {}

    std::size_t From(std::size_t from) noexcept {
        if (FKnown && (FAt == npos || FAt >= from))
            return FAt;
        FKnown = true;
        static constexpr std::string_view Closing = "</SCRIPT>";
        for (std::size_t at = FLt.From(from); at != npos; at = FLt.From(at + 1)) {
            if (FText.size() - at >= Closing.size() &&
                EqualsNoCase(FText.substr(at, Closing.size()), Closing)) {
                FAt = at;
                return FAt;
            }
        }
        FAt = npos;
        return FAt;
    }

private:
    std::string_view FText;
    TNextFinder FLt;
    std::size_t FAt = 0;
    bool FKnown = false;
};

// The scan works on positions in the page. Each step looks for the next "<"
// and the next ">":
//  - a "<" before the next ">" opens a tag, whose text runs up to that ">";
//    after an ordinary tag the scan goes on past the tag's text content (its
//    leading blanks are not counted, so it resumes a little early, which is
//    harmless), after a SCRIPT tag right after its "</script>", so markup
//    inside a script is never read; a SCRIPT that is never closed makes the
//    scan skip only the 8 characters after it;
//  - a ">" before the next "<" is stray text, and the scan goes on right
//    after it;
//  - once no "<" or no ">" is left, no tag can follow and the scan ends.
// Positions only move forward and every search resumes where the last one
// stopped, so a page is read in time linear in its length.
//
// onTag gets the text of each tag, from its "<" up to its ">", and says how
// the scan goes on. The scan also ends when the thread is asked to stop.
template <class OnTag> void ScanTags(std::string_view page, const TThread& thread, OnTag&& onTag) {
    TNextFinder nextLt(page, '<');
    TNextFinder nextGt(page, '>');
    TScriptEndFinder scriptEnd(page);
    std::size_t pos = 0;
    for (std::size_t step = 0;; ++step) {
        if (step % TerminateCheckInterval == 0 && thread.Terminated())
            return;
        const std::size_t lt = nextLt.From(pos);
        const std::size_t gt = nextGt.From(pos);
        if (lt == npos || gt == npos)
            return;
        if (gt < lt) {
            pos = gt + 1;
            continue;
        }

        const TAfterTag after = onTag(page.substr(lt, gt - lt));
        if (after == TAfterTag::Stop)
            return;
        const std::size_t rest = gt + 1;
        std::size_t following = 0; // length of the text that belongs to this tag
        if (after == TAfterTag::Script) {
            const std::size_t close = scriptEnd.From(rest);
            following = close == npos ? std::min<std::size_t>(8, page.size() - rest)
                                      : close - rest + std::strlen("</script>");
        } else if (const std::size_t next = nextLt.From(rest); next != npos) {
            following = Trim(page.substr(rest, next - rest)).size();
        }
        pos = rest + following;
    }
}

} // namespace

THtmlParser::THtmlParser(HWND window)
    : TThread("HtmlParser"), FTree(std::make_unique<TPharseTree>()), FSkipTags(LoadSkipTags()),
      FSkipHidesLinkTags(SkipListHidesLinkTags(FSkipTags)), FWindow(std::move(window)),
      FPageUrl(1, '0'), FBaseUrl(FPageUrl) {}

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
    return std::find(FSkipTags.begin(), FSkipTags.end(), name) != FSkipTags.end();
}

// A BASE tag sets the base for the links before it too. The scan reads the
// page once with the page's address as the base; when it meets the BASE tag
// that changes the base after links were already recorded, it drops them and
// reads the page again with the new base. The BASE tag of a page usually
// comes first, in its head, so the second reading is rare and short.
void THtmlParser::Parse() {
    if (!FUrlSet)
        return;
    const std::string_view page(FDocument);
    FBaseUrl = FPageUrl;
    FResolver = TLinkResolver(FBaseUrl);
    FBaseTaken = false;
    FRescan = false;
    auto onTag = [this](std::string_view text) { return ReadTagLinks(text); };
    ScanTags(page, *this, onTag);
    if (FRescan) {
        FreeRecords();
        FRescan = false;
        ScanTags(page, *this, onTag);
    }
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
}
