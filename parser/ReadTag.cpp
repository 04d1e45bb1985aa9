// The tag reader: the name and the attributes of one tag.

#include "ParserText.h"
#include "THtmlParser.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace parser_text;

namespace {

constexpr std::size_t npos = std::string_view::npos;

std::unique_ptr<char[]> CopyText(std::string_view text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// A list under construction; frees what it holds unless released.
class TAttributeList {
public:
    TAttributeList() = default;
    TAttributeList(const TAttributeList&) = delete;
    TAttributeList& operator=(const TAttributeList&) = delete;
    ~TAttributeList() { FreeAttributeList(FHead); }

    void Append(std::string_view name, std::string_view value) {
        auto attribute = std::make_unique<_TAttribute>();
        attribute->Name = CopyText(name);
        attribute->Value = CopyText(value);
        _TAttribute* added = attribute.release();
        if (FTail == nullptr)
            FHead = added;
        else
            FTail->Next = added;
        FTail = added;
    }

    _TAttribute* Release() noexcept { return std::exchange(FHead, nullptr); }

private:
    _TAttribute* FHead = nullptr;
    _TAttribute* FTail = nullptr;
};

} // namespace

// Each pass reads one attribute from the front of what is left. All positions
// are absolute positions in the working copy, and every search resumes where
// an earlier one left off, so a long attribute text is read in linear time.
_TAttribute* THtmlParser::ReadAttributes(std::string_view attributeText) {
    std::string work(attributeText);
    std::replace(work.begin(), work.end(), '\n', ' ');
    std::replace(work.begin(), work.end(), '\r', ' ');
    const std::string_view text(work);
    const std::size_t size = text.size();

    TAttributeList list;
    TNextFinder nextEq(text, '=');
    TNextFinder nextDouble(text, '"');
    TNextFinder nextSingle(text, '\'');
    std::size_t start = 0;     // what is left is text[start, size)
    std::size_t lastEq = npos; // the "=" for which nameEnd was found
    std::size_t nameEnd = 0;   // one past the last non-blank before lastEq

    while (start < size) {
        const std::size_t eq = nextEq.From(start);
        if (eq == npos)
            break;
        if (eq != lastEq) {
            lastEq = eq;
            nameEnd = eq;
            while (nameEnd > start && IsBlank(text[nameEnd - 1]))
                --nameEnd;
        }
        // The name is text[start, eq) trimmed. Everything from nameEnd to the
        // "=" is blank, so once start has passed nameEnd the name is empty.
        const std::size_t end = std::max(nameEnd, start);
        std::size_t nameBegin = start;
        while (nameBegin < end && IsBlank(text[nameBegin]))
            ++nameBegin;
        const std::string_view name = text.substr(nameBegin, end - nameBegin);

        std::string_view attributeName = name;
        std::string_view value;
        std::size_t next = npos; // where the next pass starts; npos: this was the last
        const char after = eq + 1 < size ? text[eq + 1] : '\0';
        const bool quoted =
            eq + 1 < size && (after == '"' || (after == '\'' && text.find('\'', start) == eq + 1));
        const std::size_t nameSpace = name.find(' ');

        if (quoted) {
            // The value lies between the quotes; reading goes on after the
            // first space past the closing quote (past the opening one when
            // the quote is never closed).
            const std::size_t close = (after == '"' ? nextDouble : nextSingle).From(eq + 2);
            std::size_t spaceFrom = eq + 2;
            if (close != npos) {
                value = text.substr(eq + 2, close - eq - 2);
                spaceFrom = close + 1;
            }
            const std::size_t space = text.find(' ', spaceFrom);
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
            while (wordBegin < size && text[wordBegin] == ' ')
                ++wordBegin;
            const std::size_t space = text.find(' ', wordBegin);
            if (space == npos) {
                value = text.substr(eq + 1);
            } else {
                if (space > eq)
                    value = text.substr(eq + 1, space - eq - 1);
                next = space + 1;
            }
        }

        value = Trim(value);
        if (!value.empty())
            list.Append(attributeName, value);
        if (next == npos)
            break;
        start = next;
    }
    return list.Release();
}

void THtmlParser::ReadTag(_TTag& tag, std::string_view tagText) const {
    FreeAttributeList(tag.Attributes);
    tag.Attributes = nullptr;
    tag.Name.reset();
    tag.IsSkipped = 0;

    // Everything after the "<": the name runs up to the first space, the
    // attribute text is what follows that space.
    const std::string_view body = tagText.empty() ? tagText : tagText.substr(1);
    const std::size_t space = body.find(' ');
    std::string_view name = Trim(space == npos ? body : body.substr(0, space));
    if (name.empty())
        return; // a tag without a name keeps no attributes either

    // A closing tag is read under the name of the tag it closes.
    if (name.front() == '/')
        name.remove_prefix(1);
    tag.Name = CopyText(name);
    tag.IsSkipped = std::find(FSkipTags.begin(), FSkipTags.end(), name) != FSkipTags.end() ? 1 : 0;
    if (space != npos && space + 1 < body.size())
        tag.Attributes = ReadAttributes(body.substr(space + 1));
}
