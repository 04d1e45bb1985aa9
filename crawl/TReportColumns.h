#pragma once
// The columns of the report lists, one table each, serving both the list
// in the window and its CSV file: the heading, the list's width and
// alignment, how the column sorts, and the value of a row.

#include "TCrawlReport.h"
#include "common/TObjectType.h"

#include <array>
#include <cstdint>
#include <string>

enum class TColumnAlign { Left, Right };

template <class Row> struct TReportColumn {
    const char* Name;
    int Width; // in the list, in pixels
    TColumnAlign Align;
    bool Numeric; // sorts by Number, else by the text
    std::string (*Text)(const Row& row);
    std::int64_t (*Number)(const Row& row); // numeric columns only
};

class TReportColumns {
public:
    // The visited-pages list and pages.csv.
    static const std::array<TReportColumn<TGoneRow>, 6>& Pages();
    // The object list and objects.csv. The record's fields are read by value:
    // the record is packed.
    static const std::array<TReportColumn<_TObjectType>, 6>& Objects();
    // The external-links list and external.csv.
    static const std::array<TReportColumn<TExternalRow>, 7>& Externals();
};
