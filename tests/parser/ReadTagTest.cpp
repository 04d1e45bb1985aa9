// The tag reader: names, closing tags, skip marks and attribute lists.

#include "ParserTestSupport.h"

#include <optional>

namespace {

using TAttributes = std::vector<std::pair<std::string, std::string>>;

TAttributes ListOf(const _TAttribute* attribute) {
    TAttributes list;
    for (; attribute != nullptr; attribute = attribute->Next)
        list.emplace_back(attribute->Name.get(), attribute->Value.get());
    return list;
}

struct TTagCase {
    std::string Text;
    std::optional<std::string> Name; // nullopt: the tag has no name
    TAttributes Attributes;
    bool Skipped = false;
};

TEST(ParserReadTag, NamesAttributesAndSkipMarks) {
    TSkipFile skip({"br"});
    const THtmlParser parser(nullptr);
    const std::vector<TTagCase> cases = {
        {"<a href=x.htm target=_top", "a", {{"href", "x.htm"}, {"target", "_top"}}},
        {"<a href=\"x y.htm\" title=t", "a", {{"href", "x y.htm"}, {"title", "t"}}},
        {"<a href='x y.htm' title=t", "a", {{"href", "x y.htm"}, {"title", "t"}}},
        // No space after the closing quote: reading stops there.
        {"<img src=\"a.gif\"alt=\"b\"", "img", {{"src", "a.gif"}}},
        {"<td nowrap width=5", "td", {{"nowrap", "nowrap"}, {"width", "5"}}},
        {"<td nowrap width=\"5\"", "td", {{"nowrap width", "5"}}},
        {"<a href=", "a", {}},
        {"<a href=\"\"", "a", {}},
        {"<a href = x", "a", {}},
        {"<a href=a.cgi?x=1", "a", {{"href", "a.cgi?x=1"}}},
        {"<a href=\"a.cgi?x=1\"", "a", {{"href", "a.cgi?x=1"}}},
        {"<a\thref=x", "a\thref=x", {}},
        {"</a", "a", {}},
        {"</", "", {}},
        {"<   ", std::nullopt, {}},
        {"< x=1", std::nullopt, {}},
        {"<br", "br", {}, true},
        {"</br", "br", {}, true},
        {"<BR", "BR", {}, false},
        {"<a  href=x", "a", {{"href", "x"}}},
    };
    for (const TTagCase& c : cases) {
        SCOPED_TRACE(c.Text);
        _TTag tag;
        parser.ReadTag(tag, c.Text);
        if (c.Name) {
            ASSERT_TRUE(tag.Name);
            EXPECT_EQ(tag.Name.get(), *c.Name);
        } else {
            EXPECT_FALSE(tag.Name);
        }
        EXPECT_EQ(ListOf(tag.Attributes), c.Attributes);
        EXPECT_EQ(tag.IsSkipped, c.Skipped ? 1 : 0);
    }
}

TEST(ParserReadAttributes, QuotesBlanksAndOddShapes) {
    const std::vector<std::pair<std::string, TAttributes>> cases = {
        {"a=1\r\nb=2", {{"a", "1"}, {"b", "2"}}},
        {"x='a b'", {{"x", "a b"}}},
        // A single quote is an opening quote only when it is the first one.
        {"a'b='c d'", {{"a'b", "'c"}}},
        // An unclosed quote: reading goes on after the next space.
        {"href=\"abc def=1", {{"def", "1"}}},
        {"=x", {{"", "x"}}},
        {"a=\" padded \"", {{"a", "padded"}}},
        {"one two three=3", {{"one", "one"}, {"two", "two"}, {"three", "3"}}},
        {"no equals here", {}},
        {"", {}},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        _TAttribute* list = THtmlParser::ReadAttributes(text);
        EXPECT_EQ(ListOf(list), expected);
        FreeAttributeList(list);
    }
}

} // namespace
