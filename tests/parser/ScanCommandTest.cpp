// marrowby --scan: a local page in, CSV out.

#include "ParserTestSupport.h"
#include "app/TScanCommand.h"

#include <sstream>

#include <unistd.h>

namespace {

const std::string SamplePage = std::string(PARSER_TEST_DATA) + "/page.html";

struct TRun {
    int Code;
    std::string Out, Err;
};

// Standard input is a pipe holding in (a few kilobytes at most).
TRun Scan(const std::string& file, const std::string& base, int depth, const std::string& in = "") {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], in.data(), in.size()), static_cast<ssize_t>(in.size()));
    close(fds[1]);
    std::ostringstream out, err;
    const int code = TScanCommand::Run(file, base, depth, fds[0], out, err);
    close(fds[0]);
    return {code, out.str(), err.str()};
}

TEST(ParserScanCommand, SamplePageAndStandardInput) {
    TSkipFile skip({"p", "P", "title"});
    const TRun page = Scan(SamplePage, TestBase, 2);
    EXPECT_EQ(page.Code, 0) << page.Err;
    EXPECT_EQ(page.Out, "Kind,URI,Count,Depth\r\n"
                        "anchor,http://host/d1/d2/x.html,2,3\r\n"
                        "anchor,http://host/d1/d2/sub,2,3\r\n"
                        "anchor,http://host/d1/up.html,1,3\r\n"
                        "anchor,https://other.example/Path,1,3\r\n"
                        "anchor,http://cdn.example/lib,1,3\r\n"
                        "anchor,\"http://host/d1/d2/a,b.html\",1,3\r\n"
                        "anchor,http://host/d1/d2/say%22hi%22.html,1,3\r\n"
                        "anchor,http://host/d1/d2/last.html,1,3\r\n"
                        "object,http://host/css/site.css,1,0\r\n"
                        "object,http://host/scripts/m.js,1,0\r\n"
                        "object,http://host/d1/d2/img/bg.gif,1,0\r\n"
                        "object,http://host/d1/d2/img/a.gif,2,0\r\n"
                        "object,http://host/d1/d2/frame.html,1,0\r\n"
                        "object,http://host/d1/d2/movie.swf,1,0\r\n");
    const TRun piped = Scan("-", "https://host/d/", 0, "<a href=x.html><img src=/i.gif>");
    EXPECT_EQ(piped.Code, 0) << piped.Err;
    EXPECT_EQ(piped.Out, "Kind,URI,Count,Depth\r\n"
                         "anchor,https://host/d/x.html,1,1\r\n"
                         "object,https://host/i.gif,1,0\r\n");
    const TRun html5 =
        Scan("-", "http://host/d/p.html", 0,
             "<meta http-equiv=refresh content='0; url=next.html'><base href=/b/><picture>"
             "<source srcset='a.webp 1x, b.webp 2x'><img src=i.png srcset='i.png 1x, j.png 2x'>"
             "</picture><video poster=p.jpg><source src=v.mp4><track src=t.vtt></video>"
             "<audio src=a.ogg>");
    EXPECT_EQ(html5.Code, 0) << html5.Err;
    EXPECT_EQ(html5.Out, "Kind,URI,Count,Depth\r\n"
                         "anchor,http://host/b/next.html,1,1\r\n"
                         "object,http://host/b/a.webp,1,0\r\n"
                         "object,http://host/b/b.webp,1,0\r\n"
                         "object,http://host/b/i.png,2,0\r\n"
                         "object,http://host/b/j.png,1,0\r\n"
                         "object,http://host/b/p.jpg,1,0\r\n"
                         "object,http://host/b/v.mp4,1,0\r\n"
                         "object,http://host/b/t.vtt,1,0\r\n"
                         "object,http://host/b/a.ogg,1,0\r\n");
}

TEST(ParserScanCommand, FailuresExitWithOne) {
    for (const std::string file : {"/nonexistent/page.html", PARSER_TEST_DATA}) {
        TSkipFile skip({});
        const TRun run = Scan(file, TestBase, 0); // missing, or a directory
        EXPECT_EQ(run.Code, 1);
        EXPECT_NE(run.Err.find(file), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
    const std::string previous = THtmlParser::SkipFileName();
    THtmlParser::SetSkipFileName("/nonexistent/TTags.txt");
    const TRun run = Scan(SamplePage, TestBase, 0);
    THtmlParser::SetSkipFileName(previous);
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("TTags.txt"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
}

} // namespace
