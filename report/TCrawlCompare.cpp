#include "TCrawlCompare.h"

#include "crawl/TRecordStore.h"

#include <deque>
#include <string_view>
#include <unordered_map>

namespace {

// An address as a store lists it, with the verdict of its first row, and
// the key it is matched by.
struct TListed {
    std::string_view Url;
    TVerdict Verdict = TVerdict::Fine;
    std::string_view Reason;
    std::string Key;
};

// "http://h:8080" of "http://h:8080/a?b"; empty for no such address.
std::string_view Origin(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    const std::size_t end = url.find_first_of("/?#", scheme + 3);
    return url.substr(0, end);
}

// The distinct addresses of the page rows, the objects and the external rows,
// in that order, each with its first row; and where each is in the list. An
// address of the crawl's start origin is keyed as if on origin instead, so
// that two crawls of one site served at two addresses (a folder on another
// port, staging and production) line up.
struct TListing {
    // The page rows, which the store hands out as values; the rows refer to them.
    std::deque<TGoneRow> Pages;
    std::vector<TListed> Rows;
    std::unordered_map<std::string, std::size_t> At;
    std::string_view Start;
    std::string_view As;

    TListing(const TRecordStore& store, std::string_view origin) {
        for (const TGoneRow& row : store.PageRows())
            Pages.push_back(row);
        if (!Pages.empty())
            Start = Origin(Pages.front().Url);
        As = origin.empty() ? Start : origin;
        for (const TGoneRow& row : Pages)
            Add(row.Url, row.Verdict, row.Reason);
        for (const _TObjectType* record : store.ObjectsById())
            if (const TAddressEntry* entry = store.Find(record->Url))
                Add(record->Url, entry->Verdict, entry->Reason);
        for (const TExternalRow& row : store.ExternalRows())
            Add(row.Url, row.Verdict, row.Reason);
    }
    std::string Key(std::string_view url) const {
        if (!Start.empty() && Origin(url) == Start)
            return std::string(As) + std::string(url.substr(Start.size()));
        return std::string(url);
    }
    void Add(std::string_view url, TVerdict verdict, std::string_view reason) {
        std::string key = Key(url);
        if (At.emplace(key, Rows.size()).second)
            Rows.push_back({url, verdict, reason, std::move(key)});
    }
    const TListed* Find(const std::string& key) const {
        const auto it = At.find(key);
        return it == At.end() ? nullptr : &Rows[it->second];
    }
};

std::vector<std::string> Pages(const TRecordStore& store, std::string_view address) {
    std::vector<std::string> pages;
    for (TReferrer& referrer : store.ReferrersOf(address))
        pages.push_back(std::move(referrer.Url));
    return pages;
}

bool Works(TVerdict verdict) {
    return verdict == TVerdict::Fine || verdict == TVerdict::Redirected;
}

} // namespace

const char* TCrawlCompare::Name(TChange change) {
    switch (change) {
    case TChange::Broke:
        return "broke";
    case TChange::Fixed:
        return "fixed";
    case TChange::New:
        return "new";
    case TChange::Gone:
        return "gone";
    }
    return "";
}

std::string TCrawlCompare::Status(TVerdict verdict, const std::string& reason) {
    std::string status(TVerdicts::Name(verdict));
    if (!reason.empty())
        status += ": " + reason;
    return status;
}

std::vector<TChangeRow> TCrawlCompare::Of(const TRecordStore& past, const TRecordStore& now) {
    const TListing after(now, {});
    const TListing before(past, after.Start);
    std::array<std::vector<TChangeRow>, Kinds> kinds;
    const auto add = [&kinds](TChange change, const TListed& listed, const TListed* was,
                              const TListed* is, const TRecordStore& store) {
        TChangeRow row;
        row.Change = change;
        row.Url = std::string(listed.Url);
        if (was)
            row.OldStatus = Status(was->Verdict, std::string(was->Reason));
        if (is)
            row.NewStatus = Status(is->Verdict, std::string(is->Reason));
        row.Pages = Pages(store, listed.Url);
        kinds[static_cast<std::size_t>(change)].push_back(std::move(row));
    };
    for (const TListed& is : after.Rows) {
        const TListed* was = before.Find(is.Key);
        const bool broken = is.Verdict == TVerdict::Broken;
        if (broken && (!was || was->Verdict != TVerdict::Broken))
            add(TChange::Broke, is, was, &is, now);
        else if (was && was->Verdict == TVerdict::Broken && Works(is.Verdict))
            add(TChange::Fixed, is, was, &is, now);
        else if (!was)
            add(TChange::New, is, nullptr, &is, now);
    }
    for (const TListed& was : before.Rows)
        if (!after.Find(was.Key))
            add(TChange::Gone, was, &was, nullptr, past);
    std::vector<TChangeRow> changes;
    for (std::vector<TChangeRow>& kind : kinds)
        for (TChangeRow& row : kind)
            changes.push_back(std::move(row));
    return changes;
}

std::array<std::size_t, TCrawlCompare::Kinds>
TCrawlCompare::Count(const std::vector<TChangeRow>& changes) {
    std::array<std::size_t, Kinds> counts{};
    for (const TChangeRow& row : changes)
        ++counts[static_cast<std::size_t>(row.Change)];
    return counts;
}

TReportTable TCrawlCompare::Table(const std::vector<TChangeRow>& changes) {
    TReportTable table;
    table.Name = "compare";
    table.Fields = {{"Change", false},
                    {"URI", false},
                    {"Old status", false},
                    {"New status", false},
                    {"Pages", false, true}};
    table.ForEachRow = [&changes](const TReportTable::TVisit& visit) {
        TReportTable::TCells cells(5);
        for (const TChangeRow& row : changes) {
            cells[0] = Name(row.Change);
            cells[1] = row.Url;
            cells[2] = row.OldStatus;
            cells[3] = row.NewStatus;
            cells[4].clear();
            for (const std::string& page : row.Pages)
                (cells[4].empty() ? cells[4] : cells[4] += ' ') += page;
            visit(cells);
        }
    };
    return table;
}

TReport TCrawlCompare::Report(const std::vector<TChangeRow>& changes, const std::string& past,
                              const std::string& now) {
    TReport report;
    report.Options = {{"old", past}, {"new", now}};
    report.Tables.push_back(Table(changes));
    report.Changes = &changes;
    return report;
}
