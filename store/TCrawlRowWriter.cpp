#include "TCrawlRowWriter.h"

#include "TCrawlDb.h"

#include "crawl/TRecordStore.h"
#include "report/TReportTable.h"
#include "report/TReportTables.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <span>
#include <string_view>

namespace {

// Text as TCrawlDb::TextValue keeps it: text when UTF-8, else a blob. Not
// copied: every statement is stepped, then its bindings cleared (Step),
// while the text it was given lives.
int BindText(sqlite3_stmt* statement, int column, std::string_view text) {
    if (text.data() == nullptr)
        text = ""; // empty text, not NULL
    const auto size = static_cast<int>(std::min<std::size_t>(text.size(), 0x7fffffff));
    return TCrawlDb::IsUtf8(text)
               ? sqlite3_bind_text(statement, column, text.data(), size, SQLITE_STATIC)
               : sqlite3_bind_blob(statement, column, text.data(), size, SQLITE_STATIC);
}

} // namespace

TCrawlRowWriter::TCrawlRowWriter(TCrawlDb& db) : FDb(db) {}

TCrawlRowWriter::~TCrawlRowWriter() {
    for (sqlite3_stmt* statement : {FAddress, FMerged, FLink, FReference, FAnswer, FCounters})
        sqlite3_finalize(statement);
}

bool TCrawlRowWriter::Prepare(sqlite3_stmt*& statement, const char* sql) {
    if (statement != nullptr)
        return true;
    if (FDb.Failed())
        return false;
    sqlite3* handle = FDb.Handle();
    if (handle == nullptr)
        return FDb.Fail(std::string("no SQLite connection"));
    if (sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr) != SQLITE_OK) {
        FDb.Fail(std::string(sqlite3_errmsg(handle)));
        sqlite3_finalize(statement);
        statement = nullptr;
        return false;
    }
    return true;
}

bool TCrawlRowWriter::Step(sqlite3_stmt* statement) {
    const int done = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (done == SQLITE_DONE)
        return true;
    return FDb.Fail(std::string(sqlite3_errstr(done)));
}

TCrawlRowWriter::TRows TCrawlRowWriter::Take(const TRecordStore& store, std::size_t merged,
                                             TMark& mark) {
    TRows rows;
    for (; mark.Addresses < store.ReferencedCount(); ++mark.Addresses) {
        const auto place = static_cast<std::int32_t>(mark.Addresses + 1);
        rows.Addresses.emplace_back(place, std::string(store.ReferencedAddress(place)));
    }
    merged = std::min(merged, store.Merged().size());
    rows.Merged = std::max(mark.Merged, merged);
    for (; mark.Merged < merged; ++mark.Merged) {
        const std::size_t at = mark.Merged;
        const TMergedPage& merging = store.Merged()[at];
        TRows::TPage& page = rows.Pages.emplace_back();
        page.Id = static_cast<std::int32_t>(at + 1);
        page.Url = std::string(merging.Url);
        // In the report's order: a merge not ended lists its anchors so far first.
        const std::span<const TMergedLink> parts[] = {store.MergingLinks(at), store.Links(at)};
        for (const std::span<const TMergedLink> links : parts)
            for (const TMergedLink& link : links)
                page.Links.push_back({link.Kind, link.Internal, link.Address, link.Count});
        // The referrers of each address the page references, as the address
        // lists them (as an object, then as a link, for one met first as an
        // object): the referrers view orders them by address, then as written.
        store.ReferencesOn(at, page.References);
    }
    return rows;
}

bool TCrawlRowWriter::Write(const TRows& rows) {
    if (!Prepare(FAddress, "INSERT INTO addresses (id, uri) VALUES (?, ?)") ||
        !Prepare(FMerged, "INSERT INTO merged (id, uri) VALUES (?, ?)") ||
        !Prepare(FLink, "INSERT INTO link_rows (page, kind, address, count, scope) "
                        "VALUES (?, ?, ?, ?, ?)") ||
        !Prepare(FReference, "INSERT INTO ref_rows (address, page, line) VALUES (?, ?, ?)"))
        return false;
    for (const auto& [place, address] : rows.Addresses) {
        sqlite3_bind_int(FAddress, 1, place);
        if (BindText(FAddress, 2, address) != SQLITE_OK || !Step(FAddress))
            return FDb.Fail(std::string("an address cannot be written"));
    }
    for (const TRows::TPage& page : rows.Pages)
        if (!WritePage(page))
            return false;
    return true;
}

bool TCrawlRowWriter::WritePage(const TRows::TPage& page) {
    sqlite3_bind_int(FMerged, 1, page.Id);
    if (BindText(FMerged, 2, page.Url) != SQLITE_OK || !Step(FMerged))
        return FDb.Fail(std::string("a merged page cannot be written"));
    for (const TRows::TLink& link : page.Links) {
        sqlite3_bind_int(FLink, 1, page.Id);
        sqlite3_bind_int(FLink, 2, link.Kind);
        sqlite3_bind_int(FLink, 3, link.Address);
        sqlite3_bind_int(FLink, 4, link.Count);
        sqlite3_bind_int(FLink, 5, link.Internal ? 1 : 0);
        if (!Step(FLink))
            return false;
    }
    for (const TPageReference& reference : page.References) {
        sqlite3_bind_int(FReference, 1, reference.Address);
        sqlite3_bind_int(FReference, 2, page.Id);
        sqlite3_bind_int64(FReference, 3, reference.Line);
        if (!Step(FReference))
            return false;
    }
    return true;
}

bool TCrawlRowWriter::WriteAnswer(std::string_view key, int status, std::string_view reason,
                                  std::string_view data) {
    if (!Prepare(FAnswer, "INSERT INTO answers (key, status, reason, data) VALUES (?, ?, ?, ?)"))
        return false;
    const auto size = static_cast<int>(std::min<std::size_t>(data.size(), 0x7fffffff));
    if (BindText(FAnswer, 1, key) != SQLITE_OK ||
        sqlite3_bind_int(FAnswer, 2, status) != SQLITE_OK ||
        BindText(FAnswer, 3, reason) != SQLITE_OK ||
        sqlite3_bind_blob(FAnswer, 4, data.empty() ? "" : data.data(), size, SQLITE_STATIC) !=
            SQLITE_OK)
        return FDb.Fail(std::string("an answer cannot be written"));
    return Step(FAnswer);
}

bool TCrawlRowWriter::WriteCounters(
    const std::vector<std::pair<std::string, std::string>>& values) {
    // A row at a time, by its key: one statement for all would build a
    // table of the names at each commit.
    if (!Prepare(FCounters, "UPDATE meta SET value = ?2 WHERE name = ?1"))
        return false;
    for (const auto& [name, value] : values)
        if (BindText(FCounters, 1, name) != SQLITE_OK ||
            BindText(FCounters, 2, value) != SQLITE_OK || !Step(FCounters))
            return FDb.Fail(std::string("the counters cannot be written"));
    return true;
}

bool TCrawlRowWriter::WriteVerdicts(const TRecordStore& store) {
    sqlite3_stmt* insert = nullptr;
    if (!FDb.Exec("DELETE FROM verdicts") ||
        !Prepare(insert, "INSERT INTO verdicts (address, verdict, reason, elsewhere_verdict, "
                         "elsewhere_reason) VALUES (?, ?, ?, ?, ?)"))
        return false;
    bool ok = true;
    for (std::size_t i = 0; ok && i < store.ReferencedCount(); ++i) {
        const auto place = static_cast<std::int32_t>(i + 1);
        const std::string_view address = store.ReferencedAddress(place);
        const TAddressEntry* entry = store.Find(address, place);
        const TAddressVerdict found = TReportTables::Found(store, entry, false);
        if (!found.Verdict)
            continue;
        // As a link elsewhere it says otherwise only when it was both asked
        // for and checked as a link to another site.
        const TAddressVerdict elsewhere = TReportTables::Found(store, entry, true);
        sqlite3_bind_int(insert, 1, place);
        const std::string_view verdict = TVerdicts::Name(*found.Verdict);
        ok = sqlite3_bind_text(insert, 2, verdict.data(), int(verdict.size()), SQLITE_STATIC) ==
                 SQLITE_OK &&
             BindText(insert, 3, found.Reason) == SQLITE_OK;
        if (ok && (elsewhere.Verdict != found.Verdict || elsewhere.Reason != found.Reason)) {
            const std::string_view other =
                elsewhere.Verdict ? TVerdicts::Name(*elsewhere.Verdict) : std::string_view("");
            ok = sqlite3_bind_text(insert, 4, other.data(), int(other.size()), SQLITE_STATIC) ==
                     SQLITE_OK &&
                 BindText(insert, 5, elsewhere.Reason) == SQLITE_OK;
        }
        ok = ok ? Step(insert) : FDb.Fail(std::string("a verdict cannot be written"));
    }
    sqlite3_finalize(insert);
    return ok;
}

bool TCrawlRowWriter::WriteTable(const TReportTable& table, const std::string& insert) {
    sqlite3_stmt* statement = nullptr;
    if (!Prepare(statement, insert.c_str()))
        return false;
    bool ok = true;
    table.ForEachRow([&](const TReportTable::TCells& cells) {
        if (!ok)
            return;
        for (std::size_t i = 0; ok && i < cells.size(); ++i) {
            long long number = 0;
            const std::string& cell = cells[i];
            const int column = int(i + 1);
            ok = (table.Fields[i].Numeric &&
                          std::from_chars(cell.data(), cell.data() + cell.size(), number).ec ==
                              std::errc()
                      ? sqlite3_bind_int64(statement, column, number)
                      : BindText(statement, column, cell)) == SQLITE_OK;
        }
        ok = ok ? Step(statement)
                : FDb.Fail(std::string("a row of ") + table.Name + " cannot be written");
    });
    sqlite3_finalize(statement);
    return ok;
}

namespace {

// A statement that reads, finalized when it goes.
class TSelect {
public:
    TSelect(sqlite3* handle, const char* sql) {
        if (handle != nullptr &&
            sqlite3_prepare_v2(handle, sql, -1, &FStatement, nullptr) != SQLITE_OK) {
            sqlite3_finalize(FStatement);
            FStatement = nullptr;
        }
    }
    ~TSelect() { sqlite3_finalize(FStatement); }
    TSelect(const TSelect&) = delete;
    TSelect& operator=(const TSelect&) = delete;
    explicit operator bool() const noexcept { return FStatement != nullptr; }
    sqlite3_stmt* operator*() const noexcept { return FStatement; }
    // The next row: SQLITE_ROW, SQLITE_DONE or an error.
    int Step() { return FDone = sqlite3_step(FStatement); }
    bool Done() const noexcept { return FDone == SQLITE_DONE; }

private:
    sqlite3_stmt* FStatement = nullptr;
    int FDone = SQLITE_OK;
};

// Pages are numbered from 1 in the file; a number out of range is page -1.
std::size_t PageAt(sqlite3_stmt* statement, int column) {
    return static_cast<std::size_t>(sqlite3_column_int64(statement, column) - 1);
}

TMergedLink LinkAt(sqlite3_stmt* select) {
    TMergedLink link;
    link.Kind = static_cast<std::int16_t>(sqlite3_column_int(select, 1));
    link.Address = sqlite3_column_int(select, 2);
    link.Count = sqlite3_column_int(select, 3);
    link.Internal = sqlite3_column_int(select, 4) != 0;
    return link;
}

std::uint32_t LineAt(sqlite3_stmt* statement, int column) {
    return static_cast<std::uint32_t>(sqlite3_column_int64(statement, column));
}

// In the order written, which is the report's: not by an index on page.
const char* const LinksSql = "SELECT page, kind, address, count, scope FROM link_rows "
                             "WHERE +page > ? AND +page <= ? ORDER BY rowid";

} // namespace

bool TCrawlRowWriter::ReadLinks(std::size_t from, std::size_t to, const TLinkVisit& visit) const {
    TSelect select(FDb.Handle(), LinksSql);
    if (!select)
        return false;
    sqlite3_bind_int64(*select, 1, sqlite3_int64(from));
    sqlite3_bind_int64(*select, 2, sqlite3_int64(to));
    while (select.Step() == SQLITE_ROW)
        visit(PageAt(*select, 0), LinkAt(*select));
    return select.Done();
}

bool TCrawlRowWriter::ReadPages(std::size_t from, std::size_t to, const TPageVisit& visit) const {
    // Both in the order written, a page after another: read side by side.
    TSelect links(FDb.Handle(), LinksSql);
    TSelect references(FDb.Handle(), "SELECT page, address, line FROM ref_rows "
                                     "WHERE +page > ? AND +page <= ? ORDER BY rowid");
    if (!links || !references)
        return false;
    for (sqlite3_stmt* select : {*links, *references}) {
        sqlite3_bind_int64(select, 1, sqlite3_int64(from));
        sqlite3_bind_int64(select, 2, sqlite3_int64(to));
    }
    std::vector<TMergedLink> pageLinks;
    std::vector<TPageReference> pageReferences;
    bool more = links.Step() == SQLITE_ROW;
    bool moreReferences = references.Step() == SQLITE_ROW;
    while (more) {
        const std::size_t page = PageAt(*links, 0);
        pageLinks.clear();
        for (; more && PageAt(*links, 0) == page; more = links.Step() == SQLITE_ROW)
            pageLinks.push_back(LinkAt(*links));
        pageReferences.clear();
        for (; moreReferences && PageAt(*references, 0) <= page;
             moreReferences = references.Step() == SQLITE_ROW)
            if (PageAt(*references, 0) == page)
                pageReferences.push_back(
                    {sqlite3_column_int(*references, 1), LineAt(*references, 2)});
        visit(page, pageLinks, pageReferences);
    }
    return links.Done() && (moreReferences || references.Done());
}

bool TCrawlRowWriter::ReadReferences(std::int32_t address, std::size_t to,
                                     const TReferenceVisit& visit) const {
    // By the index on address, page and line (TCrawlRecorder::IndexReferrers),
    // which holds all that is read: no row is looked up in the table. An
    // address's rows were written page after page, so the index's order is
    // theirs but for the rows of one page (an address used as an object and
    // as a link), which are put back in the order written.
    TSelect select(FDb.Handle(),
                   address != 0 ? "SELECT address, page, line FROM ref_rows "
                                  "WHERE address = ?2 AND page > 0 AND page <= ?1 ORDER BY rowid"
                                : "SELECT address, page, line, rowid FROM ref_rows "
                                  "WHERE page > 0 AND page <= ?1 ORDER BY address, page, line");
    if (!select)
        return false;
    sqlite3_bind_int64(*select, 1, sqlite3_int64(to));
    if (address != 0) {
        sqlite3_bind_int(*select, 2, address);
        while (select.Step() == SQLITE_ROW)
            visit(sqlite3_column_int(*select, 0), PageAt(*select, 1), LineAt(*select, 2));
        return select.Done();
    }
    struct TUse {
        std::int32_t Address;
        std::size_t Page;
        std::uint32_t Line;
        sqlite3_int64 Written;
    };
    std::vector<TUse> page; // the rows of one address on one page
    const auto flush = [&] {
        if (page.size() > 1)
            std::sort(page.begin(), page.end(),
                      [](const TUse& a, const TUse& b) { return a.Written < b.Written; });
        for (const TUse& use : page)
            visit(use.Address, use.Page, use.Line);
        page.clear();
    };
    while (select.Step() == SQLITE_ROW) {
        TUse use{sqlite3_column_int(*select, 0), PageAt(*select, 1), LineAt(*select, 2),
                 sqlite3_column_int64(*select, 3)};
        if (!page.empty() && (page.front().Address != use.Address || page.front().Page != use.Page))
            flush();
        page.push_back(use);
    }
    flush();
    return select.Done();
}
