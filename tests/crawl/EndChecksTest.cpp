// The checks at the end of a crawl: the confirmation pass, the redirects to
// fix, and soft 404s, on loopback servers.
#include "TCrawlDriver.h"
#include "TTestSite.h"

#include "crawl/TSoftNotFound.h"
#include "report/TCrawlReport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

TCannedResponse Answer(const std::string& status, const std::string& type = "text/html",
                       const std::string& body = "") {
    return TTestSite::Page(status, type, body);
}

TCannedResponse Moved(const std::string& status, const std::string& location) {
    TCannedResponse r;
    r.Raw = "HTTP/1.1 " + status + "\r\nLocation: " + location +
            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return r;
}

std::size_t Asked(const TCannedServer& server, const std::string& target) {
    const std::vector<TReceivedRequest> requests = server.Requests();
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(),
                      [&](const TReceivedRequest& r) { return r.Target == target; }));
}

TGoneRow PageRow(const TCrawl& crawl, const std::string& url) {
    for (const TGoneRow& row : crawl.Records().PageRows())
        if (row.Url == url)
            return row;
    ADD_FAILURE() << "no row for " << url;
    return {};
}

// A 503 the first time, 200 after: asked once more at the end, the rows are
// judged again. A 403 is never asked again; a 503 that stays keeps its row.
TEST(ConfirmationPass, AsksAgainWhatMayPassUnlessTurnedOff) {
    const struct {
        bool Confirm;
        int Page, Object, Wall, Link, Down; // the statuses at the end
        std::size_t Again;                  // requests of each that may pass
        std::vector<std::string> Changed;
        std::vector<std::size_t> Left;
    } table[] = {
        {true, 200, 200, 403, 200, 503, 2, {"link 1", "object 1", "page 1"}, {4, 3, 2, 1}},
        {false, 503, 503, 403, 503, 503, 1, {}, {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Confirm);
        TTestSite site;
        site.Server.AddSequence("/busy.html",
                                {Answer("503 Service Unavailable", "text/html", "<p>later"),
                                 Answer("200 OK", "text/html", "<p>here")});
        site.Server.AddSequence("/busy.gif", {Answer("503 Service Unavailable"),
                                              Answer("200 OK", "image/gif", "GIF89a")});
        site.Server.Add("/wall.gif", Answer("403 Forbidden"));
        site.Other.AddSequence("/busy", {Answer("503 Service Unavailable"), Answer("200 OK")});
        site.Other.Add("/down", Answer("503 Service Unavailable"));
        site.AddPage("/start.html", "200 OK", "text/html",
                     "<a href=busy.html>b</a><img src=busy.gif><img src=wall.gif><a href=" +
                         site.Other.Url("/busy") + ">o</a><a href=" + site.Other.Url("/down") +
                         ">d</a>");
        TCrawlDriver driver;
        TCrawlOptions options;
        options.Retries = 0; // the crawl's own retries would hide the pass
        options.Confirm = row.Confirm;
        driver.Crawl->SetOptions(options);
        ASSERT_TRUE(driver.Run(site.Url("/start.html"), 0));
        const TCrawl& crawl = *driver.Crawl;
        const TGoneRow& busy = PageRow(crawl, site.Url("/busy.html"));
        EXPECT_EQ(busy.Status, row.Page);
        EXPECT_EQ(busy.Verdict, row.Confirm ? TVerdict::Fine : TVerdict::Unverifiable);
        EXPECT_EQ(+crawl.Records().Object(site.Url("/busy.gif"))->Status, row.Object);
        EXPECT_EQ(+crawl.Records().Object(site.Url("/wall.gif"))->Status, row.Wall);
        ASSERT_EQ(crawl.Records().ExternalRows().size(), 2u);
        EXPECT_EQ(crawl.Records().ExternalRows()[0].Status, row.Link);
        EXPECT_EQ(crawl.Records().ExternalRows()[1].Status, row.Down);
        EXPECT_EQ(crawl.Records().ExternalRows()[1].Reason, "503 Service Unavailable");
        EXPECT_EQ(Asked(site.Server, "/busy.html"), row.Again);
        EXPECT_EQ(Asked(site.Server, "/busy.gif"), row.Again);
        EXPECT_EQ(Asked(site.Other, "/busy"), row.Again);
        EXPECT_EQ(Asked(site.Other, "/down"), row.Again);
        EXPECT_EQ(Asked(site.Server, "/wall.gif"), 1u);
        std::vector<std::string> changed = driver.Listener.Changed;
        std::sort(changed.begin(), changed.end());
        EXPECT_EQ(changed, row.Changed);
        EXPECT_EQ(driver.Listener.ConfirmingLeft, row.Left);
        EXPECT_EQ(driver.Listener.Finishes.size(), 1);
    }
}

// Stop ends the confirmation pass, and Halt (the window's Stop) a re-check,
// with a request stalled: nothing changes or finishes after it.
TEST(ConfirmationPass, StopEndsItAndAReCheckAtOnce) {
    for (const bool recheck : {false, true}) {
        SCOPED_TRACE(recheck ? "re-check" : "confirmation pass");
        TTestSite site;
        TCannedResponse stalled = Answer("200 OK", "text/html", "<p>here");
        stalled.StallAfter = 0;
        stalled.Stall = std::chrono::seconds(20);
        site.Server.AddSequence(
            "/busy.html",
            {Answer(recheck ? "404 Not Found" : "503 Service Unavailable", "text/html", "<p>later"),
             stalled});
        site.AddPage("/start.html", "200 OK", "text/html", "<a href=busy.html>b</a>");
        TCrawlDriver driver;
        TCrawlOptions options;
        options.Retries = 0;
        driver.Crawl->SetOptions(options);
        driver.Crawl->ApplyDelay("0");
        driver.Crawl->Enter(QString::fromStdString(site.Url("/start.html")));
        if (recheck) {
            ASSERT_TRUE(
                TCrawlDriver::PumpUntil([&] { return !driver.Listener.Finishes.isEmpty(); }));
            EXPECT_EQ(driver.Crawl->Recheck(), 1u);
            EXPECT_TRUE(driver.Crawl->Rechecking());
        }
        ASSERT_TRUE(TCrawlDriver::PumpUntil([&] {
            return (recheck || !driver.Listener.ConfirmingLeft.empty()) &&
                   Asked(site.Server, "/busy.html") == 2;
        }));
        QElapsedTimer clock;
        clock.start();
        if (recheck)
            driver.Crawl->Halt();
        else
            driver.Crawl->Stop();
        EXPECT_LT(clock.elapsed(), 2000);
        TCrawlDriver::PumpUntil([] { return false; }, 200);
        EXPECT_EQ(driver.Listener.Finishes.size(), recheck ? 1 : 0);
        EXPECT_TRUE(driver.Listener.Changed.empty());
        EXPECT_FALSE(driver.Crawl->Rechecking());
    }
}

// Each link or object whose address answered through a 301 or 308, anywhere
// in its chain, with where the chain ended; 302 and 307 are no redirects to fix.
TEST(Redirects, PermanentOnesAreReportedWithTheirFinalAddress) {
    TTestSite site;
    site.Server.Add("/p301", Moved("301 Moved Permanently", "/mid"));
    site.Server.Add("/mid", Moved("302 Found", site.Url("/final.html")));
    site.Server.Add("/p308", Moved("308 Permanent Redirect", "/final2.html"));
    site.Server.Add("/p302", Moved("302 Found", "/x.html"));
    site.Server.Add("/p307", Moved("307 Temporary Redirect", "/y.html"));
    site.Server.Add("/i301.gif", Moved("301 Moved Permanently", "/img.gif"));
    site.Other.Add("/e308", Moved("308 Permanent Redirect", "/z"));
    site.Other.Add("/z", Answer("200 OK"));
    for (const char* page : {"/final.html", "/final2.html", "/y.html"})
        site.AddPage(page, "200 OK", "text/html", "<p>");
    site.AddPage("/x.html", "200 OK", "text/html", "<a href=p301>again</a>");
    site.AddPage("/start.html", "200 OK", "text/html",
                 "<a href=p301>a</a><a href=p308>b</a><a href=p302>c</a><a href=p307>d</a>"
                 "<img src=i301.gif><a href=" +
                     site.Other.Url("/e308") + ">e</a><a href=p301>a again</a><img src=p301>");
    TCrawlDriver driver;
    ASSERT_TRUE(driver.Run(site.Url("/start.html"), 0));
    QTemporaryDir dir;
    ASSERT_EQ(TCrawlReport::Write(driver.Crawl->Records(), dir.path().toStdString()), "");
    std::ifstream file(dir.filePath("redirects.csv").toStdString(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string start = site.Url("/start.html");
    EXPECT_EQ(text.str(), "Page,URI,Status,Final\r\n" + start + "," + site.Url("/p301") + ",301," +
                              site.Url("/final.html") + "\r\n" + start + "," + site.Url("/p308") +
                              ",308," + site.Url("/final2.html") + "\r\n" + start + "," +
                              site.Other.Url("/e308") + ",308," + site.Other.Url("/z") + "\r\n" +
                              start + "," + site.Url("/i301.gif") + ",301," + site.Url("/img.gif") +
                              "\r\n" + site.Url("/p302") + "," + site.Url("/p301") + ",301," +
                              site.Url("/final.html") + "\r\n");
}

// A host that answers 200 for a missing address makes its pages that look
// like that answer, or say "not found", soft 404s; a host that answers 404
// leaves every page that answered 200 fine.
TEST(SoftNotFound, OnlyAHostThatAnswers200ForMissingPagesHasThem) {
    const std::string soft = "soft 404 (the server answers 200 for missing pages)";
    const struct {
        bool Soft;
        TVerdict Gone, Old;
        std::string GoneReason, OldReason;
    } table[] = {
        {true, TVerdict::Broken, TVerdict::Broken, soft, soft},
        {false, TVerdict::Broken, TVerdict::Fine, "404 Not Found", "200 OK"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Soft);
        TTestSite site;
        if (row.Soft)
            site.Server.Add("*", Answer("200 OK", "text/html",
                                        "<html><head><title>Sorry</title></head><body><p>Nothing "
                                        "is here, whatever you asked for.</p></body></html>"));
        site.AddPage("/start.html", "200 OK", "text/html",
                     "<html><head><title>Home</title></head><body><a href=a.html>a</a><a "
                     "href=lost.html>g</a><a href=old.html>o</a></body></html>");
        site.AddPage("/a.html", "200 OK", "text/html",
                     "<title>Item 14049</title><p>Some text.</p>");
        site.AddPage("/old.html", "200 OK", "text/html",
                     "<title> Page Not\n Found </title><p>Things were moved around.</p>");
        TCrawlDriver driver;
        ASSERT_TRUE(driver.Run(site.Url("/start.html"), 0));
        const TCrawl& crawl = *driver.Crawl;
        for (const char* fine : {"/start.html", "/a.html"}) {
            EXPECT_EQ(PageRow(crawl, site.Url(fine)).Verdict, TVerdict::Fine) << fine;
            EXPECT_EQ(PageRow(crawl, site.Url(fine)).Reason, "200 OK") << fine;
        }
        EXPECT_EQ(PageRow(crawl, site.Url("/lost.html")).Verdict, row.Gone);
        EXPECT_EQ(PageRow(crawl, site.Url("/lost.html")).Reason, row.GoneReason);
        EXPECT_EQ(PageRow(crawl, site.Url("/old.html")).Verdict, row.Old);
        EXPECT_EQ(PageRow(crawl, site.Url("/old.html")).Reason, row.OldReason);
        EXPECT_EQ(crawl.Records().Find(site.Url("/old.html"))->Verdict, row.Old);
        EXPECT_EQ(PageRow(crawl, site.Url("/lost.html")).Status, row.Soft ? 200 : 404);
    }
}

TEST(SoftNotFound, TitlesAndTheAddressBesideAPage) {
    const struct {
        const char* Body;
        const char* Title;
    } titles[] = {
        {"<TITLE>Home</TITLE>", "Home"},
        {"<head><title lang=en>\n  Not   found\t</title>", "Not found"},
        {"<titles>x</titles>", ""},
        {"<title>cut", "cut"},
        {"<p>none", ""},
    };
    for (const auto& t : titles)
        EXPECT_EQ(TSoftNotFound::TitleOf(t.Body), t.Title) << t.Body;
    const struct {
        const char* Page;
        const char* Probe;
    } probes[] = {
        {"http://h:8080", "http://h:8080/marrowby-r.html"},
        {"http://h/docs/a.html?q=/x#y", "http://h/docs/marrowby-r.html"},
        {"http://h/docs/", "http://h/docs/marrowby-r.html"},
    };
    for (const auto& p : probes)
        EXPECT_EQ(TSoftNotFound::ProbeAddress(p.Page, "r"), p.Probe) << p.Page;
}

} // namespace
