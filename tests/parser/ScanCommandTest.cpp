// marrowby --scan: a local page in, CSV out.

#include "ParserTestSupport.h"
#include "app/TScanCommand.h"

#include <sstream>

namespace {

const std::string SamplePage = std::string(PARSER_TEST_DATA) + "/page.html";

TEST(ParserScanCommand, SamplePageGivesExpectedCsv) {
    TSkipFile skip({"p", "P", "title"});
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(TScanCommand::Run(SamplePage, "http://host/d1/d2/page.html", 2, in, out, err), 0)
        << err.str();
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str(), "Kind,URI,Count,Depth\r\n"
                         "anchor,http://host/d1/d2/x.html,2,3\r\n"
                         "anchor,http://host/d1/d2/sub,2,3\r\n"
                         "anchor,http://host/d1/up.html,1,3\r\n"
                         "anchor,HTTPS://Other.example/Path,1,3\r\n"
                         "anchor,http://cdn.example/lib,1,3\r\n"
                         "anchor,\"http://host/d1/d2/a,b.html\",1,3\r\n"
                         "anchor,\"http://host/d1/d2/say\"\"hi\"\".html\",1,3\r\n"
                         "anchor,http://host/d1/d2/last.html,1,3\r\n"
                         "object,http://host/css/site.css,1,0\r\n"
                         "object,http://host/scripts/m.js,1,0\r\n"
                         "object,http://host/d1/d2/img/bg.gif,1,0\r\n"
                         "object,http://host/d1/d2/img/a.gif,2,0\r\n"
                         "object,http://host/d1/d2/frame.html,1,0\r\n"
                         "object,http://host/d1/d2/movie.swf,1,0\r\n");
}

TEST(ParserScanCommand, StandardInput) {
    TSkipFile skip({});
    std::istringstream in("<a href=x.html><img src=/i.gif>");
    std::ostringstream out, err;
    ASSERT_EQ(TScanCommand::Run("-", "https://host/d/", 0, in, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), "Kind,URI,Count,Depth\r\n"
                         "anchor,https://host/d/x.html,1,1\r\n"
                         "object,https://host/i.gif,1,0\r\n");
}

TEST(ParserScanCommand, FailuresExitWithOne) {
    std::istringstream in;
    {
        TSkipFile skip({});
        std::ostringstream out, err;
        EXPECT_EQ(TScanCommand::Run("/nonexistent/page.html", "http://h/", 0, in, out, err), 1);
        EXPECT_NE(err.str().find("/nonexistent/page.html"), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
    const std::string previous = THtmlParser::SkipFileName();
    THtmlParser::SetSkipFileName("/nonexistent/TTags.txt");
    std::ostringstream out, err;
    EXPECT_EQ(TScanCommand::Run(SamplePage, "http://h/", 0, in, out, err), 1);
    EXPECT_NE(err.str().find("TTags.txt"), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
    THtmlParser::SetSkipFileName(previous);
}

TEST(ParserScanCommand, DepthText) {
    const std::vector<std::pair<std::string, std::int32_t>> good = {
        {"0", 0}, {"7", 7}, {"0012", 12}, {"2147483647", 2147483647}};
    for (const auto& [text, value] : good) {
        std::int32_t depth = -1;
        EXPECT_TRUE(TScanCommand::ParseDepth(text, depth)) << text;
        EXPECT_EQ(depth, value) << text;
    }
    for (const std::string text : {"", "-1", "+1", " 1", "1 ", "1x", "2147483648", "99999999999"}) {
        std::int32_t depth = -1;
        EXPECT_FALSE(TScanCommand::ParseDepth(text, depth)) << text;
        EXPECT_EQ(depth, -1) << text;
    }
}

} // namespace
