#include "TAttributeReader.h"

#include "ParserText.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace parser_text;

namespace {
constexpr std::size_t npos = std::string_view::npos;
} // namespace

bool TAttributeReader::Next(std::string_view& name, std::string_view& value) noexcept {
    const std::string_view text = FText;
    const std::size_t size = text.size();
    std::size_t pos = FPos;
    if (FDone)
        return false;
    while (pos < size && IsTagByte(text[pos], TagSpace | TagSlash))
        ++pos;
    if (pos == size || text[pos] == '>') {
        FDone = true;
        FEnd = pos == size ? npos : pos;
        return false;
    }
    // The first character is the name's whatever it is, "=" included.
    const std::size_t nameBegin = pos++;
    while (pos < size && !IsTagByte(text[pos], TagSpace | TagSlash | TagGt | TagEq))
        ++pos;
    name = text.substr(nameBegin, pos - nameBegin);
    value = {};
    std::size_t afterName = pos;
    while (afterName < size && IsHtmlSpace(text[afterName]))
        ++afterName;
    if (afterName < size && text[afterName] == '=') {
        pos = afterName + 1;
        while (pos < size && IsHtmlSpace(text[pos]))
            ++pos;
        if (pos < size && (text[pos] == '"' || text[pos] == '\'')) {
            const std::size_t close = FindByte(text, text[pos], pos + 1);
            if (close == npos) {
                value = text.substr(pos + 1);
                pos = size;
            } else {
                value = text.substr(pos + 1, close - pos - 1);
                pos = close + 1;
            }
        } else {
            const std::size_t begin = pos;
            while (pos < size && !IsTagByte(text[pos], TagSpace | TagGt))
                ++pos;
            value = text.substr(begin, pos - begin);
        }
    }
    FPos = pos;
    return true;
}

// Only a quote can hide a ">": when the first of ">", '"' and "'" is a ">",
// that ">" ends the tag.
std::size_t TAttributeReader::TagEnd(std::string_view text, std::size_t from) noexcept {
    const std::size_t size = text.size();
    std::size_t at = from;
#if defined(__SSE2__)
    const __m128i gt = _mm_set1_epi8('>'), dq = _mm_set1_epi8('"'), sq = _mm_set1_epi8('\'');
    for (; at + 16 <= size; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        const __m128i hits =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, gt),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, dq), _mm_cmpeq_epi8(bytes, sq)));
        if (const int mask = _mm_movemask_epi8(hits); mask != 0) {
            at += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
            break;
        }
    }
#endif
    while (at < size && text[at] != '>' && text[at] != '"' && text[at] != '\'')
        ++at;
    if (at == size)
        return npos;
    if (text[at] == '>')
        return at;
    TAttributeReader reader(text.substr(from));
    std::string_view name, value;
    while (reader.Next(name, value)) {
    }
    return reader.End() == npos ? npos : from + reader.End();
}
