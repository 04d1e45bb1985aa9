#include "Slurp.h"
#include "TChildProcess.h"
#include "crawl/TRecordStore.h"
#include "report/TCrawlReport.h"
#include "report/TMarkup.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::unique_ptr<_TObjectType> Object(int id, const std::string& url, int size, int status,
                                     const std::string& type, int count) {
    auto r = std::make_unique<_TObjectType>();
    r->Id = id;
    r->Url = url;
    r->Size = size;
    r->Status = status;
    r->ContentType = type;
    r->Count = count;
    r->Kind = KIND_OBJECT;
    return r;
}

struct Report : ::testing::Test {
    TRecordStore store;
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("marrowby-report-" + std::to_string(getpid())) / "nested";
    void SetUp() override {
        store.AddPageRow({1, 0, "http://h", 120, 200, "text/html", TVerdict::Fine, "200 OK"});
        store.AddPageRow({-1, 1, "http://h/gone.html", -1, 404, "NotFound", TVerdict::Broken,
                          "connection refused"});
        // Map order is by address; the report is by id.
        Add(Object(2, "http://h/a,b.png", 10, 200, "image/png", 1), TVerdict::Redirected,
            "301 Moved Permanently to http://h/c.png");
        Add(Object(1, "http://h/b.gif", -1, 404, "Not Found", 3), TVerdict::Broken,
            "404 Not Found");
        TExternalRow& other = store.AddExternal("http://other/x", 1);
        other.Status = 503;
        other.Type = "text/html";
        other.Verdict = TVerdict::Unverifiable;
        other.Reason = "503 Service Unavailable, after 2 retries";
        store.ApplyExternal();
        Merge("http://h", {{"http://h/b.gif", KIND_OBJECT, 3, false, 2},
                           {"http://h/a.html", KIND_PAGE, 2, true, 1},
                           {"http://other/x", KIND_PAGE, 1, false, 70000}});
        Merge("http://h/a.html", {{"http://h/b.gif", KIND_OBJECT, 1, false, 9},
                                  {"http://h/b.gif", KIND_PAGE, 1, true, 5}});
    }
    void Add(std::unique_ptr<_TObjectType> object, TVerdict verdict, std::string reason) {
        TAddressEntry& entry = store.Entry(object->Url);
        entry.Object = std::move(object);
        entry.Verdict = verdict;
        entry.Reason = store.Keep(reason);
    }
    struct TFound {
        std::string Url;
        std::int16_t Kind;
        std::int32_t Count;
        bool Internal;
        std::uint32_t Line;
    };
    // A page's merge as the crawl makes it: objects first, listed after the anchors.
    void Merge(const std::string& page, const std::vector<TFound>& found) {
        store.BeginMerge(page);
        for (const TFound& link : found)
            store.AddReference(link.Url, link.Kind, link.Count, link.Internal, link.Line);
        store.EndMerge();
    }
    void TearDown() override { std::filesystem::remove_all(dir.parent_path()); }
};

// Every table ends with the verdict and the reason: of the row's address in
// links.csv and referrers.csv, none for an address never asked for.
TEST_F(Report, WritesTheFiles) {
    ASSERT_EQ(TCrawlReport::Write(store, dir.string()), "");
    EXPECT_EQ(Slurp(dir / "pages.csv"),
              "Id,Depth,URI,Size,Status,Type,Verdict,Reason\r\n"
              "1,0,http://h,120,200,text/html,fine,200 OK\r\n"
              "-1,1,http://h/gone.html,-1,404,NotFound,broken,connection refused\r\n");
    EXPECT_EQ(Slurp(dir / "objects.csv"),
              "Id,URI,Size,Status,Type,Count,Verdict,Reason\r\n"
              "1,http://h/b.gif,-1,404,Not Found,3,broken,404 Not Found\r\n"
              "2,\"http://h/a,b.png\",10,200,image/png,1,redirected,301 Moved Permanently to "
              "http://h/c.png\r\n");
    EXPECT_EQ(Slurp(dir / "links.csv"),
              "Page,Kind,URI,Count,Scope,Verdict,Reason\r\n"
              "http://h,anchor,http://h/a.html,2,internal,,\r\n"
              "http://h,anchor,http://other/x,1,external,unverifiable,"
              "\"503 Service Unavailable, after 2 retries\"\r\n"
              "http://h,object,http://h/b.gif,3,,broken,404 Not Found\r\n"
              "http://h/a.html,anchor,http://h/b.gif,1,internal,broken,404 Not Found\r\n"
              "http://h/a.html,object,http://h/b.gif,1,,broken,404 Not Found\r\n");
    // The (URI, Page) pairs of links.csv, by address in order of discovery,
    // each with its line; a page that both links to and embeds an address
    // shows its first line where it is used.
    EXPECT_EQ(Slurp(dir / "referrers.csv"),
              "URI,Page,Line,Verdict,Reason\r\n"
              "http://h/b.gif,http://h,2,broken,404 Not Found\r\n"
              "http://h/b.gif,http://h/a.html,9,broken,404 Not Found\r\n"
              "http://h/b.gif,http://h/a.html,5,broken,404 Not Found\r\n"
              "http://h/a.html,http://h,1,,\r\n"
              "http://other/x,http://h,70000,unverifiable,\"503 Service Unavailable, after 2 "
              "retries\"\r\n");
    EXPECT_EQ(Slurp(dir / "external.csv"),
              "Id,URI,Status,Size,Type,Count,Verdict,Reason\r\n"
              "1,http://other/x,503,0,text/html,1,unverifiable,\"503 Service Unavailable, after 2 "
              "retries\"\r\n");
    store.Entry("http://h").Page = Object(1, "http://h", 0, 200, "", 0);
    EXPECT_EQ(store.ReferrersOf("http://h/b.gif"),
              (std::vector<TReferrer>{{1, "http://h", 2}, {0, "http://h/a.html", 5}}));
}

TEST_F(Report, NamesTheFileItCannotWriteAndWhy) {
    std::filesystem::create_directories(dir / "links.csv"); // a folder in its place
    const std::string error = TCrawlReport::Write(store, dir.string());
    EXPECT_EQ(error.rfind("cannot write " + (dir / "links.csv").string() + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), ("cannot write " + (dir / "links.csv").string() + ": ").size());
    std::filesystem::remove_all(dir);
    std::ofstream(dir.string()) << "a file where the folder should be";
    EXPECT_NE(TCrawlReport::Write(store, dir.string()), "");
}

// The rows go to the file in pieces: a file that the disk cuts short is an
// error naming the system's reason, the process goes on (no SIGXFSZ), and the
// last report stays whole, every file of it; without the limit every row
// arrives.
TEST_F(Report, AReportCutShortIsAnErrorAndKeepsTheLastSet) {
    ASSERT_EQ(TCrawlReport::Write(store, dir.string()), "");
    std::vector<std::string> before;
    for (const std::string& name : TCrawlReport::FileNames())
        before.push_back(Slurp(dir / name));
    store.AddPageRow({2, 1, "http://h/many", 10, 200, "text/html", TVerdict::Fine, "200 OK"});
    store.BeginMerge("http://h/many");
    for (int i = 0; i < 5000; ++i)
        store.AddReference("http://h/p" + std::to_string(i) + ".html", KIND_PAGE, 1, true, 1);
    store.EndMerge();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 150 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string error = TCrawlReport::Write(store, dir.string());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(error, "cannot write " + (dir / "links.csv").string() + ": File too large");
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(Slurp(dir / TCrawlReport::FileNames()[i]), before[i]) << i;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}),
              std::ssize(TCrawlReport::FileNames())); // no leftovers

    ASSERT_EQ(TCrawlReport::Write(store, dir.string()), "");
    const std::string after = Slurp(dir / "links.csv");
    EXPECT_EQ(after.rfind(before[2], 0), 0u);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 5000 + 6);
    EXPECT_TRUE(after.ends_with("http://h/many,anchor,http://h/p4999.html,1,internal,,\r\n"));
}

// Rows let go of to a crawl file that cannot give them back make no report:
// the last set stays.
TEST_F(Report, RowsTheCrawlFileCannotGiveBackAreAnErrorAndKeepTheLastSet) {
    ASSERT_EQ(TCrawlReport::Write(store, dir.string()), "");
    const std::string links = Slurp(dir / "links.csv");
    struct TLost : TRowReader {
        bool ReadLinks(std::size_t, std::size_t, const TLinkVisit&) const override { return false; }
        bool ReadPages(std::size_t, std::size_t, const TPageVisit&) const override { return false; }
        bool ReadReferences(std::int32_t, std::size_t, const TReferenceVisit&) const override {
            return false;
        }
    } lost;
    store.Release(&lost, store.MergesEnded());
    EXPECT_EQ(TCrawlReport::Write(store, dir.string()),
              "cannot write the report: the crawl file cannot be read back");
    EXPECT_EQ(Slurp(dir / "links.csv"), links);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}),
              std::ssize(TCrawlReport::FileNames())); // no leftovers
}

// A report file that is a symbolic link is replaced by the report; what it
// pointed to is left alone.
TEST_F(Report, ALinkInPlaceOfAReportFileIsReplacedNotFollowed) {
    std::filesystem::create_directories(dir);
    const std::filesystem::path victim = dir.parent_path() / "victim.txt";
    std::ofstream(victim) << "keep me";
    std::filesystem::create_symlink(victim, dir / "pages.csv");
    ASSERT_EQ(TCrawlReport::Write(store, dir.string()), "");
    EXPECT_EQ(Slurp(victim), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "pages.csv"));
    EXPECT_EQ(
        Slurp(dir / "pages.csv").rfind("Id,Depth,URI,Size,Status,Type,Verdict,Reason\r\n1,0,", 0),
        0u);
}

// A merge cut short (a stop, memory running out) is written as far as it
// went, the same pairs in links.csv and referrers.csv.
TEST_F(Report, AMergeCutShortIsWrittenAsFarAsItWentInEveryFile) {
    store.BeginMerge("http://h/cut");
    store.AddReference("http://h/b.gif", KIND_OBJECT, 1, false, 3);
    store.AddReference("http://h/c.html", KIND_PAGE, 1, true, 4);
    ASSERT_EQ(TCrawlReport::Write(store, dir.string()), "");
    EXPECT_TRUE(Slurp(dir / "links.csv")
                    .ends_with("http://h/a.html,object,http://h/b.gif,1,,broken,404 Not Found\r\n"
                               "http://h/cut,anchor,http://h/c.html,1,internal,,\r\n"
                               "http://h/cut,object,http://h/b.gif,1,,broken,404 Not Found\r\n"));
    const std::string referrers = Slurp(dir / "referrers.csv");
    EXPECT_TRUE(referrers.find("http://h/b.gif,http://h/a.html,5,broken,404 Not Found\r\n"
                               "http://h/b.gif,http://h/cut,3,broken,404 Not Found\r\n"
                               "http://h/a.html,http://h,1,,\r\n") != std::string::npos)
        << referrers;
    EXPECT_TRUE(referrers.ends_with("http://h/c.html,http://h/cut,4,,\r\n")) << referrers;
    // Gone on with (the window's Enter after a stop), the crawl's next merge
    // ends that one as far as it went: its anchors stay in links.csv.
    store.BeginMerge("http://h/next");
    store.EndMerge();
    ASSERT_EQ(TCrawlReport::Write(store, dir.string()), "");
    EXPECT_TRUE(Slurp(dir / "links.csv")
                    .ends_with("http://h/cut,anchor,http://h/c.html,1,internal,,\r\n"
                               "http://h/cut,object,http://h/b.gif,1,,broken,404 Not Found\r\n"));
    EXPECT_EQ(Slurp(dir / "referrers.csv"), referrers);
}

// Text a server or a page sends reaches report.json as a valid JSON string:
// quotes, backslashes and control characters escaped, bytes that are no
// UTF-8 replaced; numbers stay numbers.
TEST_F(Report, TheJsonReportHoldsAnyTextAsValidJson) {
    const std::string bad = "\xef\xbf\xbd"; // U+FFFD
    const struct {
        std::string sent, read;
    } table[] = {
        {"a\"b\\c", "a\"b\\c"},
        {"x\r\n\t\x01\x7f", "x\r\n\t\x01\x7f"},
        {"caf\xc3\xa9 \xed\x95\x9c \xf0\x9f\x98\x80", "caf\xc3\xa9 \xed\x95\x9c \xf0\x9f\x98\x80"},
        {"\xff\xc3(\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82",
         bad + bad + "(" + bad + bad + bad + bad + bad + bad + bad + bad + bad},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.sent);
        store.Entry("http://h/b.gif").Object->ContentType = row.sent;
        ASSERT_EQ(TCrawlReport::Write(store, dir.string(), {"json"},
                                      {"http://h", "", "", {{"delay", "5"}}, {}, {}}),
                  "");
        QJsonParseError error{};
        const QJsonObject json =
            QJsonDocument::fromJson(QByteArray::fromStdString(Slurp(dir / "report.json")), &error)
                .object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        const QJsonObject object = json.value("objects").toArray().at(0).toObject();
        EXPECT_EQ(object.value("Type").toString().toStdString(), row.read);
        EXPECT_EQ(object.value("Count").toInt(), 3);
        // Each page using it once, with the first line (of a link and an image).
        EXPECT_EQ(QJsonDocument(object.value("UsedOn").toArray()).toJson(QJsonDocument::Compact),
                  R"([{"Line":2,"Page":"http://h"},{"Line":5,"Page":"http://h/a.html"}])");
        EXPECT_EQ(json.value("options").toObject().value("delay").toInt(), 5);
        // Each distinct address once: two pages, two objects, one link elsewhere.
        EXPECT_EQ(QJsonDocument(json.value("verdicts").toObject()).toJson(QJsonDocument::Compact),
                  R"({"broken":2,"fine":1,"redirected":1,"unverifiable":1})");
        EXPECT_TRUE(json.value("started").isNull());
    }
}

// What a page or a server sends stays text in report.html and junit.xml: no
// tag, attribute, script or link of its own (Python's HTML parser lists every
// tag and attribute the browser would see); junit.xml stays valid against
// the JUnit schema, the characters XML forbids dropped.
TEST_F(Report, TheHtmlAndJUnitReportsKeepHostileTextAsText) {
    const struct {
        std::string address, type, reason;
    } table[] = {
        {"http://h/\"><script>alert(1)</script>", "text/html\"><script>alert(2)</script>",
         "<b onclick=alert(3)>"},
        {"javascript:alert(4)//http://h", "'><img src=x onerror=alert(5)>",
         "a\x01\x1b\xff]]></failure>"},
        {"http://h/a'b\" onmouseover=\"alert(6)", "</style><style>*{display:none}",
         "\xef\xbf\xbe&amp;"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.address);
        TAddressEntry& entry = store.Entry(row.address);
        entry.Object = Object(3, row.address, 1, 404, row.type, 1);
        entry.Verdict = TVerdict::Broken;
        entry.Reason = store.Keep(row.reason);
        Merge(row.address, {{row.address, KIND_OBJECT, 1, false, 7}});
        ASSERT_EQ(TCrawlReport::Write(store, dir.string(), {"html", "junit"},
                                      {row.address, "", "", {{row.type, row.reason}}, {}, {}}),
                  "");
        const std::string html = Slurp(dir / "report.html");
        EXPECT_EQ(html.find("<script>alert"), std::string::npos);
        EXPECT_NE(html.find(TMarkup::Escaped(row.address)), std::string::npos);
        TChildProcess parse("/usr/bin/python3", {"-c", R"(
import html.parser, sys
class Tags(html.parser.HTMLParser):
    def handle_starttag(self, tag, attrs):
        print(tag, '-', '-')
        for name, value in attrs:
            print(tag, name, value if name == 'href' else '-')
Tags().feed(open(sys.argv[1], encoding='utf-8').read())
)",
                                                 (dir / "report.html").string()});
        ASSERT_TRUE(parse.Start());
        ASSERT_TRUE(parse.Wait(std::chrono::seconds(30)));
        std::istringstream tags(parse.Out());
        std::set<std::string> seen;
        int scripts = 0;
        for (std::string line; std::getline(tags, line);) {
            std::istringstream fields(line);
            std::string tag, name, value;
            fields >> tag >> name >> value;
            seen.insert(tag);
            scripts += tag == "script" && name == "-";
            EXPECT_FALSE(name.starts_with("on")) << line;
            if (name == "href") {
                EXPECT_TRUE(value.starts_with("http://")) << line;
            }
        }
        const std::set<std::string> ours{
            "html",   "head",       "meta",    "title",   "style", "body",  "header", "h1", "a",
            "h2",     "h3",         "section", "dl",      "dt",    "dd",    "div",    "p",  "b",
            "figure", "figcaption", "svg",     "text",    "rect",  "table", "thead",  "tr", "th",
            "tbody",  "td",         "details", "summary", "span",  "script"};
        EXPECT_TRUE(std::includes(ours.begin(), ours.end(), seen.begin(), seen.end()));
        EXPECT_EQ(scripts, 1);

        TChildProcess lint("/usr/bin/xmllint", {"--noout", "--schema", MARROWBY_JUNIT_XSD,
                                                (dir / "junit.xml").string()});
        ASSERT_TRUE(lint.Start());
        ASSERT_TRUE(lint.Wait(std::chrono::seconds(30)));
        EXPECT_EQ(lint.ExitCode(), 0) << lint.Err();
        const std::string junit = Slurp(dir / "junit.xml");
        EXPECT_EQ(junit.find('\x01'), std::string::npos);
        EXPECT_NE(junit.find("<failure message=\""), std::string::npos);
    }
}

// A start address that fails is a failure of its own, whatever else there
// is: CI must not pass a site that could not be read at all.
TEST(JUnitReport, AStartThatFailsIsAFailure) {
    TRecordStore store;
    store.Entry("http://h").Page = std::make_unique<_TObjectType>();
    store.AddPageRow(
        {-1, 0, "http://h", -1, 404, "NotFound", TVerdict::Broken, "connection refused"});
    std::ostringstream out;
    TReport report;
    report.Records = &store;
    TCrawlReport::Writer("junit")->Write(0, report, out);
    EXPECT_NE(out.str().find("<testsuites name=\"marrowby\" tests=\"1\" failures=\"1\""),
              std::string::npos);
    EXPECT_NE(out.str().find("<testcase name=\"http://h\" classname=\"page\">\n      <failure "
                             "message=\"connection refused\" type=\"none\">"),
              std::string::npos)
        << out.str();
}

// The exit code's question: broken, and with strict also unverifiable; each
// address counted once, whichever of its rows comes first.
TEST_F(Report, CountsEachAddressOnceByItsVerdict) {
    using TCounts = std::array<std::size_t, TVerdicts::Count>;
    EXPECT_EQ(TCrawlReport::CountVerdicts(store), (TCounts{1, 1, 1, 2}));
    EXPECT_TRUE(TCrawlReport::HasBrokenRows(store));
    TRecordStore unsure;
    unsure.AddPageRow(
        {1, 0, "http://h", 1, 503, "", TVerdict::Unverifiable, "503 Service Unavailable"});
    unsure.AddPageRow({1, 0, "http://h", 1, 404, "", TVerdict::Broken, "404 Not Found"});
    EXPECT_EQ(TCrawlReport::CountVerdicts(unsure), (TCounts{0, 0, 1, 0}));
    EXPECT_FALSE(TCrawlReport::HasBrokenRows(unsure));
    EXPECT_TRUE(TCrawlReport::HasBrokenRows(unsure, true));
}

} // namespace
