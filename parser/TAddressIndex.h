#pragma once
// Finds the record of an address among a parser's records in constant time.
// The index holds positions in the parser's list of records, not the
// addresses themselves: eight bytes a slot, at most half of the slots in use.

#include "common/TObjectType.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class TAddressIndex {
public:
    // The record with this address among records, the list the index was
    // filled for, or null. Sets hash for Add.
    _TObjectType* Find(std::string_view address, const std::vector<_TObjectType*>& records,
                       std::uint32_t& hash) const;
    // Indexes records[position] under the hash that Find gave for its address.
    void Add(std::uint32_t hash, std::size_t position);
    void Clear() noexcept;

private:
    void Grow();

    // The hash in the high half, the position plus one in the low half; zero
    // when the slot is free.
    std::vector<std::uint64_t> FSlots;
    std::size_t FUsed = 0;
};
