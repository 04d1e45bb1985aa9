// Link extraction: which attributes of which tags are addresses, and where
// each address is counted.

#include "ParserText.h"
#include "THtmlParser.h"

#include "TAttributeReader.h"
#include "TCharacterReferences.h"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
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
    // When set, the row does not hold for a tag whose rel tokens are all
    // resource hints.
    bool UnlessHints = false;
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
    {{"LINK"}, "HREF", false, TValueForm::Address, nullptr, nullptr, true},
    {{"IMG", "SOURCE"}, "SRCSET", false, TValueForm::SrcSet},
    {{"VIDEO", "AUDIO", "SOURCE", "TRACK"}, "SRC", false},
    {{"VIDEO"}, "POSTER", false},
    {{"META"}, "CONTENT", true, TValueForm::Refresh, "HTTP-EQUIV", "refresh"},
}};

// Each tag name of the table with the rows that name it, one bit a row, in a
// table of 64 slots where no two names share a slot: a name is looked up by
// one multiplication and one comparison.
struct TNameRows {
    std::uint64_t Name = 0;
    std::uint16_t Rows = 0;
};
static_assert(LinkTable.size() <= 16, "a row set is sixteen bits");

constexpr std::size_t NameSlots = 64;

constexpr std::size_t SlotOf(std::uint64_t packed, std::uint64_t multiplier) noexcept {
    return static_cast<std::size_t>((packed * multiplier) >> 58);
}

constexpr std::uint64_t NameMultiplier = [] {
    for (std::uint64_t seed = 1;; ++seed) {
        const std::uint64_t multiplier = (seed * 0x9E3779B97F4A7C15u) | 1u;
        std::array<std::uint64_t, NameSlots> slots{};
        bool clash = false;
        for (const TLinkRow& row : LinkTable) {
            for (const char* tag : row.Tags) {
                if (tag == nullptr)
                    continue;
                const std::uint64_t packed = PackedName(tag);
                std::uint64_t& slot = slots[SlotOf(packed, multiplier)];
                clash = clash || (slot != 0 && slot != packed);
                slot = packed;
            }
        }
        if (!clash)
            return multiplier;
    }
}();

constexpr std::array<TNameRows, NameSlots> NameRows = [] {
    std::array<TNameRows, NameSlots> names{};
    for (std::size_t row = 0; row < LinkTable.size(); ++row) {
        for (const char* tag : LinkTable[row].Tags) {
            if (tag == nullptr)
                continue;
            TNameRows& entry = names[SlotOf(PackedName(tag), NameMultiplier)];
            entry.Name = PackedName(tag);
            entry.Rows = static_cast<std::uint16_t>(entry.Rows | (1u << row));
        }
    }
    return names;
}();

// The rows that name a tag, from its packed name.
constexpr unsigned RowsOf(std::uint64_t packed) noexcept {
    const TNameRows& entry = NameRows[SlotOf(packed, NameMultiplier)];
    return entry.Name == packed ? entry.Rows : 0;
}

constexpr std::uint64_t PackedBase = PackedName("BASE");
static_assert(RowsOf(PackedName("a")) == 1 && RowsOf(PackedName("Div")) == 0 &&
              RowsOf(PackedBase) == 0 && RowsOf(0) == 0);

} // namespace

bool THtmlParser::SkipListHidesLinkTags(const std::vector<std::string>& skipTags) {
    for (const std::string& line : skipTags) {
        const std::uint64_t packed = PackedName(line);
        if (RowsOf(packed) != 0 || packed == PackedBase)
            return true;
    }
    return false;
}

std::size_t THtmlParser::ReadAttributeList(std::string_view text) {
    FAttributes.clear();
    TAttributeReader reader(text);
    std::string_view name, value;
    while (reader.Next(name, value))
        FAttributes.emplace_back(name, value);
    return reader.End();
}

// Only the first attribute of a name counts, whatever it holds.
std::string_view THtmlParser::FirstValue(std::string_view name) {
    for (auto [attribute, value] : FAttributes) {
        if (!EqualsNoCase(attribute, name))
            continue;
        if (FEncoding.ValuesNeedMending()) {
            TPageEncoding::MendUtf8(value, FMended);
            value = FMended;
        }
        if (TCharacterReferences::IsPlain(value))
            return value;
        TCharacterReferences::Decode(value, FValue);
        return FValue;
    }
    return {};
}

bool THtmlParser::OnlyResourceHints() {
    const std::string_view rel = FirstValue("REL");
    bool any = false;
    for (std::size_t at = 0; at < rel.size();) {
        while (at < rel.size() && IsHtmlSpace(rel[at]))
            ++at;
        std::size_t end = at;
        while (end < rel.size() && !IsHtmlSpace(rel[end]))
            ++end;
        const std::string_view token = rel.substr(at, end - at);
        if (!token.empty()) {
            if (!EqualsNoCase(token, "preconnect") && !EqualsNoCase(token, "dns-prefetch"))
                return false;
            any = true;
        }
        at = end;
    }
    return any;
}

// Names are compared in any letter case; the skip list is matched against
// the name as written. Only the attributes of a tag that can add something
// are read one by one; a tag that never closes adds nothing.
TTagRead THtmlParser::ReadTagLinks(std::string_view name, std::string_view rest) {
    FTagStart = static_cast<std::size_t>(name.data() - 1 - FDocument.data());
    const std::uint64_t packed = PackedName(name);
    const bool base = packed == PackedBase && !FBaseTaken && !IsSkipped(name);
    const unsigned rows = RowsOf(packed);
    if (!base && (rows == 0 || (FSkipHidesLinkTags && IsSkipped(name))))
        return {TAfterTag::Text, TAttributeReader::TagEnd(rest, 0)};
    const std::size_t end = ReadAttributeList(rest);
    if (end == std::string_view::npos)
        return {TAfterTag::Stop, end};
    if (!base) {
        ExtractLinks(rows);
        return {TAfterTag::Text, end};
    }
    const std::string previous = FBaseUrl;
    if (TakeBase()) {
        FBaseTaken = true;
        if (FBaseUrl != previous) {
            FResolver = TLinkResolver(FBaseUrl, &FEncoding);
            if (!FAnchors.empty() || !FObjects.empty()) {
                FRescan = true;
                return {TAfterTag::Stop, end};
            }
        }
    }
    return {TAfterTag::Text, end};
}

// Every row is tried for every tag, in the table's order: one tag can yield
// one address per row (a srcset list one per candidate).
void THtmlParser::ExtractLinks(unsigned rows) {
    for (std::size_t index = 0; index < LinkTable.size(); ++index) {
        if ((rows & (1u << index)) == 0)
            continue;
        const TLinkRow& row = LinkTable[index];
        if (row.WhenAttribute != nullptr &&
            !EqualsNoCase(FirstValue(row.WhenAttribute), row.WhenValue))
            continue;
        if (row.UnlessHints && OnlyResourceHints())
            continue;
        const std::string_view value = FirstValue(row.Attribute);
        if (value.empty())
            continue;
        switch (row.Form) {
        case TValueForm::Address:
            Record(row.Anchor, value);
            break;
        case TValueForm::SrcSet: {
            std::size_t pos = 0;
            for (std::string_view link = NextSrcSetAddress(value, pos); !link.empty();
                 link = NextSrcSetAddress(value, pos))
                Record(row.Anchor, link);
            break;
        }
        case TValueForm::Refresh:
            Record(row.Anchor, RefreshAddress(value));
            break;
        }
    }
}

// The first BASE tag with an HREF sets the base for the whole page: the
// address the standard gives for it, against the page's, unfolded. An HREF
// that gives no http or https address leaves the page's own.
bool THtmlParser::TakeBase() {
    const std::string_view href = FirstValue("HREF");
    if (href.empty())
        return false;
    if (TLinkResolver(FPageUrl, &FEncoding).ResolveUnfolded(href, FAddress))
        FBaseUrl = FAddress;
    return true;
}

// Resolves the link against the base and counts the address it gives, if any.
void THtmlParser::Record(bool anchor, std::string_view link) {
    if (link.empty() || !FResolver.Resolve(link, FAddress))
        return;
    std::vector<_TObjectType*>& records = anchor ? FAnchors : FObjects;
    TAddressIndex& index = anchor ? FAnchorIndex : FObjectIndex;
    std::uint32_t hash = 0;
    if (_TObjectType* known = index.Find(FAddress, records, hash)) {
        ++known->Count;
        return;
    }
    auto record = std::make_unique<_TObjectType>();
    record->Url = FAddress;
    record->Kind = anchor ? KIND_PAGE : KIND_OBJECT;
    record->Count = 1;
    // A page link lies one level deeper than its page (kept at the largest
    // depth rather than wrapping round).
    if (anchor)
        record->Depth = FDepth < std::numeric_limits<std::int32_t>::max() ? FDepth + 1 : FDepth;
    std::vector<std::uint32_t>& lines = anchor ? FAnchorLines : FObjectLines;
    lines.push_back(TagLine());
    try {
        records.push_back(record.get());
    } catch (...) {
        lines.pop_back(); // a record and its line, or neither
        throw;
    }
    record.release();
    index.Add(hash, records.size() - 1);
}
