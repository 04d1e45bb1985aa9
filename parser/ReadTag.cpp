// The tag reader as a tag record: the name and the attribute list of one tag,
// copied out of the page, as the tokenizer reads them.

#include "ParserText.h"
#include "TAttributeReader.h"
#include "TCharacterReferences.h"
#include "THtmlParser.h"

#include <cstring>
#include <utility>

using namespace parser_text;

namespace {

// The name with each NUL byte read as U+FFFD, as the tokenizer reads it.
std::string_view NameText(std::string_view name, std::string& scratch) {
    if (name.find('\0') == std::string_view::npos)
        return name;
    scratch.clear();
    for (const char c : name)
        scratch.append(c == '\0' ? std::string_view("\xEF\xBF\xBD") : std::string_view(&c, 1));
    return scratch;
}

// A NUL-terminated copy.
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

    bool Has(std::string_view name) const noexcept {
        for (const _TAttribute* a = FHead; a != nullptr; a = a->Next)
            if (EqualsNoCase(a->Name.get(), name))
                return true;
        return false;
    }

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

// Of attributes of one name, in any letter case, the first is kept; values
// are decoded.
_TAttribute* THtmlParser::ReadAttributes(std::string_view attributeText) {
    TAttributeList list;
    TAttributeReader reader(attributeText);
    std::string_view name, value;
    std::string decoded, nameScratch;
    while (reader.Next(name, value)) {
        name = NameText(name, nameScratch);
        if (list.Has(name))
            continue;
        TCharacterReferences::Decode(value, decoded);
        list.Append(name, decoded);
    }
    return list.Release();
}

void THtmlParser::ReadTag(_TTag& tag, std::string_view tagText) const {
    FreeAttributeList(tag.Attributes);
    tag.Attributes = nullptr;
    tag.Name.reset();
    tag.IsSkipped = 0;

    const TTagPieces pieces = SplitTag(tagText);
    if (!pieces.Named)
        return; // no tag: a "<" that opens none is text
    std::string scratch;
    tag.Name = CopyText(NameText(pieces.Name, scratch));
    tag.IsSkipped = IsSkipped(pieces.Name) ? 1 : 0;
    if (!pieces.Attributes.empty())
        tag.Attributes = ReadAttributes(pieces.Attributes);
}
