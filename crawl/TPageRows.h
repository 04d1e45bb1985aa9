#pragma once
// The rows of the visited-pages report, packed: a row's address is the
// record store's copy (or one of its own), and its type and reason, which
// few rows tell apart, are kept once each. A million rows cost about 40
// bytes each instead of 200. Rows are handed out as values.

#include "TCrawlRows.h"
#include "TTextArena.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <vector>

class TPageRows {
public:
    // row, whose address is `kept`: bytes that last as long as the rows (the
    // store's, whose arena the rows take when it frees its records).
    void push_back(const TGoneRow& row, std::string_view kept);
    // The rows keep arena, whose bytes they may name.
    void Adopt(TTextArena&& arena);
    // The row at (from 0).
    TGoneRow operator[](std::size_t at) const;
    // The row at is changed to row.
    void Set(std::size_t at, const TGoneRow& row);
    std::size_t size() const noexcept { return FRows.size(); }
    bool empty() const noexcept { return FRows.empty(); }
    TGoneRow front() const { return (*this)[0]; }

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = TGoneRow;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = TGoneRow;
        const_iterator(const TPageRows* rows, std::size_t at) : FRows(rows), FAt(at) {}
        TGoneRow operator*() const { return (*FRows)[FAt]; }
        const_iterator& operator++() {
            ++FAt;
            return *this;
        }
        bool operator==(const const_iterator& other) const noexcept { return FAt == other.FAt; }

    private:
        const TPageRows* FRows;
        std::size_t FAt;
    };
    const_iterator begin() const noexcept { return {this, 0}; }
    const_iterator end() const noexcept { return {this, size()}; }

private:
    struct TPacked {
        std::int32_t Id = 0;
        std::int32_t Depth = 0;
        std::int32_t Size = 0;
        std::int32_t Status = 0;
        const char* Url = nullptr;
        std::uint32_t UrlSize = 0;
        std::uint32_t Type = 0;
        std::uint32_t Reason = 0;
        TVerdict Verdict = TVerdict::Fine;
    };
    // row with url, the arena's copy of its address.
    TPacked Pack(const TGoneRow& row, std::string_view url);
    static std::string_view Url(const TPacked& row);
    // The number of text, kept once.
    std::uint32_t Word(std::string_view text);

    TTextArena FTexts;
    std::vector<TTextArena> FAdopted;
    // A deque, so that growing never copies a million rows at once.
    std::deque<TPacked> FRows;
    std::vector<std::string_view> FWords;
    std::unordered_map<std::string_view, std::uint32_t> FWordNumbers;
};
