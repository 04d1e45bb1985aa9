// Resolution of links against the page address.

#include "parser/THtmlParser.h"
#include "parser/TLinkResolver.h"

#include <gtest/gtest.h>

namespace {

struct TResolveCase {
    std::string Link, Expected, Base = "http://host/d1/d2/page.html";
};

const std::vector<TResolveCase> Cases = {
    // Relative links and the forms that come out alike.
    {"x.html", "http://host/d1/d2/x.html"},
    {"/img/a.gif", "http://host/img/a.gif"},
    {"sub/", "http://host/d1/d2/sub"},
    {"sub/index.html", "http://host/d1/d2/sub"},
    {"index.htm", "http://host/d1/d2"},
    {"INDEX.HTML", "http://host/d1/d2/INDEX.HTML"},
    {"/", "http://host"},
    {"page.asp?id=3", "http://host/d1/d2/page.asp?id=3"},
    {"?id=3", "http://host/d1/d2/?id=3"},
    {".htaccess", "http://host/d1/d2/.htaccess"},
    {" \tx.html  ", "http://host/d1/d2/x.html"},
    // Rejected: other schemes in any case, fragments, blanks.
    {"p.html#top", ""},
    {"JavaScript:go()", ""},
    {" javascript:go()", ""},
    {"MailTo:me@host", ""},
    {"ftp://host/f", ""},
    {"c++.x-y:z", ""},
    {"   ", ""},
    {"", "", ""},
    // Only a real scheme rejects a link.
    {"/scripts/m.js", "http://host/scripts/m.js"},
    {"subscription.html", "http://host/d1/d2/subscription.html"},
    {"a/b:c", "http://host/d1/d2/a/b:c"},
    {"1abc:x", "http://host/d1/d2/1abc:x"},
    // Absolute links in any case, kept as written less one trailing "/".
    {"http://other/a//", "http://other/a/"},
    {"http://other/p.html#x", "http://other/p.html#x"},
    {"HTTP://Other/A/", "HTTP://Other/A"},
    {"https://other/./a/", "https://other/./a"},
    {" http://other/a", "http://host/d1/d2/http:/other/a"}, // tested before trimming
    {"//other/dir/", "http://other/dir"},
    {"//cdn/x.js", "https://cdn/x.js", "HTTPS://Host/d/p.html"},
    // Dot segments.
    {"./a/./b/", "http://host/d1/d2/a/b"},
    {"a/../b.html", "http://host/d1/d2/b.html"},
    {"../x.html", "http://host/d1/x.html"},
    {"..", "http://host/d1"},
    {"a/b/../../../c/", "http://host/d1/c"},
    {"../../../../x.html", "http://host/x.html"},
    {"/a/../../b/c.html", "http://host/b/c.html"},
    {".../x", "http://host/d1/d2/.../x"},
    {"../x.html", "http://host/a/x.html", "http://host/a/./b/../c/p.html"},
    // Bases.
    {"x.html", "http://host/x.html", "http://host"},
    {"x.html", "http://host/dir/x.html", "http://host/dir"},
    {"X.html", "http://host/dir/X.html", "HTTP://HOST/Dir/P.html"},
    {"x.html", "http://host/a/v1.2/x.html", "http://host/a/v1.2/p.html"},
    {"x.html", "http://host:8080/d/x.html", "http://host:8080/d/p.html"},
    {"x.html", "http://host/d/cgi?x=1/x.html", "http://host/d/cgi?x=1"},
    {"x.html", "http://host/d/x.html", "  http://host/d/  "},
    {"x.html", "https://host/x.html", "https://host"},
    {"../x.html", "https://host/a/x.html", "HTTPS://Host/A/b/p.html"},
};

TEST(ParserResolveLink, Table) {
    for (const TResolveCase& c : Cases)
        EXPECT_EQ(THtmlParser::ResolveLink(c.Base, c.Link), c.Expected)
            << "base \"" << c.Base << "\", link \"" << c.Link << "\"";
}

// A page's links go through one resolver, one after the other: nothing of
// one link may stay for the next.
TEST(ParserResolveLink, OneResolverForEveryLinkOfAPage) {
    TLinkResolver resolver(Cases.front().Base);
    std::string address;
    for (const TResolveCase& c : Cases) {
        if (c.Base != Cases.front().Base)
            continue;
        EXPECT_EQ(resolver.Resolve(c.Link, address), !c.Expected.empty()) << c.Link;
        EXPECT_EQ(address, c.Expected) << c.Link;
    }
}

} // namespace
