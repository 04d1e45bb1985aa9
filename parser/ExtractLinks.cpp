// Link extraction: which attributes of which tags are addresses, and where
// each address is counted.

#include "ParserText.h"
#include "THtmlParser.h"

#include <array>
#include <cstring>
#include <limits>

using namespace parser_text;

namespace {

struct TLinkRow {
    std::array<const char*, 4> Tags; // unused places are null
    const char* Attribute;
    bool Anchor; // page links; objects otherwise

    bool HasTag(const char* name) const noexcept {
        for (const char* tag : Tags)
            if (tag != nullptr && std::strcmp(tag, name) == 0)
                return true;
        return false;
    }
};

// Every row is tried for every tag, in this order: one tag can yield one
// address per row.
constexpr std::array<TLinkRow, 9> LinkTable{{
    {{"A", "AREA"}, "HREF", true},
    {{"FRAME"}, "SRC", true},
    {{"IMG", "INPUT"}, "SRC", false},
    {{"BODY", "TABLE"}, "BACKGROUND", false},
    {{"AREA", "MAP", "OBJECT"}, "USEMAP", false},
    {{"EMBED", "IFRAME", "BGSOUND", "SCRIPT"}, "SRC", false},
    {{"OBJECT"}, "DATA", false},
    {{"APPLET"}, "CODE", false},
    {{"LINK"}, "HREF", false},
}};

} // namespace

bool THtmlParser::ExtractLinks(_TTag& tag) {
    if (tag.IsSkipped || !tag.Name)
        return false;
    bool matched = false;
    for (const TLinkRow& row : LinkTable) {
        UpperCaseInPlace(tag.Name.get());
        if (!row.HasTag(tag.Name.get()))
            continue;
        // Only the first attribute of the row's name that has a value counts,
        // whatever it resolves to.
        for (_TAttribute* attribute = tag.Attributes; attribute != nullptr;
             attribute = attribute->Next) {
            if (!attribute->Name)
                continue;
            UpperCaseInPlace(attribute->Name.get());
            if (std::strcmp(attribute->Name.get(), row.Attribute) != 0 || !attribute->Value)
                continue;
            matched = true;
            const std::string address = ResolveLink(FPageUrl, attribute->Value.get());
            if (!address.empty())
                Record(row.Anchor, address);
            break;
        }
    }
    return matched;
}

void THtmlParser::Record(bool anchor, const std::string& address) {
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
