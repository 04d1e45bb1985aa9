// Link extraction: which attributes of which tags are addresses, and where
// each address is counted.

#include "ParserText.h"
#include "THtmlParser.h"

#include <array>
#include <cstring>
#include <limits>
#include <string_view>

using namespace parser_text;

namespace {

// How a row reads the value of its attribute.
enum class TValueForm : unsigned char {
    Address, // the whole value is one address
    SrcSet,  // a srcset list: the address of every candidate, in order
    Refresh, // a refresh content: the address it leads to
};

struct TLinkRow {
    std::array<const char*, 4> Tags; // unused places are null
    const char* Attribute;
    bool Anchor; // page links; objects otherwise
    TValueForm Form = TValueForm::Address;
    // When set, the row holds only for tags whose attribute of this name has
    // the value WhenValue, in any letter case.
    const char* WhenAttribute = nullptr;
    const char* WhenValue = nullptr;

    bool HasTag(const char* name) const noexcept {
        for (const char* tag : Tags)
            if (tag != nullptr && std::strcmp(tag, name) == 0)
                return true;
        return false;
    }
};

// Every row is tried for every tag, in this order: one tag can yield one
// address per row (a srcset list one per candidate).
constexpr std::array<TLinkRow, 13> LinkTable{{
    {{"A", "AREA"}, "HREF", true},
    {{"FRAME"}, "SRC", true},
    {{"IMG", "INPUT"}, "SRC", false},
    {{"BODY", "TABLE"}, "BACKGROUND", false},
    {{"AREA", "MAP", "OBJECT"}, "USEMAP", false},
    {{"EMBED", "IFRAME", "BGSOUND", "SCRIPT"}, "SRC", false},
    {{"OBJECT"}, "DATA", false},
    {{"APPLET"}, "CODE", false},
    {{"LINK"}, "HREF", false},
    {{"IMG", "SOURCE"}, "SRCSET", false, TValueForm::SrcSet},
    {{"VIDEO", "AUDIO", "SOURCE", "TRACK"}, "SRC", false},
    {{"VIDEO"}, "POSTER", false},
    {{"META"}, "CONTENT", true, TValueForm::Refresh, "HTTP-EQUIV", "refresh"},
}};

// The value of the first attribute of this name that has one: only that one
// counts, whatever it holds. Upper-cases the names it passes.
const char* FirstValue(_TTag& tag, const char* name) {
    for (_TAttribute* attribute = tag.Attributes; attribute != nullptr;
         attribute = attribute->Next) {
        if (!attribute->Name)
            continue;
        UpperCaseInPlace(attribute->Name.get());
        if (attribute->Value && std::strcmp(attribute->Name.get(), name) == 0)
            return attribute->Value.get();
    }
    return nullptr;
}

} // namespace

bool THtmlParser::ExtractLinks(_TTag& tag) {
    if (tag.IsSkipped || !tag.Name)
        return false;
    bool matched = false;
    for (const TLinkRow& row : LinkTable) {
        UpperCaseInPlace(tag.Name.get());
        if (!row.HasTag(tag.Name.get()))
            continue;
        if (row.WhenAttribute != nullptr) {
            const char* when = FirstValue(tag, row.WhenAttribute);
            if (when == nullptr || !EqualsNoCase(when, row.WhenValue))
                continue;
        }
        const char* value = FirstValue(tag, row.Attribute);
        if (value == nullptr)
            continue;
        matched = true;
        switch (row.Form) {
        case TValueForm::Address:
            Record(row.Anchor, value);
            break;
        case TValueForm::SrcSet: {
            const std::string_view list = value;
            std::size_t pos = 0;
            for (std::string_view link = NextSrcSetAddress(list, pos); !link.empty();
                 link = NextSrcSetAddress(list, pos))
                Record(row.Anchor, link);
            break;
        }
        case TValueForm::Refresh:
            Record(row.Anchor, RefreshAddress(value));
            break;
        }
    }
    return matched;
}

// The first BASE tag with an HREF sets the base for the whole page; an HREF
// that resolves to nothing leaves the page's own address.
bool THtmlParser::TakeBase(_TTag& tag) {
    if (tag.IsSkipped || !tag.Name)
        return false;
    UpperCaseInPlace(tag.Name.get());
    if (std::strcmp(tag.Name.get(), "BASE") != 0)
        return false;
    const char* href = FirstValue(tag, "HREF");
    if (href == nullptr)
        return false;
    if (std::string base = ResolveLink(FPageUrl, href); !base.empty())
        FBaseUrl = std::move(base);
    return true;
}

// Resolves the link against the base and counts the address it gives, if any.
void THtmlParser::Record(bool anchor, std::string_view link) {
    if (link.empty())
        return;
    const std::string address = ResolveLink(FBaseUrl, std::string(link));
    if (address.empty())
        return;
    TCountMap& counts = anchor ? FAnchorCounts : FObjectCounts;
    std::vector<_TObjectType*>& records = anchor ? FAnchors : FObjects;
    auto& index = anchor ? FAnchorIndex : FObjectIndex;

    const auto entry = counts.try_emplace(address, 0).first;
    if (++entry->second > 1) {
        ++index.at(&entry->first)->Count;
        return;
    }
    auto record = std::make_unique<_TObjectType>();
    record->Url = address;
    record->Kind = anchor ? KIND_PAGE : KIND_OBJECT;
    record->Count = 1;
    // A page link lies one level deeper than its page (kept at the largest
    // depth rather than wrapping round).
    if (anchor)
        record->Depth = FDepth < std::numeric_limits<std::int32_t>::max() ? FDepth + 1 : FDepth;
    records.push_back(record.get());
    _TObjectType* added = record.release();
    index.emplace(&entry->first, added);
}
