#pragma once
// Character references in attribute values ("&amp;", "&#47;", "&#x2F;"),
// decoded as the HTML tokenizer decodes them: the longest name of the
// standard's table that the text opens with, numbers in decimal or hex, and
// the attribute rule that leaves "&copy=" or "&notit" as written when the
// name does not end in ";". A NUL byte becomes U+FFFD.

#include <cstdint>
#include <string>
#include <string_view>

class TCharacterReferences {
public:
    // True when the value holds nothing to decode (no "&" and no NUL byte),
    // so that it can be used as written.
    static bool IsPlain(std::string_view value) noexcept;
    // The decoded value, as UTF-8.
    static void Decode(std::string_view value, std::string& out);
    // What bytes 0x80 to 0x9F stand for in windows-1252, where a numeric
    // reference to them points too; the byte itself where it names nothing.
    static char32_t Windows1252High(unsigned char byte) noexcept;
    static void AppendUtf8(char32_t code, std::string& out);
};
