#pragma once
// Where the link rows and references of a crawl's merged pages are kept once
// they have left memory: the crawl file its journal writes them to
// (store/TCrawlRecorder). TRecordStore reads them back through it when they
// are asked for.

#include "TCrawlRows.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

class TRowReader {
public:
    virtual ~TRowReader() = default;
    using TLinkVisit = std::function<void(std::size_t page, const TMergedLink& link)>;
    using TPageVisit = std::function<void(std::size_t page, std::span<const TMergedLink> links,
                                          std::span<const TPageReference> references)>;
    using TReferenceVisit =
        std::function<void(std::int32_t address, std::size_t page, std::uint32_t line)>;
    // Calls visit(page, link) for every link row of the merged pages from
    // `from` to `to` (their places in the store's Merged(), `to` left out),
    // in the report's order. The link's Url is left empty: its Address names
    // it. False when they cannot be read (what was read was visited).
    virtual bool ReadLinks(std::size_t from, std::size_t to, const TLinkVisit& visit) const = 0;
    // Calls visit(page, links, references) for each of the same pages that
    // has link rows, in order: its link rows as ReadLinks gives them, and
    // the references it makes, address by address as its link rows first
    // name them, each address's in the order found. Same returns.
    virtual bool ReadPages(std::size_t from, std::size_t to, const TPageVisit& visit) const = 0;
    // Calls visit(address, page, line) for every reference the merged pages
    // before `to` make: by address (its place), then in the order found.
    // Only those to address when it is not 0 (found by an index: where-used
    // during a crawl). Same returns.
    virtual bool ReadReferences(std::int32_t address, std::size_t to,
                                const TReferenceVisit& visit) const = 0;
};
