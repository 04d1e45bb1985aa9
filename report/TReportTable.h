#pragma once
// One table of a report as every format writes it: its name, its fields, and
// its rows as text, visited in order and never held whole.

#include <functional>
#include <string>
#include <vector>

struct TReportField {
    const char* Name;
    bool Numeric; // an integer in every row
};

struct TReportTable {
    using TCells = std::vector<std::string>;
    using TVisit = std::function<void(const TCells& cells)>;

    const char* Name; // "pages": pages.csv, and the table's name in other formats
    std::vector<TReportField> Fields;
    // Calls visit once a row, in the report's order, with one text a field.
    std::function<void(const TVisit& visit)> ForEachRow;
};
