#pragma once
// A text the record store keeps one copy of however many records share it,
// as the reasons of a million records do ("200 OK"): only the store makes
// one (TRecordStore::Keep), so that it never outlives its bytes.

#include <string_view>

class TStoredText {
public:
    TStoredText() = default;
    operator std::string_view() const noexcept { return FText; }
    bool empty() const noexcept { return FText.empty(); }
    bool operator==(std::string_view text) const noexcept { return FText == text; }

private:
    friend class TRecordStore;
    explicit TStoredText(std::string_view kept) : FText(kept) {}
    std::string_view FText;
};
