#include "TLinkResolver.h"

#include "ParserText.h"

using namespace parser_text;

namespace {

constexpr std::size_t npos = std::string_view::npos;

// True when the text opens with a scheme (a letter, then letters, digits,
// "+", "-" or ".", then ":") or with two slashes: an address of its own,
// not one relative to the base.
bool IsAbsolute(std::string_view text) noexcept {
    if (text.size() >= 2 && (text[0] == '/' || text[0] == '\\') &&
        (text[1] == '/' || text[1] == '\\'))
        return true;
    if (text.empty() || !IsAsciiLetter(text.front()))
        return false;
    std::size_t i = 1;
    while (i < text.size() && (IsAsciiLetter(text[i]) || (text[i] >= '0' && text[i] <= '9') ||
                               text[i] == '+' || text[i] == '-' || text[i] == '.'))
        ++i;
    return i < text.size() && text[i] == ':';
}

} // namespace

TLinkResolver::TLinkResolver(std::string_view base, const TPageEncoding* encoding)
    : FEncoding(encoding) {
    TUrlParser::Parse(base, nullptr, FBase);
}

bool TLinkResolver::ResolveUnfolded(std::string_view link, std::string& address) {
    address.clear();
    if (!TUrlParser::Parse(link, &FBase, FUrl, FEncoding))
        return false;
    address = FUrl.Href;
    return true;
}

bool TLinkResolver::Resolve(std::string_view link, std::string& address) {
    address.clear();
    const std::string_view text = TUrlParser::Clean(link, FScratch);
    if (text.empty())
        return false;
    const bool absolute = IsAbsolute(text);
    if (!absolute && text.find('#') != npos)
        return false;
    if (!TUrlParser::ParseClean(text, &FBase, FUrl, FEncoding))
        return false;
    std::string& href = FUrl.Href;
    if (FUrl.QueryBegin == npos && FUrl.FragmentBegin == npos) {
        if (absolute) {
            if (href.ends_with('/'))
                href.pop_back();
        } else {
            const std::string_view path = FUrl.Path();
            const std::string_view last = path.substr(path.rfind('/') + 1);
            if (last == "index.html" || last == "index.htm")
                href.resize(href.size() - last.size());
            if (href.ends_with('/'))
                href.pop_back();
        }
    }
    address.swap(href);
    return true;
}
