// The link table: which tags and attributes yield addresses, in which list,
// with which counts, kinds and depths.

#include "ParserTestSupport.h"

namespace {

struct TExtractCase {
    std::string Page;
    std::vector<TRecordRow> Anchors;
    std::vector<TRecordRow> Objects;
    std::size_t KeptTags;
};

const std::string D = "http://host/d1/d2/";

TEST(ParserExtractLinks, LinkTableRows) {
    TSkipFile skip({});
    const std::vector<TExtractCase> cases = {
        {"<a href=x.html>1</a><A HREF=\"x.html\">2</a>", {{D + "x.html", 2, 4}}, {}, 2},
        {"<a name=top>", {}, {}, 0},
        // A matched attribute that resolves to nothing still keeps the tag.
        {"<a href=#top>", {}, {}, 1},
        {"<a href=#x href=y.html>", {}, {}, 1},
        // A word without "=" is an attribute whose value is its own name.
        {"<a href href=y.html>", {{D + "href", 1, 4}}, {}, 1},
        {"<img src=a.gif><IMG SRC=a.gif><ImG sRc=a.gif>", {}, {{D + "a.gif", 3, 0}}, 3},
        {"<img src=a.gif usemap=m.map>", {}, {{D + "a.gif", 1, 0}}, 1},
        {"<object data=d.swf usemap=m.map>", {}, {{D + "m.map", 1, 0}, {D + "d.swf", 1, 0}}, 1},
        {"<iframe src=f.html><frame src=g.html>",
         {{D + "g.html", 1, 4}},
         {{D + "f.html", 1, 0}},
         2},
        {"<area href=a.html usemap=u.map>", {{D + "a.html", 1, 4}}, {{D + "u.map", 1, 0}}, 1},
        {"<body background=bg.gif><table background=bg.gif>", {}, {{D + "bg.gif", 2, 0}}, 2},
        {"<a href=i.gif><img src=i.gif>", {{D + "i.gif", 1, 4}}, {{D + "i.gif", 1, 0}}, 2},
        {"<embed src=e.swf><bgsound src=s.mid><script src=s.js></script><applet code=C.class>"
         "<link href=st.css><input src=b.gif><map usemap=m.map>",
         {},
         {{D + "e.swf", 1, 0},
          {D + "s.mid", 1, 0},
          {D + "s.js", 1, 0},
          {D + "C.class", 1, 0},
          {D + "st.css", 1, 0},
          {D + "b.gif", 1, 0},
          {D + "m.map", 1, 0}},
         7},
        {"<script src=/scripts/m.js></script><script src=http://cdn/scripts/m.js></script>",
         {},
         {{"http://host/scripts/m.js", 1, 0}, {"http://cdn/scripts/m.js", 1, 0}},
         2},
        // Tags outside the table, and attributes the row does not name.
        {"<div src=x.html><img href=y.gif><link src=z.css><frame href=f.html>", {}, {}, 0},
    };
    for (const TExtractCase& c : cases) {
        SCOPED_TRACE(c.Page);
        const auto parser = ParsePage(c.Page, TestBase, 3);
        EXPECT_EQ(AnchorRows(*parser), c.Anchors);
        EXPECT_EQ(ObjectRows(*parser), c.Objects);
        EXPECT_EQ(parser->Tags().size(), c.KeptTags);
    }
}

TEST(ParserExtractLinks, SkipListIsExactAndCaseSensitive) {
    TSkipFile skip({"a", "IMG"});
    const auto parser = ParsePage("<a href=x.html><A href=y.html><img src=i.gif><IMG src=j.gif>");
    EXPECT_EQ(AnchorRows(*parser), (std::vector<TRecordRow>{{D + "y.html", 1, 1}}));
    EXPECT_EQ(ObjectRows(*parser), (std::vector<TRecordRow>{{D + "i.gif", 1, 0}}));
}

TEST(ParserExtractLinks, NamesAreUpperCasedInTheKeptTag) {
    TSkipFile skip({});
    const auto parser = ParsePage("<Img alt=a Src=i.gif title=t>");
    ASSERT_EQ(parser->Tags().size(), 1u);
    const _TTag& tag = *parser->Tags()[0];
    EXPECT_STREQ(tag.Name.get(), "IMG");
    EXPECT_STREQ(tag.Attributes->Name.get(), "ALT");
    EXPECT_STREQ(tag.Attributes->Next->Name.get(), "SRC");
    EXPECT_STREQ(tag.Attributes->Next->Value.get(), "i.gif"); // values keep their case
}

TEST(ParserExtractLinks, ManyRepeatsOfManyAddresses) {
    TSkipFile skip({});
    std::string page;
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 2000; ++i)
            page += "<a href=p" + std::to_string(i) + ".html>";
    const auto parser = ParsePage(page);
    ASSERT_EQ(parser->Anchors().size(), 2000u);
    EXPECT_EQ(parser->Anchors()[1234]->Url, D + "p1234.html");
    for (const _TObjectType* record : parser->Anchors())
        ASSERT_EQ(record->Count, 3) << record->Url;
}

} // namespace
