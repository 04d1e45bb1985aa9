#include "TReportTables.h"

#include "TReportColumns.h"
#include "crawl/TRecordStore.h"

namespace {

// A table whose fields are the columns of one column table, and whose rows
// are what forEach hands on, one Row at a time.
template <class Row, std::size_t N, class ForEach>
TReportTable Table(const char* name, const std::array<TReportColumn<Row>, N>& columns,
                   ForEach forEach) {
    TReportTable table;
    table.Name = name;
    for (const TReportColumn<Row>& column : columns)
        table.Fields.push_back({column.Name, column.Numeric});
    table.ForEachRow = [&columns, forEach](const TReportTable::TVisit& visit) {
        TReportTable::TCells cells(N);
        forEach([&](const Row& row) {
            for (std::size_t i = 0; i < N; ++i)
                columns[i].Put(row, cells[i]);
            visit(cells);
        });
    };
    return table;
}

} // namespace

// Every row that was asked for has a reason.
TAddressVerdict TReportTables::Found(const TRecordStore& store, const TAddressEntry* entry,
                                     bool elsewhere) {
    if (!entry)
        return {};
    const std::span<const TExternalRow> externals = store.ExternalRows();
    const bool checked =
        entry->ExternalId > 0 && static_cast<std::size_t>(entry->ExternalId) <= externals.size();
    const bool asked = entry->Object || !entry->Reason.empty();
    if (checked && (elsewhere || !asked)) {
        const TExternalRow& row = externals[static_cast<std::size_t>(entry->ExternalId - 1)];
        return {row.Verdict, row.Reason};
    }
    if (asked)
        return {entry->Verdict, entry->Reason};
    return {};
}

std::vector<TReportTable> TReportTables::Of(const TRecordStore& store) {
    std::vector<TReportTable> tables;
    tables.push_back(Table("pages", TReportColumns::Pages(), [&store](const auto& row) {
        for (const TGoneRow& page : store.PageRows())
            row(page);
    }));
    tables.push_back(Table("objects", TReportColumns::Objects(), [&store](const auto& row) {
        for (const TAddressEntry* entry : store.ObjectEntriesById())
            row(TObjectRow::Of(*entry->Object, entry->Verdict, entry->Reason));
    }));
    // Pages and objects are addresses: their URI, and the pages using it.
    for (TReportTable& table : tables) {
        while (table.Fields[table.AddressField].Name != std::string_view("URI"))
            ++table.AddressField;
        table.UsesOf = [&store](std::string_view address) { return store.ReferrersOf(address); };
    }
    tables.push_back(Table("links", TReportColumns::Links(), [&store](const auto& row) {
        store.ForEachLink([&](const std::string_view& page, const TMergedLink& link) {
            const bool elsewhere = link.Kind == KIND_PAGE && !link.Internal;
            row(TLinkRow{page, link, Found(store, store.Find(link.Url, link.Address), elsewhere)});
        });
    }));
    tables.push_back(Table("referrers", TReportColumns::Referrers(), [&store](const auto& row) {
        store.ForEachReference([&](std::string_view address, std::string_view page,
                                   std::uint32_t line, std::int32_t place) {
            row(TReferenceRow{address, page, line,
                              Found(store, store.Find(address, place), false)});
        });
    }));
    TReportTable external =
        Table("external", TReportColumns::Externals(), [&store](const auto& row) {
            for (const TExternalRow& link : store.ExternalRows())
                row(link);
        });
    external.AddressField = 1;
    external.UsesOf = [&store](std::string_view address) { return store.ReferrersOf(address); };
    tables.push_back(std::move(external));
    tables.push_back(Table("redirects", TReportColumns::Redirects(),
                           [&store](const auto& row) { store.ForEachRedirect(row); }));
    return tables;
}
