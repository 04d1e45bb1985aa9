#pragma once
// The columns of the report's tables, one table each, serving the window's
// lists and every report format: the heading, the list's width and
// alignment, how the column sorts, and the value of a row.

#include "common/TObjectType.h"
#include "crawl/TCrawlRows.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class TColumnAlign { Left, Right };

template <class Row> struct TReportColumn {
    const char* Name;
    int Width; // in the list, in pixels
    TColumnAlign Align;
    bool Numeric; // sorts by Number, else by the text; a number in every format
    // The row's text in place of text's: a report of millions of rows
    // keeps one string a column.
    void (*Put)(const Row& row, std::string& text);
    std::int64_t (*Number)(const Row& row); // numeric columns only

    std::string Text(const Row& row) const {
        std::string text;
        Put(row, text);
        return text;
    }
};

// What the crawl found of an address: its verdict and the reason; no verdict
// when it was never asked for (a page not followed, a link elsewhere not
// checked).
struct TAddressVerdict {
    std::optional<TVerdict> Verdict;
    std::string_view Reason;
};

// One row of links.csv: an address a merged page links to or embeds, and
// what was found of it.
struct TLinkRow {
    std::string_view Page;
    const TMergedLink& Link;
    TAddressVerdict Found;
};

// One row of referrers.csv: a page that references an address, and the line
// where it first does; what was found of the address.
struct TReferenceRow {
    std::string_view Address;
    std::string_view Page;
    std::uint32_t Line;
    TAddressVerdict Found;
};

class TReportColumns {
public:
    // The visited-pages list and pages.csv.
    // Every table ends with Verdict and Reason.
    static const std::array<TReportColumn<TGoneRow>, 8>& Pages();
    // The object list and objects.csv.
    static const std::array<TReportColumn<TObjectRow>, 8>& Objects();
    // links.csv.
    static const std::array<TReportColumn<TLinkRow>, 7>& Links();
    // referrers.csv.
    static const std::array<TReportColumn<TReferenceRow>, 5>& Referrers();
    // The external-links list and external.csv.
    static const std::array<TReportColumn<TExternalRow>, 8>& Externals();
    // The redirects to fix: the window's Redirects view and redirects.csv.
    static const std::array<TReportColumn<TRedirectRow>, 4>& Redirects();
};
