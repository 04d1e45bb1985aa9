#pragma once
// marrowby --scan FILE --base URL [--depth N]: runs the crawl's parser on a
// local file (or standard input for "-") and writes what it found as CSV:
// a header "Kind,URI,Count,Depth", one line per anchor, then one per object.
// Input larger than kMaxPageBytes is refused, not read to its end.

#include <cstdint>
#include <iosfwd>
#include <string>

class THtmlParser;

class TScanCommand {
public:
    // 0 on success; 1, with the reason on err and nothing on out, when the
    // input cannot be read whole (a directory, a read error, a closed
    // standard input, too large), the skip file is missing or memory runs
    // out. Usage errors (exit code 2) are the caller's to report. stdinFd is
    // read for file "-".
    static int Run(const std::string& file, const std::string& baseUrl, std::int32_t depth,
                   int stdinFd, std::ostream& out, std::ostream& err);
    // The CSV of a parser that has run: the header, its anchors, its objects.
    static void WriteRecords(const THtmlParser& parser, std::ostream& out);
};
