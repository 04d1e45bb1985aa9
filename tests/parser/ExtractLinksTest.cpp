// The link table: which tags and attributes yield addresses, and how they
// are counted.

#include "ParserTestSupport.h"

namespace {

struct TExtractCase {
    std::string Page, Anchors, Objects;
};

TEST(ParserExtractLinks, LinkTableRows) {
    TSkipFile skip({"a", "IMG"}); // exact and case-sensitive
    const std::vector<TExtractCase> cases = {
        {"<A href=x.html>1</a><A HREF=\"x.html\">", "x.html*2", ""},
        {"<a href=x.html><IMG src=i.gif>", "", ""},
        {"<A name=top>", "", ""},
        {"<A href=#top>", "", ""}, // a fragment is not followed
        {"<A href=#x href=y.html>", "", ""},
        {"<A href href=y.html>", "", ""}, // the first of a name wins, empty or not
        {"<ImG sRc=a.gif><Img SRC=a.gif usemap=m.map>", "", "a.gif*2"},
        {"<object data=d.swf usemap=m.map>", "", "m.map d.swf"},
        {"<iframe src=f.html><a href=no.html></iframe><frame src=g.html>", "g.html", "f.html"},
        {"<area href=a.html usemap=u.map>", "a.html", "u.map"},
        {"<body background=i.gif><table background=i.gif><A href=i.gif>", "i.gif", "i.gif*2"},
        {"<embed src=e><bgsound src=s><script src=j></script><applet code=c><link href=l>"
         "<input src=b><map usemap=m>",
         "", "e s j c l b m"},
        {"<div src=x><Img href=y><link src=z><frame href=f><td background=t>", "", ""},
        // Rows 10 to 13: any attribute order, the table's order within a tag.
        {"<picture><source srcset=\"a.webp 1x, b.webp 2x\"><img srcset=i2.png src=i.png>"
         "<img srcset=\"i.png 1x, #x 2x\">",
         "", "a.webp b.webp i.png*2 i2.png"},
        {"<video poster=p.jpg src=v.mp4><source src=v.webm srcset=s.webp><track src=t.vtt>"
         "<audio src=a.ogg><audio poster=x><track srcset=y><img poster=z>",
         "", "v.mp4 p.jpg s.webp v.webm t.vtt a.ogg"},
        {"<meta http-equiv=REFRESH content=\"0;url=n.html\"><meta http-equiv=refresh content=5>",
         "n.html", ""},
        {"<meta content=\"0;url=x\"><meta http-equiv=expires content=\"0;url=y\">", "", ""},
        // Attributes without values, blanks around "=", quoted ">".
        {"<script async src=s.js></script><iframe allowfullscreen src=f.html></iframe>"
         "<link crossorigin href=l.css><video controls poster=p.jpg>",
         "", "s.js f.html l.css p.jpg"},
        {"<A href = \"c.html\"><A\nid=1\thref=d.html><A title=\"a > b\" href='e.html'>",
         "c.html d.html e.html", ""},
        // Character references are decoded before anything else is read.
        {"<A href=\"x.html?a=1&amp;b=2\"><A href=\"&#x2F;about&#x2F;team.html\">"
         "<A href=\"git-fsmonitor&#45;&#45;daemon.html\"><A href=\"p.html&#35;top\">",
         "x.html?a=1&b=2 http://host/about/team.html git-fsmonitor--daemon.html", ""},
        // Resource hints name an origin, not an object.
        {"<link rel=\"preconnect\" href=\"https://fonts.gstatic.com\">"
         "<link rel=\"DNS-Prefetch\tpreconnect\" href=//x><link rel=\"preload dns-prefetch\" "
         "href=p.css><link rel=\" \" href=e.css><link rel=modulepreload href=m.js>",
         "", "p.css e.css m.js"},
    };
    for (const TExtractCase& c : cases) {
        SCOPED_TRACE(c.Page);
        const auto parser = ParsePage(c.Page, 3);
        EXPECT_EQ(Describe(*parser, true), c.Anchors);
        EXPECT_EQ(Describe(*parser, false), c.Objects);
    }
}

// "address|address|..."
std::string SrcSetAddresses(std::string_view list) {
    std::string text;
    std::size_t pos = 0;
    for (std::string_view a = THtmlParser::NextSrcSetAddress(list, pos); !a.empty();
         a = THtmlParser::NextSrcSetAddress(list, pos))
        text += (text.empty() ? "" : "|") + std::string(a);
    return text;
}

TEST(ParserLinkValues, SrcSetLists) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.png", "a.png"},
        {"a.png 1x, b.png 2x,c.png 100w", "a.png|b.png|c.png"},
        {"a.png,b.png 2x", "a.png,b.png"}, // a comma without a blank after it is the address's
        {"x,y.png 1x,z.png", "x,y.png|z.png"},
        {"a.png,,, b.png,", "a.png|b.png"},
        {" ,\t a.png\n\f2x ,\r\n b.png   2x  ,  ", "a.png|b.png"},
        {"a.png 2x (q, r) s, b.png", "a.png|b.png"}, // a comma in parentheses is the descriptor's
        {"a.png 1x 2x b.png, c.png", "a.png|c.png"},
        {", ,  ", ""},
    };
    for (const auto& [list, expected] : cases)
        EXPECT_EQ(SrcSetAddresses(list), expected) << list;
}

TEST(ParserLinkValues, RefreshContents) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"5; url=next.html", "next.html"},
        {"  3 ,  Url  =  'a b.html' tail", "a b.html"},
        {"1.5; url=\"q.html\"", "q.html"},
        {".5 url=x.html", "x.html"},
        {"0; url='open.html", "open.html"},
        {"0; next.html", "next.html"}, // "url=" may be left out
        {"0; 'next.html'", "next.html"},
        {"0; urn.html", "urn.html"},
        {"0; url next.html", "url next.html"},
        {"0; url=", ""},
        {"0; url=''", ""},
        {"5", ""},
        {"url=next.html", ""}, // no delay: no refresh at all
        {"5x; url=next.html", ""},
    };
    for (const auto& [content, expected] : cases)
        EXPECT_EQ(THtmlParser::RefreshAddress(content), expected) << content;
}

} // namespace
