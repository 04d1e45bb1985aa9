#pragma once
// What changed between two crawls of a site, address by address: what broke
// since, what was fixed, what is new and what is gone. The crawls are two
// record stores, whatever filled them (a report folder read back, or a crawl
// in memory); each address listed in a store (a page row, an object or a
// link to another site, as TCrawlReport::CountVerdicts counts them) is
// judged once, by its first row.

#include "TReport.h"

#include "common/TVerdict.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TRecordStore;

// The kinds of change, in the order they are listed.
enum class TChange : std::uint8_t { Broke, Fixed, New, Gone };

// One address that changed: its statuses before and after ("broken: 404 Not
// Found"; empty where it is not listed), and the pages that link to it in
// the new crawl (in the old one for an address that is gone), each once.
struct TChangeRow {
    TChange Change = TChange::New;
    std::string Url;
    std::string OldStatus;
    std::string NewStatus;
    std::vector<std::string> Pages;
    bool operator==(const TChangeRow&) const = default;
};

class TCrawlCompare {
public:
    static constexpr std::size_t Kinds = 4;
    // "broke", "fixed", "new", "gone".
    static const char* Name(TChange change);

    // The changes from past to now:
    // - broke: broken now, and not broken before: fine, redirected,
    //   unverifiable, or not listed at all (a link added broken);
    // - fixed: broken before, fine or redirected now (broken → unverifiable
    //   is no change: nobody could tell whether it works);
    // - new: listed now only, and not broken;
    // - gone: listed before only, whatever its verdict then.
    // Listed by kind, then in the order of the addresses in now (in past for
    // gone). An address on the old crawl's start origin is matched as if on
    // the new one's, so that two crawls of one site served at two addresses
    // (a folder served on another port, staging and production) line up.
    static std::vector<TChangeRow> Of(const TRecordStore& past, const TRecordStore& now);
    // How many changes of each kind, indexed by TChange.
    static std::array<std::size_t, Kinds> Count(const std::vector<TChangeRow>& changes);

    // An address's status as the compare shows it: the verdict, then its
    // reason ("broken: 404 Not Found").
    static std::string Status(TVerdict verdict, const std::string& reason);

    // The table "compare" (compare.csv: Change,URI,Old status,New status,
    // Pages, the pages joined by a space) over changes, which must outlive it.
    static TReportTable Table(const std::vector<TChangeRow>& changes);
    // The report of the changes from the crawl kept at past to the one kept
    // at now (a crawl file or a report folder each, named as given), in any
    // format: compare.csv (Table), compare.json, compare.html, compare.xml.
    // changes must outlive it.
    static TReport Report(const std::vector<TChangeRow>& changes, const std::string& past,
                          const std::string& now);
};
