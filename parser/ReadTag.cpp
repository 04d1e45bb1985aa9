// The tag reader as a tag record: the name and the attribute list of one tag,
// copied out of the page.

#include "ParserText.h"
#include "TAttributeReader.h"
#include "THtmlParser.h"

#include <cstring>
#include <utility>

using namespace parser_text;

namespace {

// A NUL-terminated copy in which line ends read as spaces, as the scan reads
// them.
std::unique_ptr<char[]> CopyText(std::string_view text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i)
        copy[i] = IsSpaceOrLineEnd(text[i]) ? ' ' : text[i];
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

_TAttribute* THtmlParser::ReadAttributes(std::string_view attributeText) {
    TAttributeList list;
    TAttributeReader reader(attributeText);
    std::string_view name, value;
    while (reader.Next(name, value))
        list.Append(name, value);
    return list.Release();
}

void THtmlParser::ReadTag(_TTag& tag, std::string_view tagText) const {
    FreeAttributeList(tag.Attributes);
    tag.Attributes = nullptr;
    tag.Name.reset();
    tag.IsSkipped = 0;

    const TTagPieces pieces = SplitTag(tagText);
    if (!pieces.Named)
        return; // a tag without a name keeps no attributes either
    tag.Name = CopyText(pieces.Name);
    tag.IsSkipped = IsSkipped(pieces.Name) ? 1 : 0;
    if (!pieces.Attributes.empty())
        tag.Attributes = ReadAttributes(pieces.Attributes);
}
