// The attribute reader on arbitrary text.

#include "parser/ParserText.h"
#include "parser/TAttributeReader.h"
#include "parser/THtmlParser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The end of the tag the quick way is where a full reading ends.
    TAttributeReader reader(text);
    std::string_view name, value;
    std::size_t count = 0;
    while (reader.Next(name, value))
        if (++count > size || name.empty())
            std::abort();
    if (TAttributeReader::TagEnd(text, 0) != reader.End())
        std::abort();
    // Every recorded name is non-empty, opens with no blank or "/", and is
    // met once in any letter case.
    _TAttribute* list = THtmlParser::ReadAttributes(text);
    for (const _TAttribute* a = list; a != nullptr; a = a->Next) {
        const char first = a->Name[0];
        if (first == '\0' || parser_text::IsHtmlSpace(first) || first == '/' || !a->Value)
            std::abort();
        for (const _TAttribute* b = a->Next; b != nullptr; b = b->Next)
            if (parser_text::EqualsNoCase(a->Name.get(), b->Name.get()))
                std::abort();
    }
    FreeAttributeList(list);
    return 0;
}
