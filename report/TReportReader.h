#pragma once
// Reads a CSV report written before (TCrawlReport) back into a record store:
// the page rows, the objects, the links to other sites, the merged pages with
// their links and the lines of their references, and the permanent
// redirects, so that the report written again from the store is the same to
// the byte.

#include <string>
#include <vector>

class TRecordStore;

class TReportReader {
public:
    // One table of a report as text: its rows without the heading, each cell
    // plain (no CSV quotes, no guard against formulas), and the name the
    // messages give it (a file, or a table of a crawl file).
    struct TTable {
        std::string Name;
        std::vector<std::vector<std::string>> Rows;
    };
    // The tables a store is read back from, as TReportTables names them.
    struct TTables {
        TTable Pages, Objects, External, Links, Referrers, Redirects;
    };

    // Fills store, which must be empty, from the CSV files in dir. Returns an
    // empty string on success, else what is wrong (a file missing, or one
    // that is not such a report), naming the file; the store is then to be
    // thrown away.
    static std::string Read(const std::string& dir, TRecordStore& store);
    // Fills store, which must be empty, from tables read from elsewhere (a
    // crawl file, TCrawlFile), as Read does from the CSV files: the same
    // store, the same checks of the cells, the same messages.
    static std::string Fill(const TTables& tables, TRecordStore& store);
};
