#include "TAttributeReader.h"

#include "ParserText.h"

#include <cstring>

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
    while (pos < size && (IsHtmlSpace(text[pos]) || text[pos] == '/'))
        ++pos;
    if (pos == size || text[pos] == '>') {
        FDone = true;
        FEnd = pos == size ? npos : pos;
        return false;
    }
    // The first character is the name's whatever it is, "=" included.
    const std::size_t nameBegin = pos++;
    while (pos < size && !IsHtmlSpace(text[pos]) && text[pos] != '/' && text[pos] != '>' &&
           text[pos] != '=')
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
            while (pos < size && !IsHtmlSpace(text[pos]) && text[pos] != '>')
                ++pos;
            value = text.substr(begin, pos - begin);
        }
    }
    FPos = pos;
    return true;
}

// Only a quote can hide a ">": without one before the first ">", that ">"
// ends the tag.
std::size_t TAttributeReader::TagEnd(std::string_view text, std::size_t from) noexcept {
    const std::size_t gt = FindByte(text, '>', from);
    if (gt == npos)
        return npos;
    const char* begin = text.data() + from;
    const std::size_t length = gt - from;
    if (std::memchr(begin, '"', length) == nullptr && std::memchr(begin, '\'', length) == nullptr)
        return gt;
    TAttributeReader reader(text.substr(from));
    std::string_view name, value;
    while (reader.Next(name, value)) {
    }
    return reader.End() == npos ? npos : from + reader.End();
}
