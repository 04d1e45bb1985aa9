#pragma once
// One table of a report as every format writes it: its name, its fields, and
// its rows as text, visited in order and never held whole.

#include "crawl/TCrawlRows.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct TReportField {
    const char* Name;
    bool Numeric;      // an integer in every row
    bool List = false; // words separated by a space (addresses): an array in JSON
};

struct TReportTable {
    using TCells = std::vector<std::string>;
    using TVisit = std::function<void(const TCells& cells)>;

    const char* Name = ""; // "pages": pages.csv, and the table's name in other formats
    std::vector<TReportField> Fields;
    // Calls visit once a row, in the report's order, with one text a field.
    std::function<void(const TVisit& visit)> ForEachRow;
    // For a table of addresses: the field that holds a row's address, and
    // the pages that use an address, each once with its first line, for the
    // formats that write them with the row. Null for other tables.
    std::size_t AddressField = 0;
    std::function<std::vector<TReferrer>(std::string_view address)> UsesOf;
};
