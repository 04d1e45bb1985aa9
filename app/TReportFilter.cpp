#include "TReportFilter.h"

#include "crawl/TAnsiText.h"

// The rows that would fail a check, strict or not.
bool TReportFilter::AcceptsVerdict(TVerdict verdict) const noexcept {
    return Shown == TShown::All ||
           TVerdicts::Fails(verdict, Shown == TShown::BrokenAndUnverifiable);
}

bool TReportFilter::AcceptsAddress(const std::string& address) const {
    return AddressText.isEmpty() ||
           TAnsiText::ToDisplay(address).contains(AddressText, Qt::CaseInsensitive);
}
