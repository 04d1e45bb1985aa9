#pragma once
// Copies of many short texts packed one after the other in large blocks, so
// that a million addresses cost their bytes and not a heap block each. A
// copy stays where it is until the arena goes.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class TTextArena {
public:
    // A copy of text, kept by the arena.
    std::string_view Keep(std::string_view text);

private:
    static constexpr std::size_t BlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> FBlocks;
    char* FFree = nullptr;
    std::size_t FLeft = 0;
};
