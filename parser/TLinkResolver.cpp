#include "TLinkResolver.h"

#include "ParserText.h"

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
bool OpensWithOtherScheme(std::string_view text) noexcept {
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

void AssignWithoutOneTrailingSlash(std::string& address, std::string_view prefix,
                                   std::string_view link) {
    if (link.ends_with('/'))
        link.remove_suffix(1);
    address.assign(prefix).append(link);
}

// Calls onSegment for each non-empty segment of path that a "/" closes, and
// returns the segment after the last "/".
template <class OnSegment>
std::string_view SplitDirectories(std::string_view path, OnSegment&& onSegment) {
    std::size_t from = 0;
    for (std::size_t slash = path.find('/'); slash != npos; slash = path.find('/', from)) {
        if (slash > from)
            onSegment(path.substr(from, slash - from));
        from = slash + 1;
    }
    return path.substr(from);
}

} // namespace

// The base is read in lower case. Its scheme is https when it opens with
// "https://", and http otherwise, when the first "http://" anywhere in it is
// removed. The host runs up to and including the first "/". Of the path, a
// last segment with a "." names a document and is no directory; any other
// last segment is one, even when empty. A "." directory is dropped, and a
// ".." with the one before it.
TLinkResolver::TLinkResolver(std::string_view base) {
    std::string lower(base);
    for (char& c : lower)
        c = ToLower(c);
    if (TrimLeft(lower).starts_with("https://"))
        FNetworkScheme = "https:";

    std::string_view text = Trim(lower);
    std::string unschemed;
    if (text.starts_with("https://")) {
        FRoot = "https://";
        text.remove_prefix(8);
    } else {
        FRoot = "http://";
        if (const std::size_t at = text.find("http://"); at != npos) {
            unschemed.assign(text.substr(0, at)).append(text.substr(at + 7));
            text = unschemed;
        }
    }

    std::string_view path;
    if (const std::size_t slash = text.find('/'); slash == npos) {
        FRoot.append(text).push_back('/');
    } else {
        FRoot.append(text.substr(0, slash + 1));
        path = text.substr(slash + 1);
    }

    std::vector<std::string_view> kept;
    auto addDirectory = [&](std::string_view dir) {
        if (dir == "..") {
            if (!kept.empty())
                kept.pop_back();
        } else if (dir != "." && !dir.empty()) {
            kept.push_back(dir);
        }
    };
    const std::string_view last = SplitDirectories(path, addDirectory);
    if (last.find('.') == npos)
        addDirectory(last);
    for (const std::string_view dir : kept) {
        FDirectories.append(dir).push_back('/');
        FDirectoryEnds.push_back(FDirectories.size());
    }
}

// Absolute forms are recognised on the link exactly as written, before any
// trimming, and kept as written but for one trailing "/". Links of other
// schemes (javascript:, mailto:, ftp:, ...) and links with a fragment are not
// followed. A relative link is trimmed; one that opens with "/" starts from
// the host, any other from the base's directories.
bool TLinkResolver::Resolve(std::string_view link, std::string& address) {
    address.clear();
    if (Trim(link).empty())
        return false;
    if (StartsWithNoCase(link, "http://") || StartsWithNoCase(link, "https://")) {
        AssignWithoutOneTrailingSlash(address, {}, link);
        return true;
    }
    if (link.starts_with("//")) {
        AssignWithoutOneTrailingSlash(address, FNetworkScheme, link);
        return true;
    }
    if (OpensWithOtherScheme(TrimLeft(link)) || link.find('#') != npos)
        return false;

    std::string_view path = Trim(link);
    const bool fromRoot = path.starts_with('/');
    if (fromRoot)
        path.remove_prefix(1);

    // Dot segments: a "." is dropped, a ".." with the nearest directory
    // standing before it. A ".." with none before it cancels the base's last
    // directory, for a link relative to the current directory; with nothing
    // left to cancel it is dropped.
    FLinkDirectories.clear();
    std::size_t baseDirectories = fromRoot ? 0 : FDirectoryEnds.size();
    auto addDirectory = [&](std::string_view dir) {
        if (dir == ".")
            return;
        if (dir != "..")
            FLinkDirectories.push_back(dir);
        else if (!FLinkDirectories.empty())
            FLinkDirectories.pop_back();
        else if (baseDirectories > 0)
            --baseDirectories;
    };
    const std::string_view last = SplitDirectories(path, addDirectory);

    // The last segment names a document when a "." or a "?" follows its first
    // character. The default documents "index.html" and "index.htm" stand
    // for their directory; any other segment is a directory itself.
    std::string_view document;
    const std::size_t dot = last.find('.');
    const std::size_t query = last.find('?');
    if ((dot != npos && dot >= 1) || (query != npos && query >= 1)) {
        if (last != "index.html" && last != "index.htm")
            document = last;
    } else if (!last.empty()) {
        addDirectory(last);
    }

    address.assign(FRoot);
    if (baseDirectories > 0)
        address.append(FDirectories, 0, FDirectoryEnds[baseDirectories - 1]);
    for (const std::string_view dir : FLinkDirectories)
        address.append(dir).push_back('/');
    if (document.empty())
        address.pop_back(); // always the "/" that closes the host or a directory
    else
        address.append(document);
    return true;
}
