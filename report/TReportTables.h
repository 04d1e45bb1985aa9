#pragma once
// The report of a crawl: the tables it is made of, in the order they are
// written, each read from the record store row by row as it is written. A
// new table is one more entry here, and every format writes it.

#include "TReportTable.h"

#include <vector>

class TRecordStore;

class TReportTables {
public:
    // The tables of the store's report. They read the store when their rows
    // are visited, so the store must outlive them.
    static std::vector<TReportTable> Of(const TRecordStore& store);
};
