#include "TAttributeReader.h"

#include <algorithm>

using namespace parser_text;

namespace {
constexpr std::size_t npos = std::string_view::npos;
} // namespace

// Each pass reads one attribute from the front of what is left. Every search
// resumes where an earlier one left off, so a long attribute text is read in
// linear time.
bool TAttributeReader::Next(std::string_view& attributeName, std::string_view& value) noexcept {
    const std::string_view text = FText;
    const std::size_t size = text.size();
    while (!FDone && FStart < size) {
        const std::size_t start = FStart;
        const std::size_t eq = FNextEq.From(start);
        if (eq == npos)
            break;
        if (eq != FLastEq) {
            FLastEq = eq;
            FNameEnd = eq;
            while (FNameEnd > start && IsBlank(text[FNameEnd - 1]))
                --FNameEnd;
        }
        // The name is text[start, eq) trimmed. Everything from FNameEnd to the
        // "=" is blank, so once start has passed FNameEnd the name is empty.
        const std::size_t end = std::max(FNameEnd, start);
        std::size_t nameBegin = start;
        while (nameBegin < end && IsBlank(text[nameBegin]))
            ++nameBegin;
        const std::string_view name = text.substr(nameBegin, end - nameBegin);

        attributeName = name;
        value = {};
        std::size_t next = npos; // where the next pass starts; npos: this was the last
        const char after = eq + 1 < size ? text[eq + 1] : '\0';
        const bool quoted =
            eq + 1 < size && (after == '"' || (after == '\'' && text.find('\'', start) == eq + 1));
        const std::size_t nameSpace = FindSpace(name);

        if (quoted) {
            // The value lies between the quotes; reading goes on after the
            // first space past the closing quote (past the opening one when
            // the quote is never closed).
            const std::size_t close = (after == '"' ? FNextDouble : FNextSingle).From(eq + 2);
            std::size_t spaceFrom = eq + 2;
            if (close != npos) {
                value = text.substr(eq + 2, close - eq - 2);
                spaceFrom = close + 1;
            }
            const std::size_t space = FindSpace(text, spaceFrom);
            if (space != npos)
                next = space + 1;
        } else if (eq + 1 == size) {
            // Nothing after the "=": no value, and nothing more to read.
        } else if (nameSpace != npos) {
            // Several words before the "=": the first is an attribute without
            // a value, recorded under its own word; the others come next.
            attributeName = name.substr(0, nameSpace);
            value = attributeName;
            next = nameBegin + nameSpace;
        } else {
            std::size_t wordBegin = start;
            while (wordBegin < size && IsSpaceOrLineEnd(text[wordBegin]))
                ++wordBegin;
            const std::size_t space = FindSpace(text, wordBegin);
            if (space == npos) {
                value = text.substr(eq + 1);
            } else {
                if (space > eq)
                    value = text.substr(eq + 1, space - eq - 1);
                next = space + 1;
            }
        }

        value = Trim(value);
        if (next == npos)
            FDone = true;
        else
            FStart = next;
        if (!value.empty())
            return true;
    }
    FDone = true;
    return false;
}
