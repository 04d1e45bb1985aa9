#include "TCrawlRowWriter.h"

#include "TCrawlDb.h"

#include "crawl/TRecordStore.h"
#include "report/TReportTables.h"

#include <sqlite3.h>

#include <algorithm>
#include <span>
#include <string_view>
#include <unordered_set>

namespace {

// Text as TCrawlDb::TextValue keeps it: text when UTF-8, else a blob.
int BindText(sqlite3_stmt* statement, int column, std::string_view text) {
    if (text.data() == nullptr)
        text = ""; // empty text, not NULL
    const auto size = static_cast<int>(std::min<std::size_t>(text.size(), 0x7fffffff));
    return TCrawlDb::IsUtf8(text)
               ? sqlite3_bind_text(statement, column, text.data(), size, SQLITE_TRANSIENT)
               : sqlite3_bind_blob(statement, column, text.data(), size, SQLITE_TRANSIENT);
}

} // namespace

TCrawlRowWriter::TCrawlRowWriter(TCrawlDb& db) : FDb(db) {}

TCrawlRowWriter::~TCrawlRowWriter() {
    for (sqlite3_stmt* statement : {FAddress, FMerged, FLink, FReference})
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
        const std::span<const TMergedLink> parts[] = {store.MergingLinks(at), merging.Links};
        for (const std::span<const TMergedLink> links : parts)
            for (const TMergedLink& link : links)
                page.Links.push_back({link.Kind, link.Internal, link.Address, link.Count});
        // The referrers of each address the page references, as the address
        // lists them (as an object, then as a link, for one met first as an
        // object): the referrers view orders them by address, then as written.
        std::unordered_set<std::int32_t> listed;
        const auto page32 = static_cast<std::int32_t>(at);
        for (const TRows::TLink& link : page.Links) {
            if (!listed.insert(link.Address).second)
                continue;
            const std::span<const TReference> references = store.References(link.Address);
            auto from = std::lower_bound(
                references.begin(), references.end(), page32,
                [](const TReference& reference, std::int32_t p) { return reference.Page < p; });
            for (; from != references.end() && from->Page == page32; ++from)
                page.References.push_back({link.Address, from->Line});
        }
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
    for (const TRows::TReference& reference : page.References) {
        sqlite3_bind_int(FReference, 1, reference.Address);
        sqlite3_bind_int(FReference, 2, page.Id);
        sqlite3_bind_int64(FReference, 3, reference.Line);
        if (!Step(FReference))
            return false;
    }
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
        const TAddressVerdict found = TReportTables::Found(store, address, false);
        if (!found.Verdict)
            continue;
        // As a link elsewhere it says otherwise only when it was both asked
        // for and checked as a link to another site.
        const TAddressVerdict elsewhere = TReportTables::Found(store, address, true);
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

bool TCrawlRowWriter::ReadLinks(
    std::size_t from, std::size_t to,
    const std::function<void(std::size_t page, const TMergedLink& link)>& visit) const {
    sqlite3* handle = FDb.Handle();
    sqlite3_stmt* select = nullptr;
    // In the order written, which is the report's: not by an index on page.
    if (handle == nullptr ||
        sqlite3_prepare_v2(handle,
                           "SELECT page, kind, address, count, scope FROM link_rows "
                           "WHERE +page > ? AND +page <= ? ORDER BY rowid",
                           -1, &select, nullptr) != SQLITE_OK) {
        sqlite3_finalize(select);
        return false;
    }
    sqlite3_bind_int64(select, 1, sqlite3_int64(from));
    sqlite3_bind_int64(select, 2, sqlite3_int64(to));
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(select)) == SQLITE_ROW) {
        TMergedLink link;
        link.Kind = static_cast<std::int16_t>(sqlite3_column_int(select, 1));
        link.Address = sqlite3_column_int(select, 2);
        link.Count = sqlite3_column_int(select, 3);
        link.Internal = sqlite3_column_int(select, 4) != 0;
        visit(static_cast<std::size_t>(sqlite3_column_int64(select, 0) - 1), link);
    }
    sqlite3_finalize(select);
    return step == SQLITE_DONE;
}
