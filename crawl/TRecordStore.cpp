#include "TRecordStore.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <unordered_set>

#include <pthread.h>

static_assert(sizeof(void*) != 8 || sizeof(TMergedLink) == 32, "a link row is 32 bytes");

const TAddressEntry* TRecordStore::Find(std::string_view address) const {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? nullptr : &found->second;
}

TAddressEntry* TRecordStore::Find(std::string_view address) {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? nullptr : &found->second;
}

TRecordStore::TEntries::iterator TRecordStore::Node(std::string_view address) {
    if (const auto found = FEntries.find(address); found != FEntries.end())
        return found;
    return FEntries.emplace(FAddresses.Keep(address), TAddressEntry{}).first;
}

TAddressEntry& TRecordStore::Entry(std::string_view address) {
    return Node(address)->second;
}

std::string_view TRecordStore::Stored(std::string_view address) const {
    const auto found = FEntries.find(address);
    return found == FEntries.end() ? std::string_view() : found->first;
}

TStoredText TRecordStore::Keep(std::string_view text) {
    if (const auto found = FKeptTexts.find(text); found != FKeptTexts.end())
        return TStoredText(*found);
    return TStoredText(*FKeptTexts.insert(FTexts.Keep(text)).first);
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
    if (FMerging)
        EndMerge();
    FMerged.push_back({Node(page)->first, {}});
    FMerging = true;
}

TAddressEntry& TRecordStore::AddReference(std::string_view address, std::int16_t kind,
                                          std::int32_t count, bool internal, std::uint32_t line) {
    const auto node = Node(address);
    TAddressEntry& entry = node->second;
    // The link's row and its referrer are added together or not at all, so
    // that memory running out leaves the reports in agreement.
    std::vector<TMergedLink>& rows = kind == KIND_PAGE ? FMergingLinks : FMerged.back().Links;
    const bool first = entry.Referenced == 0;
    const std::int32_t place =
        first ? static_cast<std::int32_t>(FReferenced.size() + 1) : entry.Referenced;
    rows.push_back({node->first, kind, count, internal, place});
    try {
        if (first)
            FReferenced.push_back(&*node);
        entry.Referrers.push_back({static_cast<std::int32_t>(FMerged.size() - 1), line});
    } catch (...) {
        rows.pop_back();
        if (first && !FReferenced.empty() && FReferenced.back() == &*node)
            FReferenced.pop_back();
        throw;
    }
    entry.Referenced = place;
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
    FMerging = false;
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

void TRecordStore::Release(const TRowReader* reader, std::size_t pages) {
    if (reader != FReader)
        Reclaim();
    if (reader == nullptr)
        return;
    FReader = reader;
    for (pages = std::min(pages, MergesEnded()); FReleased < pages; ++FReleased)
        std::vector<TMergedLink>().swap(FMerged[FReleased].Links);
}

void TRecordStore::Reclaim() {
    if (FReader != nullptr && FReleased > 0)
        FReader->ReadLinks(0, FReleased, [this](std::size_t page, const TMergedLink& link) {
            if (page < FReleased && link.Address > 0 &&
                static_cast<std::size_t>(link.Address) <= FReferenced.size())
                FMerged[page].Links.push_back(link);
        });
    for (std::size_t i = 0; i < FReleased; ++i)
        for (TMergedLink& link : FMerged[i].Links)
            link.Url = ReferencedAddress(link.Address);
    FReader = nullptr;
    FReleased = 0;
}

void TRecordStore::ForEachLink(
    const std::function<void(const std::string_view& page, const TMergedLink& link)>& visit) const {
    // Those let go of first, from their reader: a row that names no page or
    // address of the store is no row of it.
    if (FReader != nullptr && FReleased > 0)
        FReader->ReadLinks(0, FReleased, [&](std::size_t page, TMergedLink link) {
            if (page >= FReleased || link.Address <= 0 ||
                static_cast<std::size_t>(link.Address) > FReferenced.size())
                return;
            link.Url = ReferencedAddress(link.Address);
            visit(FMerged[page].Url, link);
        });
    for (std::size_t i = FReader != nullptr ? FReleased : 0; i < FMerged.size(); ++i) {
        for (const TMergedLink& link : MergingLinks(i))
            visit(FMerged[i].Url, link);
        for (const TMergedLink& link : FMerged[i].Links)
            visit(FMerged[i].Url, link);
    }
}

void TRecordStore::ForEachReference(
    const std::function<void(std::string_view address, std::string_view page, std::uint32_t line)>&
        visit) const {
    for (const TEntries::value_type* node : FReferenced)
        for (const TReference& reference : node->second.Referrers)
            visit(node->first, FMerged[static_cast<std::size_t>(reference.Page)].Url,
                  reference.Line);
}

std::vector<TReferrer> TRecordStore::ReferrersOf(std::string_view address) const {
    std::vector<TReferrer> pages;
    const TAddressEntry* entry = Find(address);
    if (entry == nullptr)
        return pages;
    std::int32_t last = -1;
    for (const TReference& reference : entry->Referrers) {
        if (reference.Page == last) {
            // The same page, as a link and as an object: the first line counts.
            pages.back().Line = std::min(pages.back().Line, reference.Line);
            continue;
        }
        last = reference.Page;
        const std::string_view url = FMerged[static_cast<std::size_t>(reference.Page)].Url;
        const _TObjectType* record = Page(url);
        pages.push_back({record != nullptr ? record->Id : 0, std::string(url), reference.Line});
    }
    return pages;
}

void TRecordStore::FreeRecords() {
    struct TGarbage {
        TTextArena Addresses;
        TTextArena Texts;
        TEntries Entries;
        std::deque<TMergedPage> Merged;
        std::vector<const TEntries::value_type*> Referenced;
        std::vector<TMergedLink> MergingLinks;
    };
    auto garbage = std::make_unique<TGarbage>(
        TGarbage{std::move(FAddresses), std::move(FTexts), std::move(FEntries), std::move(FMerged),
                 std::move(FReferenced), std::move(FMergingLinks)});
    FAddresses = TTextArena();
    FKeptTexts.clear();
    FTexts = TTextArena();
    FEntries.clear();
    FRedirects.clear();
    FMerged.clear();
    FReferenced.clear();
    FMergingLinks.clear();
    FMerging = false;
    FReader = nullptr;
    FReleased = 0;
    FObjectCount = 0;
    // Freeing a million records takes about a second.
    constexpr std::size_t ManyRecords = 100000;
    if (garbage->Entries.size() < ManyRecords)
        return;
    try {
        std::thread([garbage = std::move(garbage)] {
            pthread_setname_np(pthread_self(), "FreeRecords");
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: they go here after all.
    }
}

TExternalRow& TRecordStore::AddExternal(std::string_view address, std::int32_t count) {
    TExternalRow row;
    row.Id = static_cast<std::int32_t>(FExternals.size() + 1);
    row.Url = std::string(address);
    row.Count = count;
    Entry(address).ExternalId = row.Id;
    return FExternals.emplace_back(std::move(row));
}

void TRecordStore::AddRedirect(std::string_view address, std::int32_t status, std::string final) {
    const auto found = FRedirects.find(address);
    if (found != FRedirects.end())
        found->second = {status, std::move(final)};
    else
        FRedirects.emplace(std::string(address), TRedirect{status, std::move(final)});
}

void TRecordStore::ForEachRedirect(
    const std::function<void(const TRedirectRow& row)>& visit) const {
    if (FRedirects.empty())
        return;
    const std::string_view* page = nullptr;
    std::unordered_set<std::string_view> listed; // the addresses of the page so far
    ForEachLink([&](const std::string_view& url, const TMergedLink& link) {
        const auto found = FRedirects.find(link.Url);
        if (found == FRedirects.end())
            return;
        if (page != &url) {
            page = &url;
            listed.clear();
        }
        if (listed.insert(link.Url).second)
            visit({std::string(url),
                   std::string(link.Url),
                   found->second.Status,
                   found->second.Final,
                   TVerdict::Redirected,
                   {}});
    });
}
