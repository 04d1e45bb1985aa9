#pragma once
// marrowby --scan FILE --base URL [--depth N]: runs the crawl's parser on a
// local file (or standard input for "-") and writes what it found as CSV:
// a header "Kind,URI,Count,Depth", one line per anchor, then one per object.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

class TScanCommand {
public:
    // 0 on success; 1 when the file cannot be read or the skip file is
    // missing, with the reason on err.
    static int Run(const std::string& file, const std::string& baseUrl, std::int32_t depth,
                   std::istream& stdinStream, std::ostream& out, std::ostream& err);

    // Reads a --depth value: decimal digits only, 0 to 2147483647. False (and
    // depth unchanged) for anything else, which is bad usage.
    static bool ParseDepth(std::string_view text, std::int32_t& depth);

    static constexpr const char* Usage = "usage: marrowby --scan FILE --base URL [--depth N]";
};
