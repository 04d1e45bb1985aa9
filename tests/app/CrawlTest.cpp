#include "TCrawlDriver.h"
#include "TTestSite.h"

#include "parser/THtmlParser.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows ListRows(QTreeWidget* list) {
    Rows rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        std::vector<std::string> row;
        for (int c = 0; c < list->columnCount(); ++c)
            row.push_back(list->topLevelItem(i)->text(c).toStdString());
        rows.push_back(row);
    }
    return rows;
}

Rows GoneRows(const std::vector<TGoneRow>& rows) {
    Rows out;
    for (const TGoneRow& r : rows)
        out.push_back({std::to_string(r.Id), std::to_string(r.Depth), r.Url, std::to_string(r.Size),
                       std::to_string(r.Status), r.Type});
    return out;
}

struct Crawl : ::testing::Test {
    TTestSite site;
    TCrawlDriver driver;
    TFrmMain& w = *driver.Window;

    std::string S(const std::string& target) { return std::to_string(site.BodySize[target]); }

    // What the visited-pages report must hold after a whole crawl of the site.
    Rows ExpectedPages() {
        return {
            {"1", "0", site.Home(), S("/"), "200", "text/html"},
            {"2", "1", site.Url("/a.html"), S("/a.html"), "200", "text/html; charset=UTF-8"},
            {"3", "1", site.Url("/b.html"), S("/b.html"), "200", "text/html"},
            {"4", "2", site.Url("/doc.txt"), S("/doc.txt"), "200", "text/plain"},
            {"5", "2", site.Url("/missing.html"), S("/missing.html"), "404", "text/html"},
            {"-1", "0", site.Gone, "-1", "404", "NotFound"},
        };
    }

    void ExpectWholeSite() {
        EXPECT_EQ(GoneRows(w.FGoneRows), ExpectedPages());
        EXPECT_EQ(ListRows(w.GoneListView), ExpectedPages());
        EXPECT_EQ(w.FGoneList, (std::vector<std::string>{site.Home(), site.Url("/a.html"),
                                                         site.Url("/b.html"), site.Url("/doc.txt"),
                                                         site.Url("/missing.html"), site.Gone}));
        EXPECT_TRUE(w.FGoingList.empty());

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
        ASSERT_EQ(w.FObjectMap.size(), std::size(objects));
        for (const auto& o : objects) {
            SCOPED_TRACE(o.url);
            ASSERT_TRUE(w.FObjectMap.count(o.url));
            const _TObjectType& r = *w.FObjectMap.at(o.url);
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
        const _TObjectType& home = *w.FPageMap.at(site.Home());
        EXPECT_EQ(+home.Id, 1);
        EXPECT_EQ(+home.Count, 1);
        EXPECT_EQ(+w.FPageMap.at(site.Url("/b.html"))->Count, 2); // on the first page and on a
        EXPECT_EQ(+w.FPageMap.at(site.Gone)->Depth, 2);
        EXPECT_EQ(w.FLastRecordId, 6);
        EXPECT_EQ(w.FLastObjectId, 3);
        EXPECT_FALSE(w.FPageMap.count("http://external.example/x"));

        // Counters of the page merged last (the missing page: nothing on it).
        EXPECT_EQ(w.EdtGoneList->text(), "5");
        EXPECT_EQ(w.EdtGoingList->text(), "1");
        EXPECT_EQ(w.EdtAnchor->text(), "0");
        EXPECT_EQ(w.EdtObj->text(), "0");
        EXPECT_EQ(w.ObjListView->topLevelItemCount(), 0);
        EXPECT_EQ(w.FParser, nullptr);
        EXPECT_EQ(w.FDownloader, nullptr);
        EXPECT_TRUE(w.FParsedAnchors.empty());
        EXPECT_FALSE(w.SysTime->isActive()); // stopped at the end of the crawl
    }
};

TEST_F(Crawl, WholeSiteWithoutPause) {
    ASSERT_TRUE(driver.Crawl(site.Url("/"), 0));
    ExpectWholeSite();
    EXPECT_EQ(driver.Boxes, QStringList{"탐색이 끝났습니다"});
    EXPECT_TRUE(driver.Errors.isEmpty());

    // Links of the first page, as merged: anchors, then objects.
    ASSERT_FALSE(w.FMergedPages.empty());
    const TMergedPage& first = w.FMergedPages.front();
    EXPECT_EQ(first.Url, site.Home());
    std::vector<std::string> kinds;
    for (const TMergedLink& l : first.Links)
        kinds.push_back((l.Kind == KIND_PAGE ? (l.Internal ? "in " : "out ") : "obj ") + l.Url +
                        " " + std::to_string(l.Count));
    EXPECT_EQ(kinds, (std::vector<std::string>{
                         "in " + site.Url("/a.html") + " 1", "in " + site.Url("/b.html") + " 1",
                         "in " + site.Home() + " 1", "out http://external.example/x 1",
                         "obj " + site.Url("/bg.gif") + " 1", "obj " + site.Url("/img.gif") + " 2",
                         "obj " + site.Url("/nope.gif") + " 1"}));
    // Pages merged: every HTML page, the missing one included; not the text file.
    EXPECT_EQ(w.FMergedPages.size(), 4u);
}

TEST_F(Crawl, WholeSiteWithAOneSecondPause) {
    ASSERT_TRUE(driver.Crawl(site.Url("/"), 1, 40000));
    ExpectWholeSite();
}

TEST_F(Crawl, EnterDuringThePauseStartsTheNextPageAtOnce) {
    w.ApplyDelay("60");
    w.StartCrawl(QString::fromStdString(site.Url("/")));
    ASSERT_TRUE(driver.PumpUntil([&] { return w.DelayTimer->isActive(); }));
    w.DelayTimerTimer(); // one tick of the pause
    EXPECT_EQ(w.DLabel->text(), "2 / 60");
    w.StartCrawl("http://ignored.example/"); // a new address is not visited
    EXPECT_EQ(w.FGoneList.size(), 2u);
    EXPECT_EQ(w.FGoneList.back(), site.Url("/a.html"));
    EXPECT_FALSE(w.DelayTimer->isActive());
    EXPECT_EQ(w.FDelayTick, 2u); // the next pause is shorter
    EXPECT_EQ(w.FStartHost, "ignored.example");
    EXPECT_EQ(w.LabelTCount->text(), "0");
}

TEST_F(Crawl, EnterDuringADownloadStartsNoSecondPage) {
    TCannedResponse slow = TTestSite::Page("200 OK", "text/html", "<a href=a.html>a</a>");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::milliseconds(700);
    site.Server.Add("/slow.html", slow);
    w.ApplyDelay("0");
    w.StartCrawl(QString::fromStdString(site.Url("/slow.html")));
    ASSERT_TRUE(site.Server.WaitForRequests(1, std::chrono::seconds(5)));
    w.StartCrawl(QString::fromStdString(site.Url("/slow.html")));
    EXPECT_EQ(w.FGoneList.size(), 1u);
    ASSERT_TRUE(driver.PumpUntil([&] { return w.FGoneList.size() >= 2; }));
    EXPECT_EQ(w.FGoneList[1], site.Url("/a.html"));
    EXPECT_EQ(w.FGoneRows.size(), 1u);
    EXPECT_EQ(w.FGoneRows[0].Url, site.Url("/slow.html"));
}

TEST_F(Crawl, AFailedFirstPageEndsTheCrawl) {
    ASSERT_TRUE(driver.Crawl(site.Gone, 0));
    EXPECT_EQ(ListRows(w.GoneListView), (Rows{{"-1", "0", site.Gone, "-1", "404", "NotFound"}}));
    EXPECT_EQ(w.FDownloader, nullptr);
    // Enter again: the crawl is over, and says so again.
    w.StartCrawl(QString::fromStdString(site.Gone));
    EXPECT_TRUE(driver.PumpUntil([&] { return driver.Boxes.size() == 2; }));
}

TEST_F(Crawl, AddressWithoutSchemeAndWithTrailingSlash) {
    const std::string typed = site.Server.HostAndPort("/b.html/");
    site.AddPage("/b.html/", "200 OK", "text/plain", "x"); // never asked for
    ASSERT_TRUE(driver.Crawl(typed.substr(0, typed.size() - 1) + "/", 0));
    EXPECT_EQ(w.FGoneList.front(), site.Url("/b.html"));
    EXPECT_EQ(+w.FPageMap.at(site.Url("/b.html"))->Id, 1);
    EXPECT_EQ(w.FStartHost, "127.0.0.1");
}

TEST_F(Crawl, MissingSkipFileHaltsUntilTheNextEnter) {
    const std::string skipFile = THtmlParser::SkipFileName();
    THtmlParser::SetSkipFileName("/nonexistent/TTags.txt");
    w.ApplyDelay("0");
    w.StartCrawl(QString::fromStdString(site.Url("/")));
    ASSERT_TRUE(driver.PumpUntil([&] { return !driver.Errors.isEmpty(); }));
    THtmlParser::SetSkipFileName(skipFile);
    EXPECT_EQ(w.FDownloader, nullptr);
    EXPECT_EQ(w.FParser, nullptr);
    EXPECT_FALSE(w.FPageInFlight);
    EXPECT_EQ(w.FGoneRows.size(), 0u);
    // It halts: nothing further happens by itself.
    TCrawlDriver::PumpUntil([] { return false; }, 300);
    EXPECT_EQ(w.FGoneList.size(), 1u);
    EXPECT_FALSE(driver.Finished());
    // The next Enter goes on with the queue, which is empty: the crawl ends.
    w.StartCrawl(QString::fromStdString(site.Url("/")));
    EXPECT_TRUE(driver.Finished());
}

TEST_F(Crawl, HostsDifferingOnlyInLetterCaseAreInternal) {
    site.AddPage("/case.html", "200 OK", "text/html",
                 "<a href=\"http://LocalHost:" + std::to_string(site.Server.Port()) +
                     "/b.html\">b</a>");
    ASSERT_TRUE(driver.Crawl("http://localhost:" + std::to_string(site.Server.Port()) + "/case.html", 0));
    ASSERT_GE(w.FGoneList.size(), 2u);
    EXPECT_EQ(w.FGoneList[1], "http://LocalHost:" + std::to_string(site.Server.Port()) + "/b.html");
}

// Closes the window as soon as ready() holds, from inside whatever handler is
// running then, and checks that the crawl stops cleanly.
void CloseWhen(TCrawlDriver& driver, const std::function<bool()>& ready) {
    bool closed = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!closed && ready()) {
            closed = true;
            driver.Window->close();
        }
    });
    poll.start();
    ASSERT_TRUE(TCrawlDriver::PumpUntil([&] { return closed; }));
    poll.stop();
    TCrawlDriver::PumpUntil([] { return false; }, 200); // late messages, if any
    EXPECT_EQ(driver.Window->FParser, nullptr);
    EXPECT_EQ(driver.Window->FDownloader, nullptr);
    EXPECT_TRUE(driver.Window->FPageMap.empty());
    driver.Window.reset();
}

TEST_F(Crawl, CloseDuringADownload) {
    TCannedResponse slow = TTestSite::Page("200 OK", "text/html", "<a href=a.html>a</a>");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::seconds(20);
    site.Server.Add("/slow.html", slow);
    w.StartCrawl(QString::fromStdString(site.Url("/slow.html")));
    CloseWhen(driver, [&] { return !site.Server.Requests().empty(); });
}

TEST_F(Crawl, CloseDuringAParse) {
    std::string big;
    for (int i = 0; i < 300000; ++i)
        big += "<a href=p" + std::to_string(i % 1000) + ".html>x</a>";
    TCannedResponse page;
    page.Raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n" + big;
    site.Server.Add("/big.html", page);
    w.StartCrawl(QString::fromStdString(site.Url("/big.html")));
    CloseWhen(driver, [&] { return w.FParser != nullptr; });
}

TEST_F(Crawl, CloseDuringAProbe) {
    TCannedResponse slow = TTestSite::Page("200 OK", "image/gif", "GIF89a");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::seconds(20);
    site.Server.Add("/slow.gif", slow);
    site.AddPage("/probe.html", "200 OK", "text/html",
                 "<img src=slow.gif><img src=img.gif><a href=a.html>a</a>");
    w.StartCrawl(QString::fromStdString(site.Url("/probe.html")));
    CloseWhen(driver, [&] {
        for (const TReceivedRequest& r : site.Server.Requests())
            if (r.Target == "/slow.gif")
                return true;
        return false;
    });
}

} // namespace
