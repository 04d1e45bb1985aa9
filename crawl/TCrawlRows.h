#pragma once
// The rows a crawl keeps besides its records: the visited pages, and what
// each merged page was found to reference, and where.

#include "common/TObjectType.h"
#include "common/TVerdict.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One row of the visited-pages report, failed pages included.
struct TGoneRow {
    std::int32_t Id = 0;
    std::int32_t Depth = 0;
    std::string Url;
    std::int32_t Size = 0;
    std::int32_t Status = 0;
    std::string Type;
    TVerdict Verdict = TVerdict::Fine;
    // Why the verdict: the status and its text, or the transfer's error.
    std::string Reason;
};

// One row of the object list: an embedded object's record as the crawl
// reported it, with its verdict and reason.
struct TObjectRow {
    std::int32_t Id = 0;
    std::string Url;
    std::int32_t Size = 0;
    std::int32_t Status = 0;
    std::string Type;
    std::int32_t Count = 0;
    TVerdict Verdict = TVerdict::Fine;
    std::string Reason;

    static TObjectRow Of(const _TObjectType& record, TVerdict verdict, std::string_view reason) {
        return {record.Id,          record.Url,   record.Size, record.Status,
                record.ContentType, record.Count, verdict,     std::string(reason)};
    }
};

// A link to another site, checked once: one row of the external-links list.
// Status 0: not answered (rate limited); the reason says why.
struct TExternalRow {
    std::int32_t Id = 0;
    std::string Url;
    std::int32_t Status = 0;
    std::int32_t Size = 0;
    std::string Type;
    std::int32_t Count = 0;
    TVerdict Verdict = TVerdict::Fine;
    std::string Reason;
};

// A link or an object of a page whose address answered through a permanent
// redirect (301 or 308 somewhere in the chain): the page, the address as
// written, the status of the first permanent redirect, and where the chain
// ended, which the page should name instead.
struct TRedirectRow {
    std::string Page;
    std::string Url;
    std::int32_t Status = 0;
    std::string Final;
    TVerdict Verdict = TVerdict::Redirected;
    std::string Reason; // none: the row says it all
};

// One address found on a merged page, with its count on that page. The
// address is the record store's own copy.
struct TMergedLink {
    std::string_view Url;
    std::int16_t Kind = KIND_PAGE;
    std::int32_t Count = 0;
    bool Internal = false; // anchors only
    // The address's place among those in the order first referenced, from 1
    // (TRecordStore::ReferencedAddress): in the padding, so the row stays
    // 32 bytes.
    std::int32_t Address = 0;
};

// A merged page: its address, the record store's own copy. What the merge
// found on it is the store's Links(page).
struct TMergedPage {
    std::string_view Url;
};

// A merged page that references an address (its place in the merged pages),
// and the line (from 1) of the tag where it first does.
struct TReference {
    std::int32_t Page = 0;
    std::uint32_t Line = 0;
};

// A reference of one merged page: the address's place among those in the
// order first referenced (TRecordStore::ReferencedAddress), and the line.
struct TPageReference {
    std::int32_t Address = 0;
    std::uint32_t Line = 0;
};

// A page that references an address, as the where-used view shows it: its
// id, its address, and the line where the address first occurs on it.
struct TReferrer {
    std::int32_t Id = 0;
    std::string Url;
    std::uint32_t Line = 0;
    bool operator==(const TReferrer&) const = default;
};
