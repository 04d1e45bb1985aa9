#pragma once
// UTF-8 as the encoding standard reads it.

#include <cstddef>
#include <string_view>

// The length of the well-formed UTF-8 sequence that starts text[at] (1 for
// ASCII), or 0 when the bytes there break UTF-8. at < text.size().
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at = 0) noexcept;
