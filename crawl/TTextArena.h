#pragma once
// Copies of many short texts packed one after the other in large blocks, so
// that a million addresses cost their bytes and not a heap block each. A
// copy stays where it is until the arena goes.

#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

class TTextArena {
public:
    TTextArena() = default;
    // The copies go with the blocks; the arena moved from starts afresh.
    TTextArena(TTextArena&& other) noexcept
        : FBlocks(std::move(other.FBlocks)), FFree(std::exchange(other.FFree, nullptr)),
          FLeft(std::exchange(other.FLeft, 0)) {}
    TTextArena& operator=(TTextArena&& other) noexcept {
        if (this == &other)
            return *this;
        FBlocks = std::move(other.FBlocks);
        other.FBlocks.clear();
        FFree = std::exchange(other.FFree, nullptr);
        FLeft = std::exchange(other.FLeft, 0);
        return *this;
    }

    // A copy of text, kept by the arena.
    std::string_view Keep(std::string_view text);

private:
    static constexpr std::size_t BlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> FBlocks;
    char* FFree = nullptr;
    std::size_t FLeft = 0;
};
