#include "TAddressIndex.h"

#include <functional>
#include <stdexcept>

namespace {

std::uint32_t HashOf(std::string_view address) noexcept {
    const std::uint64_t hash = std::hash<std::string_view>{}(address);
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

} // namespace

_TObjectType* TAddressIndex::Find(std::string_view address,
                                  const std::vector<_TObjectType*>& records,
                                  std::uint32_t& hash) const {
    hash = HashOf(address);
    if (FSlots.empty())
        return nullptr;
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const std::uint64_t slot = FSlots[at];
        if (slot == 0)
            return nullptr;
        if (static_cast<std::uint32_t>(slot >> 32) == hash) {
            _TObjectType* record = records[static_cast<std::uint32_t>(slot) - 1];
            if (record->Url == address)
                return record;
        }
    }
}

void TAddressIndex::Add(std::uint32_t hash, std::size_t position) {
    if (position >= UINT32_MAX)
        throw std::length_error("too many addresses on one page");
    if ((FUsed + 1) * 2 > FSlots.size())
        Grow();
    const std::size_t mask = FSlots.size() - 1;
    std::size_t at = hash & mask;
    while (FSlots[at] != 0)
        at = (at + 1) & mask;
    FSlots[at] = (std::uint64_t{hash} << 32) | (position + 1);
    ++FUsed;
}

void TAddressIndex::Clear() noexcept {
    FSlots.clear();
    FUsed = 0;
}

void TAddressIndex::Grow() {
    std::vector<std::uint64_t> old(FSlots.empty() ? 16 : FSlots.size() * 2);
    old.swap(FSlots);
    const std::size_t mask = FSlots.size() - 1;
    for (const std::uint64_t slot : old) {
        if (slot == 0)
            continue;
        std::size_t at = (slot >> 32) & mask;
        while (FSlots[at] != 0)
            at = (at + 1) & mask;
        FSlots[at] = slot;
    }
}
