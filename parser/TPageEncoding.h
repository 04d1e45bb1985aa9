#pragma once
// The encoding of a page, found as the HTML standard finds it: a byte-order
// mark, then the charset the server sent, then a <meta> charset in the first
// 1024 bytes, else UTF-8 when the bytes are valid UTF-8, else the default the
// standard suggests for the system's locale (windows-1252 where it names
// none). A page is decoded into UTF-8 before it is read; bytes that are not
// text in its encoding become U+FFFD, so that nothing but UTF-8 leaves the
// parser.

#include <string>
#include <string_view>

class TPageEncoding {
public:
    TPageEncoding() = default;

    // The encoding of a page's bytes. contentType is the server's
    // Content-Type (empty when none); locale a name such as "ko_KR.UTF-8".
    static TPageEncoding Detect(std::string_view bytes, std::string_view contentType,
                                std::string_view locale);
    // The locale the system's text is in, from LC_ALL, LC_CTYPE or LANG.
    static std::string SystemLocale();

    // The standard's name for an encoding label ("latin1": "windows-1252"),
    // or empty for a label it does not know.
    static std::string_view NameForLabel(std::string_view label);
    // The charset parameter of a Content-Type, or empty.
    static std::string_view CharsetParameter(std::string_view contentType);
    // The standard's default encoding for a locale name.
    static std::string_view LocaleDefault(std::string_view locale);
    // The encoding named in a <meta> in the first 1024 bytes, or empty.
    static std::string_view MetaCharset(std::string_view bytes);

    // The standard's name of the encoding ("UTF-8", "windows-1252", ...).
    const std::string& Name() const noexcept { return FName; }

    // Turns text, in this encoding, into UTF-8 in place; a byte-order mark
    // is dropped. A page in UTF-8 is left where it lies even when some of its
    // bytes are not UTF-8 (they never stand for markup): the values taken
    // from it are mended instead (ValuesNeedMending, MendUtf8).
    void Decode(std::string& text);
    bool ValuesNeedMending() const noexcept { return FMendValues; }
    // The text with each byte that is no part of valid UTF-8 made U+FFFD.
    static void MendUtf8(std::string_view text, std::string& out);

    // Whether addresses on the page write their queries in UTF-8: a page in
    // UTF-8 or UTF-16 does.
    bool QueryInUtf8() const noexcept;
    // One UTF-8 character in this encoding into bytes; false when the
    // encoding has no such character.
    bool Encode(std::string_view character, std::string& bytes) const;
    // The code point of one UTF-8 character.
    static char32_t CodePoint(std::string_view character) noexcept;

private:
    explicit TPageEncoding(std::string_view name, bool valid = false)
        : FName(name), FValid(valid) {}

    std::string FName = "UTF-8";
    bool FValid = false;      // the bytes are known to be valid UTF-8 already
    bool FMendValues = false; // the page is UTF-8 with bytes that are not
};
