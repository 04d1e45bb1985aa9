#pragma once
// The report of a crawl: the tables it is made of, in the order they are
// written, each read from the record store row by row as it is written. A
// new table is one more entry here, and every format writes it.

#include "TReportColumns.h"
#include "TReportTable.h"

#include <string_view>
#include <vector>

class TRecordStore;
struct TAddressEntry;

class TReportTables {
public:
    // The tables of the store's report. They read the store when their rows
    // are visited, so the store must outlive them.
    static std::vector<TReportTable> Of(const TRecordStore& store);
    // What the link and referrer rows of an address (its entry in the store,
    // or null) say was found of it: as a page or an object, or as a link to
    // another site once checked (first, for a link elsewhere: an anchor whose
    // scope is external). Nothing for an address never asked for.
    static TAddressVerdict Found(const TRecordStore& store, const TAddressEntry* entry,
                                 bool elsewhere);
};
