#include "MediaType.h"

#include <cctype>

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
} // namespace

bool IsHtmlContentType(std::string_view contentType) {
    std::string_view type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && IsBlank(type.front()))
        type.remove_prefix(1);
    while (!type.empty() && IsBlank(type.back()))
        type.remove_suffix(1);
    constexpr std::string_view html = "text/html";
    if (type.size() != html.size())
        return false;
    for (std::size_t i = 0; i < html.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(type[i])) != html[i])
            return false;
    }
    return true;
}
