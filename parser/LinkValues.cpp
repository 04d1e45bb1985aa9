// Attribute values that hold addresses in a form of their own: srcset lists
// and refresh contents. Both are read the way browsers read them, so that the
// crawl checks the addresses a browser would load.

#include "ParserText.h"
#include "THtmlParser.h"

#include <algorithm>

using namespace parser_text;

namespace {

constexpr bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

constexpr std::string_view SkipHtmlSpace(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size() && IsHtmlSpace(text[begin]))
        ++begin;
    return text.substr(begin);
}

} // namespace

// A candidate is an address, then descriptors ("100w", "2x") up to a comma.
// The address runs up to the next blank, so it may hold commas; commas that
// end it part it from the next candidate instead, and no descriptors follow
// them. A comma inside parentheses of a descriptor does not end a candidate.
std::string_view THtmlParser::NextSrcSetAddress(std::string_view list, std::size_t& pos) {
    const std::size_t size = list.size();
    pos = std::min(pos, size);
    while (pos < size && (IsHtmlSpace(list[pos]) || list[pos] == ','))
        ++pos;
    const std::size_t begin = pos;
    while (pos < size && !IsHtmlSpace(list[pos]))
        ++pos;
    std::string_view address = list.substr(begin, pos - begin);
    if (address.ends_with(',')) {
        while (address.ends_with(','))
            address.remove_suffix(1);
        return address;
    }
    for (bool inParentheses = false; pos < size; ++pos) {
        const char c = list[pos];
        if (inParentheses) {
            inParentheses = c != ')';
        } else if (c == ',') {
            ++pos;
            break;
        } else {
            inParentheses = c == '(';
        }
    }
    return address;
}

// The content is a delay (digits, then digits and dots; without one there is
// no refresh at all), then a blank, ";" or ",", then the address: after "url"
// and "=" when written so, without its quotes when quoted, and up to the
// closing quote.
std::string_view THtmlParser::RefreshAddress(std::string_view content) {
    std::string_view rest = SkipHtmlSpace(content);
    std::size_t delay = 0;
    while (delay < rest.size() && IsDigit(rest[delay]))
        ++delay;
    if (delay == 0 && !rest.starts_with('.'))
        return {};
    while (delay < rest.size() && (IsDigit(rest[delay]) || rest[delay] == '.'))
        ++delay;
    rest.remove_prefix(delay);
    if (rest.empty() || !(IsHtmlSpace(rest.front()) || rest.front() == ';' || rest.front() == ','))
        return {};
    rest = SkipHtmlSpace(rest);
    if (rest.starts_with(';') || rest.starts_with(','))
        rest = SkipHtmlSpace(rest.substr(1));

    // A word that merely begins with "u", or "url" without "=", is the
    // address itself, quotes and all.
    if (!rest.empty() && ToLower(rest.front()) == 'u') {
        if (!StartsWithNoCase(rest, "url"))
            return Trim(rest);
        const std::string_view afterUrl = SkipHtmlSpace(rest.substr(3));
        if (!afterUrl.starts_with('='))
            return Trim(rest);
        rest = SkipHtmlSpace(afterUrl.substr(1));
    }
    if (rest.starts_with('"') || rest.starts_with('\'')) {
        const char quote = rest.front();
        rest.remove_prefix(1);
        rest = rest.substr(0, rest.find(quote));
    }
    return Trim(rest);
}
