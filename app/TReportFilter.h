#pragma once
// Which rows of a report list are shown: all, or only those whose verdict
// would fail a check, and of those only the ones whose address holds the
// filter text.

#include "common/TVerdict.h"

#include <QString>

#include <string>

class TReportFilter {
public:
    // Which rows the verdict filter shows.
    enum class TShown { All, Broken, BrokenAndUnverifiable };

    TShown Shown = TShown::All;

    // Rows whose address holds text, in any case; all rows for none.
    void SetAddressText(const QString& text);
    const QString& AddressText() const noexcept { return FText; }

    // Some rows may be hidden.
    bool Active() const noexcept { return Shown != TShown::All || !FText.isEmpty(); }
    bool AcceptsVerdict(TVerdict verdict) const noexcept;
    bool AcceptsAddress(const std::string& address) const;
    bool operator==(const TReportFilter&) const = default;

private:
    QString FText;
    // The text in lower case when it is ASCII, else empty: most addresses
    // are ASCII too, and are then searched as they are, a million in a
    // tenth of the time their decoding takes.
    std::string FAsciiText;
};
