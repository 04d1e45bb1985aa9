#include "TPageLinks.h"

#include "crawl/TRecordStore.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <unordered_set>

namespace {

// The answer of an address from its entry (none: never met).
TAddressAnswer Answer(const TRecordStore& store, const TAddressEntry* entry) {
    TAddressAnswer answer;
    if (entry == nullptr)
        return answer;
    answer.Verdict = entry->Verdict;
    answer.Reason = entry->Reason;
    // A page that failed or was refused has a reason but no status.
    const bool judged = entry->Verdict != TVerdict::Fine || !entry->Reason.empty();
    if (entry->Page) {
        answer.Checked = entry->Page->Visited != 0 || judged;
        answer.Status = entry->Page->Visited != 0 ? std::int32_t{entry->Page->Status} : 0;
    } else if (entry->Object) {
        answer.Checked = true;
        answer.Status = entry->Object->Status;
    } else if (entry->ExternalId > 0 &&
               static_cast<std::size_t>(entry->ExternalId) <= store.ExternalRows().size()) {
        const TExternalRow& row =
            store.ExternalRows()[static_cast<std::size_t>(entry->ExternalId - 1)];
        answer.Checked = true;
        answer.Status = row.Status;
        answer.Verdict = row.Verdict;
        answer.Reason = row.Reason;
    } else {
        answer.Checked = judged;
    }
    return answer;
}

} // namespace

TAddressAnswer TPageLinks::AnswerOf(const TRecordStore& store, std::string_view address) {
    return Answer(store, store.Find(address));
}

TAddressAnswer TPageLinks::AnswerOf(const TRecordStore& store, const TGoneRow& row) {
    TAddressAnswer answer{true, row.Status, row.Verdict, row.Reason};
    // The row of a page that no answer came for says 404; its record, that
    // no status came.
    const TAddressEntry* entry = store.Find(row.Url);
    if (entry != nullptr && entry->Page && entry->Page->Visited == 0)
        answer.Status = 0;
    return answer;
}

void TPageLinks::ForEachPage(
    const TRecordStore& store,
    const std::function<void(std::string_view page, const std::vector<TPageLink>& links)>& visit) {
    std::vector<TPageLink> links;
    std::unordered_set<std::string_view> seen;
    std::unordered_map<std::int32_t, std::uint32_t> lines; // the first of each address
    store.ForEachPage([&](std::string_view page, std::span<const TMergedLink> rows,
                          std::span<const TPageReference> references) {
        lines.clear();
        for (const TPageReference& reference : references)
            if (const auto [at, added] = lines.emplace(reference.Address, reference.Line); !added)
                at->second = std::min(at->second, reference.Line);
        links.clear();
        seen.clear();
        for (const TMergedLink& link : rows) {
            if (!seen.insert(link.Url).second)
                continue; // linked to and embedded: its first kind counts
            TPageLink row;
            row.Url = link.Url;
            row.Kind = link.Kind;
            if (const auto line = lines.find(link.Address); line != lines.end())
                row.Line = line->second;
            row.Answer = Answer(store, store.Find(link.Url));
            links.push_back(row);
        }
        if (!links.empty())
            visit(page, links);
    });
}
