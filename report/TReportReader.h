#pragma once
// Reads a CSV report written before (TCrawlReport) back into a record store:
// the page rows, the objects, the links to other sites, the merged pages with
// their links and the lines of their references, and the permanent
// redirects, so that the report written again from the store is the same to
// the byte.

#include <string>

class TRecordStore;

class TReportReader {
public:
    // Fills store, which must be empty, from the CSV files in dir. Returns an
    // empty string on success, else what is wrong (a file missing, or one
    // that is not such a report), naming the file; the store is then to be
    // thrown away.
    static std::string Read(const std::string& dir, TRecordStore& store);
};
