// How a page's encoding is found, and what its addresses become.

#include "ParserTestSupport.h"
#include "parser/TPageEncoding.h"

#include <cstdlib>

namespace {

TEST(ParserPageEncoding, LabelsParametersAndLocales) {
    const std::vector<std::pair<std::string, std::string>> labels = {
        {" Latin1\t", "windows-1252"},
        {"ISO-8859-1", "windows-1252"},
        {"utf8", "UTF-8"},
        {"ks_c_5601-1987", "EUC-KR"},
        {"utf-16", "UTF-16LE"},
        {"x-sjis", "Shift_JIS"},
        {"utf-7", ""},
        {"", ""},
    };
    for (const auto& [label, name] : labels)
        EXPECT_EQ(TPageEncoding::NameForLabel(label), name) << label;
    const std::vector<std::pair<std::string, std::string>> types = {
        {"text/html; charset=ISO-8859-1", "ISO-8859-1"},
        {"text/html;Charset=\"euc-kr\"; q=1", "euc-kr"},
        {"text/html; format=x ;charset=utf-8 ", "utf-8"},
        {"text/html", ""},
        {"text/html; charset", ""},
    };
    for (const auto& [type, charset] : types)
        EXPECT_EQ(TPageEncoding::CharsetParameter(type), charset) << type;
    const std::vector<std::pair<std::string, std::string>> locales = {
        {"ko_KR.UTF-8", "EUC-KR"}, {"ko", "EUC-KR"},           {"ru_RU.UTF-8", "windows-1251"},
        {"zh_TW.Big5", "Big5"},    {"zh_CN.UTF-8", "gb18030"}, {"en_US.UTF-8", "windows-1252"},
        {"C", "windows-1252"},     {"", "windows-1252"},
    };
    for (const auto& [locale, name] : locales)
        EXPECT_EQ(TPageEncoding::LocaleDefault(locale), name) << locale;
}

struct TDetectCase {
    std::string Bytes, ContentType, Locale, Name, Text;
};

TEST(ParserPageEncoding, DetectAndDecode) {
    const std::string meta1252 = "<meta charset=windows-1252>\xFC";
    const std::vector<TDetectCase> cases = {
        // A byte-order mark first, then the server, then a meta, then UTF-8.
        {"\xEF\xBB\xBFx\xC3\xBC", "text/html; charset=latin1", "", "UTF-8", "x\xC3\xBC"},
        {std::string("\xFF\xFEx\0\xFC\0", 6), "", "", "UTF-16LE", "x\xC3\xBC"},
        {std::string("\xFE\xFF\0x\xD8\x00", 6), "", "", "UTF-16BE", "x\xEF\xBF\xBD"},
        {"\xFC", "text/html; charset=latin1", "", "windows-1252", "\xC3\xBC"},
        {meta1252, "", "", "windows-1252", "<meta charset=windows-1252>\xC3\xBC"},
        {"<!-- <meta charset=koi8-r> --><meta http-equiv=Content-Type "
         "content='text/html; charset = \"iso-8859-2\"'>",
         "", "", "ISO-8859-2", ""},
        {"<meta charset=utf-16>", "", "", "UTF-8", "<meta charset=utf-16>"},
        {"<title x='<meta charset=latin1>'></title><meta charset=bogus>", "", "", "UTF-8", ""},
        {std::string(1024, ' ') + "<meta charset=latin1>", "", "", "UTF-8", ""},
        {"x\xC3\xBC", "", "ko_KR.UTF-8", "UTF-8", "x\xC3\xBC"},
        // Not UTF-8, no label: the locale's default.
        {"\xC7\xD1", "", "ko_KR.UTF-8", "EUC-KR", "\xED\x95\x9C"},
        {"\x80\x81", "", "en_US.UTF-8", "windows-1252", "\xE2\x82\xAC\xC2\x81"},
        // A UTF-8 page stays where it lies; its values are mended.
        {"a\xFF"
         "b\xE0\x80",
         "text/html; charset=utf-8", "", "UTF-8",
         "a\xFF"
         "b\xE0\x80"},
    };
    for (const TDetectCase& c : cases) {
        SCOPED_TRACE(c.Bytes);
        TPageEncoding encoding = TPageEncoding::Detect(c.Bytes, c.ContentType, c.Locale);
        EXPECT_EQ(encoding.Name(), c.Name);
        std::string text = c.Bytes;
        encoding.Decode(text);
        if (!c.Text.empty()) {
            EXPECT_EQ(text, c.Text);
        }
    }
}

// A page in another encoding: the path is its text in UTF-8, the query keeps
// the page's encoding.
TEST(ParserPageEncoding, AddressesOfDecodedPages) {
    TSkipFile skip({});
    struct TPageCase {
        std::string Page, ContentType, Locale, Anchors;
    };
    const std::vector<TPageCase> cases = {
        {"<a href=p\xFCth.html?q=\xFC&amp;r=&#x3B1;&#8364;>", "text/html; charset=ISO-8859-1", "C",
         "p%C3%BCth.html?q=%FC&r=%26%23945%3B%80"},
        {"<a href=p\xFCth.html?q=\x80>", "", "C", "p%C3%BCth.html?q=%80"},
        {"<a href=\xC7\xD1.html?q=\xC7\xD1>", "", "ko_KR.UTF-8", "%ED%95%9C.html?q=%C7%D1"},
        // Bytes that are not text in the encoding are U+FFFD.
        {"<a href=a\xFF"
         "b\xE0\x80.html>",
         "text/html; charset=utf-8", "C", "a%EF%BF%BDb%EF%BF%BD%EF%BF%BD.html"},
        {std::string("\xFF\xFE<\0a\0 \0h\0r\0e\0f\0=\0x\0.\0h\0t\0m\0l\0>\0", 32), "", "C",
         "x.html"},
    };
    for (const TPageCase& c : cases) {
        SCOPED_TRACE(c.Page);
        setenv("LC_ALL", c.Locale.c_str(), 1);
        auto parser = std::make_unique<THtmlParser>(nullptr);
        parser->SetUrl(TestBase);
        parser->SetDocument(c.Page);
        parser->SetContentType(c.ContentType);
        parser->Parse();
        EXPECT_EQ(Describe(*parser, true), c.Anchors);
    }
    unsetenv("LC_ALL");
}

} // namespace
