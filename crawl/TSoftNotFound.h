#pragma once
// Soft 404s: pages a server answers 200 although they do not exist. The host
// is asked once for an address that cannot exist, beside a real page; only
// when it answers that with 200 and a page are the crawl's pages compared
// with that page. A page is a soft 404 when its title says "not found" (or
// "404", as a number of its own), or when it has the same title as the
// answer for the missing address and a size within 10% of it. One page alone never makes the
// verdict.
//
// The start page is never one: it was asked for by name. Should it look like
// the answer for the missing address, the host answers every address with one
// page (as a single-page application does), and likeness tells nothing: only
// a title that says "not found" counts then.

#include "http/TAnswer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TSoftNotFound {
public:
    static constexpr const char* Reason = "soft 404 (the server answers 200 for missing pages)";

    // An address in the folder of page that no site has: the folder, then
    // "marrowby-", name and ".html".
    static std::string ProbeAddress(std::string_view page, std::string_view name);
    // The text of the first title element of an HTML body, its white space
    // folded; empty when there is none. Reads a bounded start of the body.
    static std::string TitleOf(std::string_view body);

    // A page that answered 200 with HTML: the place of its row and its body.
    void NotePage(std::size_t row, std::string_view body, bool start);
    // Whether a page has been noted that the probe can be compared with.
    bool HasPages() const noexcept { return FNoted; }
    // The host's answer for the missing address.
    void Answered(const TAnswer& answer);
    // True when the host answered the missing address with 200 and a page.
    bool Soft() const noexcept { return FSoft; }
    // The rows of the pages that are soft 404s, in the order noted; none
    // unless Soft().
    std::vector<std::size_t> Missing() const;

private:
    // 16 bytes: a million pages are noted until the host is asked.
    struct TPage {
        std::uint64_t Title = 0; // a hash; 0: no title
        std::uint32_t Row = 0;
        std::uint32_t Size : 30 = 0; // bytes, at most 1 GiB
        std::uint32_t SaysNotFound : 1 = 0;
        std::uint32_t Start : 1 = 0;
    };
    static TPage Describe(std::string_view body);
    bool Alike(const TPage& page) const;

    // The pages that may be soft 404s.
    std::vector<TPage> FPages;
    bool FNoted = false;
    TPage FMissing;
    bool FSoft = false;
};
