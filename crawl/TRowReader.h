#pragma once
// Where the link rows of a crawl's merged pages are kept once they have left
// memory: the crawl file its journal writes them to (store/TCrawlRecorder).
// TRecordStore reads them back through it when they are asked for.

#include "TCrawlRows.h"

#include <cstddef>
#include <functional>

class TRowReader {
public:
    virtual ~TRowReader() = default;
    // Calls visit(page, link) for every link row of the merged pages from
    // `from` to `to` (their places in the store's Merged(), `to` left out),
    // in the report's order. The link's Url is left empty: its Address names
    // it. False when they cannot be read (what was read was visited).
    virtual bool ReadLinks(
        std::size_t from, std::size_t to,
        const std::function<void(std::size_t page, const TMergedLink& link)>& visit) const = 0;
};
