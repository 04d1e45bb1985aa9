#include "TReportReader.h"

#include "TReportColumns.h"
#include "common/CsvReader.h"
#include "crawl/TRecordStore.h"

#include <charconv>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <unordered_map>

namespace {

using TTable = TReportReader::TTable;

// Every row of table has a cell for each of the n columns.
std::string CheckWidth(const TTable& table, std::size_t n) {
    for (std::size_t i = 0; i < table.Rows.size(); ++i)
        if (table.Rows[i].size() != n)
            return table.Name + ": line " + std::to_string(i + 2) + " has " +
                   std::to_string(table.Rows[i].size()) + " cells, not " + std::to_string(n);
    return {};
}

template <class Row, std::size_t N>
std::string Load(const std::string& dir, const std::string& file,
                 const std::array<TReportColumn<Row>, N>& columns, bool optional, TTable& table,
                 bool& found) {
    table.Name = dir + "/" + file;
    found = false;
    std::ifstream in(table.Name, std::ios::binary);
    if (!in)
        return optional ? std::string()
                        : table.Name + ": cannot be read (no report in this folder?)";
    found = true;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return table.Name + ": cannot be read";
    std::vector<CsvReader::TRow> rows;
    if (!CsvReader::Parse(text.str(), rows))
        return table.Name + ": not CSV (a quote is misplaced or left open)";
    if (rows.empty())
        return table.Name + ": empty, not a report table";
    std::vector<std::string> heading;
    for (const TReportColumn<Row>& column : columns)
        heading.emplace_back(column.Name);
    if (rows.front() != heading)
        return table.Name + ": not a report table (its heading is not the report's)";
    for (std::size_t i = 1; i < rows.size(); ++i)
        for (std::string& cell : rows[i])
            cell = CsvReader::PlainCell(cell);
    rows.erase(rows.begin());
    table.Rows = std::move(rows);
    return {};
}

// Reads the numeric and verdict cells of one table, keeping the first error.
class TCells {
public:
    TCells(const TTable& table, std::string& error) : FTable(table), FError(error) {}

    std::int32_t Number(std::size_t row, std::size_t column) {
        const std::string& cell = FTable.Rows[row][column];
        std::int32_t value = 0;
        const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
        if (ec != std::errc() || end != cell.data() + cell.size() || cell.empty())
            Fail(row, "\"" + cell + "\" is not a whole number");
        return value;
    }
    TVerdict Verdict(std::size_t row, std::size_t column) {
        const std::optional<TVerdict> verdict = TVerdicts::FromName(FTable.Rows[row][column]);
        if (!verdict)
            Fail(row, "\"" + FTable.Rows[row][column] + "\" is not a verdict");
        return verdict.value_or(TVerdict::Fine);
    }
    void Fail(std::size_t row, const std::string& what) {
        if (FError.empty())
            FError = FTable.Name + ": line " + std::to_string(row + 2) + ": " + what;
    }

private:
    const TTable& FTable;
    std::string& FError;
};

void ReadPages(const TTable& table, TRecordStore& store, std::string& error) {
    TCells cells(table, error);
    for (std::size_t i = 0; i < table.Rows.size() && error.empty(); ++i) {
        const CsvReader::TRow& r = table.Rows[i];
        TGoneRow row{cells.Number(i, 0),
                     cells.Number(i, 1),
                     r[2],
                     cells.Number(i, 3),
                     cells.Number(i, 4),
                     r[5],
                     cells.Verdict(i, 6),
                     r[7]};
        TAddressEntry& entry = store.Entry(row.Url);
        entry.Verdict = row.Verdict;
        entry.Reason = store.Keep(row.Reason);
        if (row.Id > 0 && !entry.Page) {
            entry.Page = std::make_unique<_TObjectType>();
            *entry.Page = {{}, row.Type,   KIND_PAGE, row.Size, 1,
                           0,       row.Status, row.Depth, row.Id};
        }
        store.AddPageRow(row);
    }
}

void ReadObjects(const TTable& table, TRecordStore& store, std::string& error) {
    TCells cells(table, error);
    for (std::size_t i = 0; i < table.Rows.size() && error.empty(); ++i) {
        const CsvReader::TRow& r = table.Rows[i];
        TAddressEntry& entry = store.Entry(r[1]);
        if (entry.Object) {
            cells.Fail(i, "the object " + r[1] + " is listed twice");
            return;
        }
        entry.Object = std::make_unique<_TObjectType>();
        *entry.Object = {r[1],
                         r[4],
                         KIND_OBJECT,
                         cells.Number(i, 2),
                         0,
                         cells.Number(i, 5),
                         cells.Number(i, 3),
                         0,
                         cells.Number(i, 0)};
        entry.Verdict = cells.Verdict(i, 6);
        entry.Reason = store.Keep(r[7]);
        store.CountObject();
    }
}

void ReadExternals(const TTable& table, TRecordStore& store, std::string& error) {
    TCells cells(table, error);
    for (std::size_t i = 0; i < table.Rows.size() && error.empty(); ++i) {
        const CsvReader::TRow& r = table.Rows[i];
        if (cells.Number(i, 0) != static_cast<std::int32_t>(i + 1)) {
            cells.Fail(i, "the ids do not count up from 1");
            return;
        }
        TExternalRow& row = store.AddExternal(r[1], cells.Number(i, 5));
        row.Status = cells.Number(i, 2);
        row.Size = cells.Number(i, 3);
        row.Type = r[4];
        row.Verdict = cells.Verdict(i, 6);
        row.Reason = r[7];
        store.ApplyExternal();
    }
}

// The merges again, page by page as links.csv lists them, each reference
// with its line from referrers.csv. A page's links come before its objects
// whatever the order of the calls, but the addresses are first referenced in
// the order of the calls: where both kinds wait, the one whose address
// referrers.csv lists first goes first, as it did in the crawl.
void ReadMerges(const TTable& links, const TTable& referrers, TRecordStore& store,
                std::string& error) {
    TCells linkCells(links, error), referrerCells(referrers, error);
    std::unordered_map<std::string, std::size_t> rank; // in the order first referenced
    std::map<std::pair<std::string, std::string>, std::deque<std::uint32_t>> lines;
    for (std::size_t i = 0; i < referrers.Rows.size() && error.empty(); ++i) {
        const CsvReader::TRow& r = referrers.Rows[i];
        rank.emplace(r[0], rank.size());
        lines[{r[0], r[1]}].push_back(static_cast<std::uint32_t>(referrerCells.Number(i, 2)));
    }
    struct TLink {
        std::size_t Row;
        std::int16_t Kind;
    };
    const auto add = [&](const TLink& link) {
        const CsvReader::TRow& r = links.Rows[link.Row];
        std::uint32_t line = 0;
        if (const auto found = lines.find({r[2], r[0]});
            found != lines.end() && !found->second.empty()) {
            line = found->second.front();
            found->second.pop_front();
        }
        store.AddReference(r[2], link.Kind, linkCells.Number(link.Row, 3), r[4] == "internal",
                           line);
    };
    std::size_t i = 0;
    while (i < links.Rows.size() && error.empty()) {
        const std::string& page = links.Rows[i][0];
        std::deque<TLink> anchors, objects;
        for (; i < links.Rows.size() && links.Rows[i][0] == page; ++i) {
            const std::string& kind = links.Rows[i][1];
            if (kind != "anchor" && kind != "object") {
                linkCells.Fail(i, "\"" + kind + "\" is not a kind of link");
                return;
            }
            (kind == "anchor" ? anchors : objects)
                .push_back({i, kind == "anchor" ? KIND_PAGE : KIND_OBJECT});
        }
        store.BeginMerge(page);
        const auto known = [&](const TLink& link) {
            const TAddressEntry* entry = store.Find(links.Rows[link.Row][2]);
            return entry != nullptr && entry->Referenced != 0;
        };
        const auto order = [&](const TLink& link) {
            const auto found = rank.find(links.Rows[link.Row][2]);
            return found == rank.end() ? rank.size() : found->second;
        };
        while (!anchors.empty() || !objects.empty()) {
            std::deque<TLink>* next = &anchors;
            if (anchors.empty())
                next = &objects;
            else if (!objects.empty() && !known(anchors.front()) &&
                     (known(objects.front()) || order(objects.front()) < order(anchors.front())))
                next = &objects;
            add(next->front());
            next->pop_front();
        }
        store.EndMerge();
    }
}

void ReadRedirects(const TTable& table, TRecordStore& store, std::string& error) {
    TCells cells(table, error);
    for (std::size_t i = 0; i < table.Rows.size() && error.empty(); ++i)
        store.AddRedirect(table.Rows[i][1], cells.Number(i, 2), table.Rows[i][3]);
}

} // namespace

std::string TReportReader::Read(const std::string& dir, TRecordStore& store) {
    TTables tables;
    bool found = false, redirectsFound = false;
    for (const std::string& error :
         {Load(dir, "pages.csv", TReportColumns::Pages(), false, tables.Pages, found),
          Load(dir, "objects.csv", TReportColumns::Objects(), false, tables.Objects, found),
          Load(dir, "external.csv", TReportColumns::Externals(), false, tables.External, found),
          Load(dir, "links.csv", TReportColumns::Links(), false, tables.Links, found),
          Load(dir, "referrers.csv", TReportColumns::Referrers(), false, tables.Referrers, found),
          Load(dir, "redirects.csv", TReportColumns::Redirects(), true, tables.Redirects,
               redirectsFound)})
        if (!error.empty())
            return error;
    return Fill(tables, store);
}

std::string TReportReader::Fill(const TTables& tables, TRecordStore& store) {
    for (const std::string& error :
         {CheckWidth(tables.Pages, TReportColumns::Pages().size()),
          CheckWidth(tables.Objects, TReportColumns::Objects().size()),
          CheckWidth(tables.External, TReportColumns::Externals().size()),
          CheckWidth(tables.Links, TReportColumns::Links().size()),
          CheckWidth(tables.Referrers, TReportColumns::Referrers().size()),
          CheckWidth(tables.Redirects, TReportColumns::Redirects().size())})
        if (!error.empty())
            return error;
    std::string error;
    ReadPages(tables.Pages, store, error);
    if (error.empty())
        ReadObjects(tables.Objects, store, error);
    if (error.empty())
        ReadExternals(tables.External, store, error);
    if (error.empty())
        ReadMerges(tables.Links, tables.Referrers, store, error);
    if (error.empty())
        ReadRedirects(tables.Redirects, store, error);
    return error;
}
