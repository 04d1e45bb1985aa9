// The tag reader: names, closing tags, skip marks and attribute lists.

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
        {"<img src=\"a.gif\"alt=\"b\"", "img", "src=a.gif"}, // no space after the quote: stop
        {"<td nowrap width=5", "td", "nowrap=nowrap|width=5"},
        {"<td nowrap width=\"5\"", "td", "nowrap width=5"},
        {"<a href=", "a", ""},
        {"<a href=\"\"", "a", ""},
        {"<a href = x", "a", ""},
        {"<a href=\"a.cgi?x=1\" b=c=d", "a", "href=a.cgi?x=1|b=c=d"},
        {"<a\thref=x", "a\thref=x", ""},
        {"</a", "a", ""},
        {"</", "", ""},
        {"<   ", "(none)", ""},
        {"< x=1", "(none)", ""},
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
        {"a'b='c d'", "a'b='c"},       // a quote opens a value only if it is the first one
        {"href=\"abc def=1", "def=1"}, // unclosed: reading goes on after the next space
        {"=x a=\" padded \"", "=x|a=padded"},
        {"one two three=3", "one=one|two=two|three=3"},
        {"no equals here", ""},
    };
    for (const auto& [text, expected] : cases) {
        _TAttribute* list = THtmlParser::ReadAttributes(text);
        EXPECT_EQ(Describe(list), expected) << text;
        FreeAttributeList(list);
    }
}

} // namespace
