#pragma once
// A crawl kept in one SQLite file: its options, when and where it started,
// and its records as the report's tables hold them (pages, objects, links to
// other sites, the links and referrers of every merged page, the redirects
// to fix), so that the report written from a store loaded again is the same
// to the byte. The schema is in docs/CRAWL-FILE.md; the file can be read with
// the sqlite3 command.

#include <string>

class TRecordStore;
struct TCrawlOptions;
struct TReport;

class TCrawlFile {
public:
    // The schema's version, kept in the file (PRAGMA user_version and the
    // meta table). A file of a newer version is refused.
    static constexpr int Version = 3;
    // Marks a crawl file among SQLite files (PRAGMA application_id): "MRWB".
    static constexpr int ApplicationId = 0x4D525742;
    // The ending the window gives crawl files.
    static constexpr const char* Suffix = ".marrowby";

    // Writes the store's records, the options (with about's "delay" and
    // "site") and about's start address and times to path, as a finished
    // crawl, replacing a crawl file there (any other file is left alone and
    // refused). The file is written in one transaction under a temporary
    // name beside path and renamed into place once whole, so a crash or a
    // full disk leaves the last file as it was. Returns an empty string on
    // success, else what went wrong, naming the file.
    static std::string Save(const TRecordStore& store, const TCrawlOptions& options,
                            const TReport& about, const std::string& path);

    // Reads the crawl file at path into store, which must be empty, options
    // and about (start address, times, and "delay" and "site" among its
    // Options when the file has them; its tables are left alone). A
    // file that is not a crawl file, or that a newer version wrote, is
    // refused. Returns an empty string on success, else what is wrong,
    // naming the file; the store is then to be thrown away.
    static std::string Load(const std::string& path, TRecordStore& store, TCrawlOptions& options,
                            TReport& about);

    // Reads the records of a kept crawl into store, which must be empty:
    // from the crawl file at path, or else from the CSV report in the
    // folder at path (TReportReader). The same messages as Load and TReportReader.
    static std::string LoadRecords(const std::string& path, TRecordStore& store);

    // Whether path is a file that may be a crawl file (SQLite's header):
    // empty, else "no such file", "cannot be read" or "not a Marrowby crawl
    // file", naming the file.
    static std::string Probe(const std::string& path);
};
