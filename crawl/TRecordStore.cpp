#include "TRecordStore.h"

#include <algorithm>

const TAddressEntry* TRecordStore::Find(std::string_view address) const {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? nullptr : &found->second;
}

TAddressEntry* TRecordStore::Find(std::string_view address) {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? nullptr : &found->second;
}

TRecordStore::TEntries::iterator TRecordStore::Node(std::string_view address) {
    const auto found = FEntries.lower_bound(address);
    if (found != FEntries.end() && found->first == address)
        return found;
    return FEntries.emplace_hint(found, std::string(address), TAddressEntry{});
}

TAddressEntry& TRecordStore::Entry(std::string_view address) {
    return Node(address)->second;
}

std::string_view TRecordStore::Stored(std::string_view address) const {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? std::string_view() : std::string_view(found->first);
}

_TObjectType* TRecordStore::Page(std::string_view address) const {
    const TAddressEntry* entry = Find(address);
    return entry != nullptr ? entry->Page.get() : nullptr;
}

_TObjectType* TRecordStore::Object(std::string_view address) const {
    const TAddressEntry* entry = Find(address);
    return entry != nullptr ? entry->Object.get() : nullptr;
}

void TRecordStore::BeginMerge(const std::string& page) {
    FMerged.push_back({page, {}});
    FMergingLinks.clear();
}

TAddressEntry& TRecordStore::AddReference(std::string_view address, std::int16_t kind,
                                          std::int32_t count, bool internal) {
    const auto node = Node(address);
    TAddressEntry& entry = node->second;
    if (entry.Referrers.empty())
        FReferenced.push_back(node->first);
    entry.Referrers.push_back(static_cast<std::int32_t>(FMerged.size() - 1));
    const TMergedLink link{node->first, kind, count, internal};
    if (kind == KIND_PAGE)
        FMergingLinks.push_back(link);
    else
        FMerged.back().Links.push_back(link);
    return entry;
}

void TRecordStore::EndMerge() {
    std::vector<TMergedLink>& objects = FMerged.back().Links;
    std::vector<TMergedLink> links;
    links.reserve(FMergingLinks.size() + objects.size()); // no spare room: the rows stay
    links.insert(links.end(), FMergingLinks.begin(), FMergingLinks.end());
    links.insert(links.end(), objects.begin(), objects.end());
    objects.swap(links);
    std::vector<TMergedLink>().swap(FMergingLinks);
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

void TRecordStore::ForEachReference(
    const std::function<void(std::string_view address, std::string_view page)>& visit) const {
    for (const std::string_view address : FReferenced)
        for (const std::int32_t page : Find(address)->Referrers)
            visit(address, FMerged[static_cast<std::size_t>(page)].Url);
}

std::vector<TReferrer> TRecordStore::ReferrersOf(std::string_view address) const {
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
    FMerged.clear();
    FMergingLinks.clear();
    FReferenced.clear();
    FEntries.clear();
    FObjectCount = 0;
}
