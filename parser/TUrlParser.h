#pragma once
// Parses an address against a base the way browsers do (the WHATWG URL
// standard's basic URL parser), for the http and https schemes; an address
// of any other scheme is refused.
//
// Where this differs from QUrl::resolved and RFC 3986, which the crawl must
// not follow:
//  - tabs and line feeds anywhere in the text are removed, and C0 controls
//    and spaces at either end are trimmed, before anything is read;
//  - "\" reads as "/";
//  - "http:x" and "http:/x" on an http page are relative to the page
//    (RFC 3986: an address of the path "x"); on an https page they name the
//    host x, as "http:///x" does on any page;
//  - a link that is only a query ("?a") keeps the base's whole path, and ".."
//    never climbs above the host;
//  - each part has its own set of bytes to percent-encode (spaces, quotes,
//    "<", ">", control and non-ASCII bytes in the path; "'" too in the query);
//    a "%" escape already written is kept as written, "%7e" included;
//  - the scheme and host are lower-cased (IDNA for non-ASCII hosts, IPv4
//    numbers in any form written as four decimals), a default port dropped;
//    the path keeps its letter case and its empty segments.
//
// The parts of the address are kept as one text with positions, so that a
// page's links cost one string each.

#include <cstddef>
#include <string>
#include <string_view>

class TPageEncoding;

struct TUrl {
    std::string Href;                              // the whole address, as the standard writes it
    std::size_t PathBegin = 0;                     // where the path starts ("/...")
    std::size_t QueryBegin = std::string::npos;    // its "?", if any
    std::size_t FragmentBegin = std::string::npos; // its "#", if any
    bool Valid = false;

    std::string_view Path() const noexcept {
        const std::size_t end = QueryBegin != std::string::npos      ? QueryBegin
                                : FragmentBegin != std::string::npos ? FragmentBegin
                                                                     : Href.size();
        return std::string_view(Href).substr(PathBegin, end - PathBegin);
    }
};

class TUrlParser {
public:
    // Parses input against base (null or an invalid base: none) into url.
    // The query is written in the page's encoding (null: UTF-8). False, and
    // url invalid, when the standard gives no address or one of another
    // scheme.
    static bool Parse(std::string_view input, const TUrl* base, TUrl& url,
                      const TPageEncoding* encoding = nullptr);

    // Parse for text that Clean has given already.
    static bool ParseClean(std::string_view text, const TUrl* base, TUrl& url,
                           const TPageEncoding* encoding = nullptr);

    // The address the standard gives for input against base, or empty.
    static std::string Resolve(std::string_view input, std::string_view base);

    // Trims C0 controls and spaces at both ends and removes tabs and line
    // feeds; text is used as is when there is nothing to remove.
    static std::string_view Clean(std::string_view input, std::string& scratch);
};
