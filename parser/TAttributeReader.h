#pragma once
// Reads the attributes of one tag, in the order written, from the text after
// the tag's name, as the HTML tokenizer reads them: names run up to a blank,
// "/", ">" or "="; blanks may stand around the "="; a value is quoted with
// either quote (a ">" inside the quotes is the value's) or runs up to a blank
// or ">"; an attribute without "=" has an empty value. An unquoted ">" ends
// the tag. Nothing is copied: names and values are pieces of the text, and
// values still hold their character references (TCharacterReferences).

#include <cstddef>
#include <string_view>

class TAttributeReader {
public:
    explicit TAttributeReader(std::string_view text) noexcept : FText(text) {}

    // The next attribute: its name as written and its value as written.
    // False once none is left.
    bool Next(std::string_view& name, std::string_view& value) noexcept;

    // Once Next has said false: the position of the ">" that ends the tag,
    // or npos when the text ended first.
    std::size_t End() const noexcept { return FEnd; }

    // The position of the ">" that ends a tag whose attributes start at
    // from, or npos when the text ends first.
    static std::size_t TagEnd(std::string_view text, std::size_t from) noexcept;

private:
    std::string_view FText;
    std::size_t FPos = 0;
    std::size_t FEnd = std::string_view::npos;
    bool FDone = false;
};
