// URL resolution: the input is the base, a line feed, then the link.

#include "parser/THtmlParser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string base(input.substr(0, split));
    const std::string link(split == std::string_view::npos ? "" : input.substr(split + 1));
    const std::string result = THtmlParser::ResolveLink(base, link);
    // A result is empty or an http or https address, all of it ASCII.
    auto opens = [&](std::string_view scheme) {
        if (result.size() < scheme.size())
            return false;
        for (std::size_t i = 0; i < scheme.size(); ++i)
            if ((result[i] | 0x20) != scheme[i])
                return false;
        return true;
    };
    if (!result.empty() && !opens("http:") && !opens("https:"))
        std::abort();
    for (const char c : result)
        if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) <= 0x20)
            std::abort();
    return 0;
}
