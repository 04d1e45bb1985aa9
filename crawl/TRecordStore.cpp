#include "TRecordStore.h"

#include <algorithm>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <pthread.h>

static_assert(sizeof(void*) != 8 || sizeof(TMergedLink) == 32, "a link row is 32 bytes");

TRecordStore::TAddressKey TRecordStore::TAddressKey::Of(std::string_view address) noexcept {
    const std::size_t hash = std::hash<std::string_view>{}(address);
    return {address.data(), static_cast<std::uint32_t>(address.size()),
            static_cast<std::uint32_t>(hash ^ (hash >> 32))};
}

const TAddressEntry* TRecordStore::Find(std::string_view address) const {
    const auto found = FEntries.find(TAddressKey::Of(address));
    return found == FEntries.end() ? nullptr : &found->second;
}

TAddressEntry* TRecordStore::Find(std::string_view address) {
    const auto found = FEntries.find(TAddressKey::Of(address));
    return found == FEntries.end() ? nullptr : &found->second;
}

const TAddressEntry* TRecordStore::Find(std::string_view address, std::int32_t place) const {
    if (place > 0 && static_cast<std::size_t>(place) <= FReferenced.size()) {
        const TEntries::value_type& node = *FReferenced[static_cast<std::size_t>(place - 1)];
        if (std::string_view(node.first) == address)
            return &node.second;
    }
    return Find(address);
}

TRecordStore::TEntries::iterator TRecordStore::Node(std::string_view address) {
    TAddressKey key = TAddressKey::Of(address);
    if (const auto found = FEntries.find(key); found != FEntries.end())
        return found;
    // Two entries a bucket: at 1.5 million addresses the buckets take 7 MB
    // instead of up to 24, for about one more compare a lookup.
    if (FEntries.empty())
        FEntries.max_load_factor(2.0f);
    key.Data = FAddresses.Keep(address).data();
    return FEntries.emplace(key, TAddressEntry{}).first;
}

TAddressEntry& TRecordStore::Entry(std::string_view address) {
    return Node(address)->second;
}

std::string_view TRecordStore::Stored(std::string_view address) const {
    const auto found = FEntries.find(TAddressKey::Of(address));
    return found == FEntries.end() ? std::string_view() : std::string_view(found->first);
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
    FLinks.emplace_back();
    try {
        FMerged.push_back({Node(page)->first});
    } catch (...) {
        FLinks.pop_back();
        throw;
    }
    FMerging = true;
}

TAddressEntry& TRecordStore::AddReference(std::string_view address, std::int16_t kind,
                                          std::int32_t count, bool internal, std::uint32_t line) {
    const auto node = Node(address);
    TAddressEntry& entry = node->second;
    // The link's row and its referrer are added together or not at all, so
    // that memory running out leaves the reports in agreement.
    std::vector<TMergedLink>& rows = kind == KIND_PAGE ? FMergingLinks : FLinks.back();
    const bool first = entry.Referenced == 0;
    const std::int32_t place =
        first ? static_cast<std::int32_t>(FReferenced.size() + 1) : entry.Referenced;
    const TReference reference{static_cast<std::int32_t>(FMerged.size() - 1), line};
    rows.push_back({node->first, kind, count, internal, place});
    try {
        if (first)
            FReferenced.push_back(&*node);
        if (FReader != nullptr) {
            FPending.push_back({place, reference});
        } else {
            if (first)
                FReferences.emplace_back();
            FReferences[static_cast<std::size_t>(place - 1)].push_back(reference);
        }
    } catch (...) {
        rows.pop_back();
        if (first && !FReferenced.empty() && FReferenced.back() == &*node)
            FReferenced.pop_back();
        if (FReader == nullptr && FReferences.size() > FReferenced.size())
            FReferences.resize(FReferenced.size());
        throw;
    }
    entry.Referenced = place;
    return entry;
}

void TRecordStore::EndMerge() {
    std::vector<TMergedLink>& objects = FLinks.back();
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
    for (const TAddressEntry* entry : ObjectEntriesById())
        byId.push_back(entry->Object.get());
    return byId;
}

std::vector<const TAddressEntry*> TRecordStore::ObjectEntriesById() const {
    // The crawl numbers its objects from 1 without a gap: each goes to its
    // place. Any other numbering (a file read back) is sorted.
    std::vector<const TAddressEntry*> byId(FObjectCount);
    bool placed = true;
    std::size_t count = 0;
    for (const auto& [address, entry] : FEntries)
        if (entry.Object) {
            const auto at = static_cast<std::size_t>(entry.Object->Id) - 1;
            placed = placed && at < byId.size() && byId[at] == nullptr;
            if (placed)
                byId[at] = &entry;
            ++count;
        }
    if (placed && count == byId.size())
        return byId;
    byId.clear();
    byId.reserve(count);
    for (const auto& [address, entry] : FEntries)
        if (entry.Object)
            byId.push_back(&entry);
    std::stable_sort(byId.begin(), byId.end(), [](const TAddressEntry* a, const TAddressEntry* b) {
        return a->Object->Id < b->Object->Id;
    });
    return byId;
}

namespace {

bool ByPage(const TReference& reference, std::int32_t page) {
    return reference.Page < page;
}

} // namespace

void TRecordStore::Release(const TRowReader* reader, std::size_t pages) {
    if (reader != FReader)
        Reclaim();
    if (reader == nullptr)
        return;
    pages = std::min(pages, MergesEnded());
    if (FReader == nullptr) {
        // The references leave their addresses: those of the pages not let
        // go of yet wait in one list, in the order found (each address's in
        // its order, and the pages in theirs).
        std::vector<TPending> pending;
        try {
            const auto first = static_cast<std::int32_t>(pages);
            for (std::size_t i = 0; i < FReferences.size(); ++i) {
                const std::vector<TReference>& references = FReferences[i];
                for (auto at =
                         std::lower_bound(references.begin(), references.end(), first, ByPage);
                     at != references.end(); ++at)
                    pending.push_back({static_cast<std::int32_t>(i + 1), *at});
            }
        } catch (const std::bad_alloc&) {
            return; // no room for the list: all stays in memory
        }
        std::stable_sort(pending.begin(), pending.end(), [](const TPending& a, const TPending& b) {
            return a.Reference.Page < b.Reference.Page;
        });
        FPending = std::move(pending);
        std::vector<std::vector<TReference>>().swap(FReferences);
        FReader = reader;
    }
    for (; FReleased < pages; ++FReleased)
        FLinks.pop_front();
    const auto kept = std::find_if(FPending.begin(), FPending.end(), [this](const TPending& p) {
        return static_cast<std::size_t>(p.Reference.Page) >= FReleased;
    });
    FPending.erase(FPending.begin(), kept);
}

void TRecordStore::Count(bool read) const noexcept {
    FReadFailures.Count += read ? 0 : 1;
}

bool TRecordStore::Known(std::int32_t address, std::size_t page) const noexcept {
    return page < FReleased && address > 0 &&
           static_cast<std::size_t>(address) <= FReferenced.size();
}

void TRecordStore::Reclaim() {
    if (FReader == nullptr)
        return;
    // A row that names no page let go of or no address of the store is no
    // row of it.
    std::vector<std::vector<TReference>> references(FReferenced.size());
    std::deque<std::vector<TMergedLink>> links(FReleased);
    if (FReleased > 0) {
        Count(FReader->ReadLinks(0, FReleased, [&](std::size_t page, const TMergedLink& link) {
            if (Known(link.Address, page))
                links[page].push_back(link);
        }));
        Count(FReader->ReadReferences(
            0, FReleased, [&](std::int32_t address, std::size_t page, std::uint32_t line) {
                if (Known(address, page))
                    references[static_cast<std::size_t>(address - 1)].push_back(
                        {static_cast<std::int32_t>(page), line});
            }));
    }
    for (const TPending& pending : FPending)
        references[static_cast<std::size_t>(pending.Address - 1)].push_back(pending.Reference);
    for (std::vector<TMergedLink>& page : links)
        for (TMergedLink& link : page)
            link.Url = ReferencedAddress(link.Address);
    links.insert(links.end(), std::make_move_iterator(FLinks.begin()),
                 std::make_move_iterator(FLinks.end()));
    FLinks = std::move(links);
    FReferences = std::move(references);
    std::vector<TPending>().swap(FPending);
    FReader = nullptr;
    FReleased = 0;
}

void TRecordStore::ForEachLink(
    const std::function<void(const std::string_view& page, const TMergedLink& link)>& visit) const {
    // Those let go of first, from their reader: a row that names no page or
    // address of the store is no row of it.
    if (FReader != nullptr && FReleased > 0)
        Count(FReader->ReadLinks(0, FReleased, [&](std::size_t page, TMergedLink link) {
            if (!Known(link.Address, page))
                return;
            link.Url = ReferencedAddress(link.Address);
            visit(FMerged[page].Url, link);
        }));
    for (std::size_t i = FReader != nullptr ? FReleased : 0; i < FMerged.size(); ++i) {
        for (const TMergedLink& link : MergingLinks(i))
            visit(FMerged[i].Url, link);
        for (const TMergedLink& link : Links(i))
            visit(FMerged[i].Url, link);
    }
}

void TRecordStore::ForEachReference(
    const std::function<void(std::string_view address, std::string_view page, std::uint32_t line,
                             std::int32_t place)>& visit) const {
    const auto url = [this](const TReference& reference) -> std::string_view {
        return FMerged[static_cast<std::size_t>(reference.Page)].Url;
    };
    if (FReader == nullptr) {
        for (std::size_t i = 0; i < FReferences.size(); ++i)
            for (const TReference& reference : FReferences[i])
                visit(FReferenced[i]->first, url(reference), reference.Line,
                      static_cast<std::int32_t>(i + 1));
        return;
    }
    // Those let go of, by address, each address's followed by its references
    // still waiting (of later pages).
    std::vector<TPending> pending(FPending);
    std::stable_sort(pending.begin(), pending.end(),
                     [](const TPending& a, const TPending& b) { return a.Address < b.Address; });
    auto next = pending.begin();
    const auto waiting = [&](std::int32_t before) {
        for (; next != pending.end() && next->Address < before; ++next)
            visit(ReferencedAddress(next->Address), url(next->Reference), next->Reference.Line,
                  next->Address);
    };
    if (FReleased > 0)
        Count(FReader->ReadReferences(
            0, FReleased, [&](std::int32_t address, std::size_t page, std::uint32_t line) {
                if (!Known(address, page))
                    return;
                waiting(address);
                visit(ReferencedAddress(address), FMerged[page].Url, line, address);
            }));
    waiting(std::numeric_limits<std::int32_t>::max());
}

void TRecordStore::ReferencesOn(std::size_t at, std::vector<TPageReference>& references) const {
    references.clear();
    if (at >= FMerged.size() || (FReader != nullptr && at < FReleased))
        return;
    const auto page = static_cast<std::int32_t>(at);
    const std::span<const TMergedLink> parts[] = {MergingLinks(at), Links(at)};
    if (FReader == nullptr) {
        // Each address's, from its own.
        std::unordered_set<std::int32_t> listed;
        for (const std::span<const TMergedLink> links : parts)
            for (const TMergedLink& link : links) {
                if (link.Address <= 0 ||
                    static_cast<std::size_t>(link.Address) > FReferences.size() ||
                    !listed.insert(link.Address).second)
                    continue;
                const std::vector<TReference>& to = FReferences[std::size_t(link.Address - 1)];
                for (auto from = std::lower_bound(to.begin(), to.end(), page, ByPage);
                     from != to.end() && from->Page == page; ++from)
                    references.push_back({link.Address, from->Line});
            }
        return;
    }
    // The page's from the list, in the order found: put in the order of
    // the addresses' first links.
    // Each address with the place of its first link (one sorted list, not a
    // table of nodes: this runs for every page committed).
    std::vector<std::pair<std::int32_t, std::size_t>> firsts;
    for (const std::span<const TMergedLink> links : parts)
        for (const TMergedLink& link : links)
            firsts.emplace_back(link.Address, firsts.size());
    std::stable_sort(firsts.begin(), firsts.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto rankOf = [&firsts](std::int32_t address) {
        const auto at =
            std::lower_bound(firsts.begin(), firsts.end(), address,
                             [](const auto& first, std::int32_t a) { return first.first < a; });
        return at != firsts.end() && at->first == address ? at->second : firsts.size();
    };
    std::vector<std::pair<std::size_t, TPageReference>> ranked;
    auto from = std::lower_bound(
        FPending.begin(), FPending.end(), page,
        [](const TPending& pending, std::int32_t p) { return pending.Reference.Page < p; });
    for (; from != FPending.end() && from->Reference.Page == page; ++from)
        ranked.push_back({rankOf(from->Address), {from->Address, from->Reference.Line}});
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, reference] : ranked)
        references.push_back(reference);
}

void TRecordStore::ForEachPage(
    const std::function<void(std::string_view page, std::span<const TMergedLink> links,
                             std::span<const TPageReference> references)>& visit) const {
    std::vector<TMergedLink> links;
    std::vector<TPageReference> references;
    if (FReader != nullptr && FReleased > 0)
        Count(FReader->ReadPages(0, FReleased,
                                 [&](std::size_t page, std::span<const TMergedLink> read,
                                     std::span<const TPageReference> made) {
                                     if (page >= FReleased)
                                         return;
                                     links.clear();
                                     for (TMergedLink link : read)
                                         if (Known(link.Address, page)) {
                                             link.Url = ReferencedAddress(link.Address);
                                             links.push_back(link);
                                         }
                                     references.clear();
                                     for (const TPageReference& reference : made)
                                         if (Known(reference.Address, page))
                                             references.push_back(reference);
                                     if (!links.empty())
                                         visit(FMerged[page].Url, links, references);
                                 }));
    for (std::size_t i = FReader != nullptr ? FReleased : 0; i < FMerged.size(); ++i) {
        std::span<const TMergedLink> all = Links(i);
        if (const std::span<const TMergedLink> merging = MergingLinks(i); !merging.empty()) {
            links.assign(merging.begin(), merging.end());
            links.insert(links.end(), all.begin(), all.end());
            all = links;
        }
        if (all.empty())
            continue;
        ReferencesOn(i, references);
        visit(FMerged[i].Url, all, references);
    }
}

std::vector<TReferrer> TRecordStore::ReferrersOf(std::string_view address) const {
    std::vector<TReferrer> pages;
    const TAddressEntry* entry = Find(address);
    if (entry == nullptr || entry->Referenced == 0)
        return pages;
    const std::int32_t place = entry->Referenced;
    std::int32_t last = -1;
    const auto add = [&](std::int32_t page, std::uint32_t line) {
        if (page == last) {
            // The same page, as a link and as an object: the first line counts.
            pages.back().Line = std::min(pages.back().Line, line);
            return;
        }
        last = page;
        const std::string_view url = FMerged[static_cast<std::size_t>(page)].Url;
        const _TObjectType* record = Page(url);
        pages.push_back({record != nullptr ? record->Id : 0, std::string(url), line});
    };
    if (FReader == nullptr) {
        if (static_cast<std::size_t>(place) <= FReferences.size())
            for (const TReference& reference : FReferences[static_cast<std::size_t>(place - 1)])
                add(reference.Page, reference.Line);
        return pages;
    }
    if (FReleased > 0)
        Count(FReader->ReadReferences(place, FReleased,
                                      [&](std::int32_t to, std::size_t page, std::uint32_t line) {
                                          if (to == place && Known(to, page))
                                              add(static_cast<std::int32_t>(page), line);
                                      }));
    for (const TPending& pending : FPending)
        if (pending.Address == place)
            add(pending.Reference.Page, pending.Reference.Line);
    return pages;
}

void TRecordStore::FreeRecords() {
    struct TGarbage {
        TTextArena Texts;
        TEntries Entries;
        std::deque<TMergedPage> Merged;
        std::deque<std::vector<TMergedLink>> Links;
        std::vector<const TEntries::value_type*> Referenced;
        std::vector<TMergedLink> MergingLinks;
        std::vector<std::vector<TReference>> References;
    };
    auto garbage = std::make_unique<TGarbage>(
        TGarbage{std::move(FTexts), std::move(FEntries), std::move(FMerged), std::move(FLinks),
                 std::move(FReferenced), std::move(FMergingLinks), std::move(FReferences)});
    // The page rows stay, and the addresses they name with them.
    FPageRows.Adopt(std::move(FAddresses));
    FKeptTexts.clear();
    FEntries.clear();
    FRedirects.clear();
    FMerged.clear();
    FLinks.clear();
    FReferenced.clear();
    FMergingLinks.clear();
    FReferences.clear();
    std::vector<TPending>().swap(FPending);
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
