// The --scan path against a gumbo link extractor on the same pages, in one
// process, and the scan alone on big pages made of those pages. Prints
// KEY=VALUE lines for bench/run.sh.
//
//   bench_scan corpus LIST [REPEATS]     every page named in LIST, one a line
//   bench_scan linear LIST MB... [-r N]  pages of MB megabytes made of LIST's pages
//   bench_scan write LIST MB FILE        writes the page of MB megabytes to FILE
//
// Times are the CPU time (user and system) of the benchmark's thread, not
// wall time, and each figure is the best of at least REPEATS passes (default
// 5) and a second of passes: the machine is shared with builds and tests,
// whose share of the cores would otherwise be counted against whichever side
// ran beside them.

#include "GumboLinks.h"
#include "app/TScanCommand.h"
#include "parser/THtmlParser.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct TPage {
    std::string Base;
    std::string Text;
};

std::vector<TPage> LoadPages(const char* listFile) {
    std::vector<TPage> pages;
    std::ifstream list(listFile);
    for (std::string path; std::getline(list, path);) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (in)
            pages.push_back({"http://docs.example" + path, std::move(text).str()});
    }
    return pages;
}

std::size_t TotalBytes(const std::vector<TPage>& pages) {
    std::size_t bytes = 0;
    for (const TPage& page : pages)
        bytes += page.Text.size();
    return bytes;
}

// What marrowby --scan does with a page once it is read: the parser, its
// records and their CSV lines. Returns the number of records.
std::size_t ScanPage(std::string text, const std::string& base, std::ostream& csv) {
    THtmlParser parser(nullptr);
    parser.SetUrl(base);
    parser.SetDocument(std::move(text));
    parser.Parse();
    TScanCommand::WriteRecords(parser, csv);
    return parser.Anchors().size() + parser.Objects().size();
}

// Seconds of the best pass of `pass`, after at least `repeats` passes and a
// second of passes (a small page takes hundreds, so that one of them runs
// undisturbed); `prepare` runs untimed before each.
template <class Prepare, class Pass> double BestSeconds(int repeats, Prepare prepare, Pass pass) {
    double best = 1e300;
    double total = 0;
    for (int r = 0; r < 1000 && (r < repeats || total < 1.0); ++r) {
        prepare();
        const double start = ThreadSeconds();
        pass();
        const double seconds = ThreadSeconds() - start;
        best = std::min(best, seconds);
        total += seconds;
    }
    return best;
}

double MBPerSecond(std::size_t bytes, double seconds) {
    return static_cast<double>(bytes) / 1e6 / seconds;
}

// The two sides take turns, a round of the scan (a second of passes) after
// each pass of gumbo, so that both meet the same neighbours on the machine.
int Corpus(const char* listFile, int repeats) {
    const std::vector<TPage> pages = LoadPages(listFile);
    const std::size_t bytes = TotalBytes(pages);
    std::vector<std::string> copies;
    std::size_t records = 0;
    std::size_t csvBytes = 0;
    std::size_t links = 0;
    std::size_t distinct = 0;
    auto gumboPass = [&] {
        links = 0;
        distinct = 0;
        for (const TPage& page : pages) {
            TGumboCounts counts;
            links += GumboLinks(page.Text, counts);
            distinct += counts.size();
        }
    };
    auto copyPages = [&] {
        copies.clear();
        for (const TPage& page : pages)
            copies.push_back(page.Text);
    };
    auto scanPass = [&] {
        records = 0;
        std::ostringstream csv;
        for (std::size_t i = 0; i < pages.size(); ++i)
            records += ScanPage(std::move(copies[i]), pages[i].Base, csv);
        csvBytes = csv.view().size();
    };
    double scan = 1e300;
    double gumbo = 1e300;
    for (int round = 0; round < std::max(repeats, 1); ++round) {
        gumbo = std::min(gumbo, BestSeconds(
                                    1, [] {}, gumboPass));
        scan = std::min(scan, BestSeconds(1, copyPages, scanPass));
    }
    std::printf("pages=%zu\nbytes=%zu\n", pages.size(), bytes);
    std::printf("scan_seconds=%.4f\nscan_records=%zu\nscan_csv_bytes=%zu\n", scan, records,
                csvBytes);
    std::printf("gumbo_seconds=%.4f\ngumbo_links=%zu\ngumbo_distinct=%zu\n", gumbo, links,
                distinct);
    std::printf("scan_mb_per_s=%.1f\ngumbo_mb_per_s=%.1f\nscan_vs_gumbo=%.1f\n",
                MBPerSecond(bytes, scan), MBPerSecond(bytes, gumbo), gumbo / scan);
    return 0;
}

// One page of `megabytes` MB made of 64 KiB pieces taken at even steps
// through the corpus pages laid end to end, so that pages of every size are
// the same mix of what the corpus holds.
std::string BigPage(const std::vector<TPage>& pages, std::size_t megabytes) {
    std::string all;
    for (const TPage& page : pages)
        all += page.Text;
    const std::size_t size = megabytes * 1000 * 1000;
    constexpr std::size_t Piece = 64 * 1024;
    const std::size_t pieces = (size + Piece - 1) / Piece;
    std::string page;
    page.reserve(size);
    for (std::size_t i = 0; i < pieces && !all.empty(); ++i) {
        std::size_t from = (i * all.size() / pieces) % all.size();
        for (std::size_t end = page.size() + std::min(Piece, size - page.size()); page.size() < end;
             from = 0)
            page.append(all, from, end - page.size());
    }
    return page;
}

int Linear(const char* listFile, const std::vector<std::size_t>& sizes, int repeats) {
    const std::vector<TPage> pages = LoadPages(listFile);
    for (const std::size_t megabytes : sizes) {
        const std::string page = BigPage(pages, megabytes);
        std::string copy;
        std::size_t records = 0;
        const double seconds = BestSeconds(
            repeats, [&] { copy = page; },
            [&] {
                std::ostringstream csv;
                records = ScanPage(std::move(copy), "http://docs.example/big/page.html", csv);
            });
        std::printf("linear_%zumb_records=%zu\nlinear_%zumb_mb_per_s=%.1f\n", megabytes, records,
                    megabytes, MBPerSecond(page.size(), seconds));
    }
    return 0;
}

int Write(const char* listFile, std::size_t megabytes, const char* file) {
    std::ofstream out(file, std::ios::binary);
    out << BigPage(LoadPages(listFile), megabytes);
    return out ? 0 : 1;
}

int Usage() {
    std::cerr << "usage: bench_scan corpus LIST [REPEATS] | linear LIST MB... [-r N] | "
                 "write LIST MB FILE\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    THtmlParser::SetSkipFileName(MARROWBY_SKIP_FILE);
    if (argc < 3)
        return Usage();
    const std::string mode = argv[1];
    if (mode == "corpus")
        return Corpus(argv[2], argc > 3 ? std::atoi(argv[3]) : 5);
    if (mode == "write")
        return argc == 5 ? Write(argv[2], static_cast<std::size_t>(std::atol(argv[3])), argv[4])
                         : Usage();
    if (mode != "linear")
        return Usage();
    std::vector<std::size_t> sizes;
    int repeats = 5;
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) == "-r" && i + 1 < argc)
            repeats = std::atoi(argv[++i]);
        else
            sizes.push_back(static_cast<std::size_t>(std::atol(argv[i])));
    }
    return sizes.empty() ? Usage() : Linear(argv[2], sizes, repeats);
}
