#include "TTextArena.h"

#include <algorithm>
#include <cstring>

std::string_view TTextArena::Keep(std::string_view text) {
    if (text.empty())
        return {};
    if (text.size() > FLeft) {
        // A text longer than a block gets one of its own; the current block
        // stays the one to fill.
        const std::size_t size = std::max(text.size(), BlockSize);
        FBlocks.reserve(FBlocks.size() + 1);
        auto block = std::make_unique<char[]>(size);
        char* at = block.get();
        FBlocks.push_back(std::move(block));
        if (size > BlockSize) {
            std::memcpy(at, text.data(), text.size());
            return {at, text.size()};
        }
        FFree = at;
        FLeft = size;
    }
    char* at = FFree;
    std::memcpy(at, text.data(), text.size());
    FFree += text.size();
    FLeft -= text.size();
    return {at, text.size()};
}
