#include "TReportColumns.h"

#include <charconv>

namespace {

// The Verdict and Reason columns of a row type.
template <class Row> void VerdictOf(const Row& r, std::string& text) {
    text = TVerdicts::Name(r.Verdict);
}
template <class Row> void ReasonOf(const Row& r, std::string& text) {
    text = r.Reason;
}
template <class Row> void FoundVerdict(const Row& r, std::string& text) {
    text = r.Found.Verdict ? TVerdicts::Name(*r.Found.Verdict) : std::string_view();
}
template <class Row> void FoundReason(const Row& r, std::string& text) {
    text = r.Found.Reason;
}

template <class Row, std::int64_t (*Get)(const Row&)>
void Decimal(const Row& row, std::string& text) {
    char digits[24];
    text.assign(digits, std::to_chars(digits, digits + sizeof digits, Get(row)).ptr);
}

std::int64_t PageId(const TGoneRow& r) {
    return r.Id;
}
std::int64_t PageDepth(const TGoneRow& r) {
    return r.Depth;
}
std::int64_t PageSize(const TGoneRow& r) {
    return r.Size;
}
std::int64_t PageStatus(const TGoneRow& r) {
    return r.Status;
}
void PageUrl(const TGoneRow& r, std::string& text) {
    text = r.Url;
}
void PageType(const TGoneRow& r, std::string& text) {
    text = r.Type;
}

std::int64_t ObjectId(const TObjectRow& r) {
    return r.Id;
}
std::int64_t ObjectSize(const TObjectRow& r) {
    return r.Size;
}
std::int64_t ObjectStatus(const TObjectRow& r) {
    return r.Status;
}
std::int64_t ObjectCount(const TObjectRow& r) {
    return r.Count;
}
void ObjectUrl(const TObjectRow& r, std::string& text) {
    text = r.Url;
}
void ObjectType(const TObjectRow& r, std::string& text) {
    text = r.Type;
}

bool IsAnchor(const TLinkRow& r) {
    return r.Link.Kind == KIND_PAGE;
}
void LinkPage(const TLinkRow& r, std::string& text) {
    text = r.Page;
}
void LinkKind(const TLinkRow& r, std::string& text) {
    text = IsAnchor(r) ? "anchor" : "object";
}
void LinkUrl(const TLinkRow& r, std::string& text) {
    text = r.Link.Url;
}
std::int64_t LinkCount(const TLinkRow& r) {
    return r.Link.Count;
}
void LinkScope(const TLinkRow& r, std::string& text) {
    text = IsAnchor(r) ? (r.Link.Internal ? "internal" : "external") : "";
}

void ReferenceUrl(const TReferenceRow& r, std::string& text) {
    text = r.Address;
}
void ReferencePage(const TReferenceRow& r, std::string& text) {
    text = r.Page;
}
std::int64_t ReferenceLine(const TReferenceRow& r) {
    return r.Line;
}

std::int64_t ExternalId(const TExternalRow& r) {
    return r.Id;
}
std::int64_t ExternalStatus(const TExternalRow& r) {
    return r.Status;
}
std::int64_t ExternalSize(const TExternalRow& r) {
    return r.Size;
}
std::int64_t ExternalCount(const TExternalRow& r) {
    return r.Count;
}
void ExternalUrl(const TExternalRow& r, std::string& text) {
    text = r.Url;
}
void ExternalType(const TExternalRow& r, std::string& text) {
    text = r.Type;
}

void RedirectPage(const TRedirectRow& r, std::string& text) {
    text = r.Page;
}
void RedirectUrl(const TRedirectRow& r, std::string& text) {
    text = r.Url;
}
std::int64_t RedirectStatus(const TRedirectRow& r) {
    return r.Status;
}
void RedirectFinal(const TRedirectRow& r, std::string& text) {
    text = r.Final;
}

using L = TColumnAlign;

} // namespace

const std::array<TReportColumn<TGoneRow>, 8>& TReportColumns::Pages() {
    static const std::array<TReportColumn<TGoneRow>, 8> columns{{
        {"Id", 40, L::Left, true, Decimal<TGoneRow, PageId>, PageId},
        {"Depth", 60, L::Left, true, Decimal<TGoneRow, PageDepth>, PageDepth},
        {"URI", 400, L::Left, false, PageUrl, nullptr},
        {"Size", 70, L::Right, true, Decimal<TGoneRow, PageSize>, PageSize},
        {"Status", 70, L::Left, true, Decimal<TGoneRow, PageStatus>, PageStatus},
        {"Type", 70, L::Left, false, PageType, nullptr},
        {"Verdict", 90, L::Left, false, VerdictOf<TGoneRow>, nullptr},
        {"Reason", 200, L::Left, false, ReasonOf<TGoneRow>, nullptr},
    }};
    return columns;
}

const std::array<TReportColumn<TObjectRow>, 8>& TReportColumns::Objects() {
    static const std::array<TReportColumn<TObjectRow>, 8> columns{{
        {"Id", 60, L::Left, true, Decimal<TObjectRow, ObjectId>, ObjectId},
        {"URI", 400, L::Left, false, ObjectUrl, nullptr},
        {"Size", 70, L::Left, true, Decimal<TObjectRow, ObjectSize>, ObjectSize},
        {"Status", 70, L::Left, true, Decimal<TObjectRow, ObjectStatus>, ObjectStatus},
        {"Type", 70, L::Left, false, ObjectType, nullptr},
        {"Count", 20, L::Left, true, Decimal<TObjectRow, ObjectCount>, ObjectCount},
        {"Verdict", 90, L::Left, false, VerdictOf<TObjectRow>, nullptr},
        {"Reason", 200, L::Left, false, ReasonOf<TObjectRow>, nullptr},
    }};
    return columns;
}

const std::array<TReportColumn<TLinkRow>, 7>& TReportColumns::Links() {
    static const std::array<TReportColumn<TLinkRow>, 7> columns{{
        {"Page", 400, L::Left, false, LinkPage, nullptr},
        {"Kind", 60, L::Left, false, LinkKind, nullptr},
        {"URI", 400, L::Left, false, LinkUrl, nullptr},
        {"Count", 60, L::Left, true, Decimal<TLinkRow, LinkCount>, LinkCount},
        {"Scope", 70, L::Left, false, LinkScope, nullptr},
        {"Verdict", 90, L::Left, false, FoundVerdict<TLinkRow>, nullptr},
        {"Reason", 200, L::Left, false, FoundReason<TLinkRow>, nullptr},
    }};
    return columns;
}

const std::array<TReportColumn<TReferenceRow>, 5>& TReportColumns::Referrers() {
    static const std::array<TReportColumn<TReferenceRow>, 5> columns{{
        {"URI", 400, L::Left, false, ReferenceUrl, nullptr},
        {"Page", 400, L::Left, false, ReferencePage, nullptr},
        {"Line", 60, L::Right, true, Decimal<TReferenceRow, ReferenceLine>, ReferenceLine},
        {"Verdict", 90, L::Left, false, FoundVerdict<TReferenceRow>, nullptr},
        {"Reason", 200, L::Left, false, FoundReason<TReferenceRow>, nullptr},
    }};
    return columns;
}

const std::array<TReportColumn<TExternalRow>, 8>& TReportColumns::Externals() {
    static const std::array<TReportColumn<TExternalRow>, 8> columns{{
        {"Id", 40, L::Left, true, Decimal<TExternalRow, ExternalId>, ExternalId},
        {"URI", 400, L::Left, false, ExternalUrl, nullptr},
        {"Status", 70, L::Left, true, Decimal<TExternalRow, ExternalStatus>, ExternalStatus},
        {"Size", 70, L::Right, true, Decimal<TExternalRow, ExternalSize>, ExternalSize},
        {"Type", 70, L::Left, false, ExternalType, nullptr},
        {"Count", 20, L::Left, true, Decimal<TExternalRow, ExternalCount>, ExternalCount},
        {"Verdict", 90, L::Left, false, VerdictOf<TExternalRow>, nullptr},
        {"Reason", 200, L::Left, false, ReasonOf<TExternalRow>, nullptr},
    }};
    return columns;
}

const std::array<TReportColumn<TRedirectRow>, 4>& TReportColumns::Redirects() {
    static const std::array<TReportColumn<TRedirectRow>, 4> columns{{
        {"Page", 300, L::Left, false, RedirectPage, nullptr},
        {"URI", 300, L::Left, false, RedirectUrl, nullptr},
        {"Status", 60, L::Left, true, Decimal<TRedirectRow, RedirectStatus>, RedirectStatus},
        {"Final", 300, L::Left, false, RedirectFinal, nullptr},
    }};
    return columns;
}
