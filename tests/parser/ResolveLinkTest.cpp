// Resolution of links against the page address.

#include "parser/THtmlParser.h"

#include <gtest/gtest.h>

namespace {

struct TResolveCase {
    std::string Link;
    std::string Expected;
};

void Check(const std::string& base, const std::vector<TResolveCase>& cases) {
    for (const TResolveCase& c : cases) {
        SCOPED_TRACE("base \"" + base + "\", link \"" + c.Link + "\"");
        EXPECT_EQ(THtmlParser::ResolveLink(base, c.Link), c.Expected);
    }
}

const std::string Page = "http://host/d1/d2/page.html";

TEST(ParserResolveLink, RelativeLinksAndNormalForms) {
    Check(Page, {
                    {"x.html", "http://host/d1/d2/x.html"},
                    {"img/a.gif", "http://host/d1/d2/img/a.gif"},
                    {"/img/a.gif", "http://host/img/a.gif"},
                    {"sub/", "http://host/d1/d2/sub"},
                    {"sub", "http://host/d1/d2/sub"},
                    {"sub/index.html", "http://host/d1/d2/sub"},
                    {"index.htm", "http://host/d1/d2"},
                    {"INDEX.HTML", "http://host/d1/d2/INDEX.HTML"},
                    {"/", "http://host"},
                    {"page.asp?id=3", "http://host/d1/d2/page.asp?id=3"},
                    {"?id=3", "http://host/d1/d2/?id=3"},
                    {".htaccess", "http://host/d1/d2/.htaccess"},
                    {" \tx.html  ", "http://host/d1/d2/x.html"},
                    {"a//b/", "http://host/d1/d2/a/b"},
                });
}

TEST(ParserResolveLink, RejectedAndBlankLinks) {
    Check(Page, {
                    {"#top", ""},
                    {"p.html#top", ""},
                    {"javascript:go()", ""},
                    {"JavaScript:go()", ""},
                    {" javascript:go()", ""},
                    {"VBSCRIPT:x", ""},
                    {"mailto:me@host", ""},
                    {"MailTo:me@host", ""},
                    {"tel:+1-555", ""},
                    {"ftp://host/f", ""},
                    {"data:text/plain,x", ""},
                    {"c++.x-y:z", ""},
                    {"", ""},
                    {"   ", ""},
                    {"\t\r\n", ""},
                });
    EXPECT_EQ(THtmlParser::ResolveLink("", ""), "");
    EXPECT_EQ(THtmlParser::ResolveLink("", "  "), "");
}

TEST(ParserResolveLink, SchemeLookalikesAreRelative) {
    Check(Page, {
                    {"/scripts/m.js", "http://host/scripts/m.js"},
                    {"description.html", "http://host/d1/d2/description.html"},
                    {"subscription.html", "http://host/d1/d2/subscription.html"},
                    {"mailto.html", "http://host/d1/d2/mailto.html"},
                    {"a/b:c", "http://host/d1/d2/a/b:c"},
                    {"1abc:x", "http://host/d1/d2/1abc:x"},
                    {"a?b:c", "http://host/d1/d2/a?b:c"},
                    {"http:x", "http://host/d1/d2/http:x"},
                });
}

TEST(ParserResolveLink, AbsoluteAndNetworkPathLinks) {
    Check(Page, {
                    {"http://other/a/", "http://other/a"},
                    {"http://other/a//", "http://other/a/"},
                    {"http://other/p.html#x", "http://other/p.html#x"},
                    {"http://other/../a/./b", "http://other/../a/./b"},
                    {"HTTP://Other/A/", "HTTP://Other/A"},
                    {"https://other/a/", "https://other/a"},
                    {"HtTpS://other", "HtTpS://other"},
                    {"//other/x.html", "http://other/x.html"},
                    {"//other/dir/", "http://other/dir"},
                    // The absolute test sees the link as written, before trimming.
                    {" http://other/a", "http://host/d1/d2/http:/other/a"},
                });
    Check("https://host/d/p.html", {{"//cdn/x.js", "https://cdn/x.js"}});
    Check("HTTPS://Host/d/p.html", {{"//cdn/x.js", "https://cdn/x.js"}});
}

TEST(ParserResolveLink, DotSegments) {
    Check(Page, {
                    {"./x.html", "http://host/d1/d2/x.html"},
                    {"a/./b/", "http://host/d1/d2/a/b"},
                    {"a/../b.html", "http://host/d1/d2/b.html"},
                    {"../x.html", "http://host/d1/x.html"},
                    {"..", "http://host/d1"},
                    {"../../x.html", "http://host/x.html"},
                    {"../../../../x.html", "http://host/x.html"},
                    {"a/../../x.html", "http://host/d1/x.html"},
                    {"a/b/../../../c/", "http://host/d1/c"},
                    {"/../x.html", "http://host/x.html"},
                    {"/a/../../b/./c.html", "http://host/b/c.html"},
                    {".../x", "http://host/d1/d2/.../x"},
                });
    // Dot segments of the base count too, for links relative to it.
    Check("http://host/a/./b/../c/p.html",
          {{"x.html", "http://host/a/c/x.html"}, {"../x.html", "http://host/a/x.html"}});
}

TEST(ParserResolveLink, Bases) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"http://host", "http://host/x.html"},
        {"http://host/", "http://host/x.html"},
        {"http://host/dir", "http://host/dir/x.html"},
        {"http://host/dir/", "http://host/dir/x.html"},
        {"HTTP://HOST/Dir/P.html", "http://host/dir/x.html"},
        {"http://host/a/x.y/p.html", "http://host/a/x.y/x.html"},
        {"http://host/a/v1.2/p.html", "http://host/a/v1.2/x.html"},
        {"http://host/x.y/a/p.html", "http://host/x.y/a/x.html"},
        {"http://host:8080/d/p.html", "http://host:8080/d/x.html"},
        {"http://host/d/cgi?x=1", "http://host/d/cgi?x=1/x.html"},
        {"  http://host/d/  ", "http://host/d/x.html"},
        {"https://host/d/p.html", "https://host/d/x.html"},
        {"HTTPS://Host/D/", "https://host/d/x.html"},
        {"https://host", "https://host/x.html"},
    };
    for (const auto& [base, expected] : cases) {
        SCOPED_TRACE(base);
        EXPECT_EQ(THtmlParser::ResolveLink(base, "x.html"), expected);
    }
    EXPECT_EQ(THtmlParser::ResolveLink("HTTP://HOST/Dir/P.html", "X.html"),
              "http://host/dir/X.html");
    EXPECT_EQ(THtmlParser::ResolveLink("https://host/a/b/p.html", "../x.html"),
              "https://host/a/x.html");
}

} // namespace
