// The document scan and the skip file.

#include "ParserTestSupport.h"
#include "platform/EFOpenError.h"
#include "platform/TLineReader.h"

#include <set>

namespace {

struct TScanCase {
    std::string Page, Anchors, Objects;
};

TEST(ParserScan, Pages) {
    TSkipFile skip({});
    const std::vector<TScanCase> cases = {
        {"<p><a href=x>one</a> and more text", "x", ""},
        // Comments and the content of raw-text elements hold no tags.
        {"<!-- <a href=old.html> --><!DOCTYPE html><a href=y>", "y", ""},
        {"<!--><a href=a><!---><a href=b><!-- x --!><a href=c><!-- -- > <a href=no>", "a b c", ""},
        {"<style>a[x='<a href=s>']</style><textarea><a href=t></textarea><title><a href=u>"
         "</title><xmp><a href=v></xmp><noembed><a href=w></noembed><noframes><a href=n>"
         "</noframes><a href=yes>",
         "yes", ""},
        {"<script>if (a<b) s=1; /* <a href=y> */</script><img src=z> end", "", "z"},
        {"<script><img src=no></Script ><img src=yes>", "", "yes"},
        {"<script><img src=no></scripts><img src=no2></script\t><img src=yes>", "", "yes"},
        {"<SCRIPT>12345678<img src=z>", "", ""}, // unclosed: the rest is the script's
        {"<plaintext></plaintext><a href=x>", "", ""},
        // End tags, bogus comments and stray "<" and ">".
        {"</a title='>' ><a href=x></ a href=y><?php <a href=z ?><a href=w>", "x w", ""},
        {"<a\rhref=x.html\r\n><img\nsrc=i.gif>", "x.html", "i.gif"},
        {"<><a href=x>< x><a href=y>", "x y", ""},
        {"<a href=only.html>", "only.html", ""},
        {std::string(300, ' ') + "<b><b><b><b><b><b><b><b><b><b><a href=last.html>", "last.html",
         ""},
        {"a > b <a href=x.html>", "x.html", ""},
        {"<a href=x>>>>><img src=y>", "x", "y"},
        // Nothing, or nothing that closes.
        {"plain text", "", ""},
        {"<a href=x><", "x", ""},
        {"<a href=x.html", "", ""},
        {"<a title='x><a href=y>", "", ""},
    };
    for (const TScanCase& c : cases) {
        SCOPED_TRACE(c.Page);
        const auto parser = ParsePage(c.Page);
        EXPECT_EQ(Describe(*parser, true), c.Anchors);
        EXPECT_EQ(Describe(*parser, false), c.Objects);
    }
}

// Every address keeps one record, in the order first met, however many a
// page holds.
TEST(ParserScan, ManyAddresses) {
    TSkipFile skip({});
    std::string page, expected;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 3000; ++i)
            page += "<a href=p" + std::to_string(i) + ".html>";
    for (int i = 0; i < 3000; ++i)
        expected += (i ? " p" : "p") + std::to_string(i) + ".html*2";
    EXPECT_EQ(Describe(*ParsePage(page), true), expected);
}

// "address@line ..." of one list, TestDir left out.
std::string Lines(const THtmlParser& p, bool anchors) {
    const auto& records = anchors ? p.Anchors() : p.Objects();
    const auto& lines = anchors ? p.AnchorLines() : p.ObjectLines();
    EXPECT_EQ(records.size(), lines.size());
    std::string text;
    for (std::size_t i = 0; i < records.size() && i < lines.size(); ++i)
        text += (text.empty() ? "" : " ") + records[i]->Url.substr(TestDir.size()) + "@" +
                std::to_string(lines[i]);
    return text;
}

// Each address has the line of the "<" of the tag where it first occurs.
TEST(ParserScan, LineOfTheFirstOccurrence) {
    TSkipFile skip({});
    const std::vector<TScanCase> cases = {
        {"<a href=x>\n<a href=y>\n\n<a href=x><img src=i>", "x@1 y@2", "i@4"},
        {"a\r\nb\r\n<a href=x>\r\n<a href=y>", "x@3 y@4", ""},
        {"\r\r<a href=x>\r<a href=y>\n\r<a href=z>", "x@3 y@4 z@6", ""},
        {"\n\r\n\r<a href=x>", "x@4", ""},
        // A tag spread over lines is on the line of its "<".
        {"<p>\n<a\nhref\n=\nx\n>\n<img\r\nsrc=i\r\nsrcset=\"j 1x,\r\nk 2x\">", "x@2",
         "i@7 j@7 k@7"},
        // Lines in comments, scripts and attribute values count too.
        {"<!--\n\n--><script>\n</script><a title='\n' href=x><a href=y>", "x@4 y@5", ""},
        // A base met late: the page is read again, and its lines with it.
        {"<a href=x>\n<base href=" + TestDir + "d/>\n<a href=y>", "d/x@1 d/y@3", ""},
        {std::string(40, '\n') + "<a href=x>" + std::string(17, '\r') + "<a href=y>", "x@41 y@58",
         ""},
    };
    for (const TScanCase& c : cases) {
        SCOPED_TRACE(c.Page);
        const auto parser = ParsePage(c.Page);
        EXPECT_EQ(Lines(*parser, true), c.Anchors);
        EXPECT_EQ(Lines(*parser, false), c.Objects);
    }
    // Line ends of every kind at every place of a block of sixteen bytes.
    std::string page, expected;
    const char* const ends[] = {"\n", "\r\n", "\r", "x", "\n\r", "xyz\r\n\r\r"};
    for (int i = 0; i < 300; ++i) {
        for (int j = 0; j <= i % 5; ++j)
            page += ends[(i * 7 + j) % 6];
        int line = 1;
        for (std::size_t k = 0; k < page.size(); ++k)
            line += page[k] == '\n' ||
                    (page[k] == '\r' && (k + 1 == page.size() || page[k + 1] != '\n'));
        page += "<a href=" + std::to_string(i) + ">";
        expected += (i ? " " : "") + std::to_string(i) + "@" + std::to_string(line);
    }
    EXPECT_EQ(Lines(*ParsePage(page), true), expected);
}

// The first BASE with an HREF sets the base of every link of the page.
TEST(ParserScan, BaseHref) {
    TSkipFile skip({"base"});
    const std::vector<TScanCase> cases = {
        {"<BASE HREF=http://other/x/><a href=a.html>", "http://other/x/a.html", ""},
        {"<Base href=../b/><a href=a.html><a href=/r.html>",
         "http://host/d1/b/a.html http://host/r.html", ""},
        {"<Base href=https://s/p/q.html><img src=i.gif>", "", "https://s/p/i.gif"},
        {"<a href=a.html><img srcset=i.gif><Base href=/b/>", "http://host/b/a.html",
         "http://host/b/i.gif"},
        {"<a href=a.html><\tBase href=/b/>", "a.html", ""}, // no tag: "<" and a tab
        {"<Base href=/one/><Base href=/two/><a href=a.html>", "http://host/one/a.html", ""},
        {"<Base target=_top><Base href=/two/><a href=a.html>", "http://host/two/a.html", ""},
        // An HREF that resolves to nothing leaves the page's address; no later BASE counts.
        {"<Base href=\"\"><a href=a.html>", "a.html", ""},
        {"<Base href=#top><Base href=/two/><a href=a.html>", "a.html", ""},
        {"<Base href=mailto:x@y><Base href=/two/><a href=a.html>", "a.html", ""},
        // Only tags the scan reads count; a skipped one does not.
        {"<script><Base href=/no/></script><a href=a.html>", "a.html", ""},
        {"<base href=/no/><a href=a.html>", "a.html", ""},
        {"<Base href=/b/>", "", ""},
    };
    for (const TScanCase& c : cases) {
        SCOPED_TRACE(c.Page);
        const auto parser = ParsePage(c.Page);
        EXPECT_EQ(Describe(*parser, true), c.Anchors);
        EXPECT_EQ(Describe(*parser, false), c.Objects);
    }
}

TEST(ParserSkipFile, MissingFileFailsConstruction) {
    const std::string previous = THtmlParser::SkipFileName();
    for (const std::string name : {"no-such-skip-file.txt", "/nonexistent/TTags.txt"}) {
        THtmlParser::SetSkipFileName(name);
        try {
            THtmlParser parser(nullptr);
            ADD_FAILURE() << "constructed without " << name;
        } catch (const EFOpenError& error) {
            EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
        }
    }
    THtmlParser::SetSkipFileName(previous);
}

TEST(ParserSkipFile, LinesAsWrittenWithoutLineEndingCr) {
    TSkipFile skip({"br", " p", "", "img"}, "\r\n");
    const auto parser = ParsePage("<img src=a.gif><IMG src=b.gif>");
    EXPECT_EQ(parser->SkipTags(), (std::vector<std::string>{"br", " p", "", "img"}));
    EXPECT_EQ(Describe(*parser, false), "b.gif");
}

// The working directory comes first, then the directory of the executable
// (the build copies the shipped list next to the tests).
TEST(ParserSkipFile, WorkingDirectoryThenBesideExecutable) {
    const std::string previousName = THtmlParser::SkipFileName();
    const auto previousDir = std::filesystem::current_path();
    const auto dir =
        std::filesystem::temp_directory_path() / ("marrowby-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    THtmlParser::SetSkipFileName("TTags.txt");

    const TLineReadResult shipped = TLineReader::LoadFromFile(MARROWBY_SKIP_FILE);
    EXPECT_EQ(THtmlParser(nullptr).SkipTags(), shipped.Lines);
    std::ofstream(dir / "TTags.txt") << "zzz\n";
    EXPECT_EQ(THtmlParser(nullptr).SkipTags(), std::vector<std::string>{"zzz"});

    std::filesystem::current_path(previousDir);
    std::filesystem::remove_all(dir);
    THtmlParser::SetSkipFileName(previousName);

    // The shipped list must never hide a tag of the link table, or BASE, in
    // any case.
    const std::set<std::string> linkTags = {
        "A",    "AREA",   "FRAME", "IMG",    "INPUT",   "BODY",   "TABLE",
        "MAP",  "OBJECT", "EMBED", "IFRAME", "BGSOUND", "SCRIPT", "APPLET",
        "LINK", "SOURCE", "VIDEO", "AUDIO",  "TRACK",   "META",   "BASE"};
    ASSERT_FALSE(shipped.Lines.empty());
    for (std::string line : shipped.Lines) {
        for (char& c : line)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_FALSE(line.empty() || linkTags.count(line)) << line;
    }
}

} // namespace
