#pragma once
// marrowby --scan FILE --base URL [--depth N]: runs the crawl's parser on a
// local file (or standard input for "-") and writes what it found as CSV:
// a header "Kind,URI,Count,Depth", one line per anchor, then one per object.

#include <cstdint>
#include <iosfwd>
#include <string>

class THtmlParser;

class TScanCommand {
public:
    // 0 on success; 1 when the file cannot be read or the skip file is
    // missing, with the reason on err. Usage errors (exit code 2) are the
    // caller's to report.
    static int Run(const std::string& file, const std::string& baseUrl, std::int32_t depth,
                   std::istream& stdinStream, std::ostream& out, std::ostream& err);
    // The CSV of a parser that has run: the header, its anchors, its objects.
    static void WriteRecords(const THtmlParser& parser, std::ostream& out);
};
