// The srcset and refresh readers on arbitrary text, read as both.

#include "parser/THtmlParser.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool Inside(std::string_view part, std::string_view text) {
    return part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size();
}

bool IsSpaceOrComma(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ',';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Each address is a piece of the list after the last one, neither
    // beginning nor ending with a blank or a comma, and the reading ends.
    std::size_t pos = 0;
    const char* last = text.data();
    for (std::size_t candidates = 0;; ++candidates) {
        const std::size_t before = pos;
        const std::string_view address = THtmlParser::NextSrcSetAddress(text, pos);
        if (address.empty())
            break;
        if (pos <= before || pos > size || candidates > size || !Inside(address, text) ||
            address.data() < last || IsSpaceOrComma(address.front()) ||
            IsSpaceOrComma(address.back()))
            std::abort();
        last = address.data() + address.size();
    }

    // A refresh address is a piece of the content with no blank at either end.
    const std::string_view refresh = THtmlParser::RefreshAddress(text);
    if (!refresh.empty() &&
        (!Inside(refresh, text) || static_cast<unsigned char>(refresh.front()) <= 32 ||
         static_cast<unsigned char>(refresh.back()) <= 32))
        std::abort();
    return 0;
}
