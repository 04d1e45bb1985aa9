#pragma once
// A report as every format writes it: what crawl it is of, and its tables.

#include "TReportTable.h"

#include "common/TVerdict.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TRecordStore;
struct TChangeRow;

struct TReport {
    // The start address, when known.
    std::string Start;
    // When the crawl started and ended, as ISO 8601 UTC times
    // ("2026-05-01T12:00:00Z"); empty when not known.
    std::string Started;
    std::string Finished;
    // The options the crawl ran with, by name ("delay", "probes"), as given.
    std::vector<std::pair<std::string, std::string>> Options;
    // The tables, in the order written (see TReportTables).
    std::vector<TReportTable> Tables;
    // The records the tables are read from, for the formats that join them
    // page by page (TPageLinks) and count them (TCrawlReport::CountVerdicts).
    // Null when there are none.
    const TRecordStore* Records = nullptr;
    // For a comparison of two crawls (TCrawlCompare::Report): what changed,
    // which the formats for people and for CI lay out by change. Null for
    // the report of a crawl.
    const std::vector<TChangeRow>* Changes = nullptr;

    // The file a one-file format writes: crawlName ("report.json",
    // "junit.xml") for a crawl, "compare" with its ending for a comparison
    // ("compare.json", "compare.xml").
    std::string FileName(std::string_view crawlName) const {
        if (Changes == nullptr)
            return std::string(crawlName);
        const std::size_t dot = crawlName.rfind('.');
        return "compare" + std::string(dot == std::string_view::npos ? "" : crawlName.substr(dot));
    }
};
