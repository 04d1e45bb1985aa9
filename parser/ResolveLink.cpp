// Turning a link written in a page into the absolute address it stands for.

#include "ParserText.h"
#include "THtmlParser.h"

#include <vector>

using namespace parser_text;

namespace {

constexpr std::size_t npos = std::string_view::npos;

constexpr bool IsAsciiLetter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool IsAsciiDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// True when the text opens with a URI scheme (a letter, then letters, digits,
// "+", "-" or ".", then ":") that is neither http nor https.
bool OpensWithOtherScheme(std::string_view text) {
    if (text.empty() || !IsAsciiLetter(text.front()))
        return false;
    std::size_t i = 1;
    while (i < text.size() && (IsAsciiLetter(text[i]) || IsAsciiDigit(text[i]) || text[i] == '+' ||
                               text[i] == '-' || text[i] == '.'))
        ++i;
    if (i == text.size() || text[i] != ':')
        return false;
    const std::string_view scheme = text.substr(0, i);
    return !EqualsNoCase(scheme, "http") && !EqualsNoCase(scheme, "https");
}

std::string WithoutOneTrailingSlash(std::string link) {
    if (!link.empty() && link.back() == '/')
        link.pop_back();
    return link;
}

// Splits a path at its "/" characters into the list of directories; the
// segment after the last "/" is returned.
std::string_view SplitDirectories(std::string_view path, std::vector<std::string_view>& dirs) {
    std::size_t from = 0;
    for (std::size_t slash = path.find('/'); slash != npos; slash = path.find('/', from)) {
        if (slash > from)
            dirs.push_back(path.substr(from, slash - from));
        from = slash + 1;
    }
    return path.substr(from);
}

// "." entries are dropped; a ".." is dropped together with the entry it
// cancels, the nearest kept one before it. `kept` holds the indices of the
// entries still standing, in order, and is what is left to cancel.
template <class Overflow>
void ApplyDotSegments(std::vector<std::string_view>& dirs, std::vector<std::size_t>& kept,
                      Overflow&& nothingToCancel) {
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (dirs[i] == ".") {
            dirs[i] = {};
        } else if (dirs[i] == "..") {
            dirs[i] = {};
            if (!kept.empty()) {
                dirs[kept.back()] = {};
                kept.pop_back();
            } else {
                nothingToCancel();
            }
        } else if (!dirs[i].empty()) {
            kept.push_back(i);
        }
    }
}

} // namespace

std::string THtmlParser::ResolveLink(std::string base, std::string link) {
    if (Trim(link).empty())
        return {};
    for (char& c : base)
        c = ToLower(c);

    // Absolute forms are recognised on the link exactly as written, before
    // any trimming, and kept as written but for one trailing "/".
    if (StartsWithNoCase(link, "http://") || StartsWithNoCase(link, "https://"))
        return WithoutOneTrailingSlash(std::move(link));
    if (link.starts_with("//")) {
        const char* scheme = TrimLeft(base).starts_with("https://") ? "https:" : "http:";
        return WithoutOneTrailingSlash(scheme + link);
    }

    // Links of other schemes (javascript:, mailto:, ftp:, ...) and links with
    // a fragment are not followed.
    if (OpensWithOtherScheme(TrimLeft(link)) || link.find('#') != npos)
        return {};

    std::string_view baseText = Trim(base);
    const std::string_view linkText = Trim(link);

    // The scheme of the result follows the base: https for an https base,
    // http otherwise. The first "http://" of any other base is removed.
    std::string scheme = "http://";
    std::string unschemed;
    if (baseText.starts_with("https://")) {
        scheme = "https://";
        baseText.remove_prefix(8);
    } else if (const std::size_t at = baseText.find("http://"); at != npos) {
        unschemed.assign(baseText.substr(0, at)).append(baseText.substr(at + 7));
        baseText = unschemed;
    }

    // The host part runs up to and including the first "/".
    std::string host;
    std::string_view basePath;
    if (const std::size_t slash = baseText.find('/'); slash == npos) {
        host.assign(baseText).push_back('/');
    } else {
        host.assign(baseText.substr(0, slash + 1));
        basePath = baseText.substr(slash + 1);
    }

    // The base's directories; a last segment with a "." names a document and
    // is no directory. Any other last segment is one, even when empty.
    std::vector<std::string_view> baseDirs;
    const std::string_view baseLast = SplitDirectories(basePath, baseDirs);
    if (baseLast.find('.') == npos)
        baseDirs.push_back(baseLast);

    std::string_view linkPath = linkText;
    const bool fromRoot = linkPath.starts_with('/');
    if (fromRoot)
        linkPath.remove_prefix(1);

    std::vector<std::string_view> linkDirs;
    const std::string_view linkLast = SplitDirectories(linkPath, linkDirs);

    // The last segment names a document when a "." or a "?" follows its first
    // character. The default documents "index.html" and "index.htm" stand
    // for their directory; any other segment is a directory itself.
    std::string_view lastPart;
    const std::size_t dot = linkLast.find('.');
    const std::size_t query = linkLast.find('?');
    if ((dot != npos && dot >= 1) || (query != npos && query >= 1)) {
        if (linkLast != "index.html" && linkLast != "index.htm")
            lastPart = linkLast;
    } else if (!linkLast.empty()) {
        linkDirs.push_back(linkLast);
    }

    // Dot segments. A ".." at the head of a link relative to the current
    // directory cancels the base's last directory; with nothing left to
    // cancel it is dropped.
    std::vector<std::size_t> baseKept;
    ApplyDotSegments(baseDirs, baseKept, [] {});
    std::vector<std::size_t> linkKept;
    ApplyDotSegments(linkDirs, linkKept, [&] {
        if (!fromRoot && !baseKept.empty()) {
            baseDirs[baseKept.back()] = {};
            baseKept.pop_back();
        }
    });

    std::string result = scheme + host;
    if (!fromRoot)
        for (std::string_view dir : baseDirs)
            if (!dir.empty())
                result.append(dir).push_back('/');
    for (std::string_view dir : linkDirs)
        if (!dir.empty())
            result.append(dir).push_back('/');
    if (lastPart.empty())
        result.pop_back(); // always the "/" that closes the host or a directory
    else
        result.append(lastPart);
    return result;
}
