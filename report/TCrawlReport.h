#pragma once
// The report of a crawl, written from one place in every format asked for.
// The headless run and the window's Save Report write it from the crawl's
// records (TRecordStore); the tables are TReportTables, the formats
// TReportWriter.

#include "TReportWriter.h"

#include "common/TVerdict.h"

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TRecordStore;

class TCrawlReport {
public:
    // The formats a report can be written in.
    static const std::vector<std::string>& Formats();
    // The writer of format, or null when there is no such format.
    static std::unique_ptr<TReportWriter> Writer(std::string_view format);
    // The files a report in these formats is made of, in the order written.
    static std::vector<std::string> FileNames(const std::vector<std::string>& formats = {"csv"});

    // Writes the report in these formats into dir, creating it when needed.
    // The files are written under temporary names in dir and renamed into
    // place only once all of them are written, so a failure leaves the last
    // set whole; a report file that is a symbolic link is replaced, not
    // followed. Returns an empty string on success, else what went wrong,
    // naming the file and the system's reason (strerror). about says what
    // crawl the report is of; its tables are the store's.
    static std::string Write(const TRecordStore& store, const std::string& dir,
                             const std::vector<std::string>& formats = {"csv"}, TReport about = {});

    // Writes report, its tables as they are, in these formats into dir, as
    // Write does: the whole set or nothing.
    static std::string WriteSet(const TReport& report, const std::string& dir,
                                const std::vector<std::string>& formats = {"csv"});

    // Makes dir when needed and checks that files can be written in it, so
    // that a crawl does not find out only at its end. Empty when they can,
    // else what is wrong, with the system's reason.
    static std::string CheckFolder(const std::string& dir);

    // How many distinct addresses of the page rows, the objects and the
    // external rows got each verdict, indexed by TVerdict; an address listed
    // in more than one is counted with its first row.
    static std::array<std::size_t, TVerdicts::Count> CountVerdicts(const TRecordStore& store);
    // True when some address's verdict fails the check (TVerdicts::Fails).
    static bool HasBrokenRows(const TRecordStore& store, bool strict = false);
};
