#pragma once
// marrowby --compare OLD NEW [--report DIR]: reads two crawls kept before
// (crawl files or folders of CSV reports), writes what changed between them
// into DIR in the formats of --format (compare.csv, compare.json,
// compare.html, compare.xml), and says on out how many addresses broke, were
// fixed, are new and are gone, then each that broke or was fixed with the
// pages that link to it (at most MaxLines of them, then how many more).

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

class TCompareCommand {
public:
    static constexpr int ExitClean = 0;  // nothing broke
    static constexpr int ExitFailed = 1; // a crawl could not be read, or the changes written
    static constexpr int ExitBroken = 4; // some address broke since
    static constexpr std::size_t MaxLines = 20;
    static constexpr std::size_t MaxPages = 3; // shown on an address's line

    // Reads the crawls kept in past and now (each a crawl file or a folder
    // of CSV reports), and writes the changes into reportDir (the current
    // folder when empty) in these formats (TCrawlReport::Formats), as one
    // set. A file or folder that is not such a crawl is refused before
    // anything is written.
    static int Run(const std::string& past, const std::string& now, const std::string& reportDir,
                   const std::vector<std::string>& formats, std::ostream& out, std::ostream& err);
};
