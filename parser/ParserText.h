#pragma once
// Byte-level text helpers shared by the parser's parts. Letter case is ASCII
// only: bytes of multi-byte text pass through unchanged.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace parser_text {

// Trimming removes characters of code 32 or less: C0 controls and the space,
// as the URL standard trims an address.
constexpr bool IsBlank(char c) noexcept {
    return static_cast<unsigned char>(c) <= 32;
}

// The blanks of HTML's own lists (srcset, refresh contents): tab, line
// feed, form feed, carriage return and space.
constexpr bool IsHtmlSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

constexpr char ToUpper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}
constexpr char ToLower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}
// The value of a hexadecimal digit, or -1.
constexpr int HexDigit(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr std::string_view TrimLeft(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin]))
        ++begin;
    return text.substr(begin);
}

constexpr std::string_view Trim(std::string_view text) noexcept {
    text = TrimLeft(text);
    std::size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1]))
        --end;
    return text.substr(0, end);
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLower(a[i]) != ToLower(b[i]))
            return false;
    return true;
}

constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// What the tokenizer makes of a byte inside a tag, one bit a class.
enum : unsigned char { TagSpace = 1, TagSlash = 2, TagGt = 4, TagEq = 8 };

inline constexpr std::array<unsigned char, 256> TagBytes = [] {
    std::array<unsigned char, 256> classes{};
    for (const char c : {' ', '\t', '\n', '\f', '\r'})
        classes[static_cast<unsigned char>(c)] = TagSpace;
    classes['/'] = TagSlash;
    classes['>'] = TagGt;
    classes['='] = TagEq;
    return classes;
}();

constexpr bool IsTagByte(char c, unsigned char classes) noexcept {
    return (TagBytes[static_cast<unsigned char>(c)] & classes) != 0;
}

constexpr bool IsAsciiLetter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A tag name of up to eight bytes as one number, in upper case; zero for any
// other name.
constexpr std::uint64_t PackedName(std::string_view name) noexcept {
    if (name.empty() || name.size() > 8)
        return 0;
    std::uint64_t packed = 0;
    for (std::size_t i = 0; i < name.size(); ++i)
        packed |= std::uint64_t{static_cast<unsigned char>(ToUpper(name[i]))} << (8 * i);
    return packed;
}

// What the scan does after a tag: go on, or stop.
enum class TAfterTag { Text, Stop };

// What the reading of a start tag says: how the scan goes on, and where the
// tag's ">" is, counted from the end of its name (npos: it never closes).
struct TTagRead {
    TAfterTag After;
    std::size_t End;
};

// The pieces of a tag's text (its "<" up to its ">"), as the tokenizer reads
// them: a letter after the "<" (or after "</") opens a tag, whose name runs
// up to a blank, "/" or ">"; the attribute text follows. Anything else after
// the "<" makes no tag.
struct TTagPieces {
    bool Named = false;
    bool Closing = false;
    std::string_view Name;
    std::string_view Attributes;
};

constexpr std::size_t TagNameEnd(std::string_view text, std::size_t from) noexcept {
    while (from < text.size() && !IsTagByte(text[from], TagSpace | TagSlash | TagGt))
        ++from;
    return from;
}

constexpr TTagPieces SplitTag(std::string_view tagText) noexcept {
    TTagPieces pieces;
    std::size_t begin = 1;
    pieces.Closing = tagText.size() > begin && tagText[begin] == '/';
    begin += pieces.Closing ? 1 : 0;
    if (tagText.size() <= begin || !IsAsciiLetter(tagText[begin]))
        return pieces;
    const std::size_t end = TagNameEnd(tagText, begin);
    pieces.Named = true;
    pieces.Name = tagText.substr(begin, end - begin);
    pieces.Attributes = tagText.substr(end);
    return pieces;
}

// The position of the first c in text at or after from, or npos. Most of what
// the parser looks for lies a few bytes ahead: the next 32 bytes, or a short
// rest of the text, are looked at in place before the library's search is
// called.
inline std::size_t FindByte(std::string_view text, char c, std::size_t from) noexcept {
    const std::size_t size = text.size();
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    for (int block = 0; block < 2 && from + 16 <= size; ++block, from += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + from));
        if (const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)); hits != 0)
            return from + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
#endif
    if (size - std::min(from, size) < 16) {
        for (; from < size; ++from)
            if (text[from] == c)
                return from;
        return std::string_view::npos;
    }
    const void* hit = std::memchr(text.data() + from, c, size - from);
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

// The number of lines text ends: a LF, a CR LF and a CR alone each end one.
// A CR as text's last byte ends a line: the caller's text stops before a
// "<", never inside a CR LF. Sixteen bytes at a time without a branch, each
// byte's line ends counted in a byte of its own until 255 rounds are summed.
inline std::size_t CountLineEnds(std::string_view text) noexcept {
    const char* at = text.data();
    const char* const end = at + text.size();
    std::size_t lines = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    while (end - at > 16) {
        __m128i counts = zero;
        for (int round = 0; round < 255 && end - at > 16; ++round, at += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
            // A byte is a LF, or a CR whose next byte is no LF: all ones.
            const __m128i ends =
                _mm_or_si128(_mm_cmpeq_epi8(bytes, lf),
                             _mm_andnot_si128(_mm_cmpeq_epi8(next, lf), _mm_cmpeq_epi8(bytes, cr)));
            counts = _mm_sub_epi8(counts, ends);
        }
        const __m128i sums = _mm_sad_epu8(counts, zero);
        lines += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; at < end; ++at)
        lines += *at == '\n' || (*at == '\r' && (at + 1 == end || at[1] != '\n'));
    return lines;
}

} // namespace parser_text
