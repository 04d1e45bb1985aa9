// The document scan and the skip file.

#include "ParserTestSupport.h"
#include "platform/EFOpenError.h"
#include "platform/TLineReader.h"

#include <cctype>
#include <unistd.h>

namespace {

const std::string D = "http://host/d1/d2/";

std::vector<std::string> Urls(const std::vector<_TObjectType*>& records) {
    std::vector<std::string> urls;
    for (const _TObjectType* record : records)
        urls.push_back(record->Url);
    return urls;
}

struct TScanCase {
    std::string Page;
    std::vector<std::string> Anchors;
    std::vector<std::string> Objects;
};

TEST(ParserScan, Pages) {
    TSkipFile skip({});
    const std::string hundredTags = [] {
        std::string s;
        for (int i = 0; i < 100; ++i)
            s += "<b>";
        return s;
    }();
    const std::vector<TScanCase> cases = {
        {"<p><a href=x>one</a> and more text", {D + "x"}, {}},
        // Markup inside a script is not read.
        {"<script>if (a<b) s=1; /* <a href=y> */</script><img src=z> end", {}, {D + "z"}},
        {"<script>x</Script><img src=a>", {}, {D + "a"}},
        {"<script><img src=no></SCRIPT><img src=yes>", {}, {D + "yes"}},
        // An unclosed script skips the 8 characters after it, no more.
        {"<SCRIPT>12345678<img src=z>", {}, {D + "z"}},
        {"<SCRIPT>1234567<img src=z>", {}, {}},
        {"<script src=s.js><a href=x.html>", {}, {D + "s.js"}},
        {"<img\r\nsrc=a.gif>", {}, {D + "a.gif"}},
        {"<a\rhref=x.html\n>", {D + "x.html"}, {}},
        {"<!-- <a href=x> --><a href=y>", {D + "y"}, {}},
        {"<!DOCTYPE html><a href=x>", {D + "x"}, {}},
        {"<><a href=x>< x><a href=y>", {D + "x", D + "y"}, {}},
        // The last tag of a page is read, however many tags come before it.
        {"<a href=only.html>", {D + "only.html"}, {}},
        {"<b>x</b><a href=last.html>", {D + "last.html"}, {}},
        {hundredTags + "<a href=last.html>", {D + "last.html"}, {}},
        {"<b>text</b><script></script>", {}, {}},
        // A stray ">" is passed over and the next tag is still read.
        {"a > b <a href=x.html>", {D + "x.html"}, {}},
        {"<script></script> a > b <a href=x.html>", {D + "x.html"}, {}},
        {"<p>   x > <a href=y.html>", {D + "y.html"}, {}},
        {"<a href=x>>>>><img src=y>", {D + "x"}, {D + "y"}},
        // Nothing, or nothing that closes.
        {"plain text", {}, {}},
        {"", {}, {}},
        {"<a href=x><", {D + "x"}, {}},
        {"<a href=x.html", {}, {}},
        {"<<<<a href=x>", {}, {}},
    };
    for (const TScanCase& c : cases) {
        SCOPED_TRACE(c.Page);
        const auto parser = ParsePage(c.Page);
        EXPECT_EQ(Urls(parser->Anchors()), c.Anchors);
        EXPECT_EQ(Urls(parser->Objects()), c.Objects);
    }
}

TEST(ParserScan, KeepsOnlyMatchedTagsInPageOrder) {
    TSkipFile skip({});
    const auto parser = ParsePage("<p><a href=x>one</a> <img src=i.gif> <a name=n>");
    ASSERT_EQ(parser->Tags().size(), 2u);
    EXPECT_STREQ(parser->Tags()[0]->Name.get(), "A");
    EXPECT_STREQ(parser->Tags()[1]->Name.get(), "IMG");
}

TEST(ParserScan, FreshParserAndNoAddress) {
    TSkipFile skip({});
    THtmlParser parser(nullptr);
    EXPECT_EQ(parser.PageUrl(), "0");
    EXPECT_FALSE(parser.UrlSet());
    EXPECT_EQ(parser.Depth(), 0);
    ASSERT_NE(parser.Tree(), nullptr);
    EXPECT_TRUE(parser.Tree()->Root == nullptr && parser.Tree()->Current == nullptr &&
                !parser.Tree()->Built);
    parser.SetDocument("<a href=x.html><img src=i.gif>");
    parser.Parse();
    EXPECT_TRUE(parser.Anchors().empty() && parser.Objects().empty() && parser.Tags().empty());
}

TEST(ParserSkipFile, MissingFileFailsConstruction) {
    for (const std::string name : {"no-such-skip-file.txt", "/nonexistent/dir/TTags.txt"}) {
        SCOPED_TRACE(name);
        const std::string previous = THtmlParser::SkipFileName();
        THtmlParser::SetSkipFileName(name);
        try {
            THtmlParser parser(nullptr);
            ADD_FAILURE() << "constructed without a skip file";
        } catch (const EFOpenError& error) {
            EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
        }
        THtmlParser::SetSkipFileName(previous);
    }
}

TEST(ParserSkipFile, LinesAreTakenAsWrittenWithoutLineEndingCr) {
    TSkipFile skip({"br", " p", "", "img"}, "\r\n");
    const auto parser = ParsePage("<img src=a.gif><IMG src=b.gif><p href=x>");
    EXPECT_EQ(parser->SkipTags(), (std::vector<std::string>{"br", " p", "", "img"}));
    EXPECT_EQ(Urls(parser->Objects()), std::vector<std::string>{D + "b.gif"});
}

// The working directory comes first; without a file there, the one beside
// the executable (the build copies the default list next to the tests).
TEST(ParserSkipFile, LookupInWorkingDirectoryThenBesideExecutable) {
    const std::string previousName = THtmlParser::SkipFileName();
    const auto previousDir = std::filesystem::current_path();
    const auto dir =
        std::filesystem::temp_directory_path() / ("marrowby-cwd-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    THtmlParser::SetSkipFileName("TTags.txt");

    const auto shipped = TLineReader::LoadFromFile(MARROWBY_SKIP_FILE);
    ASSERT_TRUE(shipped.Ok);
    EXPECT_EQ(THtmlParser(nullptr).SkipTags(), shipped.Lines);
    std::ofstream(dir / "TTags.txt") << "zzz\n";
    EXPECT_EQ(THtmlParser(nullptr).SkipTags(), std::vector<std::string>{"zzz"});

    std::filesystem::current_path(previousDir);
    std::filesystem::remove_all(dir);
    THtmlParser::SetSkipFileName(previousName);
}

TEST(ParserSkipFile, ShippedListHoldsNoLinkTag) {
    const auto shipped = TLineReader::LoadFromFile(MARROWBY_SKIP_FILE);
    ASSERT_TRUE(shipped.Ok);
    ASSERT_FALSE(shipped.Lines.empty());
    const std::vector<std::string> linkTags = {"A",      "AREA",    "FRAME",  "IMG",    "INPUT",
                                               "BODY",   "TABLE",   "MAP",    "OBJECT", "EMBED",
                                               "IFRAME", "BGSOUND", "SCRIPT", "APPLET", "LINK"};
    for (const std::string& line : shipped.Lines) {
        SCOPED_TRACE(line);
        ASSERT_FALSE(line.empty());
        std::string upper;
        for (char c : line) {
            ASSERT_GT(static_cast<unsigned char>(c), 32);
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(std::find(linkTags.begin(), linkTags.end(), upper), linkTags.end());
    }
}

} // namespace
