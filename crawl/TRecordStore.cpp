#include "TRecordStore.h"

#include <algorithm>

const TAddressEntry* TRecordStore::Find(const std::string& address) const {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? nullptr : &found->second;
}

TAddressEntry* TRecordStore::Find(const std::string& address) {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? nullptr : &found->second;
}

TAddressEntry& TRecordStore::Entry(const std::string& address) { return FEntries[address]; }

_TObjectType* TRecordStore::Page(const std::string& address) const {
    const TAddressEntry* entry = Find(address);
    return entry != nullptr ? entry->Page.get() : nullptr;
}

_TObjectType* TRecordStore::Object(const std::string& address) const {
    const TAddressEntry* entry = Find(address);
    return entry != nullptr ? entry->Object.get() : nullptr;
}

void TRecordStore::BeginMerge(const std::string& page) { FMerged.push_back({page, {}}); }

std::vector<TMergedLink>& TRecordStore::MergingLinks() { return FMerged.back().Links; }

void TRecordStore::AddReference(TAddressEntry& entry, const TMergedLink& link) {
    if (entry.Referrers.empty()) {
        const auto node = FEntries.find(link.Url);
        FReferenced.push_back(&node->first);
    }
    entry.Referrers.push_back(static_cast<std::int32_t>(FMerged.size() - 1));
}

std::vector<const _TObjectType*> TRecordStore::ObjectsById() const {
    std::vector<const _TObjectType*> byId;
    byId.reserve(FObjectCount);
    for (const auto& [address, entry] : FEntries)
        if (entry.Object)
            byId.push_back(entry.Object.get());
    std::stable_sort(byId.begin(), byId.end(),
                     [](const _TObjectType* a, const _TObjectType* b) { return a->Id < b->Id; });
    return byId;
}

std::vector<std::pair<std::string, std::string>> TRecordStore::References() const {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string* address : FReferenced)
        for (const std::int32_t page : FEntries.at(*address).Referrers)
            pairs.emplace_back(*address, FMerged[static_cast<std::size_t>(page)].Url);
    return pairs;
}

std::vector<TReferrer> TRecordStore::ReferrersOf(const std::string& address) const {
    std::vector<TReferrer> pages;
    const TAddressEntry* entry = Find(address);
    if (entry == nullptr)
        return pages;
    std::int32_t last = -1;
    for (const std::int32_t page : entry->Referrers) {
        if (page == last)
            continue; // the same page, as a link and as an object
        last = page;
        const std::string& url = FMerged[static_cast<std::size_t>(page)].Url;
        const _TObjectType* record = Page(url);
        pages.emplace_back(record != nullptr ? record->Id : 0, url);
    }
    return pages;
}

void TRecordStore::FreeRecords() {
    FEntries.clear();
    FReferenced.clear();
    FObjectCount = 0;
}
