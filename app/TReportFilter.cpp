#include "TReportFilter.h"

#include "crawl/TAnsiText.h"

#include <algorithm>
#include <iterator>
#include <string_view>

// The rows that would fail a check, strict or not.
bool TReportFilter::AcceptsVerdict(TVerdict verdict) const noexcept {
    return Shown == TShown::All ||
           TVerdicts::Fails(verdict, Shown == TShown::BrokenAndUnverifiable);
}

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

void TReportFilter::SetAddressText(const QString& text) {
    FText = text;
    const std::string bytes = text.toStdString();
    FAsciiText.clear();
    if (Ascii(bytes))
        std::transform(bytes.begin(), bytes.end(), std::back_inserter(FAsciiText), Lower);
}

bool TReportFilter::AcceptsAddress(const std::string& address) const {
    if (FText.isEmpty())
        return true;
    if (!FAsciiText.empty() && Ascii(address))
        return std::search(address.begin(), address.end(), FAsciiText.begin(), FAsciiText.end(),
                           [](char a, char b) { return Lower(a) == b; }) != address.end();
    return TAnsiText::ToDisplay(address).contains(FText, Qt::CaseInsensitive);
}
