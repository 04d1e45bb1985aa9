#pragma once
// What a crawl found, as plain records, and the CSV report written from them.
// The crawl keeps these records as it goes (TRecordStore); the headless run
// and the window's Save Report write the same files from them.

#include "common/TObjectType.h"

#include <cstdint>
#include <string>
#include <string_view>
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

// A link to another site, checked once: one row of the external-links list.
// Status 0: not answered (rate limited); the reason says why.
struct TExternalRow {
    std::int32_t Id = 0;
    std::string Url;
    std::int32_t Status = 0;
    std::int32_t Size = 0;
    std::string Type;
    std::int32_t Count = 0;
    std::string Reason;
};

// One address found on a merged page, with its count on that page. The
// address is the record store's own copy.
struct TMergedLink {
    std::string_view Url;
    std::int16_t Kind = KIND_PAGE;
    std::int32_t Count = 0;
    bool Internal = false; // anchors only
};

// A merged page and what the merge found on it: anchors first, then objects.
struct TMergedPage {
    std::string Url;
    std::vector<TMergedLink> Links;
};

class TRecordStore;

class TCrawlReport {
public:
    // The files a report is made of, in the order they are written.
    static constexpr const char* FileNames[] = {"pages.csv", "objects.csv", "links.csv",
                                                "referrers.csv", "external.csv"};

    // Writes the report files into dir, creating it when needed. The files
    // are written under temporary names in dir and renamed into place only
    // once all of them are written, so a failure leaves the last set whole; a
    // report file that is a symbolic link is replaced, not followed. Returns
    // an empty string on success, else what went wrong, naming the file and
    // the system's reason (strerror).
    static std::string Write(const TRecordStore& store, const std::string& dir);

    // Makes dir when needed and checks that files can be written in it, so
    // that a crawl does not find out only at its end. Empty when they can,
    // else what is wrong, with the system's reason.
    static std::string CheckFolder(const std::string& dir);

    // True when some page, object or external row has a status of 400 or more.
    static bool HasBrokenRows(const TRecordStore& store);
};
