// The link table: which tags and attributes yield addresses, and how they
// are counted.

#include "ParserTestSupport.h"

namespace {

struct TExtractCase {
    std::string Page, Anchors, Objects;
    std::size_t KeptTags;
};

TEST(ParserExtractLinks, LinkTableRows) {
    TSkipFile skip({"a", "IMG"}); // exact and case-sensitive
    const std::vector<TExtractCase> cases = {
        {"<A href=x.html>1</a><A HREF=\"x.html\">", "x.html*2", "", 2},
        {"<a href=x.html><IMG src=i.gif>", "", "", 0},
        {"<A name=top>", "", "", 0},
        {"<A href=#top>", "", "", 1}, // matched, though nothing is recorded
        {"<A href=#x href=y.html>", "", "", 1},
        {"<A href href=y.html>", "href", "", 1}, // a bare word is its own value
        {"<ImG sRc=a.gif><Img SRC=a.gif usemap=m.map>", "", "a.gif*2", 2},
        {"<object data=d.swf usemap=m.map>", "", "m.map d.swf", 1},
        {"<iframe src=f.html><frame src=g.html>", "g.html", "f.html", 2},
        {"<area href=a.html usemap=u.map>", "a.html", "u.map", 1},
        {"<body background=i.gif><table background=i.gif><A href=i.gif>", "i.gif", "i.gif*2", 3},
        {"<embed src=e><bgsound src=s><script src=j></script><applet code=c><link href=l>"
         "<input src=b><map usemap=m>",
         "", "e s j c l b m", 7},
        {"<div src=x><Img href=y><link src=z><frame href=f><td background=t>", "", "", 0},
    };
    for (const TExtractCase& c : cases) {
        SCOPED_TRACE(c.Page);
        const auto parser = ParsePage(c.Page, 3);
        EXPECT_EQ(Describe(*parser, true), c.Anchors);
        EXPECT_EQ(Describe(*parser, false), c.Objects);
        EXPECT_EQ(parser->Tags().size(), c.KeptTags);
    }
}

} // namespace
