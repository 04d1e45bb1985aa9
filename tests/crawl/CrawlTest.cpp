// The crawl engine on a local site: rows, records, counters and what it tells
// its listener, Enter in every state, and stopping in every state.
#include "TCrawlDriver.h"
#include "TTestSite.h"

#include "crawl/TSiteKey.h"
#include "parser/THtmlParser.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>

namespace {

Rows GoneRows(const TPageRows& rows) {
    Rows out;
    for (const TGoneRow& r : rows)
        out.push_back({std::to_string(r.Id), std::to_string(r.Depth), r.Url, std::to_string(r.Size),
                       std::to_string(r.Status), r.Type, std::string(TVerdicts::Name(r.Verdict)),
                       r.Reason});
    return out;
}

// The targets asked for, in order; the soft-404 check's address that cannot
// exist (a random name beside the first page) as "marrowby-*.html".
std::vector<std::string> Asked(const TCannedServer& server) {
    std::vector<std::string> asked;
    for (const TReceivedRequest& r : server.Requests()) {
        const std::size_t name = r.Target.find("/marrowby-");
        asked.push_back(name == std::string::npos ? r.Target
                                                  : r.Target.substr(0, name) + "/marrowby-*.html");
    }
    return asked;
}

struct Engine : ::testing::Test {
    TCrawlDriver driver;
    TCrawl& c = *driver.Crawl;
    TRecordingListener& seen = driver.Listener;
    QString Status() const { return seen.Statuses.isEmpty() ? QString() : seen.Statuses.back(); }
};

TEST_F(Engine, StartsIdle) {
    EXPECT_EQ(c.DelaySeconds(), 60);
    EXPECT_EQ(c.DelayTick(), 1u);
    EXPECT_EQ(c.SysTime().interval(), 1000);
    EXPECT_EQ(c.DelayTimer().interval(), 1000);
    EXPECT_FALSE(c.SysTime().isActive());
    EXPECT_FALSE(c.Running());
    c.Enter("  "); // a blank address starts nothing
    EXPECT_FALSE(c.Running());
    EXPECT_TRUE(seen.Statuses.isEmpty());
}

TEST_F(Engine, RoutesEveryCrawlMessageToItsHandler) {
    const struct {
        unsigned msg;
        QString status; // what the handler leaves in the status line
    } table[] = {
        {WM_NAVIGATION_START, "On Navigation Start"},
        {WM_NAVIGATION_END, "On Navigation End"},
        {WM_DOWNLOAD_START, "On Content File DownLoad Start"},
        {WM_PARSE_START, "Parsing을 시작 되었습니다."},
        {WM_DATA_MOVE_END, "쓰레드 Data를 메인으로 옮기는 작업이 끝났습니다."},
        {WM_DATA_MOVE_START, "쓰레드 Data를 메인으로 옮기는 작업이 끝났습니다."}, // sends the end
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.msg);
        seen.Statuses.clear();
        TMessage m{row.msg, 0, 0, 0};
        EXPECT_TRUE(c.Dispatch(m));
        EXPECT_EQ(Status(), row.status);
    }
    // Without a crawl the handlers of a finished worker find nothing to do.
    seen.Statuses.clear();
    for (unsigned msg : {WM_PARSER_END, WM_DOWNLOAD_END, WM_DOWNLOAD_FAILED}) {
        TMessage m{msg, 0, 0, 0};
        EXPECT_TRUE(c.Dispatch(m));
    }
    EXPECT_TRUE(seen.Statuses.isEmpty());
    // Other numbers are left to default handling, posted or sent.
    for (unsigned msg : {1024u, 1031u, 1032u, 1033u, 1034u, 1038u, 2000u}) {
        SCOPED_TRACE(msg);
        TMessage m{msg, 0, 0, 0};
        EXPECT_FALSE(c.Dispatch(m));
        c.Handle()->Post(msg, 0, 0);
    }
    TMessagePump::ProcessMessages();
    EXPECT_TRUE(seen.Statuses.isEmpty());
    EXPECT_TRUE(c.GoneList().empty());
}

TEST_F(Engine, TheClockAndThePauseCountOut) {
    c.SysTimeTimer();
    c.SysTimeTimer();
    EXPECT_EQ(seen.ClockSeconds, 2u);
    EXPECT_TRUE(c.ApplyDelay("3").isEmpty());
    c.DelayTimerTimer();
    EXPECT_EQ(seen.PauseLabel, "2 / 3");
    EXPECT_EQ(seen.PausePosition, 2);
    c.DelayTimerTimer(); // tick 3: the pause is over
    EXPECT_EQ(seen.PauseLabel, "탐색을 재개 합니다");
    EXPECT_EQ(seen.PausePosition, 0);
    EXPECT_EQ(c.DelayTick(), 1u);
    EXPECT_EQ(Status(), "On Navigation Start");
}

TEST_F(Engine, StopBeforeAnyCrawlDetachesTheHandle) {
    c.Stop();
    EXPECT_TRUE(c.Closing());
    EXPECT_FALSE(c.Handle()->Attached());
    c.Stop(); // a second stop changes nothing
    TMessage late{WM_NAVIGATION_START, 0, 0, 0};
    EXPECT_TRUE(c.Dispatch(late));
    EXPECT_TRUE(seen.Statuses.isEmpty());
}

struct Crawl : ::testing::Test {
    TTestSite site;
    TCrawlDriver driver;
    TCrawl& c = *driver.Crawl;
    TRecordingListener& seen = driver.Listener;

    std::string S(const std::string& target) { return std::to_string(site.BodySize[target]); }

    // What the visited-pages report must hold after a whole crawl of the site.
    Rows ExpectedPages() {
        return {
            {"1", "0", site.Home(), S("/"), "200", "text/html", "fine", "200 OK"},
            {"2", "1", site.Url("/a.html"), S("/a.html"), "200", "text/html; charset=UTF-8", "fine",
             "200 OK"},
            {"3", "1", site.Url("/b.html"), S("/b.html"), "200", "text/html", "fine", "200 OK"},
            {"4", "2", site.Url("/doc.txt"), S("/doc.txt"), "200", "text/plain", "fine", "200 OK"},
            {"5", "2", site.Url("/missing.html"), S("/missing.html"), "404", "text/html", "broken",
             "404 Not Found"},
            // A failed page has no id; its depth is one more than a.html's.
            {"-1", "2", site.Gone, "-1", "404", "NotFound", "unverifiable",
             "200 OK, the answer was cut short"},
        };
    }

    void ExpectWholeSite() {
        Rows pages = ExpectedPages();
        EXPECT_EQ(GoneRows(c.Records().PageRows()), pages);
        for (auto& row : pages)
            row.resize(6); // the listener's rows: without the verdict and the reason
        EXPECT_EQ(seen.PageRows, pages);
        EXPECT_EQ(std::vector<std::string>(c.GoneList().begin(), c.GoneList().end()),
                  (std::vector<std::string>{site.Home(), site.Url("/a.html"),
                                                         site.Url("/b.html"), site.Url("/doc.txt"),
                                                         site.Url("/missing.html"), site.Gone}));
        EXPECT_TRUE(c.GoingList().empty());

        // Objects by id: first seen on the first page, in page order.
        const struct {
            std::string url;
            int id, size, status;
            std::string type;
            int count;
        } objects[] = {
            {site.Url("/bg.gif"), 1, 5000, 200, "image/gif", 1},
            {site.Url("/img.gif"), 2, 6, 200, "image/gif", 4}, // 2 on the first page, 1 each on a and b
            {site.Url("/nope.gif"), 3, -1, 404, "Not Found", 1},
        };
        ASSERT_EQ(c.Records().ObjectCount(), std::size(objects));
        for (const auto& o : objects) {
            SCOPED_TRACE(o.url);
            ASSERT_TRUE(c.Records().Object(o.url));
            const _TObjectType& r = *c.Records().Object(o.url);
            EXPECT_EQ(+r.Id, o.id);
            EXPECT_EQ(+r.Size, o.size);
            EXPECT_EQ(+r.Status, o.status);
            EXPECT_EQ(r.ContentType, o.type);
            EXPECT_EQ(+r.Count, o.count);
            EXPECT_EQ(+r.Kind, KIND_OBJECT);
        }
        // One probe per object, whatever the number of pages using it.
        int imgRequests = 0;
        for (const TReceivedRequest& r : site.Server.Requests())
            imgRequests += r.Target == "/img.gif";
        EXPECT_EQ(imgRequests, 1);

        // Page records: the first page keeps its id and counts the link back.
        const _TObjectType& home = *c.Records().Page(site.Home());
        EXPECT_EQ(+home.Id, 1);
        EXPECT_EQ(+home.Count, 1);
        EXPECT_EQ(+c.Records().Page(site.Url("/b.html"))->Count, 2); // on the first page and on a
        EXPECT_EQ(+c.Records().Page(site.Gone)->Depth, 2);
        EXPECT_EQ(c.LastRecordId(), 6);
        EXPECT_EQ(c.LastObjectId(), 3);
        EXPECT_EQ(c.Records().Page(site.Outside), nullptr);

        // Counters of the page merged last (the missing page: nothing on it).
        EXPECT_EQ(seen.Counts[TCrawlCounter::GoneList], 5u);
        EXPECT_EQ(seen.Counts[TCrawlCounter::GoingList], 1u);
        EXPECT_EQ(seen.Counts[TCrawlCounter::Anchors], 0u);
        EXPECT_EQ(seen.Counts[TCrawlCounter::Objects], 0u);
        EXPECT_TRUE(seen.ObjectRows.empty());
        EXPECT_EQ(c.Parser(), nullptr);
        EXPECT_FALSE(c.Downloading());
        EXPECT_TRUE(c.ParsedAnchors().empty());
        EXPECT_FALSE(c.SysTime().isActive()); // stopped at the end of the crawl
    }
};

TEST_F(Crawl, WholeSiteWithoutPause) {
    ASSERT_TRUE(driver.Run(site.Url("/"), 0));
    ExpectWholeSite();
    EXPECT_EQ(seen.Finishes, QStringList{"탐색이 끝났습니다"});
    EXPECT_TRUE(seen.Errors.isEmpty());

    // Links of the first page, as merged: anchors, then objects.
    ASSERT_FALSE(c.Records().Merged().empty());
    const TMergedPage& first = c.Records().Merged().front();
    EXPECT_EQ(first.Url, site.Home());
    std::vector<std::string> kinds;
    for (const TMergedLink& l : c.Records().Links(0))
        kinds.push_back((l.Kind == KIND_PAGE ? (l.Internal ? "in " : "out ") : "obj ") +
                        std::string(l.Url) + " " + std::to_string(l.Count));
    EXPECT_EQ(kinds, (std::vector<std::string>{
                         "in " + site.Url("/a.html") + " 1", "in " + site.Url("/b.html") + " 1",
                         "in " + site.Home() + " 1", "out " + site.Outside + " 1",
                         "obj " + site.Url("/bg.gif") + " 1", "obj " + site.Url("/img.gif") + " 2",
                         "obj " + site.Url("/nope.gif") + " 1"}));
    // Pages merged: every HTML page, the missing one included; not the text file.
    EXPECT_EQ(c.Records().Merged().size(), 4u);
}

TEST_F(Crawl, WholeSiteWithAOneSecondPause) {
    ASSERT_TRUE(driver.Run(site.Url("/"), 1, 40000));
    ExpectWholeSite();
}

TEST_F(Crawl, EnterDuringThePauseStartsTheNextPageAtOnce) {
    c.ApplyDelay("60");
    c.Enter(QString::fromStdString(site.Url("/")));
    ASSERT_TRUE(driver.PumpUntil([&] { return c.DelayTimer().isActive(); }));
    c.DelayTimerTimer(); // one tick of the pause
    EXPECT_EQ(seen.PauseLabel, "2 / 60");
    c.Enter("http://ignored.example/"); // a new address is not visited
    EXPECT_EQ(c.GoneList().size(), 2u);
    EXPECT_EQ(c.GoneList().back(), site.Url("/a.html"));
    EXPECT_FALSE(c.DelayTimer().isActive());
    EXPECT_EQ(c.DelayTick(), 2u); // the next pause is shorter
    EXPECT_EQ(c.StartHost(), "ignored.example");
    EXPECT_EQ(seen.ClockSeconds, 0u);
}

TEST_F(Crawl, EnterDuringADownloadStartsNoSecondPage) {
    TCannedResponse slow = TTestSite::Page("200 OK", "text/html", "<a href=a.html>a</a>");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::milliseconds(700);
    site.Server.Add("/slow.html", slow);
    c.ApplyDelay("0");
    c.Enter(QString::fromStdString(site.Url("/slow.html")));
    ASSERT_TRUE(driver.PumpUntil([&] { return site.Server.Requests().size() >= 2; })); // robots.txt, the page
    c.Enter(QString::fromStdString(site.Url("/slow.html")));
    EXPECT_EQ(c.GoneList().size(), 1u);
    ASSERT_TRUE(driver.PumpUntil([&] { return c.GoneList().size() >= 2; }));
    EXPECT_EQ(c.GoneList()[1], site.Url("/a.html"));
    // a.html may already be in by now; the slow page must be in once.
    const auto& rows = c.Records().PageRows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].Url, site.Url("/slow.html"));
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [&](const auto& r) { return r.Url == site.Url("/slow.html"); }),
              1);
}

TEST_F(Crawl, AFailedFirstPageEndsTheCrawl) {
    ASSERT_TRUE(driver.Run(site.Gone, 0));
    EXPECT_EQ(seen.PageRows, (Rows{{"-1", "0", site.Gone, "-1", "404", "NotFound"}}));
    EXPECT_FALSE(c.Downloading());
    // Enter again: the crawl is over, and says so again.
    c.Enter(QString::fromStdString(site.Gone));
    EXPECT_TRUE(driver.PumpUntil([&] { return seen.Finishes.size() == 2; }));
}

TEST_F(Crawl, AddressWithoutSchemeAndWithTrailingSlash) {
    const std::string typed = site.Server.HostAndPort("/b.html/");
    site.AddPage("/b.html/", "200 OK", "text/plain", "x"); // never asked for
    ASSERT_TRUE(driver.Run(typed.substr(0, typed.size() - 1) + "/", 0));
    EXPECT_EQ(c.GoneList().front(), site.Url("/b.html"));
    EXPECT_EQ(+c.Records().Page(site.Url("/b.html"))->Id, 1);
    EXPECT_EQ(c.StartHost(), "127.0.0.1");
}

TEST_F(Crawl, MissingSkipFileHaltsUntilTheNextEnter) {
    const std::string skipFile = THtmlParser::SkipFileName();
    THtmlParser::SetSkipFileName("/nonexistent/TTags.txt");
    c.ApplyDelay("0");
    c.Enter(QString::fromStdString(site.Url("/")));
    ASSERT_TRUE(driver.PumpUntil([&] { return !seen.Errors.isEmpty(); }));
    THtmlParser::SetSkipFileName(skipFile);
    EXPECT_FALSE(c.Downloading());
    EXPECT_EQ(c.Parser(), nullptr);
    EXPECT_FALSE(c.PageInFlight());
    EXPECT_EQ(c.Records().PageRows().size(), 0u);
    // It halts: nothing further happens by itself.
    TCrawlDriver::PumpUntil([] { return false; }, 300);
    EXPECT_EQ(c.GoneList().size(), 1u);
    EXPECT_FALSE(driver.Finished());
    // The next Enter goes on with the queue, which is empty: the crawl ends.
    c.Enter(QString::fromStdString(site.Url("/")));
    EXPECT_TRUE(driver.Finished());
}

TEST(CrawlProbes, NewObjectsAreProbedTogetherAndAppliedInThePagesOrder) {
    Rows rows[2];
    const unsigned probes[] = {1, 4};
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(probes[run]);
        TTestSite site;
        std::string page;
        for (int i = 0; i < 6; ++i) {
            const std::string target = "/o" + std::to_string(i) + ".gif";
            TCannedResponse slow = TTestSite::Page(i == 2 ? "404 Not Found" : "200 OK", "image/gif",
                                                   std::string(static_cast<std::size_t>(i + 1), 'g'));
            slow.StallAfter = 0;
            slow.Stall = std::chrono::milliseconds(3000);
            site.Server.Add(target, slow);
            page += "<img src=" + target.substr(1) + ">";
        }
        site.AddPage("/p.html", "200 OK", "text/html", page + "<img src=o0.gif>");
        TCrawlDriver driver;
        TCrawlOptions options;
        options.PerHost = static_cast<int>(probes[run]);
        driver.Crawl->SetOptions(options);
        driver.Crawl->ApplyDelay("0");
        // Four at a time: robots.txt, the page and four objects are asked for
        // before the first object has answered; one at a time, only the first.
        std::size_t asked = 0;
        QTimer::singleShot(1500, [&] { asked = site.Server.Requests().size(); });
        driver.Crawl->Enter(QString::fromStdString(site.Url("/p.html")));
        ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return driver.Finished(); }, 20000));
        EXPECT_EQ(asked, probes[run] == 4 ? 6u : 3u); // robots.txt and the page first
        rows[run] = driver.Listener.ObjectRows;
        for (std::vector<std::string>& row : rows[run])
            row[1] = row[1].substr(site.Url("").size()); // the port differs from run to run
    }
    ASSERT_EQ(rows[0].size(), 6u);
    EXPECT_EQ(rows[0], rows[1]);
    EXPECT_EQ(rows[1][2], (std::vector<std::string>{"3", "/o2.gif", "-1", "404", "Not Found", "1"}));
}

TEST(CrawlScope, DepthPagesIncludeAndExcludeKeepPagesOut) {
    const auto with = [](auto set) {
        TCrawlOptions options;
        set(options);
        return options;
    };
    const struct {
        const char* Name;
        TCrawlOptions Options;
        std::vector<std::string> Fetched; // targets, in order
        std::vector<std::string> Excluded;
    } table[] = {
        {"depth 1", with([](auto& o) { o.MaxDepth = 1; }), {"", "/a.html", "/b.html"}, {}},
        {"2 pages", with([](auto& o) { o.MaxPages = 2; }), {"", "/a.html"}, {}},
        {"exclude", with([](auto& o) { o.Exclude = ".*/b\\.html"; }), {"", "/a.html", "/doc.txt", "/missing.html", "/gone.html"},
         {"/b.html"}},
        {"include", with([](auto& o) { o.Include = "http://127\\.0\\.0\\.1:[0-9]+(/a\\.html)?"; }), {"", "/a.html"},
         {"/b.html", "/doc.txt", "/missing.html", "/gone.html"}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Name);
        TTestSite site;
        TCrawlDriver driver;
        driver.Crawl->SetOptions(row.Options);
        ASSERT_TRUE(driver.Run(site.Url("/"), 0));
        std::vector<std::string> fetched;
        for (const std::string_view page : driver.Crawl->GoneList())
            fetched.emplace_back(page.substr(site.Home().size()));
        EXPECT_EQ(fetched, row.Fetched);
        QStringList excluded;
        for (const std::string& target : row.Excluded)
            excluded << QString::fromStdString(site.Url(target) + ": fine, excluded");
        EXPECT_EQ(driver.Listener.Reasons.filter(": fine, excluded"), excluded);
    }
}

TEST_F(Crawl, HostsDifferingOnlyInLetterCaseAreInternal) {
    site.AddPage("/case.html", "200 OK", "text/html",
                 "<a href=\"http://LocalHost:" + std::to_string(site.Server.Port()) +
                     "/b.html\">b</a>");
    ASSERT_TRUE(driver.Run("http://localhost:" + std::to_string(site.Server.Port()) + "/case.html", 0));
    ASSERT_GE(c.GoneList().size(), 2u);
    EXPECT_EQ(c.GoneList()[1], "http://localhost:" + std::to_string(site.Server.Port()) + "/b.html");
}

// The site of an address: host and port, a scheme's own port left out; the
// plain addresses are read in place, the rest by the URL parser.
TEST(SiteKey, HostAndPortWithoutTheDefaultPort) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/", "h"},
        {"https://h", "h"},
        {"HTTP://Example.ORG:80/a?b#c", "example.org"},
        {"https://h:443/", "h"},
        {"http://h:443/", "h:443"},
        {"https://h:80/", "h:80"},
        {"http://127.0.0.2:8080?q", "127.0.0.2:8080"},
        {"http://h:080/", "h"},
        {"http://h:/", "h"},
        {"http://u:p@H:81/", "h:81"},
        {"http://[::1]:8080/", "::1:8080"},
        {"http://h:99999/", "h"},
        {"ftp://h/", "h"},
        {"page.html", ""},
    };
    for (const auto& [address, key] : cases)
        EXPECT_EQ(TSiteKey::Of(address), key) << address;
}

// The server's charset decides how the page is read; what is asked for is
// what the URL standard gives, one request an address.
TEST_F(Crawl, RequestsTheAddressesABrowserWould) {
    site.AddPage(
        "/Docs/Guide", "200 OK", "text/html; charset=windows-1251",
        "<a href=\"p\xE0th.html\">u</a><a href=\"&#x2F;Docs&#x2F;x.html?a=1&amp;b=2\">x</a>"
        "<!-- <a href=old.html> --><a href=\"HTTP://127.0.0.1:" +
            std::to_string(site.Server.Port()) +
            "/Docs/p%D0%B0th.html\">same</a><link rel=preconnect href=/hint>");
    site.AddPage("/Docs/p%D0%B0th.html", "200 OK", "text/html", "");
    site.AddPage("/Docs/x.html?a=1&b=2", "200 OK", "text/html", "");
    ASSERT_TRUE(driver.Run(site.Url("/Docs/Guide"), 0));
    EXPECT_EQ(Asked(site.Server), (std::vector<std::string>{"/robots.txt", "/Docs/Guide",
                                                            "/Docs/p%D0%B0th.html",
                                                            "/Docs/x.html?a=1&b=2",
                                                            "/Docs/marrowby-*.html"}));
}

// An address met both as a page and as an object is asked for once: the
// probe of a page named by <link rel=next> serves the page that comes later,
// and a page fetched before gives the object its row. The object rows are
// those a probe of each gives.
TEST_F(Crawl, APageMetAlsoAsAnObjectIsAskedForOnce) {
    site.AddPage("/1.html", "200 OK", "text/html", "<link rel=next href=2.html><a href=2.html>2</a>");
    site.AddPage("/2.html", "200 OK", "text/html",
                 "<link rel=prev href=1.html><link rel=next href=3.html><a href=3.html>3</a>");
    site.AddPage("/3.html", "404 Not Found", "text/html", "<link rel=prev href=2.html>");
    ASSERT_TRUE(driver.Run(site.Url("/1.html"), 0));
    EXPECT_EQ(Asked(site.Server), (std::vector<std::string>{"/robots.txt", "/1.html", "/2.html",
                                                            "/3.html", "/marrowby-*.html"}));
    const struct {
        const char* Target;
        int Status, Size;
        const char* Type;
    } objects[] = {
        {"/1.html", 200, site.BodySize["/1.html"], "text/html"},
        {"/2.html", 200, site.BodySize["/2.html"], "text/html"},
        {"/3.html", 404, -1, "Not Found"}, // a probe reads no body of a declared length
    };
    for (const auto& o : objects) {
        SCOPED_TRACE(o.Target);
        const _TObjectType* object = c.Records().Object(site.Url(o.Target));
        ASSERT_NE(object, nullptr);
        const int status = object->Status, size = object->Size; // packed fields
        EXPECT_EQ(status, o.Status);
        EXPECT_EQ(size, o.Size);
        EXPECT_EQ(object->ContentType, o.Type);
    }
    EXPECT_EQ(c.GoneList().size(), 3u);
}

TEST_F(Crawl, ARedirectedPageIsParsedWhereItLanded) {
    // "localhost" is another host to the crawl, on the same server.
    const std::string elsewhere =
        "http://localhost:" + std::to_string(site.Server.Port()) + "/far/";
    TCannedResponse moved;
    moved.Raw = "HTTP/1.1 301 Moved Permanently\r\nLocation: " + elsewhere +
                "moved.html\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    site.Server.Add("/moved.html", moved);
    site.AddPage("/start.html", "200 OK", "text/html", "<a href=moved.html>m</a>");
    site.AddPage("/far/moved.html", "200 OK", "text/html", "<a href=rel.html>r</a><img src=i.gif>");
    site.AddPage("/far/i.gif", "200 OK", "image/gif", "GIF89a");
    ASSERT_TRUE(driver.Run(site.Url("/start.html"), 0));
    EXPECT_EQ(
        seen.PageRows,
        (Rows{{"1", "0", site.Url("/start.html"), S("/start.html"), "200", "text/html"},
              {"2", "1", site.Url("/moved.html"), S("/far/moved.html"), "200", "text/html"}}));
    ASSERT_EQ(c.Records().ObjectCount(), 1u);
    EXPECT_EQ(+c.Records().Object(elsewhere + "i.gif")->Status, 200);
    EXPECT_EQ(seen.Counts[TCrawlCounter::ExternalLinks], 1u); // rel.html, on the other host
    // The link to the other host is checked once, as a link elsewhere.
    EXPECT_EQ(Asked(site.Server),
              (std::vector<std::string>{"/robots.txt", "/start.html", "/moved.html",
                                        "/far/moved.html", "/far/i.gif", "/far/rel.html",
                                        "/marrowby-*.html"}));
}

// A login, typed in any spelling or met in a redirect or a link, is never
// shown, stored or reported; a typed one authenticates to its own server only.
TEST_F(Crawl, LoginsGoToTheirServerOnlyAndAreNeverShown) {
    const std::string port = std::to_string(site.Server.Port());
    const std::string host = "127.0.0.1:" + port;
    TCannedResponse moved;
    moved.Raw = "HTTP/1.1 301 Moved Permanently\r\nLocation: http://bob:s3cr3t@" + host +
                "/landed/\r\nContent-Length: 0\r\n\r\n";
    site.Server.Add("/moved.html", moved);
    site.AddPage("/in.html", "200 OK", "text/html",
                 "<a href=gone.html>g</a><img src=img.gif><img src=http://localhost:" + port +
                     "/img.gif>" // the same server under another name
                     "<a href=moved.html>m</a><a href='HTTP://m4ry:s3cr3t@" + host + "/x.html'>x</a>");
    site.AddPage("/landed/", "200 OK", "text/html", "<a href=next.html>n</a><img src=i.gif>");
    const struct {
        std::string Typed;
        const char* Authorization; // "Basic " and the login in base64
    } table[] = {
        {"m4%72y:s3cr%40t@" + host + "/in.html", "Basic bTRyeTpzM2NyQHQ="}, // m4ry:s3cr@t
        {"http://m4ry:s3/cr?t#@" + host + "/in.html", "Basic bTRyeTpzMy9jcj90Iw=="}, // s3/cr?t#
        {"http://m4ry@" + host + "/in.html", "Basic bTRyeTo="},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Typed);
        TCrawlDriver run;
        const std::size_t before = site.Server.Requests().size();
        ASSERT_TRUE(run.Run(row.Typed, 0));
        const std::vector<TReceivedRequest> requests = site.Server.Requests();
        for (std::size_t i = before; i < requests.size(); ++i) {
            const bool start = requests[i].Header("Host") == site.Server.HostAndPort();
            EXPECT_EQ(requests[i].Header("Authorization"),
                      start ? std::optional<std::string>(row.Authorization) : std::nullopt)
                << requests[i].Target;
        }
        EXPECT_EQ(run.Crawl->GoneList().front(), site.Url("/in.html"));
        EXPECT_EQ(run.Listener.PageRows.size(), 5u); // in, gone, moved, x, landed/next.html
        // Nothing the crawl told its listener or keeps holds a login.
        std::string told = (run.Listener.Statuses + run.Listener.Captions + run.Listener.Reasons)
                               .join(' ')
                               .toStdString();
        for (const Rows* rows : {&run.Listener.PageRows, &run.Listener.ObjectRows})
            for (const auto& cells : *rows)
                for (const std::string& cell : cells)
                    told += cell + ' ';
        run.Crawl->Records().ForEachReference(
            [&](std::string_view address, std::string_view page, std::uint32_t, std::int32_t) {
                told += std::string(address) + ' ' + std::string(page) + ' ';
            });
        EXPECT_EQ(told.find("s3"), std::string::npos) << told;
        EXPECT_EQ(told.find("m4"), std::string::npos) << told;
        EXPECT_EQ(told.find("bob"), std::string::npos) << told;
        EXPECT_NE(told.find(site.Url("/landed/next.html")), std::string::npos) << told;
    }
}

// Stops the crawl as soon as ready() holds, from inside whatever handler is
// running then, and checks that it stops cleanly.
void StopWhen(TCrawlDriver& driver, const std::function<bool()>& ready) {
    bool stopped = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!stopped && ready()) {
            stopped = true;
            driver.Crawl->Stop();
        }
    });
    poll.start();
    ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return stopped; }));
    poll.stop();
    TCrawlDriver::PumpUntil([] { return false; }, 200); // late messages, if any
    EXPECT_EQ(driver.Crawl->Parser(), nullptr);
    EXPECT_FALSE(driver.Crawl->Downloading());
    EXPECT_EQ(driver.Crawl->Records().ObjectCount(), 0u);
    driver.Crawl.reset();
}

TEST_F(Crawl, StopDuringADownload) {
    TCannedResponse slow = TTestSite::Page("200 OK", "text/html", "<a href=a.html>a</a>");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::seconds(20);
    site.Server.Add("/slow.html", slow);
    c.Enter(QString::fromStdString(site.Url("/slow.html")));
    StopWhen(driver, [&] { return !site.Server.Requests().empty(); });
}

TEST_F(Crawl, StopDuringAParse) {
    std::string big;
    for (int i = 0; i < 300000; ++i)
        big += "<a href=p" + std::to_string(i % 1000) + ".html>x</a>";
    TCannedResponse page;
    page.Raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n" + big;
    site.Server.Add("/big.html", page);
    c.Enter(QString::fromStdString(site.Url("/big.html")));
    StopWhen(driver, [&] { return c.Parser() != nullptr; });
}

TEST_F(Crawl, StopDuringAProbe) {
    TCannedResponse slow = TTestSite::Page("200 OK", "image/gif", "GIF89a");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::seconds(20);
    site.Server.Add("/slow.gif", slow);
    site.AddPage("/probe.html", "200 OK", "text/html",
                 "<img src=slow.gif><img src=img.gif><a href=a.html>a</a>");
    c.Enter(QString::fromStdString(site.Url("/probe.html")));
    StopWhen(driver, [&] {
        for (const TReceivedRequest& r : site.Server.Requests())
            if (r.Target == "/slow.gif")
                return true;
        return false;
    });
}

} // namespace

// Through the crawl: objects and links elsewhere keep to the per-host limit,
// a Retry-After is waited for and the address asked again, and a stop with
// many transfers in flight ends them all at once.
TEST(CrawlScheduling, PerHostLimitRetryAfterAndStopWithTransfersInFlight) {
    TTestSite site;
    TCannedServer slow(std::chrono::seconds(60), "127.0.0.3");
    slow.Start();
    std::string page;
    for (int i = 0; i < 8; ++i) {
        TCannedResponse late = TTestSite::Page("200 OK", "image/gif", "GIF89a");
        late.StallAfter = 0;
        late.Stall = std::chrono::milliseconds(i < 4 ? 200 : 20000);
        slow.Add("/o" + std::to_string(i), late);
        page += "<img src=" + slow.Url("/o" + std::to_string(i)) + ">";
    }
    TCannedResponse wait = TTestSite::Page("503 Service Unavailable", "text/html", "");
    wait.Raw.insert(wait.Raw.find("\r\n") + 2, "Retry-After: 1\r\n");
    site.Other.AddSequence("/busy", {wait, TTestSite::Page("200 OK", "text/html", "ok")});
    site.AddPage("/p.html", "200 OK", "text/html",
                 "<a href=" + site.Other.Url("/busy") + ">b</a><a href=p2.html>2</a>");
    site.AddPage("/p2.html", "200 OK", "text/html", page);
    TCrawlDriver driver;
    TCrawlOptions options;
    options.PerHost = 2;
    driver.Crawl->SetOptions(options);
    driver.Crawl->ApplyDelay("0");
    driver.Crawl->Enter(QString::fromStdString(site.Url("/p.html")));
    // The first four objects answer; the fifth and sixth never do. The merge
    // waits for them in a handler of its own, so the stop comes from a timer.
    qint64 stopTook = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (slow.Connections() < 6 || driver.Crawl->Records().ExternalsApplied() < 1 ||
            stopTook >= 0)
            return;
        QElapsedTimer clock;
        clock.start();
        driver.Crawl->Stop();
        stopTook = clock.elapsed();
    });
    poll.start(10);
    ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return stopTook >= 0; }));
    EXPECT_LT(stopTook, 2000);
    const TExternalRow& busy = driver.Crawl->Records().ExternalRows()[0];
    EXPECT_EQ(busy.Status, 200);
    EXPECT_EQ(busy.Reason, "200 OK");
    EXPECT_EQ(site.Other.Requests().size(), 2u); // asked again after the wait; no robots.txt
    EXPECT_LE(slow.PeakInFlight(), 2u);
    EXPECT_FALSE(driver.Crawl->Downloading());
    TCrawlDriver::PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(driver.Listener.Finishes.isEmpty());
}
