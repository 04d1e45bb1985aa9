#include "TCharacterReferences.h"

#include "ParserText.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

struct TNamedReference {
    std::string_view Name;
    std::string_view Text;
};

#include "NamedReferenceTable.inc"

constexpr bool IsAlphanumeric(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The longest name of the table that text opens with, or null.
const TNamedReference* LongestName(std::string_view text) noexcept {
    std::size_t length = 0;
    while (length < text.size() && length < LongestReferenceName && IsAlphanumeric(text[length]))
        ++length;
    if (length < text.size() && text[length] == ';')
        ++length;
    const auto begin = std::begin(NamedReferenceTable), end = std::end(NamedReferenceTable);
    for (; length > 0; --length) {
        const std::string_view name = text.substr(0, length);
        const auto at =
            std::lower_bound(begin, end, name, [](const TNamedReference& r, std::string_view n) {
                return r.Name < n;
            });
        if (at != end && at->Name == name)
            return at;
    }
    return nullptr;
}

// A numeric reference from text (just past "&#"); consumed is how much of
// text it took, zero when there are no digits and it is no reference.
char32_t Numeric(std::string_view text, std::size_t& consumed) noexcept {
    const bool hex = !text.empty() && (text[0] == 'x' || text[0] == 'X');
    std::size_t at = hex ? 1 : 0;
    const std::size_t first = at;
    std::uint32_t value = 0;
    for (; at < text.size(); ++at) {
        const int digit = hex ? parser_text::HexDigit(text[at])
                              : (text[at] >= '0' && text[at] <= '9' ? text[at] - '0' : -1);
        if (digit < 0)
            break;
        value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit),
                                        0x110000);
    }
    if (at == first) {
        consumed = 0;
        return 0;
    }
    if (at < text.size() && text[at] == ';')
        ++at;
    consumed = at;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0xFFFD;
    if (value >= 0x80 && value <= 0x9F)
        return TCharacterReferences::Windows1252High(static_cast<unsigned char>(value));
    return value;
}

} // namespace

bool TCharacterReferences::IsPlain(std::string_view value) noexcept {
    return value.empty() || (std::memchr(value.data(), '&', value.size()) == nullptr &&
                             std::memchr(value.data(), '\0', value.size()) == nullptr);
}

char32_t TCharacterReferences::Windows1252High(unsigned char byte) noexcept {
    static constexpr std::array<char16_t, 32> High = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return byte >= 0x80 && byte <= 0x9F ? High[byte - 0x80] : byte;
}

void TCharacterReferences::AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

void TCharacterReferences::Decode(std::string_view value, std::string& out) {
    out.clear();
    std::size_t at = 0;
    while (at < value.size()) {
        const char c = value[at];
        if (c == '\0') {
            AppendUtf8(0xFFFD, out);
            ++at;
            continue;
        }
        if (c != '&') {
            out.push_back(c);
            ++at;
            continue;
        }
        const std::string_view rest = value.substr(at + 1);
        if (rest.starts_with('#')) {
            std::size_t consumed = 0;
            const char32_t code = Numeric(rest.substr(1), consumed);
            if (consumed != 0) {
                AppendUtf8(code, out);
                at += 2 + consumed;
                continue;
            }
        } else if (const TNamedReference* named = LongestName(rest)) {
            // In an attribute, a name without its ";" followed by "=" or a
            // letter or digit is text, as written.
            const std::size_t next = 1 + named->Name.size();
            const bool literal = !named->Name.ends_with(';') && at + next < value.size() &&
                                 (value[at + next] == '=' || IsAlphanumeric(value[at + next]));
            if (!literal) {
                out.append(named->Text);
                at += next;
                continue;
            }
        }
        out.push_back('&');
        ++at;
    }
}
