#pragma once
// Reads the attributes of one tag, in the order written, from the text after
// the tag's name, without copying: names and values are pieces of that text.
// Only attributes whose value is not blank are read. A line feed or carriage
// return in a piece stands where the tag reader reads a space (see
// ParserText.h).

#include "ParserText.h"

#include <cstddef>
#include <string_view>

class TAttributeReader {
public:
    explicit TAttributeReader(std::string_view text) noexcept
        : FText(text), FNextEq(text, '='), FNextDouble(text, '"'), FNextSingle(text, '\'') {}

    // The next attribute: its name as written and its value, trimmed. False
    // once none is left.
    bool Next(std::string_view& name, std::string_view& value) noexcept;

private:
    std::string_view FText;
    parser_text::TNextFinder FNextEq;
    parser_text::TNextFinder FNextDouble;
    parser_text::TNextFinder FNextSingle;
    std::size_t FStart = 0;                       // what is left is FText[FStart, size)
    std::size_t FLastEq = std::string_view::npos; // the "=" for which FNameEnd was found
    std::size_t FNameEnd = 0;                     // one past the last non-blank before FLastEq
    bool FDone = false;
};
