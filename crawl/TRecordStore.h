#pragma once
// Everything a crawl has found, in one place: every address met (pages of the
// start host, embedded objects, and other hosts' pages), its record, why it
// failed, and the pages that reference it; the rows of the visited-pages
// report; and every merged page with what was found on it (its link rows
// and references in memory, or, once a crawl file holds them, read back
// from it). The reports and the where-used view are read from here.

#include "TCrawlRows.h"
#include "TPageRows.h"
#include "TRowReader.h"
#include "TStoredText.h"
#include "TTextArena.h"
#include "common/TObjectType.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

struct TAddressEntry {
    // A page of the start host: queued, visited or failed. Its Url is left
    // empty: the entry's key is its address, and a million pages would keep
    // a second copy.
    std::unique_ptr<_TObjectType> Page;
    // An embedded object, probed once.
    std::unique_ptr<_TObjectType> Object;
    // As a link to another site: its id in the external rows (0: none).
    std::int32_t ExternalId = 0;
    // What the answer of the page or the object says, and why.
    TVerdict Verdict = TVerdict::Fine;
    // Its place among the addresses in the order first referenced, from 1;
    // 0 while no merged page references it (the store keeps the references).
    std::int32_t Referenced = 0;
    TStoredText Reason; // TRecordStore::Keep
};

class TRecordStore {
public:
    // The entry of address, or null.
    const TAddressEntry* Find(std::string_view address) const;
    TAddressEntry* Find(std::string_view address);
    // The same, taken by its place among the addresses referenced (from 1,
    // TAddressEntry::Referenced) when that is the address's, without hashing
    // it: at a million pages the report's rows look up tens of millions.
    const TAddressEntry* Find(std::string_view address, std::int32_t place) const;
    // The entry of address, made when it is met for the first time.
    TAddressEntry& Entry(std::string_view address);
    // The store's own copy of an address it holds. It lasts until
    // FreeRecords, so the queue and the link rows refer to it instead of
    // keeping copies.
    std::string_view Stored(std::string_view address) const;

    // The store's copy of text, one for all who keep the same (a reason).
    TStoredText Keep(std::string_view text);

    _TObjectType* Page(std::string_view address) const;
    _TObjectType* Object(std::string_view address) const;

    // A page's merge begins: the links found from now on are referenced by it.
    void BeginMerge(const std::string& page);
    // The page being merged references address, as a link (KIND_PAGE) or as
    // an object, first on line: the address gets its entry, if new, and the
    // page its row.
    TAddressEntry& AddReference(std::string_view address, std::int16_t kind, std::int32_t count,
                                bool internal, std::uint32_t line);
    // The merge of the page is complete: its links are listed before its
    // objects. A merge cut short (a stop, memory running out) is ended by
    // the next BeginMerge, as far as it went, so that its link rows stay
    // those of its referrers.
    void EndMerge();
    // The merged pages whose merge ended (all of Merged() but the one being
    // merged, if any).
    std::size_t MergesEnded() const noexcept { return FMerged.size() - (FMerging ? 1 : 0); }
    // The links of the merged page at (its place in Merged()) in the order
    // ForEachLink gives them: those of a merge not ended (its anchors so
    // far) first, then the rest.
    std::span<const TMergedLink> MergingLinks(std::size_t at) const noexcept {
        return FMerging && at + 1 == FMerged.size() ? std::span<const TMergedLink>(FMergingLinks)
                                                    : std::span<const TMergedLink>();
    }

    // The addresses in the order first referenced: how many, and the one at
    // place (from 1, TAddressEntry::Referenced).
    std::size_t ReferencedCount() const noexcept { return FReferenced.size(); }
    std::string_view ReferencedAddress(std::int32_t place) const {
        return FReferenced[static_cast<std::size_t>(place - 1)]->first;
    }
    // The references the merged page at (its place in Merged(), one not let
    // go of) makes, into references: address by address as its links first
    // name them (in the order of ForEachLink), each address's in the order
    // found; a page that references an address both as a link and as an
    // object has it twice.
    void ReferencesOn(std::size_t at, std::vector<TPageReference>& references) const;

    // A page row: its address is the store's (an entry made if it has none).
    void AddPageRow(const TGoneRow& row) { FPageRows.push_back(row, Node(row.Url)->first); }
    const TPageRows& PageRows() const noexcept { return FPageRows; }
    // A page row judged again after it was added.
    void SetPageRow(std::size_t at, const TGoneRow& row) { FPageRows.Set(at, row); }
    const std::deque<TMergedPage>& Merged() const noexcept { return FMerged; }
    // What the merge of the merged page at found on it, anchors first, then
    // objects; while the merge goes on, the objects so far (its anchors are
    // MergingLinks). None once let go of (Release).
    std::span<const TMergedLink> Links(std::size_t at) const noexcept {
        const std::size_t from = FReader != nullptr ? FReleased : 0;
        return at >= from && at - from < FLinks.size()
                   ? std::span<const TMergedLink>(FLinks[at - from])
                   : std::span<const TMergedLink>();
    }

    // Links to other sites: a new one gets the next id and a row to fill in
    // when its answer is applied; the rows applied so far, in id order.
    TExternalRow& AddExternal(std::string_view address, std::int32_t count);
    TExternalRow& External(std::int32_t id) { return FExternals[static_cast<std::size_t>(id - 1)]; }
    std::size_t ExternalCount() const noexcept { return FExternals.size(); }
    void ApplyExternal() noexcept { ++FExternalsApplied; }
    std::size_t ExternalsApplied() const noexcept { return FExternalsApplied; }
    std::span<const TExternalRow> ExternalRows() const noexcept {
        return {FExternals.data(), FExternalsApplied};
    }

    // A permanent redirect met on the way to address: the status of the
    // first 301 or 308 of the chain, and where the chain ended.
    void AddRedirect(std::string_view address, std::int32_t status, std::string final);
    // Calls visit for every link and object of a merged page whose address
    // was redirected permanently: one row per page and address, in the order
    // of ForEachLink.
    void ForEachRedirect(const std::function<void(const TRedirectRow& row)>& visit) const;

    // Objects in the order of their ids; the same with their entries, for
    // their verdicts without looking each up again.
    std::vector<const _TObjectType*> ObjectsById() const;
    std::vector<const TAddressEntry*> ObjectEntriesById() const;
    std::size_t ObjectCount() const noexcept { return FObjectCount; }
    void CountObject() noexcept { ++FObjectCount; }
    // Calls visit(page, link) for every link of every merged page, in the
    // order of Merged(). A merge cut short (a stop, or memory running out)
    // gives what was merged of it so far, its links before its objects as
    // EndMerge lists them, so that the pairs are those of ForEachReference.
    // The page is the merged page's own Url, so its address tells one merged
    // page from another.
    void ForEachLink(const std::function<void(const std::string_view& page,
                                              const TMergedLink& link)>& visit) const;
    // Calls visit(address, referring page, line, the address's place) for
    // every pair: addresses in the order they were first referenced, pages in
    // the order found.
    void ForEachReference(
        const std::function<void(std::string_view address, std::string_view page,
                                 std::uint32_t line, std::int32_t place)>& visit) const;
    // Calls visit(page, links, references) for every merged page that has
    // links, in the order of Merged(): its links as ForEachLink gives them,
    // and its references as ReferencesOn lists them.
    void
    ForEachPage(const std::function<void(std::string_view page, std::span<const TMergedLink> links,
                                         std::span<const TPageReference> references)>& visit) const;
    // The pages that reference address, in the order found, each once, with
    // the first line where it does (as a link or as an object).
    std::vector<TReferrer> ReferrersOf(std::string_view address) const;

    // The link rows and references of the merged pages before `pages`
    // (whose merge ended) are kept by reader, which outlives their use here:
    // they leave memory, and ForEachLink, ForEachReference and the like read
    // them back from it. From then on the references of the pages not let
    // go of yet wait in one list. A reader other than the one they went to
    // first takes them back (Reclaim).
    void Release(const TRowReader* reader, std::size_t pages);
    // The link rows and references let go of come back into memory: their
    // reader is going.
    void Reclaim();
    // How many times rows let go of could not be read back (each time,
    // what was read was given): a report that saw the count change is not
    // whole.
    std::size_t ReadFailures() const noexcept { return FReadFailures.Count; }

    // Frees every record, with the merged pages whose rows refer to them;
    // the page rows stay. The store is empty when it returns; millions of
    // records are freed on a thread of their own meanwhile, so that a stop
    // never waits for them.
    void FreeRecords();

private:
    // An address as the table's key, with its hash: walking a bucket, and
    // growing the table, compare and place the keys by the hashes in their
    // nodes, without reading (or hashing again) the texts in the arena. At
    // a million pages that is a few cache misses less a lookup.
    struct TAddressKey {
        const char* Data = nullptr;
        std::uint32_t Size = 0; // a page holds at most kMaxPageBytes
        std::uint32_t Hash = 0;
        static TAddressKey Of(std::string_view address) noexcept;
        operator std::string_view() const noexcept { return {Data, Size}; }
        bool operator==(const TAddressKey& other) const noexcept {
            return Hash == other.Hash && std::string_view(*this) == std::string_view(other);
        }
    };
    struct TAddressHash {
        std::size_t operator()(const TAddressKey& key) const noexcept { return key.Hash; }
    };
    // A hash table: an address is looked up several times as a page is
    // merged, and a tree's compares of long common prefixes cost more. The
    // keys are the arena's copies of the addresses.
    using TEntries = std::unordered_map<TAddressKey, TAddressEntry, TAddressHash>;
    // The node of address, made when it is met for the first time.
    TEntries::iterator Node(std::string_view address);
    // A row read back names an address of the store and a page let go of.
    bool Known(std::int32_t address, std::size_t page) const noexcept;

    TTextArena FAddresses;
    // The texts kept (Keep): few, shared by many records.
    TTextArena FTexts;
    std::unordered_set<std::string_view> FKeptTexts;
    TEntries FEntries;
    // Addresses in the order they were first referenced: their nodes.
    std::vector<const TEntries::value_type*> FReferenced;
    TPageRows FPageRows;
    // A deque, so that growing never copies a million pages at once.
    std::deque<TMergedPage> FMerged;
    // The links of the merged pages from the first not let go of on (every
    // one without a reader): a page let go of costs its address only.
    std::deque<std::vector<TMergedLink>> FLinks;
    // The links of the page being merged, until EndMerge lists them.
    std::vector<TMergedLink> FMergingLinks;
    bool FMerging = false;
    // The merged pages before FReleased have their link rows and references
    // in FReader.
    const TRowReader* FReader = nullptr;
    std::size_t FReleased = 0;
    // Counted by whichever thread reads (a crawl file's tables are written
    // on its thread while the report is written).
    struct TFailures {
        std::atomic<std::size_t> Count = 0;
        TFailures() = default;
        TFailures(const TFailures& other) : Count(other.Count.load()) {}
        TFailures& operator=(const TFailures& other) {
            Count = other.Count.load();
            return *this;
        }
    };
    mutable TFailures FReadFailures;
    // Counts a read of the rows let go of that failed.
    void Count(bool read) const noexcept;
    // Without a reader: the references to each address (at its place - 1),
    // in the order found.
    std::vector<std::vector<TReference>> FReferences;
    // With one: the references of the merged pages from FReleased on, in
    // the order found.
    struct TPending {
        std::int32_t Address = 0;
        TReference Reference;
    };
    std::vector<TPending> FPending;
    std::size_t FObjectCount = 0;
    std::vector<TExternalRow> FExternals;
    std::size_t FExternalsApplied = 0;
    // The permanent redirects, by address: few, so kept apart from the entries.
    struct TRedirect {
        std::int32_t Status = 0;
        std::string Final;
    };
    std::map<std::string, TRedirect, std::less<>> FRedirects;
};
