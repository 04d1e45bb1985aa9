#pragma once
// The columns of the report's tables, one table each, serving the window's
// lists and every report format: the heading, the list's width and
// alignment, how the column sorts, and the value of a row.

#include "common/TObjectType.h"
#include "crawl/TCrawlRows.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

enum class TColumnAlign { Left, Right };

template <class Row> struct TReportColumn {
    const char* Name;
    int Width; // in the list, in pixels
    TColumnAlign Align;
    bool Numeric; // sorts by Number, else by the text; a number in every format
    std::string (*Text)(const Row& row);
    std::int64_t (*Number)(const Row& row); // numeric columns only
};

// One row of links.csv: an address a merged page links to or embeds.
struct TLinkRow {
    std::string_view Page;
    const TMergedLink& Link;
};

// One row of referrers.csv: a page that references an address, and the line
// where it first does.
struct TReferenceRow {
    std::string_view Address;
    std::string_view Page;
    std::uint32_t Line;
};

class TReportColumns {
public:
    // The visited-pages list and pages.csv.
    static const std::array<TReportColumn<TGoneRow>, 6>& Pages();
    // The object list and objects.csv. The record's fields are read by value:
    // the record is packed.
    static const std::array<TReportColumn<_TObjectType>, 6>& Objects();
    // links.csv.
    static const std::array<TReportColumn<TLinkRow>, 5>& Links();
    // referrers.csv.
    static const std::array<TReportColumn<TReferenceRow>, 3>& Referrers();
    // The external-links list and external.csv.
    static const std::array<TReportColumn<TExternalRow>, 7>& Externals();
    // The redirects to fix: the window's Redirects view and redirects.csv.
    static const std::array<TReportColumn<TRedirectRow>, 4>& Redirects();
};
