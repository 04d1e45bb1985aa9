// The attribute reader on arbitrary text.

#include "parser/THtmlParser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    _TAttribute* list = THtmlParser::ReadAttributes(text);
    // Every recorded value is non-empty and starts with no blank (a NUL byte
    // inside a value cuts it short when read as a C string, so its visible end
    // may be one), and no value is longer than the text.
    for (const _TAttribute* a = list; a != nullptr; a = a->Next) {
        const char* value = a->Value.get();
        if (!a->Name || static_cast<unsigned char>(value[0]) <= 32 || std::strlen(value) > size)
            std::abort();
    }
    FreeAttributeList(list);
    return 0;
}
