// The program run headless as a user would: exit codes, output and reports.
#include "TChildProcess.h"
#include "Slurp.h"
#include "TTestSite.h"
#include "crawl/TCrawlOptions.h"
#include "crawl/TRecordStore.h"
#include "report/TCrawlReport.h"
#include "report/TReport.h"
#include "store/TCrawlFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

struct TRun {
    int exitCode = -1;
    std::string out, err;
};

std::vector<std::string> Strings(const QStringList& list) {
    std::vector<std::string> strings;
    for (const QString& s : list)
        strings.push_back(s.toStdString());
    return strings;
}

TRun Marrowby(const QStringList& args, const QString& program = MARROWBY_BIN,
             const std::function<void(TChildProcess&)>& during = {}) {
    TChildProcess p(program.toStdString(), Strings(args));
    // Nothing but the window needs a platform plugin: name one that does not exist.
    p.SetEnv("QT_QPA_PLATFORM", "nosuchplugin");
    EXPECT_TRUE(p.Start());
    if (during)
        during(p);
    EXPECT_TRUE(p.Wait(std::chrono::seconds(60)));
    return {p.ExitCode(), p.Out(), p.Err()};
}

int Lines(const std::string& text, const std::string& prefix) {
    int n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        n += line.rfind(prefix, 0) == 0;
    return n;
}

TEST(Headless, CrawlsTheSiteAndWritesTheReports) {
    TTestSite site;
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("out/report");
    const TRun r = Marrowby({"--headless", "--delay", "0", "--report", dir,
                            QString::fromStdString(site.Url("/"))});
    EXPECT_EQ(r.exitCode, 4) << r.err; // a missing page, a missing image
    EXPECT_EQ(r.out, "탐색이 끝났습니다\n");
    EXPECT_EQ(Lines(r.err, "page "), 6) << r.err;
    EXPECT_EQ(Lines(r.err, "link "), 1) << r.err;
    EXPECT_EQ(Slurp(dir + "/external.csv"), "Id,URI,Status,Size,Type,Count,Verdict,Reason\r\n"
                                            "1," + site.Outside + ",200,16,text/html,1,fine,200 OK\r\n");

    auto size = [&](const char* t) { return std::to_string(site.BodySize[t]); };
    EXPECT_EQ(Slurp(dir + "/pages.csv"),
              "Id,Depth,URI,Size,Status,Type,Verdict,Reason\r\n"
              "1,0," + site.Home() + "," + size("/") + ",200,text/html,fine,200 OK\r\n"
              "2,1," + site.Url("/a.html") + "," + size("/a.html") + ",200,text/html; charset=UTF-8,fine,200 OK\r\n"
              "3,1," + site.Url("/b.html") + "," + size("/b.html") + ",200,text/html,fine,200 OK\r\n"
              "4,2," + site.Url("/doc.txt") + "," + size("/doc.txt") + ",200,text/plain,fine,200 OK\r\n"
              "5,2," + site.Url("/missing.html") + "," + size("/missing.html") + ",404,text/html,broken,404 Not Found\r\n"
              "-1,2," + site.Gone + ",-1,404,NotFound,unverifiable,\"200 OK, the answer was cut short\"\r\n");
    EXPECT_EQ(Slurp(dir + "/objects.csv"),
              "Id,URI,Size,Status,Type,Count,Verdict,Reason\r\n"
              "1," + site.Url("/bg.gif") + ",5000,200,image/gif,1,fine,200 OK\r\n"
              "2," + site.Url("/img.gif") + ",6,200,image/gif,4,fine,200 OK\r\n"
              "3," + site.Url("/nope.gif") + ",-1,404,Not Found,1,broken,404 Not Found\r\n");
    EXPECT_EQ(Slurp(dir + "/links.csv"),
              "Page,Kind,URI,Count,Scope,Verdict,Reason\r\n"
              + site.Home() + ",anchor," + site.Url("/a.html") + ",1,internal,fine,200 OK\r\n"
              + site.Home() + ",anchor," + site.Url("/b.html") + ",1,internal,fine,200 OK\r\n"
              + site.Home() + ",anchor," + site.Home() + ",1,internal,fine,200 OK\r\n"
              + site.Home() + ",anchor," + site.Outside + ",1,external,fine,200 OK\r\n"
              + site.Home() + ",object," + site.Url("/bg.gif") + ",1,,fine,200 OK\r\n"
              + site.Home() + ",object," + site.Url("/img.gif") + ",2,,fine,200 OK\r\n"
              + site.Home() + ",object," + site.Url("/nope.gif") + ",1,,broken,404 Not Found\r\n"
              + site.Url("/a.html") + ",anchor," + site.Url("/b.html") + ",1,internal,fine,200 OK\r\n"
              + site.Url("/a.html") + ",anchor," + site.Url("/doc.txt") + ",1,internal,fine,200 OK\r\n"
              + site.Url("/a.html") + ",anchor," + site.Url("/missing.html") + ",1,internal,broken,404 Not Found\r\n"
              + site.Url("/a.html") + ",anchor," + site.Gone + ",1,internal,unverifiable,\"200 OK, the answer was cut short\"\r\n"
              + site.Url("/a.html") + ",object," + site.Url("/img.gif") + ",1,,fine,200 OK\r\n"
              + site.Url("/b.html") + ",anchor," + site.Url("/a.html") + ",1,internal,fine,200 OK\r\n"
              + site.Url("/b.html") + ",object," + site.Url("/img.gif") + ",1,,fine,200 OK\r\n");
    // Each with the line of its first tag on the page.
    EXPECT_EQ(Slurp(dir + "/referrers.csv"),
              "URI,Page,Line,Verdict,Reason\r\n"
              + site.Url("/bg.gif") + "," + site.Home() + ",1,fine,200 OK\r\n"
              + site.Url("/img.gif") + "," + site.Home() + ",4,fine,200 OK\r\n"
              + site.Url("/img.gif") + "," + site.Url("/a.html") + ",3,fine,200 OK\r\n"
              + site.Url("/img.gif") + "," + site.Url("/b.html") + ",1,fine,200 OK\r\n"
              + site.Url("/nope.gif") + "," + site.Home() + ",4,broken,404 Not Found\r\n"
              + site.Url("/a.html") + "," + site.Home() + ",2,fine,200 OK\r\n"
              + site.Url("/a.html") + "," + site.Url("/b.html") + ",1,fine,200 OK\r\n"
              + site.Url("/b.html") + "," + site.Home() + ",2,fine,200 OK\r\n"
              + site.Url("/b.html") + "," + site.Url("/a.html") + ",1,fine,200 OK\r\n"
              + site.Home() + "," + site.Home() + ",2,fine,200 OK\r\n"
              + site.Outside + "," + site.Home() + ",3,fine,200 OK\r\n"
              + site.Url("/doc.txt") + "," + site.Url("/a.html") + ",1,fine,200 OK\r\n"
              + site.Url("/missing.html") + "," + site.Url("/a.html") + ",2,broken,404 Not Found\r\n"
              + site.Gone + "," + site.Url("/a.html") + ",2,unverifiable,\"200 OK, the answer was cut short\"\r\n");
}

// The (URI, Page) pairs of a links.csv or a referrers.csv, sorted.
std::vector<std::pair<std::string, std::string>> Pairs(const std::string& csv, bool links) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line); // the heading
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line.substr(0, line.size() - 1)); // no CR
        for (std::string field; std::getline(fields, field, ',');)
            f.push_back(field);
        pairs.emplace_back(links ? f.at(2) : f.at(0), links ? f.at(0) : f.at(1));
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

TEST(Headless, ReferrersAreThePairsOfTheLinksAndFailuresSayWhy) {
    TTestSite site;
    QTemporaryDir tmp;
    // With a login, which no output may show.
    const std::string login = "http://m4ry:s3cr%40t@" + site.Server.HostAndPort("/");
    const TRun r = Marrowby(
        {"--headless", "--delay", "0", "--report", tmp.path(), QString::fromStdString(login)});
    for (const char* file : {"pages.csv", "objects.csv", "links.csv", "referrers.csv"})
        EXPECT_EQ(Slurp(tmp.filePath(file)).find("m4ry"), std::string::npos) << file;
    EXPECT_EQ((r.out + r.err).find("m4ry"), std::string::npos) << r.err;
    const std::string referrers = Slurp(tmp.filePath("referrers.csv"));
    EXPECT_EQ(referrers.rfind("URI,Page,Line,Verdict,Reason\r\n" + site.Url("/bg.gif") + "," +
                                  site.Home() + ",1,fine,200 OK\r\n",
                              0),
              0u);
    EXPECT_EQ(Pairs(referrers, false), Pairs(Slurp(tmp.filePath("links.csv")), true));
    EXPECT_NE(r.err.find(site.Gone + " (unverifiable: 200 OK, the answer was cut short)"),
              std::string::npos)
        << r.err;
}

// A report's rows without the served origin and without the Size column,
// whose figures follow the files.
std::string Rows(const std::string& csv, std::size_t sizeColumn) {
    std::istringstream in(std::regex_replace(csv, std::regex("http://127\\.0\\.0\\.1:[0-9]+"), ""));
    std::string rows;
    for (std::string line; std::getline(in, line);) {
        std::istringstream cells(line.substr(0, line.find('\r')));
        std::size_t column = 0;
        const char* comma = "";
        for (std::string cell; std::getline(cells, cell, ','); ++column) {
            if (column != sizeColumn) {
                rows += comma + cell;
                comma = ",";
            }
        }
        rows += "\n";
    }
    return rows;
}

// A table of the JSON report written as its CSV file would be (for text
// that needs no quotes).
std::string AsCsv(const QJsonArray& rows, const std::string& csv) {
    const std::string heading = csv.substr(0, csv.find('\r'));
    std::string text = heading + "\r\n";
    for (const QJsonValue& row : rows) {
        QStringList cells;
        for (const QString& name : QString::fromStdString(heading).split(',')) {
            const QJsonValue cell = row.toObject().value(name);
            cells << (cell.isDouble() ? QString::number(cell.toInteger()) : cell.toString());
        }
        text += cells.join(',').toStdString() + "\r\n";
    }
    return text;
}

TEST(Headless, ServesTheSampleSiteAndCrawlsItFromItsRoot) {
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("r");
    // Its links to other sites are left alone: tests ask nothing beyond loopback.
    const TRun r = Marrowby({"--headless", "--delay", "0", "--no-external", "--site",
                             MARROWBY_SOURCE_DIR "/examples/site", "--report", dir, "--format", "json,csv"});
    EXPECT_EQ(r.exitCode, 4) << r.err; // two broken links and a broken image
    EXPECT_EQ(r.out, "탐색이 끝났습니다\n");
    EXPECT_EQ(Rows(Slurp(dir + "/pages.csv"), 3),
              "Id,Depth,URI,Status,Type,Verdict,Reason\n"
              "1,0,,200,text/html,fine,200 OK\n"
              // A folder's address without its slash: the link to update.
              "2,1,/about,200,text/html,redirected,301 Moved Permanently to /about/\n"
              "3,1,/plots,200,text/html,redirected,301 Moved Permanently to /plots/\n"
              "4,1,/events,200,text/html,redirected,301 Moved Permanently to /events/\n"
              "5,1,/gallery,200,text/html,redirected,301 Moved Permanently to /gallery/\n"
              "6,1,/tools,200,text/html,redirected,301 Moved Permanently to /tools/\n"
              "7,1,/contact.html,200,text/html,fine,200 OK\n"
              "8,1,/events/harvest-fair.html,200,text/html,fine,200 OK\n"
              "9,1,/events/seed-swap.html,200,text/html,fine,200 OK\n"
              "10,1,/plots/rules.txt,200,text/plain,fine,200 OK\n"
              "11,2,/about/history.html,200,text/html,fine,200 OK\n"
              "12,2,/events/2023-fair.html,404,text/html,broken,404 Not Found\n"
              "13,2,/tools/menu.html,200,text/html,fine,200 OK\n"
              "14,2,/tools/planner.html,200,text/html,fine,200 OK\n"
              "15,3,/plots/waiting-list.html,404,text/html,broken,404 Not Found\n"
              "16,3,/about/committee.html,200,text/html,fine,200 OK\n");
    EXPECT_EQ(Rows(Slurp(dir + "/objects.csv"), 2),
              "Id,URI,Status,Type,Count,Verdict,Reason\n"
              "1,/css/site.css,200,text/css,13,fine,200 OK\n"
              "2,/img/favicon.ico,200,image/x-icon,10,fine,200 OK\n"
              "3,/js/site.js,200,text/javascript,11,fine,200 OK\n"
              "4,/img/paper.gif,200,image/gif,1,fine,200 OK\n"
              "5,/img/logo.svg,200,image/svg+xml,11,fine,200 OK\n"
              "6,/img/beds.png,200,image/png,4,fine,200 OK\n"
              "7,/img/harvest.jpg,200,image/jpeg,3,fine,200 OK\n"
              "8,/img/beans.png,404,Not Found,1,broken,404 Not Found\n");
    const std::string links = Slurp(dir + "/links.csv");
    EXPECT_NE(links.find(",anchor,https://www.example.org/maps/fernhill,1,external,,"),
              std::string::npos);
    // The JSON report holds the same rows, in the shape its schema gives.
    const TRun valid = Marrowby({"-c",
                                 "import json, jsonschema, sys\n"
                                 "jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))",
                                 dir + "/report.json", MARROWBY_SOURCE_DIR "/docs/report.schema.json"},
                                "/usr/bin/python3");
    EXPECT_EQ(valid.exitCode, 0) << valid.err;
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(Slurp(dir + "/report.json"))).object();
    for (const char* table : {"pages", "objects", "links", "referrers"}) {
        const std::string csv = Slurp(dir + "/" + table + ".csv");
        EXPECT_EQ(AsCsv(json.value(table).toArray(), csv), csv) << table;
    }
    // Each page and object with the pages that use it, as referrers.csv has
    // them: each page once, at its first line.
    std::map<QString, QStringList> uses;
    for (const QJsonValue& row : json.value("referrers").toArray()) {
        const QString use = row["Page"].toString() + " " + QString::number(row["Line"].toInt());
        QStringList& list = uses[row["URI"].toString()];
        if (list.isEmpty() || !list.back().startsWith(row["Page"].toString() + " "))
            list << use;
        else if (row["Line"].toInt() < list.back().section(' ', 1).toInt())
            list.back() = use;
    }
    for (const char* table : {"pages", "objects"})
        for (const QJsonValue& row : json.value(table).toArray()) {
            QStringList shown;
            for (const QJsonValue& use : row["UsedOn"].toArray())
                shown << use["Page"].toString() + " " + QString::number(use["Line"].toInt());
            EXPECT_EQ(shown, uses[row["URI"].toString()]) << row["URI"].toString().toStdString();
        }
    EXPECT_TRUE(json.value("start").toString().startsWith("http://127.0.0.1:"));
    EXPECT_EQ(json.value("options").toObject().value("delay").toInt(-1), 0);
    // Each address once: the sample site's pages, objects and links.
    const QJsonObject verdicts = json.value("verdicts").toObject();
    EXPECT_EQ(verdicts.value("broken").toInt(), 3);
    EXPECT_EQ(verdicts.value("unverifiable").toInt(), 0);

    const TRun missing = Marrowby({"--headless", "--site", tmp.filePath("none")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no such folder"), std::string::npos) << missing.err;
}

// --host-gap and a Retry-After date, through the program: no two requests to
// the host start closer than the gap, and the page that was asked to wait is
// not asked again before the date. Lower bounds only: a busy machine may be
// later, never earlier.
TEST(Headless, KeepsTheHostGapAndWaitsUntilARetryAfterDate) {
    using namespace std::chrono;
    TCannedServer server(seconds(60));
    ASSERT_TRUE(server.Start());
    const auto now = system_clock::now();
    // At least 2 s on: longer than the 1 s a 503 without a time would wait.
    const std::time_t when = system_clock::to_time_t(now) + 3;
    const auto notBefore = steady_clock::now() + (system_clock::from_time_t(when) - now);
    std::tm tm{};
    gmtime_r(&when, &tm);
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    TCannedResponse busy = TTestSite::Page("503 Service Unavailable", "text/html", "");
    busy.Raw.insert(busy.Raw.find("\r\n") + 2, "Retry-After: " + std::string(date) + "\r\n");
    server.AddSequence("/", {busy, TTestSite::Page("200 OK", "text/html",
                                                   "<a href=a.html>a</a><a href=b.html>b</a>")});
    for (const char* target : {"/a.html", "/b.html"})
        server.Add(target, TTestSite::Page("200 OK", "text/html", ""));
    const TRun r = Marrowby({"--headless", "--delay", "0", "--host-gap", "300", "--ignore-robots",
                             QString::fromStdString(server.Url("/"))});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<TReceivedRequest> asked = server.Requests();
    std::vector<std::string> targets;
    for (const TReceivedRequest& request : asked)
        targets.push_back(request.Target);
    // Then the address that cannot exist, asked to tell a soft 404.
    ASSERT_EQ(targets.size(), 5u);
    EXPECT_EQ(targets[4].rfind("/marrowby-", 0), 0u) << targets[4];
    targets.pop_back();
    ASSERT_EQ(targets, (std::vector<std::string>{"/", "/", "/a.html", "/b.html"}));
    EXPECT_GE(asked[1].Arrived, notBefore - milliseconds(20));
    for (std::size_t i = 2; i < asked.size(); ++i)
        EXPECT_GE(asked[i].Arrived - asked[i - 1].Arrived, milliseconds(200)) << targets[i];
}

TEST(Headless, ExitsFourForABrokenAddressAndWithStrictForAnUnverifiableOne) {
    TTestSite site;
    // Another port of the start host is another site: checked, not crawled.
    TCannedServer port;
    port.Start();
    port.Add("/", TTestSite::Page("200 OK", "text/html", "<a href=/deeper>d</a>"));
    // A wall says nothing of the address: broken only when strict.
    site.Other.Add("/wall", TTestSite::Page("403 Forbidden", "text/html", "no bots"));
    const struct {
        std::string Link;
        QStringList Options;
        int Exit;
    } table[] = {
        {site.Outside, {}, 0},
        {site.Other.Url("/missing"), {}, 4},
        {site.Other.Url("/missing"), {"--no-external"}, 0},
        {port.Url("/"), {}, 0},
        {site.Other.Url("/wall"), {}, 0},
        {site.Other.Url("/wall"), {"--strict"}, 4},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Link);
        site.AddPage("/ok.html", "200 OK", "text/html", "<img src=img.gif><a href=" + row.Link + ">o</a>");
        const TRun r = Marrowby(QStringList{"--headless", "--delay", "0"} + row.Options +
                                QStringList{QString::fromStdString(site.Url("/ok.html"))});
        EXPECT_EQ(r.exitCode, row.Exit) << r.err;
        EXPECT_EQ(r.out, "탐색이 끝났습니다\n");
        EXPECT_EQ(Lines(r.err, "page "), 1) << r.err;
        EXPECT_EQ(Lines(r.err, "link "), row.Options.contains("--no-external") ? 0 : 1) << r.err;
    }
    EXPECT_EQ(port.Requests().size(), 1u);
}

TEST(Headless, BadUsageExitsTwo) {
    const QStringList table[] = {
        {"--headless"},
        {"--headless", "--delay", "-1", "http://127.0.0.1:1/"},
        {"--headless", "--delay", "soon", "http://127.0.0.1:1/"},
        {"--headless", "http://127.0.0.1:1/", "http://127.0.0.1:2/"},
        {"--no-such-option"},
        {"--scan", "page.html"},
        {"--scan", "page.html", "--base", "http://h/", "--depth", "x"},
        {"--scan", "page.html", "--base", "http://h/", "--site", "."},
        {"--site"},
        {"--headless", "--site", ".", "http://127.0.0.1:1/"},
        {"--headless", "--per-host", "0", "http://127.0.0.1:1/"},
        {"--headless", "--retries", "many", "http://127.0.0.1:1/"},
        {"--headless", "--include", "(", "http://127.0.0.1:1/"},
        {"--headless", "--user-agent", "", "http://127.0.0.1:1/"},
        {"--headless", "--format", "json", "http://127.0.0.1:1/"},
        {"--strict", "http://127.0.0.1:1/"},
        {"--headless", "--report", "r", "--format", "csv,xml", "http://127.0.0.1:1/"},
        {"--recheck", ".", "http://127.0.0.1:1/"},
        {"--recheck", ".", "--report", "r"},
        {"--recheck", "/etc/passwd", "--format", "json"},
        {"--compare", "."},
        {"--compare", ".", ".", "--format", "xml"},
        {"--compare", ".", ".", "--crawl-file", "c.marrowby"},
        {"--crawl-file", "c.marrowby", "http://127.0.0.1:1/"},
    };
    for (const QStringList& args : table) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const TRun r = Marrowby(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("marrowby:"), std::string::npos);
    }
}

// The addresses a CSV file of addresses calls broken; none when it has no
// Verdict column.
std::optional<std::set<std::string>> BrokenInCsv(const std::string& csv) {
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    const auto fields = [](const std::string& text) {
        std::vector<std::string> f;
        std::istringstream cells(text.substr(0, text.size() - 1)); // no CR; no commas in these
        for (std::string cell; std::getline(cells, cell, ',');)
            f.push_back(cell);
        return f;
    };
    const std::vector<std::string> heading = fields(line);
    const auto uri = std::find(heading.begin(), heading.end(), "URI") - heading.begin();
    const auto verdict = std::find(heading.begin(), heading.end(), "Verdict") - heading.begin();
    if (verdict == std::ssize(heading))
        return std::nullopt;
    std::set<std::string> broken;
    while (std::getline(in, line))
        if (const std::vector<std::string> f = fields(line); f.at(verdict) == "broken")
            broken.insert(f.at(uri));
    return broken;
}

// One crawl writes every format. junit.xml is valid against the JUnit schema,
// its totals are those of its cases, and its failures are the addresses the
// CSV files call broken, each under the page it is on; report.html, as
// headless Chromium renders it, shows the summary's figures and each broken
// address under its page, with its line.
TEST(Headless, WritesJUnitForCIAndHtmlThatABrowserShows) {
    TTestSite site;
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("r");
    const TRun r = Marrowby({"--headless", "--delay", "0", "--report", dir, "--format",
                             "csv,json,html,junit", QString::fromStdString(site.Url("/"))});
    EXPECT_EQ(r.exitCode, 4) << r.err;
    const TRun lint =
        Marrowby({"--noout", "--schema", MARROWBY_SOURCE_DIR "/tests/report/data/junit.xsd",
                  dir + "/junit.xml"},
                 "/usr/bin/xmllint");
    EXPECT_EQ(lint.exitCode, 0) << lint.err;

    struct TFailure {
        std::string Page, Where;
    };
    std::map<std::string, std::vector<TFailure>> failures; // by address
    QXmlStreamReader xml(QByteArray::fromStdString(Slurp(dir + "/junit.xml")));
    std::array<int, 3> total{}, declared{}, suite{}, suiteDeclared{}; // tests, failures, skipped
    const auto counts = [&xml] {
        const QXmlStreamAttributes a = xml.attributes();
        return std::array<int, 3>{a.value("tests").toInt(), a.value("failures").toInt(),
                                  a.value("skipped").toInt()};
    };
    std::string page, testcase;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"testsuite") {
            EXPECT_EQ(suite, suiteDeclared) << page;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"testsuites") {
            declared = counts();
        } else if (xml.name() == u"testsuite") {
            page = xml.attributes().value("name").toString().toStdString();
            suiteDeclared = counts();
            suite = {};
        } else if (xml.name() == u"testcase") {
            testcase = xml.attributes().value("name").toString().toStdString();
            ++suite[0], ++total[0];
        } else if (xml.name() == u"failure") {
            ++suite[1], ++total[1];
            failures[testcase].push_back({page, xml.readElementText().toStdString()});
        } else if (xml.name() == u"skipped") {
            ++suite[2], ++total[2];
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(total, declared);
    // Each failure on the line referrers.csv gives (its first on the page).
    std::map<std::pair<std::string, std::string>, int> lines;
    std::istringstream referrers(Slurp(dir + "/referrers.csv"));
    std::string row;
    std::getline(referrers, row);
    while (std::getline(referrers, row)) {
        // URI,Page,Line,...: no commas in the test site's addresses.
        const std::size_t a = row.find(','), b = row.find(',', a + 1);
        int& line = lines[{row.substr(0, a), row.substr(a + 1, b - a - 1)}];
        const int here = std::stoi(row.substr(b + 1));
        line = line == 0 ? here : std::min(line, here);
    }
    std::set<std::string> failed;
    for (const auto& [address, where] : failures) {
        failed.insert(address);
        for (const TFailure& use : where)
            EXPECT_TRUE(use.Where.starts_with("line " + std::to_string(lines[{address, use.Page}]) +
                                              " of " + use.Page + ": "))
                << use.Where;
    }
    EXPECT_TRUE(failed.contains(site.Url("/missing.html")));
    // The CSV files' verdicts.
    std::set<std::string> broken;
    for (const char* table : {"pages", "objects", "external"}) {
        const auto some = BrokenInCsv(Slurp(dir + "/" + table + ".csv"));
        ASSERT_TRUE(some) << table;
        broken.insert(some->begin(), some->end());
    }
    EXPECT_EQ(failed, broken);

    if (!QFileInfo::exists("/usr/bin/chromium"))
        GTEST_SKIP() << "no chromium here (scripts/setup.sh installs it)";
    TChildProcess chromium("/usr/bin/chromium",
                           {"--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                            "--user-data-dir=" + tmp.filePath("chromium").toStdString(),
                            "--dump-dom", "file://" + (dir + "/report.html").toStdString()});
    ASSERT_TRUE(chromium.Start());
    ASSERT_TRUE(chromium.Wait(std::chrono::seconds(90))) << "chromium took too long";
    const std::string dom = chromium.Out();
    const auto figure = [&dom](const std::string& id) {
        std::smatch m;
        return std::regex_search(dom, m, std::regex("id=\"count-" + id + "\"><b>([0-9]+)</b>"))
                   ? m[1].str()
                   : "none";
    };
    EXPECT_EQ(figure("broken"), std::to_string(failed.size())) << dom.substr(0, 4000);
    EXPECT_EQ(figure("pages"), "6");
    EXPECT_EQ(figure("external"), "1");
    EXPECT_NE(dom.find("<span class=\"rows\">(6 rows)</span>"),
              std::string::npos); // its script ran
    for (const auto& [address, where] : failures)
        for (const TFailure& use : where) {
            SCOPED_TRACE(address + " on " + use.Page);
            const std::size_t heading = dom.find("<h3>On <a href=\"" + use.Page + "\"");
            ASSERT_NE(heading, std::string::npos);
            const std::string line = use.Where.substr(5, use.Where.find(' ', 5) - 5); // "line 2 of"
            EXPECT_NE(dom.find("<td class=\"n\">" + line + "</td><td class=\"u\"><a href=\"" +
                                   address + "\"",
                               heading),
                      std::string::npos);
        }
}

TEST(Headless, AReportFolderThatCannotBeWrittenIsRefusedBeforeTheCrawl) {
    TTestSite site;
    QTemporaryDir tmp;
    std::ofstream(tmp.filePath("file").toStdString()) << "not a folder";
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::ExeOwner);
    const bool root = QFileInfo(tmp.path()).isWritable(); // root writes anyway
    for (const QString& dir : {tmp.filePath("file/reports"), tmp.filePath("new")}) {
        if (root && dir.endsWith("new"))
            continue;
        SCOPED_TRACE(dir.toStdString());
        const TRun r = Marrowby({"--headless", "--delay", "0", "--report", dir,
                                QString::fromStdString(site.Url("/"))});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("marrowby: cannot "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(dir.toStdString()), std::string::npos) << r.err;
    }
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(site.Server.Requests().empty()); // refused before the first request
}

// A page that was missing and an image the server could not give come back;
// the re-check asks for those two only and changes their rows only.
TEST(Headless, RecheckAsksAgainForWhatFailedAndRewritesTheReportInPlace) {
    TCannedServer server(std::chrono::seconds(120));
    ASSERT_TRUE(server.Start());
    TCannedServer other(std::chrono::seconds(120), "127.0.0.2");
    ASSERT_TRUE(other.Start());
    other.Add("/x", TTestSite::Page("200 OK", "text/html", "x"));
    // Cells the report must read back as written: commas, quotes, a line
    // end, and a type a spreadsheet would take for a formula.
    server.Add("/", TTestSite::Page("200 OK", "text/html",
                                    "<a href=/flaky.html>f</a>\n<a href='/q?a=1,b=\"2\"'>q</a>\n"
                                    "<img src=/img.gif>\n<a href=/img.gif>i</a>\n<a href=" +
                                        other.Url("/x") + ">x</a>\n<img src=/odd>"));
    server.Add("/q?a=1,b=%222%22", TTestSite::Page("200 OK", "text/html", "<a href=/>home</a>"));
    server.Add("/odd", TTestSite::Page("200 OK", "=cmd,\"a\"", "odd"));
    server.Add("/img.gif", TTestSite::Page("503 Service Unavailable", "text/plain", "busy"));
    QTemporaryDir dir, keptDir;
    const QString kept = keptDir.filePath("kept.marrowby");
    const TRun crawl =
        Marrowby({"--headless", "--delay", "0", "--retries", "0", "--no-confirm", "--report",
                  dir.path(), "--crawl-file", kept, QString::fromStdString(server.Url("/"))});
    ASSERT_EQ(crawl.exitCode, 4) << crawl.err;
    // Written beside the report, the ended crawl's file is one file again:
    // the rollback journal's mode (1 at byte 18 of SQLite's header, 2 is WAL).
    const std::string head = Slurp(kept).substr(0, 20);
    ASSERT_EQ(head.size(), 20u);
    EXPECT_EQ(int(head[18]), 1);
    const char* files[] = {"pages.csv",     "objects.csv",  "links.csv",
                           "referrers.csv", "external.csv", "redirects.csv"};
    std::map<std::string, std::string> before;
    for (const char* file : files)
        before[file] = Slurp(dir.filePath(file));
    ASSERT_NE(before["objects.csv"].find("/odd,3,200,\"'=cmd,\"\"a\"\"\",1,fine,200 OK"),
              std::string::npos)
        << before["objects.csv"];
    ASSERT_NE(before["pages.csv"].find("/flaky.html,0,404,,broken,404 Not Found"),
              std::string::npos)
        << before["pages.csv"];

    server.Add("/flaky.html", TTestSite::Page("200 OK", "text/html", "fine now"));
    server.Add("/img.gif", TTestSite::Page("200 OK", "image/gif", "GIF89a"));
    const std::size_t asked = server.Requests().size();
    const TRun r = Marrowby({"--recheck", dir.path(), "--retries", "0"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The image is a page (a link) and an object: a row of each.
    EXPECT_NE(r.err.find("Re-checking 3 addresses"), std::string::npos) << r.err;
    const std::vector<TReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), asked + 3);
    std::multiset<std::string> targets;
    for (std::size_t i = asked; i < requests.size(); ++i)
        targets.insert(requests[i].Target);
    EXPECT_EQ(targets, (std::multiset<std::string>{"/flaky.html", "/img.gif", "/img.gif"}));
    EXPECT_EQ(other.Requests().size(), 1u); // fine: not asked again

    // Every line is as it was but those of the two addresses, which say what
    // the server says now.
    for (const char* file : files) {
        SCOPED_TRACE(file);
        std::istringstream was(before[file]), now(Slurp(dir.filePath(file)));
        std::string a, b;
        int changed = 0;
        while (std::getline(was, a)) {
            ASSERT_TRUE(std::getline(now, b));
            if (a.find("/flaky.html,") != std::string::npos ||
                a.find("/img.gif,") != std::string::npos) {
                ++changed;
                EXPECT_EQ(b.find("broken"), std::string::npos) << b;
                EXPECT_EQ(b.find("unverifiable"), std::string::npos) << b;
            } else {
                EXPECT_EQ(a, b);
            }
        }
        EXPECT_FALSE(std::getline(now, b)) << b;
        if (std::string(file) != "redirects.csv" && std::string(file) != "external.csv") {
            EXPECT_GT(changed, 0);
        }
    }
    EXPECT_NE(Slurp(dir.filePath("pages.csv")).find("/flaky.html,8,200,text/html,fine,200 OK"),
              std::string::npos);
    EXPECT_NE(Slurp(dir.filePath("objects.csv")).find("/img.gif,6,200,image/gif,1,fine,200 OK"),
              std::string::npos);

    // The same crawl kept in a crawl file is re-checked the same, and the
    // file is rewritten with the new verdicts: a second re-check finds nothing.
    QTemporaryDir again;
    const TRun fromFile = Marrowby({"--recheck", kept, "--retries", "0", "--report", again.path()});
    EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err;
    for (const char* name : files)
        EXPECT_EQ(Slurp(again.filePath(name)), Slurp(dir.filePath(name))) << name;
    const TRun twice = Marrowby({"--recheck", kept});
    EXPECT_EQ(twice.exitCode, 0) << twice.err;
    EXPECT_NE(twice.err.find("Nothing to re-check"), std::string::npos) << twice.err;
    EXPECT_EQ(QDir(keptDir.path()).entryList(QDir::Files), QStringList{"kept.marrowby"});
}

TEST(Headless, RecheckRefusesAFolderWithoutAReportAndWritesNothing) {
    QTemporaryDir dir;
    const TRun empty = Marrowby({"--recheck", dir.path()});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.err.find("pages.csv"), std::string::npos) << empty.err;
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::Files));

    const struct {
        const char* Pages;
        const char* Says;
    } table[] = {
        {"name,size\r\na,1\r\n", "not a report table"},
        {"Id,Depth,URI,Size,Status,Type,Verdict,Reason\r\n1,0,http://h/,5,200,\"text\r\n",
         "not CSV"},
        {"Id,Depth,URI,Size,Status,Type,Verdict,Reason\r\nx,0,http://h/,5,200,t,fine,\r\n",
         "line 2"},
        {"Id,Depth,URI,Size,Status,Type,Verdict,Reason\r\n1,0,http://h/,5,200,t,great,\r\n",
         "not a verdict"},
    };
    const std::map<std::string, std::string> others{
        {"objects.csv", "Id,URI,Size,Status,Type,Count,Verdict,Reason\r\n"},
        {"links.csv", "Page,Kind,URI,Count,Scope,Verdict,Reason\r\n"},
        {"referrers.csv", "URI,Page,Line,Verdict,Reason\r\n"},
        {"external.csv", "Id,URI,Status,Size,Type,Count,Verdict,Reason\r\n"}};
    for (const auto& [file, text] : others)
        std::ofstream(dir.filePath(QString::fromStdString(file)).toStdString(), std::ios::binary)
            << text;
    for (const auto& row : table) {
        SCOPED_TRACE(row.Pages);
        std::ofstream(dir.filePath("pages.csv").toStdString(), std::ios::binary) << row.Pages;
        const TRun r = Marrowby({"--recheck", dir.path()});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(row.Says), std::string::npos) << r.err;
        EXPECT_EQ(Slurp(dir.filePath("pages.csv")), row.Pages);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 5);
    }
}

// Two crawls of a site whose pages changed between them: what broke, was
// fixed, is new and is gone, with the pages linking to it; a folder that is
// not a report is refused and nothing is written.
TEST(Headless, CompareSaysWhatChangedBetweenTwoCrawls) {
    TCannedServer server(std::chrono::seconds(120));
    ASSERT_TRUE(server.Start());
    const auto page = [&server](const char* target, const char* status, const std::string& body) {
        server.Add(target, TTestSite::Page(status, "text/html", body));
    };
    QTemporaryDir past, now, out;
    // The second crawl is kept in a crawl file as well: compared the same.
    const QString kept = now.filePath("kept.marrowby");
    const auto crawl = [&server, &kept](const QString& dir) {
        const TRun r = Marrowby({"--headless", "--delay", "0", "--retries", "0", "--no-confirm",
                                 "--report", dir, "--crawl-file", kept,
                                 QString::fromStdString(server.Url("/"))});
        EXPECT_EQ(r.exitCode, 4) << r.err;
    };
    page("/", "200 OK", "<a href=/a.html>a</a> <a href=/b.html>b</a> <a href=/old.html>o</a>");
    page("/a.html", "200 OK", "a");
    page("/b.html", "404 Not Found", "b");
    page("/old.html", "200 OK", "o");
    crawl(past.path());
    page("/", "200 OK", "<a href=/a.html>a</a> <a href=/b.html>b</a> <a href=/new.html>n</a>");
    page("/a.html", "404 Not Found", "a");
    page("/b.html", "200 OK", "b");
    page("/new.html", "200 OK", "<a href=/b.html>b</a>");
    crawl(now.path());

    const std::string home = server.Url(""); // the first page as the crawl keys it
    const auto url = [&server](const char* target) { return server.Url(target); };
    for (const QString& after : {now.path(), kept}) {
        SCOPED_TRACE(after.toStdString());
        const TRun r = Marrowby({"--compare", past.path(), after, "--report", out.path(),
                                 "--format", "html,csv,junit"});
        EXPECT_EQ(r.exitCode, 4) << r.err;
        EXPECT_EQ(QDir(out.path()).entryList(QDir::Files),
                  (QStringList{"compare.csv", "compare.html", "compare.xml"}));
        EXPECT_NE(Slurp(out.filePath("compare.xml")).find("tests=\"2\" failures=\"1\""),
                  std::string::npos);
        EXPECT_EQ(r.out, "1 broke, 1 fixed, 1 new, 1 gone\n"
                         "broke " +
                             url("/a.html") + " (fine: 200 OK -> broken: 404 Not Found) on " +
                             home + "\nfixed " + url("/b.html") +
                             " (broken: 404 Not Found -> fine: 200 OK) on " + home + " " +
                             url("/new.html") + "\n");
        EXPECT_EQ(Slurp(out.filePath("compare.csv")),
                  "Change,URI,Old status,New status,Pages\r\n"
                  "broke," +
                      url("/a.html") + ",fine: 200 OK,broken: 404 Not Found," + home +
                      "\r\n"
                      "fixed," +
                      url("/b.html") + ",broken: 404 Not Found,fine: 200 OK," + home + " " +
                      url("/new.html") +
                      "\r\n"
                      "new," +
                      url("/new.html") + ",,fine: 200 OK," + home +
                      "\r\n"
                      "gone," +
                      url("/old.html") + ",fine: 200 OK,," + home + "\r\n");
    }
    const TRun same = Marrowby({"--compare", now.path(), now.path(), "--report", out.path()});
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_EQ(same.out, "0 broke, 0 fixed, 0 new, 0 gone\n");
    EXPECT_EQ(Slurp(out.filePath("compare.csv")), "Change,URI,Old status,New status,Pages\r\n");

    QTemporaryDir empty, clean;
    const QString notes = empty.filePath("notes.marrowby");
    std::ofstream(notes.toStdString()) << "not a crawl\n";
    for (const QStringList& args : {QStringList{empty.path(), now.path(), "pages.csv"},
                                    QStringList{now.path(), clean.path() + "/none", "pages.csv"},
                                    QStringList{kept, notes, "not a Marrowby crawl file"}}) {
        const TRun bad = Marrowby({"--compare", args[0], args[1], "--report", clean.path()});
        EXPECT_EQ(bad.exitCode, 1);
        EXPECT_NE(bad.err.find(args[2].toStdString()), std::string::npos) << bad.err;
        EXPECT_TRUE(bad.out.empty()) << bad.out;
        EXPECT_TRUE(QDir(clean.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
    }
}

TEST(Program, ScanExitsOneOnWhatItCannotReadWhole) {
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    std::ofstream(dir + "/big.html").close();
    std::filesystem::resize_file(dir + "/big.html", (64 << 20) + 1); // sparse: nothing to write
    std::ofstream links(dir + "/links.html");
    for (int i = 0; i < 1500000; ++i)
        links << "<a href=/" << i << ">"; // records need far more memory than the limit below
    links.close();
    const struct {
        std::string args, err;
        bool needsLimit = false;
    } table[] = {
        {dir, "cannot read \"" + dir + "\": Is a directory"},
        {"/proc/self/mem", "cannot read \"/proc/self/mem\": Input/output error"},
        {"- <&-", "cannot read standard input: Bad file descriptor"},
        {"/dev/zero", "cannot read \"/dev/zero\": it is larger than 64 MiB"},
        {"- <" + dir + "/big.html", "cannot read standard input: it is larger than 64 MiB"},
        {dir + "/links.html", "out of memory", true},
    };
    // Under a limit on data, so a scan that reads without bound fails fast
    // rather than taking the machine's memory. ASan cannot run under it.
    const std::string limit = MARROWBY_SANITIZED ? "" : "ulimit -d 200000; ";
    for (const auto& row : table) {
        SCOPED_TRACE(row.args);
        if (row.needsLimit && limit.empty())
            continue;
        const TRun r = Marrowby(
            {"-c",
             QString::fromStdString(limit + "exec \"$0\" --scan " + row.args + " --base http://h/"),
             MARROWBY_BIN},
            "/bin/sh");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "marrowby: " + row.err + "\n");
        EXPECT_EQ(r.out, "");
    }
}

// A folder whose second page links to count pages of its own.
QString BigSite(const QTemporaryDir& tmp, int count) {
    QDir(tmp.path()).mkpath("site");
    std::ofstream(tmp.filePath("site/index.html").toStdString()) << "<a href=big.html>big</a>";
    std::ofstream big(tmp.filePath("site/big.html").toStdString());
    for (int i = 0; i < count; ++i)
        big << "<a href=/p" << i << ".html>";
    return tmp.filePath("site");
}

// Memory running out in the merge of a page of 1.5 million links, wherever it
// runs out: exit 1 and the reports of what was done, links.csv and
// referrers.csv with the same pairs.
TEST(Headless, OutOfMemoryEndsWithTheReportOfWhatWasDone) {
    if (MARROWBY_SANITIZED)
        GTEST_SKIP() << "a sanitizer cannot run under a limit on data";
    QTemporaryDir tmp;
    const QString site = BigSite(tmp, 1500000);
    for (const char* limit : {"200000", "300000", "400000"}) {
        SCOPED_TRACE(limit);
        const QString dir = tmp.filePath(QString("r") + limit);
        const TRun r = Marrowby({"-c",
                                 QString("ulimit -d ") + limit +
                                     "; exec \"$0\" --headless --delay 0 --site \"$1\" --report \"$2\"",
                                 MARROWBY_BIN, site, dir},
                                "/bin/sh");
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("marrowby: out of memory\n"), std::string::npos) << r.err;
        const std::string pages = Slurp(dir + "/pages.csv");
        EXPECT_EQ(std::count(pages.begin(), pages.end(), '\n'), 3) << pages;
        EXPECT_EQ(Pairs(Slurp(dir + "/links.csv"), true),
                  Pairs(Slurp(dir + "/referrers.csv"), false));
    }
}

// A crawl holding two million rows (a million links and their referrers)
// stops at SIGTERM within 2 s: the records are not freed on the way out.
TEST(Headless, AStopWithMillionsOfRowsHeldEndsWithinTwoSeconds) {
    if (MARROWBY_SANITIZED)
        GTEST_SKIP() << "the time is the normal build's";
    TTestSite site;
    std::string big;
    for (int i = 0; i < 1000000; ++i)
        big += "<a href=/p" + std::to_string(i) + ".html>";
    site.AddPage("/big.html", "200 OK", "text/html", big);
    TCannedResponse stall = TTestSite::Page("200 OK", "text/html", "");
    stall.StallAfter = 0;
    stall.Stall = std::chrono::seconds(60);
    site.Server.Add("/p0.html", stall); // the next page after the merge
    QElapsedTimer clock;
    const TRun r = Marrowby({"--headless", "--delay", "0", QString::fromStdString(site.Url("/big.html"))},
                            MARROWBY_BIN, [&](TChildProcess& p) {
                                ASSERT_TRUE(site.Server.WaitForRequests(2, std::chrono::seconds(50)));
                                QThread::msleep(300);
                                p.Signal(SIGTERM);
                                clock.start();
                            });
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(r.exitCode, 143) << r.err;
}

TEST(Headless, MissingSkipListExitsOne) {
    // A copy of the program in a folder without the skip list, run from there.
    TTestSite site;
    QTemporaryDir tmp;
    const QString copy = tmp.filePath("marrowby");
    ASSERT_TRUE(QFile::copy(MARROWBY_BIN, copy));
    TChildProcess p(copy.toStdString(), {"--headless", "--delay", "0", site.Url("/")});
    p.SetWorkingDirectory(tmp.path().toStdString());
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.Wait(std::chrono::seconds(30)));
    EXPECT_EQ(p.ExitCode(), 1);
    EXPECT_NE(p.Err().find("TTags.txt"), std::string::npos);
}

TEST(Headless, SignalsStopTheCrawlAndWriteWhatWasDone) {
    const std::pair<int, int> table[] = {{SIGINT, 130}, {SIGTERM, 143}};
    for (const auto& [sig, code] : table) {
        const int signo = sig; // a lambda below takes it, which clang 14 refuses for a binding
        SCOPED_TRACE(signo);
        TTestSite site;
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("r");
        const TRun r = Marrowby({"--headless", "--delay", "60", "--report", dir,
                                QString::fromStdString(site.Url("/"))},
                               MARROWBY_BIN, [&](TChildProcess& p) {
                                   // The first page and its three objects, then the pause.
                                   site.Server.WaitForRequests(4, std::chrono::seconds(20));
                                   QThread::msleep(300);
                                   p.Signal(signo);
                               });
        EXPECT_EQ(r.exitCode, code);
        const std::string pages = Slurp(dir + "/pages.csv");
        EXPECT_EQ(pages.rfind("Id,Depth,URI,Size,Status,Type,Verdict,Reason\r\n1,0,", 0), 0u)
            << pages;
        EXPECT_EQ(std::count(pages.begin(), pages.end(), '\n'), 2);
        EXPECT_NE(Slurp(dir + "/objects.csv").find("img.gif"), std::string::npos);
    }
}

TEST(Headless, AStopRequestDuringAProbeEndsTheRunAtOnce) {
    TTestSite site;
    TCannedResponse drip = TTestSite::Page("200 OK", "image/gif", std::string(600, 'x'));
    drip.Drip = std::chrono::milliseconds(200);
    site.Server.Add("/drip.gif", drip);
    site.AddPage("/probe.html", "200 OK", "text/html", "<img src=drip.gif><a href=a.html>a</a>");
    QElapsedTimer clock;
    const TRun r = Marrowby({"--headless", "--delay", "0", QString::fromStdString(site.Url("/probe.html"))},
                           MARROWBY_BIN, [&](TChildProcess& p) {
                               ASSERT_TRUE(site.Server.WaitForRequests(2, std::chrono::seconds(20)));
                               QThread::msleep(300);
                               p.Signal(SIGTERM);
                               clock.start();
                           });
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(r.exitCode, 143) << r.err;
}

TEST(Program, TheWindowClosesCleanlyOnAStopRequest) {
    // The window on the offscreen platform, asked to stop by SIGTERM in the
    // pause and while an object is probed: it closes the usual way, stops its
    // workers and exits 0 at once, and the crawl it did not ask about stays
    // in the file it was recorded in.
    for (const char* start : {"/", "/probe.html"}) {
        SCOPED_TRACE(start);
        TTestSite site;
        TCannedResponse drip = TTestSite::Page("200 OK", "image/gif", std::string(600, 'x'));
        drip.Drip = std::chrono::milliseconds(200);
        site.Server.Add("/drip.gif", drip);
        site.AddPage("/probe.html", "200 OK", "text/html", "<img src=drip.gif>");
        TChildProcess p(MARROWBY_BIN, {"--delay", "60", site.Url(start)});
        p.SetEnv("QT_QPA_PLATFORM", "offscreen");
        const QTemporaryDir config; // the address history and crawls of this run only
        p.SetEnv("XDG_CONFIG_HOME", config.path().toStdString());
        p.SetEnv("XDG_DATA_HOME", config.path().toStdString());
        ASSERT_TRUE(p.Start());
        ASSERT_TRUE(site.Server.WaitForRequests(start[1] ? 2 : 4, std::chrono::seconds(20)));
        QThread::msleep(300);
        QElapsedTimer clock;
        clock.start();
        p.Signal(SIGTERM);
        ASSERT_TRUE(p.Wait(std::chrono::seconds(10)));
        EXPECT_LT(clock.elapsed(), 2000);
        EXPECT_EQ(p.ExitCode(), 0) << p.Err();
        EXPECT_EQ(QDir(config.path() + "/marrowby/crawls").entryList({"*.marrowby"}).size(), 1);
    }
}

TEST(Program, WithoutADisplayTheWindowSaysSoInOneLine) {
    const char* displays[] = {"", ":97"}; // none, and one where no server answers
    for (const char* display : displays) {
        SCOPED_TRACE(display);
        TChildProcess p(MARROWBY_BIN, {});
        p.SetEnv("QT_QPA_PLATFORM", std::nullopt);
        p.SetEnv("WAYLAND_DISPLAY", std::nullopt);
        p.SetEnv("DISPLAY", display);
        ASSERT_TRUE(p.Start());
        ASSERT_TRUE(p.Wait(std::chrono::seconds(10)));
        EXPECT_EQ(p.ExitCode(), 1);
        EXPECT_EQ(p.Err(), "marrowby: cannot open a display; use --headless, or run under xvfb-run\n");
    }
}

TEST(Program, HelpAndVersionNeedNoDisplay) {
    const TRun help = Marrowby({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: marrowby"), std::string::npos);
    // Every option and the address, each with an example of its own.
    const char* entries[] = {"--help",           "--version",         "--site <DIR>",
                             "--headless",       "--delay <S>",       "--per-host <N>",
                             "--connections <M>", "--host-gap <MS>",  "--retries <N>",
                             "--max-wait <S>",   "--no-external",     "--no-confirm",
                             "--ignore-robots",
                             "--user-agent <TEXT>", "--max-depth <N>", "--max-pages <N>",
                             "--include <REGEX>", "--exclude <REGEX>", "--report <DIR>",
                             "--scan <FILE>",    "--base <URL>",      "--depth <N>",
                             "  URL "};
    for (const char* entry : entries) {
        const std::size_t at = help.out.find(entry);
        ASSERT_NE(at, std::string::npos) << entry;
        const std::size_t next = help.out.find("\n  -", at + 1);
        const std::string text = help.out.substr(at, next == std::string::npos ? next : next - at);
        EXPECT_NE(text.find("Example: marrowby "), std::string::npos) << text;
    }
    // What --report writes, and the time limits, as the README has them.
    for (const char* told :
         {"Exit codes: 0 ", "referrers.csv", "within 30 s", "for 60 s", "after 5 minutes",
          "http://h:8080/ is another"})
        EXPECT_NE(help.out.find(told), std::string::npos) << told;
    const TRun version = Marrowby({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("marrowby ", 0), 0u);
}

TEST(Program, InstallsUnderAPrefixAndFindsItsSkipListThere) {
    QTemporaryDir prefix;
    TChildProcess install(CMAKE_COMMAND, {"--install", MARROWBY_BUILD_DIR, "--prefix",
                                          prefix.path().toStdString()});
    ASSERT_TRUE(install.Start());
    ASSERT_TRUE(install.Wait(std::chrono::seconds(60)));
    ASSERT_EQ(install.ExitCode(), 0) << install.Err();
    for (const char* file :
         {"bin/marrowby", "share/marrowby/TTags.txt", "share/applications/marrowby.desktop",
          "share/icons/hicolor/scalable/apps/marrowby.svg"})
        EXPECT_TRUE(QFile::exists(prefix.filePath(file))) << file;

    const QString program = prefix.filePath("bin/marrowby");
    EXPECT_EQ(Marrowby({"--version"}, program).out, "marrowby " MARROWBY_VERSION "\n");
    // Run from a folder without a skip list: only the installed one can be found.
    QTemporaryDir work;
    std::ofstream(work.filePath("page.html").toStdString())
        << "<a href=a.html>a</a><img src=i.png>";
    TChildProcess scan(program.toStdString(), {"--scan", "page.html", "--base", "http://h/"});
    scan.SetWorkingDirectory(work.path().toStdString());
    ASSERT_TRUE(scan.Start());
    ASSERT_TRUE(scan.Wait(std::chrono::seconds(10)));
    EXPECT_EQ(scan.ExitCode(), 0) << scan.Err();
    EXPECT_EQ(scan.Out(),
              "Kind,URI,Count,Depth\r\nanchor,http://h/a.html,1,1\r\nobject,http://h/i.png,1,0\r\n");
}

TEST(RunScript, WithoutADisplayCrawlsTheSampleSiteHeadlessAndSaysWhereTheReportIs) {
    TChildProcess p("bash", {MARROWBY_SOURCE_DIR "/scripts/run.sh"});
    p.SetEnv("DISPLAY", std::nullopt);
    p.SetEnv("WAYLAND_DISPLAY", std::nullopt);
    p.SetEnv("MARROWBY_BUILD_DIR", MARROWBY_BUILD_DIR);
    p.SetEnv("MARROWBY_NO_SETUP", "1");
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.Wait(std::chrono::seconds(120)));
    const std::string& out = p.Out();
    EXPECT_EQ(p.ExitCode(), 4) << out << p.Err();
    const std::string report = MARROWBY_BUILD_DIR "/sample-report";
    EXPECT_NE(out.find("run.sh: no display, so the sample site is crawled headless\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("탐색이 끝났습니다\nrun.sh: the report is in " + report + " ("),
              std::string::npos)
        << out;
    const std::string pages = Slurp(QString::fromStdString(report) + "/pages.csv");
    EXPECT_EQ(std::count(pages.begin(), pages.end(), '\n'), 17); // the heading and 16 pages
}

} // namespace

// Every file of a report folder, by name.
static std::map<std::string, std::string> Files(const QString& dir) {
    std::map<std::string, std::string> files;
    for (const QString& name : QDir(dir).entryList(QDir::Files))
        files[name.toStdString()] = Slurp(dir + "/" + name);
    return files;
}

// A crawl kept in a crawl file, killed at points chosen by a seed (once or
// twice, the resumed run too), then resumed: its report is the
// uninterrupted crawl's to the byte (the referrers of a page that uses an
// address twice among them). So is a --site crawl stopped by a
// signal, served again on its port. What is not a crawl file is refused.
TEST(Headless, AKilledCrawlResumedFromItsFileEndsAsAnUninterruptedOne) {
    TCannedServer server(std::chrono::seconds(300)), other(std::chrono::seconds(300), "127.0.0.2");
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(other.Start());
    constexpr int kPages = 30;
    for (int i = 1; i <= kPages; ++i) {
        const auto p = [&server](int n) { return server.Url("/p" + std::to_string(n) + ".html"); };
        // The image is linked to on the line before it is shown.
        const std::string image = "/i" + std::to_string(i % 5) + ".gif";
        std::string body = "<a href=" + image + ">image</a>\n<a href=" + p(i + 1) +
                           ">next</a> <a href=" + p(2 * i) + ">twice</a> <img src=" + image +
                           "> <a href=/m" + std::to_string(i % 3) + ".html>gone</a> <a href=" +
                           other.Url("/x" + std::to_string(i % 4)) + ">out</a>";
        TCannedResponse page = TTestSite::Page("200 OK", "text/html", body);
        page.Drip = std::chrono::milliseconds(5); // the kills land mid-crawl
        page.DripSize = 64;
        server.Add("/p" + std::to_string(i) + ".html", page);
    }
    for (int i = 0; i < 5; ++i)
        server.Add("/i" + std::to_string(i) + ".gif", TTestSite::Page("200 OK", "image/gif", "GIF89a"));
    other.Add("/x1", TTestSite::Page("200 OK", "text/html", "x"));
    const QStringList options{"--delay", "0", "--retries", "0", "--no-confirm"};
    const QString start = QString::fromStdString(server.Url("/p1.html"));
    QTemporaryDir tmp;
    const QString whole = tmp.filePath("whole");
    const TRun reference = Marrowby(QStringList{"--headless", "--report", whole, start} + options);
    ASSERT_EQ(reference.exitCode, 4) << reference.err;
    const auto expected = Files(whole);
    ASSERT_EQ(expected.size(), 6u);

    const auto kill = [](std::size_t after, const TCannedServer& site) {
        return [after, &site](TChildProcess& p) {
            site.WaitForRequests(after, std::chrono::seconds(30));
            p.Signal(SIGKILL);
        };
    };
    for (const unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        const QString file = tmp.filePath(QString("kept%1.marrowby").arg(seed));
        const QString dir = tmp.filePath(QString("resumed%1").arg(seed));
        const std::size_t asked = server.Requests().size();
        const auto at = [&asked](int most) { return asked + 1 + std::rand() % most; };
        Marrowby(QStringList{"--headless", "--crawl-file", file, start} + options, MARROWBY_BIN,
                 kill(at(seed == 4 ? 3 : kPages), server));
        if (seed == 4) // the resumed run killed as well
            Marrowby({"--resume", file}, MARROWBY_BIN, kill(server.Requests().size() + 5, server));
        const TRun resumed = Marrowby({"--resume", file, "--report", dir});
        EXPECT_EQ(resumed.exitCode, 4) << resumed.err;
        EXPECT_EQ(Files(dir), expected);
        // So is the report of the file, whose rows were written as the
        // pages were merged, some before the kill, the rest after.
        TRecordStore kept;
        TCrawlOptions keptOptions;
        TReport keptAbout;
        ASSERT_EQ(TCrawlFile::Load(file.toStdString(), kept, keptOptions, keptAbout), "");
        ASSERT_EQ(TCrawlReport::Write(kept, (dir + "-file").toStdString()), "");
        EXPECT_EQ(Files(dir + "-file"), expected);
    }

    // A folder's crawl stopped by a signal is served again on its port.
    const QString folder = QString::fromStdString(MARROWBY_SOURCE_DIR "/examples/site");
    const QString siteWhole = tmp.filePath("site-whole"), siteDir = tmp.filePath("site-resumed");
    const QString file = tmp.filePath("site.marrowby");
    const TRun siteReference = Marrowby({"--headless", "--site", folder, "--report", siteWhole});
    Marrowby({"--headless", "--delay", "1", "--site", folder, "--crawl-file", file}, MARROWBY_BIN,
             [](TChildProcess& p) {
                 QThread::msleep(1500);
                 p.Signal(SIGTERM);
             });
    // Re-checked, it would be written back as ended: refused, the file left as it is.
    const std::string stopped = Slurp(file);
    const TRun recheck = Marrowby({"--recheck", file});
    EXPECT_EQ(recheck.exitCode, 1);
    EXPECT_NE(recheck.err.find("has not ended"), std::string::npos) << recheck.err;
    EXPECT_EQ(Slurp(file), stopped);
    const TRun siteResumed = Marrowby({"--resume", file, "--delay", "0", "--report", siteDir});
    EXPECT_EQ(siteResumed.exitCode, siteReference.exitCode) << siteResumed.err;
    // The port differs from the reference crawl's: the pages' rows are compared by path.
    const auto paths = [](std::string text) {
        return std::regex_replace(text, std::regex("127\\.0\\.0\\.1:[0-9]+"), "127.0.0.1");
    };
    EXPECT_EQ(paths(Slurp(siteDir + "/pages.csv")), paths(Slurp(siteWhole + "/pages.csv")));
    EXPECT_NE(siteResumed.err.find("Going on with the crawl in"), std::string::npos);

    const QString foreign = tmp.filePath("notes.marrowby");
    std::ofstream(foreign.toStdString()) << "not a crawl\n";
    const TRun refused = Marrowby({"--resume", foreign});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("not a Marrowby crawl file"), std::string::npos) << refused.err;
}
