#pragma once
// The link rows and referrers of a crawl file written as the crawl merges
// its pages (docs/CRAWL-FILE.md: addresses, merged, link_rows, ref_rows),
// each page's in the transaction that commits it, and the verdicts of the
// addresses they reference. Dozens of rows a page: written through SQLite's
// own statements, on the connection of a TCrawlDb that outlives the writer.

#include "crawl/TRowReader.h"

#include <cstddef>
#include <memory>
#include <unordered_set>

class TCrawlDb;
class TRecordStore;
struct sqlite3_stmt;

class TCrawlRowWriter {
public:
    explicit TCrawlRowWriter(TCrawlDb& db);
    ~TCrawlRowWriter();
    TCrawlRowWriter(const TCrawlRowWriter&) = delete;
    TCrawlRowWriter& operator=(const TCrawlRowWriter&) = delete;

    // How far the file holds the store's rows: the merged pages and the
    // addresses (in the order first referenced) written.
    struct TMark {
        std::size_t Merged = 0;
        std::size_t Addresses = 0;
    };
    TMark Mark() const noexcept { return FMark; }
    // Back to mark: what was written since is not in the file (its
    // transaction rolled back, or the rows cleared).
    void Rewind(TMark mark) noexcept { FMark = mark; }

    // Writes, inside the caller's transaction, the addresses the store has
    // referenced and the rows of its merged pages up to merged (their place
    // in Merged()) that the file does not hold yet: a page's link rows in
    // the report's order, its referrers in the order found. False, with the
    // database's error kept, when it cannot.
    bool Write(const TRecordStore& store, std::size_t merged);
    // The verdicts of every address the store has referenced, in place of
    // those in the file, inside the caller's transaction.
    bool WriteVerdicts(const TRecordStore& store);
    // Reads back the link rows written of the merged pages from `from` to
    // `to` (TRowReader::ReadLinks).
    bool
    ReadLinks(std::size_t from, std::size_t to,
              const std::function<void(std::size_t page, const TMergedLink& link)>& visit) const;

private:
    bool Prepare(sqlite3_stmt*& statement, const char* sql);
    bool Step(sqlite3_stmt* statement);
    bool WritePage(const TRecordStore& store, std::size_t at);

    TCrawlDb& FDb;
    TMark FMark;
    sqlite3_stmt* FAddress = nullptr;
    sqlite3_stmt* FMerged = nullptr;
    sqlite3_stmt* FLink = nullptr;
    sqlite3_stmt* FReference = nullptr;
    // The addresses of the page being written whose referrers are.
    std::unordered_set<int> FReferenced;
};
