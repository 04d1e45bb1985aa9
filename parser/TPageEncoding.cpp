#include "TPageEncoding.h"

#include "ParserText.h"
#include "TAttributeReader.h"
#include "TCharacterReferences.h"
#include "common/Utf8.h"

#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace parser_text;

namespace {

constexpr std::size_t npos = std::string_view::npos;

struct TLabel {
    std::string_view Label, Name;
};

// The labels pages use, with the standard's name of each encoding.
constexpr TLabel Labels[] = {
    {"unicode-1-1-utf-8", "UTF-8"},
    {"unicode11utf8", "UTF-8"},
    {"unicode20utf8", "UTF-8"},
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"x-unicode20utf8", "UTF-8"},
    {"ansi_x3.4-1968", "windows-1252"},
    {"ascii", "windows-1252"},
    {"cp1252", "windows-1252"},
    {"cp819", "windows-1252"},
    {"csisolatin1", "windows-1252"},
    {"ibm819", "windows-1252"},
    {"iso-8859-1", "windows-1252"},
    {"iso-ir-100", "windows-1252"},
    {"iso8859-1", "windows-1252"},
    {"iso88591", "windows-1252"},
    {"iso_8859-1", "windows-1252"},
    {"iso_8859-1:1987", "windows-1252"},
    {"l1", "windows-1252"},
    {"latin1", "windows-1252"},
    {"us-ascii", "windows-1252"},
    {"windows-1252", "windows-1252"},
    {"x-cp1252", "windows-1252"},
    {"cseuckr", "EUC-KR"},
    {"csksc56011987", "EUC-KR"},
    {"euc-kr", "EUC-KR"},
    {"iso-ir-149", "EUC-KR"},
    {"korean", "EUC-KR"},
    {"ks_c_5601-1987", "EUC-KR"},
    {"ks_c_5601-1989", "EUC-KR"},
    {"ksc5601", "EUC-KR"},
    {"ksc_5601", "EUC-KR"},
    {"windows-949", "EUC-KR"},
    {"csshiftjis", "Shift_JIS"},
    {"ms932", "Shift_JIS"},
    {"ms_kanji", "Shift_JIS"},
    {"shift-jis", "Shift_JIS"},
    {"shift_jis", "Shift_JIS"},
    {"sjis", "Shift_JIS"},
    {"windows-31j", "Shift_JIS"},
    {"x-sjis", "Shift_JIS"},
    {"cseucpkdfmtjapanese", "EUC-JP"},
    {"euc-jp", "EUC-JP"},
    {"x-euc-jp", "EUC-JP"},
    {"csiso2022jp", "ISO-2022-JP"},
    {"iso-2022-jp", "ISO-2022-JP"},
    {"chinese", "GBK"},
    {"csgb2312", "GBK"},
    {"csiso58gb231280", "GBK"},
    {"gb2312", "GBK"},
    {"gb_2312", "GBK"},
    {"gb_2312-80", "GBK"},
    {"gbk", "GBK"},
    {"iso-ir-58", "GBK"},
    {"x-gbk", "GBK"},
    {"gb18030", "gb18030"},
    {"big5", "Big5"},
    {"big5-hkscs", "Big5"},
    {"cn-big5", "Big5"},
    {"csbig5", "Big5"},
    {"x-x-big5", "Big5"},
    {"csunicode", "UTF-16LE"},
    {"iso-10646-ucs-2", "UTF-16LE"},
    {"ucs-2", "UTF-16LE"},
    {"unicode", "UTF-16LE"},
    {"unicodefeff", "UTF-16LE"},
    {"utf-16", "UTF-16LE"},
    {"utf-16le", "UTF-16LE"},
    {"unicodefffe", "UTF-16BE"},
    {"utf-16be", "UTF-16BE"},
    {"cp1250", "windows-1250"},
    {"windows-1250", "windows-1250"},
    {"x-cp1250", "windows-1250"},
    {"cp1251", "windows-1251"},
    {"windows-1251", "windows-1251"},
    {"x-cp1251", "windows-1251"},
    {"cp1253", "windows-1253"},
    {"windows-1253", "windows-1253"},
    {"x-cp1253", "windows-1253"},
    {"cp1254", "windows-1254"},
    {"windows-1254", "windows-1254"},
    {"x-cp1254", "windows-1254"},
    {"iso-8859-9", "windows-1254"},
    {"iso8859-9", "windows-1254"},
    {"latin5", "windows-1254"},
    {"l5", "windows-1254"},
    {"cp1255", "windows-1255"},
    {"windows-1255", "windows-1255"},
    {"x-cp1255", "windows-1255"},
    {"cp1256", "windows-1256"},
    {"windows-1256", "windows-1256"},
    {"x-cp1256", "windows-1256"},
    {"cp1257", "windows-1257"},
    {"windows-1257", "windows-1257"},
    {"x-cp1257", "windows-1257"},
    {"cp1258", "windows-1258"},
    {"windows-1258", "windows-1258"},
    {"x-cp1258", "windows-1258"},
    {"dos-874", "windows-874"},
    {"iso-8859-11", "windows-874"},
    {"tis-620", "windows-874"},
    {"windows-874", "windows-874"},
    {"iso-8859-2", "ISO-8859-2"},
    {"iso8859-2", "ISO-8859-2"},
    {"latin2", "ISO-8859-2"},
    {"l2", "ISO-8859-2"},
    {"iso-8859-3", "ISO-8859-3"},
    {"iso-8859-4", "ISO-8859-4"},
    {"iso-8859-5", "ISO-8859-5"},
    {"cyrillic", "ISO-8859-5"},
    {"iso-8859-6", "ISO-8859-6"},
    {"arabic", "ISO-8859-6"},
    {"iso-8859-7", "ISO-8859-7"},
    {"greek", "ISO-8859-7"},
    {"iso-8859-8", "ISO-8859-8"},
    {"hebrew", "ISO-8859-8"},
    {"iso-8859-10", "ISO-8859-10"},
    {"iso-8859-13", "ISO-8859-13"},
    {"iso-8859-14", "ISO-8859-14"},
    {"iso-8859-15", "ISO-8859-15"},
    {"iso8859-15", "ISO-8859-15"},
    {"latin9", "ISO-8859-15"},
    {"l9", "ISO-8859-15"},
    {"iso-8859-16", "ISO-8859-16"},
    {"koi8-r", "KOI8-R"},
    {"koi8", "KOI8-R"},
    {"koi", "KOI8-R"},
    {"cskoi8r", "KOI8-R"},
    {"koi8_r", "KOI8-R"},
    {"koi8-u", "KOI8-U"},
    {"koi8-ru", "KOI8-U"},
    {"ibm866", "IBM866"},
    {"866", "IBM866"},
    {"cp866", "IBM866"},
    {"csibm866", "IBM866"},
    {"macintosh", "macintosh"},
    {"mac", "macintosh"},
    {"csmacintosh", "macintosh"},
    {"x-mac-roman", "macintosh"},
    {"x-mac-cyrillic", "x-mac-cyrillic"},
    {"x-mac-ukrainian", "x-mac-cyrillic"},
    {"x-user-defined", "x-user-defined"},
};

// The standard's suggested default encodings, by language or language and
// region; windows-1252 for every other locale.
constexpr TLabel LocaleDefaults[] = {
    {"ar", "windows-1256"}, {"ba", "windows-1251"},  {"be", "windows-1251"}, {"bg", "windows-1251"},
    {"cs", "windows-1250"}, {"el", "ISO-8859-7"},    {"et", "windows-1257"}, {"fa", "windows-1256"},
    {"he", "windows-1255"}, {"hr", "windows-1250"},  {"hu", "ISO-8859-2"},   {"ja", "Shift_JIS"},
    {"kk", "windows-1251"}, {"ko", "EUC-KR"},        {"ku", "windows-1254"}, {"ky", "windows-1251"},
    {"lt", "windows-1257"}, {"lv", "windows-1257"},  {"mk", "windows-1251"}, {"pl", "ISO-8859-2"},
    {"ru", "windows-1251"}, {"sah", "windows-1251"}, {"sk", "windows-1250"}, {"sl", "ISO-8859-2"},
    {"sr", "windows-1251"}, {"tg", "windows-1251"},  {"th", "windows-874"},  {"tr", "windows-1254"},
    {"tt", "windows-1251"}, {"uk", "windows-1251"},  {"vi", "windows-1258"}, {"zh_CN", "gb18030"},
    {"zh_TW", "Big5"},
};

// The name iconv knows an encoding by.
std::string IconvName(std::string_view name) {
    static constexpr TLabel Names[] = {
        {"EUC-KR", "CP949"},
        {"Shift_JIS", "CP932"},
        {"GBK", "GB18030"},
        {"gb18030", "GB18030"},
        {"Big5", "BIG5-HKSCS"},
        {"macintosh", "MACINTOSH"},
        {"x-mac-cyrillic", "MAC-CYRILLIC"},
        {"windows-874", "CP874"},
    };
    for (const TLabel& entry : Names)
        if (entry.Label == name)
            return std::string(entry.Name);
    if (name.starts_with("windows-125"))
        return "CP" + std::string(name.substr(8));
    return std::string(name); // the rest share the standard's names
}

constexpr bool IsUtf16(std::string_view name) noexcept {
    return name == "UTF-16LE" || name == "UTF-16BE";
}

// The position of the first byte that breaks UTF-8, or npos. Runs of ASCII
// are passed over eight bytes at a time.
std::size_t FirstInvalidUtf8(std::string_view text) noexcept {
    std::size_t at = 0;
    while (at < text.size()) {
#if defined(__SSE2__)
        if (at + 32 <= text.size()) {
            const auto* block = reinterpret_cast<const __m128i*>(text.data() + at);
            const __m128i both = _mm_or_si128(_mm_loadu_si128(block), _mm_loadu_si128(block + 1));
            if (_mm_movemask_epi8(both) == 0) {
                at += 32;
                continue;
            }
        }
#endif
        if (at + 8 <= text.size()) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + at, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                at += 8;
                continue;
            }
        }
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0)
            return at;
        at += length;
    }
    return npos;
}

bool IsAscii(std::string_view text) noexcept {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

void DecodeWindows1252(std::string& text) {
    if (IsAscii(text))
        return;
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x80)
            out.push_back(c);
        else
            TCharacterReferences::AppendUtf8(
                TCharacterReferences::Windows1252High(static_cast<unsigned char>(c)), out);
    }
    text.swap(out);
}

// Decodes with iconv; a byte it cannot read becomes U+FFFD (two bytes of
// UTF-16 at a time).
void DecodeWithIconv(std::string& text, const std::string& name, std::size_t unit) {
    const iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::string mended;
        TPageEncoding::MendUtf8(text, mended);
        text.swap(mended);
        return;
    }
    std::string out;
    out.resize(text.size() * 2 + 16);
    char* in = text.data();
    std::size_t inLeft = text.size();
    std::size_t done = 0;
    while (inLeft > 0) {
        char* outAt = out.data() + done;
        std::size_t outLeft = out.size() - done;
        const std::size_t result = iconv(cd, &in, &inLeft, &outAt, &outLeft);
        done = out.size() - outLeft;
        if (result != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else {
            // A sequence it cannot read, or one cut off at the end.
            if (out.size() - done < 3)
                out.resize(out.size() * 2);
            std::memcpy(out.data() + done, "\xEF\xBF\xBD", 3);
            done += 3;
            const std::size_t skip = std::min(unit, inLeft);
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    out.resize(done);
    text.swap(out);
}

std::string_view TrimHtmlSpace(std::string_view text) {
    while (!text.empty() && IsHtmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsHtmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// The encoding a "charset=" in a meta content names: the first "charset",
// blanks, "=", blanks, then a quoted or bare value.
std::string_view CharsetInContent(std::string_view content) {
    for (std::size_t at = 0; at + 7 <= content.size(); ++at) {
        if (!EqualsNoCase(content.substr(at, 7), "charset"))
            continue;
        std::size_t i = at + 7;
        while (i < content.size() && IsHtmlSpace(content[i]))
            ++i;
        if (i == content.size() || content[i] != '=') {
            at = i - 1;
            continue;
        }
        ++i;
        while (i < content.size() && IsHtmlSpace(content[i]))
            ++i;
        if (i == content.size())
            return {};
        if (content[i] == '"' || content[i] == '\'') {
            const std::size_t close = content.find(content[i], i + 1);
            return close == npos ? std::string_view() : content.substr(i + 1, close - i - 1);
        }
        std::size_t end = i;
        while (end < content.size() && !IsHtmlSpace(content[end]) && content[end] != ';')
            ++end;
        return content.substr(i, end - i);
    }
    return {};
}

} // namespace

std::string_view TPageEncoding::NameForLabel(std::string_view label) {
    label = TrimHtmlSpace(label);
    for (const TLabel& entry : Labels)
        if (EqualsNoCase(entry.Label, label))
            return entry.Name;
    return {};
}

std::string_view TPageEncoding::CharsetParameter(std::string_view contentType) {
    for (std::size_t semicolon = contentType.find(';'); semicolon != npos;
         semicolon = contentType.find(';', semicolon + 1)) {
        std::string_view parameter = TrimHtmlSpace(contentType.substr(semicolon + 1));
        if (!StartsWithNoCase(parameter, "charset="))
            continue;
        parameter.remove_prefix(8);
        if (parameter.starts_with('"')) {
            const std::size_t close = parameter.find('"', 1);
            return close == npos ? parameter.substr(1) : parameter.substr(1, close - 1);
        }
        return TrimHtmlSpace(parameter.substr(0, parameter.find(';')));
    }
    return {};
}

std::string_view TPageEncoding::LocaleDefault(std::string_view locale) {
    const std::string_view region = locale.substr(0, locale.find_first_of(".@"));
    const std::string_view language = region.substr(0, region.find_first_of("_-"));
    for (const TLabel& entry : LocaleDefaults)
        if (entry.Label == region || entry.Label == language)
            return entry.Name;
    if (language == "zh")
        return "gb18030";
    return "windows-1252";
}

std::string TPageEncoding::SystemLocale() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0')
            return value;
    return {};
}

// The <meta> tags of the first 1024 bytes, past comments and the attributes
// of other tags: the first one that names a known encoding decides. A page
// cannot say it is UTF-16 in bytes that read as ASCII, so that reads as
// UTF-8.
std::string_view TPageEncoding::MetaCharset(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, 1024);
    for (std::size_t lt = head.find('<'); lt != npos; lt = head.find('<', lt + 1)) {
        const std::string_view rest = head.substr(lt);
        if (rest.starts_with("<!--")) {
            const std::size_t close = head.find("-->", lt + 2);
            if (close == npos)
                return {};
            lt = close + 2;
            continue;
        }
        const TTagPieces tag = SplitTag(rest);
        if (!tag.Named) {
            if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '/' || rest[1] == '?')) {
                const std::size_t close = head.find('>', lt);
                if (close == npos)
                    return {};
                lt = close;
            }
            continue;
        }
        const std::size_t attributesAt = lt + (tag.Attributes.data() - rest.data());
        if (tag.Closing || !EqualsNoCase(tag.Name, "meta")) {
            const std::size_t end = TAttributeReader::TagEnd(head, attributesAt);
            if (end == npos)
                return {};
            lt = end;
            continue;
        }
        TAttributeReader reader(head.substr(attributesAt));
        std::string_view name, value, charset, content;
        bool contentType = false;
        while (reader.Next(name, value)) {
            if (EqualsNoCase(name, "charset") && charset.empty())
                charset = value;
            else if (EqualsNoCase(name, "content") && content.empty())
                content = value;
            else if (EqualsNoCase(name, "http-equiv"))
                contentType = contentType || EqualsNoCase(value, "content-type");
        }
        std::string_view found = NameForLabel(charset);
        if (found.empty() && contentType)
            found = NameForLabel(CharsetInContent(content));
        if (!found.empty())
            return IsUtf16(found) ? "UTF-8" : found == "x-user-defined" ? "windows-1252" : found;
        if (reader.End() == npos)
            return {};
        lt = attributesAt + reader.End();
    }
    return {};
}

TPageEncoding TPageEncoding::Detect(std::string_view bytes, std::string_view contentType,
                                    std::string_view locale) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return TPageEncoding("UTF-8");
    if (bytes.starts_with("\xFE\xFF"))
        return TPageEncoding("UTF-16BE");
    if (bytes.starts_with("\xFF\xFE"))
        return TPageEncoding("UTF-16LE");
    std::string_view name = NameForLabel(CharsetParameter(contentType));
    if (name == "x-user-defined")
        name = "windows-1252";
    if (name.empty())
        name = MetaCharset(bytes);
    if (name.empty()) {
        if (FirstInvalidUtf8(bytes) == npos)
            return TPageEncoding("UTF-8", true);
        name = LocaleDefault(locale);
    }
    return TPageEncoding(name);
}

void TPageEncoding::MendUtf8(std::string_view text, std::string& out) {
    out.clear();
    while (!text.empty()) {
        const std::size_t bad = FirstInvalidUtf8(text);
        if (bad == npos) {
            out.append(text);
            break;
        }
        out.append(text.substr(0, bad)).append("\xEF\xBF\xBD");
        text.remove_prefix(bad + 1);
    }
}

void TPageEncoding::Decode(std::string& text) {
    if (FName == "UTF-8") {
        if (text.starts_with("\xEF\xBB\xBF"))
            text.erase(0, 3);
        FMendValues = !FValid && FirstInvalidUtf8(text) != npos;
    } else if (FName == "windows-1252") {
        DecodeWindows1252(text);
    } else if (IsUtf16(FName)) {
        if (text.starts_with("\xFE\xFF") || text.starts_with("\xFF\xFE"))
            text.erase(0, 2);
        DecodeWithIconv(text, FName, 2);
    } else if (!IsAscii(text) || FName == "ISO-2022-JP") {
        DecodeWithIconv(text, IconvName(FName), 1);
    }
}

bool TPageEncoding::QueryInUtf8() const noexcept {
    return FName == "UTF-8" || IsUtf16(FName);
}

bool TPageEncoding::Encode(std::string_view character, std::string& bytes) const {
    bytes.clear();
    const char32_t code = CodePoint(character);
    if (FName == "windows-1252") {
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            bytes.push_back(static_cast<char>(code));
            return true;
        }
        for (unsigned b = 0x80; b <= 0x9F; ++b)
            if (TCharacterReferences::Windows1252High(static_cast<unsigned char>(b)) == code) {
                bytes.push_back(static_cast<char>(b));
                return true;
            }
        return false;
    }
    const iconv_t cd = iconv_open(IconvName(FName).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    char buffer[16];
    char* in = const_cast<char*>(character.data());
    std::size_t inLeft = character.size();
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const bool ok = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (ok)
        bytes.assign(buffer, static_cast<std::size_t>(out - buffer));
    return ok && !bytes.empty();
}

char32_t TPageEncoding::CodePoint(std::string_view c) noexcept {
    const auto b = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(c[i]));
    };
    if (c.empty())
        return 0xFFFD;
    if (b(0) < 0x80 || c.size() == 1)
        return b(0) < 0x80 ? b(0) : 0xFFFD;
    if (c.size() == 2)
        return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    if (c.size() == 3)
        return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
}
