// The tag reader: names, closing tags, skip marks, attribute lists and
// character references.

#include "ParserTestSupport.h"

namespace {

// "name=value|name=value"
std::string Describe(const _TAttribute* a) {
    std::string text;
    for (; a != nullptr; a = a->Next)
        text += (text.empty() ? "" : "|") + std::string(a->Name.get()) + "=" + a->Value.get();
    return text;
}

struct TTagCase {
    std::string Text, Name, Attributes; // Name "(none)": the tag has no name
    int Skipped = 0;
};

TEST(ParserReadTag, NamesAttributesAndSkipMarks) {
    TSkipFile skip({"br"});
    const THtmlParser parser(nullptr);
    const std::vector<TTagCase> cases = {
        {"<a href=x.htm target=_top", "a", "href=x.htm|target=_top"},
        {"<a href=\"x y.htm\" title=t", "a", "href=x y.htm|title=t"},
        {"<a href='x y.htm' title=t", "a", "href=x y.htm|title=t"},
        {"<img src=\"a.gif\"alt=\"b\"", "img", "src=a.gif|alt=b"},
        {"<script async src=s.js", "script", "async=|src=s.js"}, // no value: no end
        {"<td nowrap width=\"5\"", "td", "nowrap=|width=5"},
        {"<a href=", "a", "href="},
        {"<a href = x", "a", "href=x"},
        {"<a\thref=x\nid=\fy\r", "a", "href=x|id=y"},
        {"<a title=\"a > b\" href=x", "a", "title=a > b|href=x"},
        {"<a HREF=1 href=2 Href=3", "a", "HREF=1"}, // the first of a name wins
        {"<a href=\"?a=1&amp;b=2&#x2F;&#47;&copy&notit;\"", "a", "href=?a=1&b=2//\xC2\xA9&notit;"},
        {"<a href=\"a.cgi?x=1\" b=c=d", "a", "href=a.cgi?x=1|b=c=d"},
        {"<img/src=a/>", "img", "src=a/"},
        {"</a", "a", ""},
        {"</", "(none)", ""},
        {"<   ", "(none)", ""},
        {"<1a x=1", "(none)", ""},
        {"<br", "br", "", 1},
        {"</br", "br", "", 1},
        {"<BR", "BR", "", 0},
    };
    for (const TTagCase& c : cases) {
        SCOPED_TRACE(c.Text);
        _TTag tag;
        parser.ReadTag(tag, c.Text);
        EXPECT_EQ(tag.Name ? tag.Name.get() : "(none)", c.Name);
        EXPECT_EQ(Describe(tag.Attributes), c.Attributes);
        EXPECT_EQ(tag.IsSkipped, c.Skipped);
    }
}

TEST(ParserReadAttributes, QuotesBlanksAndOddShapes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a=1\r\nb=2", "a=1|b=2"},
        {"a'b='c d'", "a'b=c d"},               // a quote inside a name is the name's
        {"href=\"abc def=1", "href=abc def=1"}, // unclosed: the rest is the value
        {"=x a=\" padded \"", "=x=|a= padded "},
        {"one two three=3", "one=|two=|three=3"},
        {"a=1 > b=2", "a=1"}, // an unquoted ">" ends the tag
        {"n=\"&lt;&#0;&#x110000;&#128;&#xD800;&#;&#x;\"",
         "n=<\xEF\xBF\xBD\xEF\xBF\xBD\xE2\x82\xAC\xEF\xBF\xBD&#;&#x;"},
        {"n=\"&amp=&ampx&amp;x&AMP&unknown;\"", "n=&amp=&ampx&x&&unknown;"},
    };
    for (const auto& [text, expected] : cases) {
        _TAttribute* list = THtmlParser::ReadAttributes(text);
        EXPECT_EQ(Describe(list), expected) << text;
        FreeAttributeList(list);
    }
}

} // namespace
