#include "TPageLinks.h"

#include "crawl/TRecordStore.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <unordered_set>

namespace {

// The first line where the merged page at index references the entry's
// address. The referrers are in merge order, so a page's are together.
std::uint32_t FirstLine(const TAddressEntry& entry, std::int32_t index) {
    auto at = std::lower_bound(
        entry.Referrers.begin(), entry.Referrers.end(), index,
        [](const TReference& reference, std::int32_t page) { return reference.Page < page; });
    std::uint32_t line = std::numeric_limits<std::uint32_t>::max();
    for (; at != entry.Referrers.end() && at->Page == index; ++at)
        line = std::min(line, at->Line);
    return line == std::numeric_limits<std::uint32_t>::max() ? 0 : line;
}

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
    const std::deque<TMergedPage>& merged = store.Merged();
    std::size_t index = 0;
    const std::string_view* page = nullptr;
    std::vector<TPageLink> links;
    std::unordered_set<std::string_view> seen;
    const auto flush = [&] {
        if (page != nullptr && !links.empty())
            visit(*page, links);
        links.clear();
        seen.clear();
    };
    store.ForEachLink([&](const std::string_view& url, const TMergedLink& link) {
        if (&url != page) {
            flush();
            page = &url;
            while (index < merged.size() && &merged[index].Url != page)
                ++index;
        }
        if (!seen.insert(link.Url).second)
            return; // linked to and embedded: its first kind counts
        TPageLink row;
        row.Url = link.Url;
        row.Kind = link.Kind;
        const TAddressEntry* entry = store.Find(link.Url);
        if (entry != nullptr)
            row.Line = FirstLine(*entry, static_cast<std::int32_t>(index));
        row.Answer = Answer(store, entry);
        links.push_back(row);
    });
    flush();
}
