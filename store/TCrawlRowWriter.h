#pragma once
// The link rows and referrers of a crawl file written as the crawl merges
// its pages (docs/CRAWL-FILE.md: addresses, merged, link_rows, ref_rows),
// each page's in the transaction that commits it, and the verdicts of the
// addresses they reference; and read back (TRowReader). Dozens of rows a
// page: written through SQLite's own statements, on the connection of a
// TCrawlDb that outlives the writer.

#include "crawl/TRowReader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TCrawlDb;
class TRecordStore;
struct TReportTable;
struct sqlite3_stmt;

class TCrawlRowWriter : public TRowReader {
public:
    explicit TCrawlRowWriter(TCrawlDb& db);
    ~TCrawlRowWriter() override;
    TCrawlRowWriter(const TCrawlRowWriter&) = delete;
    TCrawlRowWriter& operator=(const TCrawlRowWriter&) = delete;

    // How far the rows of a store have been taken: the merged pages and
    // the addresses (in the order first referenced).
    struct TMark {
        std::size_t Merged = 0;
        std::size_t Addresses = 0;
    };
    // Rows taken from a store, as values: written on another thread while
    // the store goes on, or kept for the next commit when one fails.
    struct TRows {
        struct TLink {
            std::int16_t Kind = 0;
            bool Internal = false;
            std::int32_t Address = 0;
            std::int32_t Count = 0;
        };
        struct TPage {
            std::int32_t Id = 0;
            std::string Url;
            // In the report's order; the referrers in the order the
            // addresses list them.
            std::vector<TLink> Links;
            std::vector<TPageReference> References;
        };
        // Each with its place, from 1.
        std::vector<std::pair<std::int32_t, std::string>> Addresses;
        std::vector<TPage> Pages;
        // The merged pages taken, these included.
        std::size_t Merged = 0;
        bool Empty() const noexcept { return Addresses.empty() && Pages.empty(); }
    };

    // The addresses the store has referenced and the rows of its merged
    // pages up to merged (their place in Merged()) past mark, which moves on
    // past them: a page's link rows in the report's order, its referrers in
    // the order found. Reads the store only.
    static TRows Take(const TRecordStore& store, std::size_t merged, TMark& mark);
    // Writes rows inside the caller's transaction. False, with the
    // database's error kept, when it cannot.
    bool Write(const TRows& rows);
    // One answer of the journal (answers: key, status, reason and its
    // encoding), inside the caller's transaction.
    bool WriteAnswer(std::string_view key, int status, std::string_view reason,
                     std::string_view data);
    // The values of meta's rows named, each row there already.
    bool WriteCounters(const std::vector<std::pair<std::string, std::string>>& values);
    // The verdicts of every address the store has referenced, in place of
    // those in the file, inside the caller's transaction.
    bool WriteVerdicts(const TRecordStore& store);
    // A report table's rows through insert (a value a field), numeric
    // fields as integers where they read as one, inside the caller's
    // transaction.
    bool WriteTable(const TReportTable& table, const std::string& insert);
    // TRowReader: the rows written, read back.
    bool ReadLinks(std::size_t from, std::size_t to, const TLinkVisit& visit) const override;
    bool ReadPages(std::size_t from, std::size_t to, const TPageVisit& visit) const override;
    bool ReadReferences(std::int32_t address, std::size_t to,
                        const TReferenceVisit& visit) const override;

private:
    bool Prepare(sqlite3_stmt*& statement, const char* sql);
    bool Step(sqlite3_stmt* statement);
    bool WritePage(const TRows::TPage& page);

    TCrawlDb& FDb;
    sqlite3_stmt* FAddress = nullptr;
    sqlite3_stmt* FMerged = nullptr;
    sqlite3_stmt* FLink = nullptr;
    sqlite3_stmt* FReference = nullptr;
    sqlite3_stmt* FAnswer = nullptr;
    sqlite3_stmt* FCounters = nullptr;
};
