#pragma once
// Everything a crawl has found, in one place: every address met (pages of the
// start host, embedded objects, and other hosts' pages), its record, why it
// failed, and the pages that reference it; the rows of the visited-pages
// report; and every merged page with what was found on it. The reports and
// the where-used view are read from here.

#include "TCrawlReport.h"
#include "common/TObjectType.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct TAddressEntry {
    // A page of the start host: queued, visited or failed.
    std::unique_ptr<_TObjectType> Page;
    // An embedded object, probed once.
    std::unique_ptr<_TObjectType> Object;
    // Why the page or the object is broken, as the HTTP layer said.
    std::string Reason;
    // The merged pages (by their place in Merged()) that reference the
    // address, in the order found; a page that references it both as a link
    // and as an object is listed twice.
    std::vector<std::int32_t> Referrers;
};

// A page that references an address: its id and its address.
using TReferrer = std::pair<std::int32_t, std::string>;

class TRecordStore {
public:
    // The entry of address, or null.
    const TAddressEntry* Find(const std::string& address) const;
    TAddressEntry* Find(const std::string& address);
    // The entry of address, made when it is met for the first time.
    TAddressEntry& Entry(const std::string& address);

    _TObjectType* Page(const std::string& address) const;
    _TObjectType* Object(const std::string& address) const;

    // A page's merge begins: the links found from now on are referenced by it.
    void BeginMerge(const std::string& page);
    // The page being merged references address (as a link or as an object).
    void AddReference(TAddressEntry& entry, const TMergedLink& link);
    // The page being merged lists its links before its objects.
    std::vector<TMergedLink>& MergingLinks();

    void AddPageRow(const TGoneRow& row) { FPageRows.push_back(row); }
    const std::vector<TGoneRow>& PageRows() const noexcept { return FPageRows; }
    const std::vector<TMergedPage>& Merged() const noexcept { return FMerged; }

    // Objects in the order of their ids.
    std::vector<const _TObjectType*> ObjectsById() const;
    std::size_t ObjectCount() const noexcept { return FObjectCount; }
    void CountObject() noexcept { ++FObjectCount; }
    // Every (address, referring page) pair: addresses in the order they were
    // first referenced, pages in the order found.
    std::vector<std::pair<std::string, std::string>> References() const;
    // The pages that reference address, in the order found, each once.
    std::vector<TReferrer> ReferrersOf(const std::string& address) const;

    // Frees every record; rows and merged pages stay for the reports.
    void FreeRecords();

private:
    std::map<std::string, TAddressEntry> FEntries;
    // Addresses in the order they were first referenced.
    std::vector<const std::string*> FReferenced;
    std::vector<TGoneRow> FPageRows;
    std::vector<TMergedPage> FMerged;
    std::size_t FObjectCount = 0;
};
