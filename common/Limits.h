#pragma once
// Sizes the crawl never goes beyond.

#include <cstddef>

// The largest page kept for the parser or read by --scan, and the most bytes
// the object probe counts of a body whose length is not declared.
inline constexpr std::size_t kMaxPageBytes = std::size_t{64} << 20;
