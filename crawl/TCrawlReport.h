#pragma once
// What a crawl found, as plain records, and the CSV report written from them.
// The window keeps these records as it goes; the headless run and the
// window's own menu write the same files from them.

#include "common/TObjectType.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// One row of the visited-pages report, failed pages included.
struct TGoneRow {
    std::int32_t Id = 0;
    std::int32_t Depth = 0;
    std::string Url;
    std::int32_t Size = 0;
    std::int32_t Status = 0;
    std::string Type;
};

// One address found on a merged page, with its count on that page.
struct TMergedLink {
    std::string Url;
    std::int16_t Kind = KIND_PAGE;
    std::int32_t Count = 0;
    bool Internal = false; // anchors only
};

// A merged page and what the merge found on it: anchors first, then objects.
struct TMergedPage {
    std::string Url;
    std::vector<TMergedLink> Links;
};

using TRecordMap = std::map<std::string, std::unique_ptr<_TObjectType>>;

struct TCrawlReportData {
    const std::vector<TGoneRow>& Pages;
    const TRecordMap& Objects;
    const std::vector<TMergedPage>& Merged;
};

class TCrawlReport {
public:
    // Writes pages.csv, objects.csv and links.csv into dir, creating it when
    // needed. Returns an empty string on success, else what went wrong.
    static std::string Write(const TCrawlReportData& data, const std::string& dir);

    // True when some page or object row has a status of 400 or more.
    static bool HasBrokenRows(const TCrawlReportData& data);
};
