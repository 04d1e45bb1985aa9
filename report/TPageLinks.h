#pragma once
// What each page links to or embeds, with what the crawl learned of every
// address: the join of the links and the answers that the formats for people
// and for CI (HTML, JUnit) write page by page. Read from the records as it is
// visited; only one page's links are held at a time.

#include "common/TVerdict.h"
#include "crawl/TCrawlRows.h"

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

class TRecordStore;

// What the crawl learned of an address.
struct TAddressAnswer {
    // False when it was never asked for: a page beyond the depth, a link to
    // another site not checked, a crawl stopped before it.
    bool Checked = false;
    std::int32_t Status = 0; // the HTTP status; 0 when none came
    TVerdict Verdict = TVerdict::Fine;
    std::string_view Reason;
};

// A distinct address a page references.
struct TPageLink {
    std::string_view Url;
    std::int16_t Kind = 0;  // of its first occurrence: anchors come before objects
    std::uint32_t Line = 0; // its first line on the page
    TAddressAnswer Answer;
};

class TPageLinks {
public:
    // The answer of address: a page of the site, an embedded object, or a
    // link to another site, in that order.
    static TAddressAnswer AnswerOf(const TRecordStore& store, std::string_view address);
    // The answer of a page's row: its verdict and reason, and its status
    // when one came.
    static TAddressAnswer AnswerOf(const TRecordStore& store, const TGoneRow& row);

    // Calls visit once for each merged page that references something, in
    // the order merged, with its distinct addresses in the order found.
    static void ForEachPage(const TRecordStore& store,
                            const std::function<void(std::string_view page,
                                                     const std::vector<TPageLink>& links)>& visit);
};
