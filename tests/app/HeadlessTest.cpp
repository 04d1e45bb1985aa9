// The program run headless as a user would: exit codes, output and reports.
#include "TTestSite.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct TRun {
    int exitCode = -1;
    std::string out, err;
};

TRun Marrowby(const QStringList& args, const QString& program = MARROWBY_BIN,
             const std::function<void(QProcess&)>& during = {}) {
    QProcess p;
    // Nothing but the window needs a platform plugin: name one that does not exist.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "nosuchplugin");
    p.setProcessEnvironment(env);
    p.setProgram(program);
    p.setArguments(args);
    p.start();
    EXPECT_TRUE(p.waitForStarted(5000));
    if (during)
        during(p);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

std::string Slurp(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
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
    EXPECT_EQ(r.exitCode, 4) << r.err; // a missing page, a missing image, a failed page
    EXPECT_EQ(r.out, "탐색이 끝났습니다\n");
    EXPECT_EQ(Lines(r.err, "page "), 6) << r.err;

    auto size = [&](const char* t) { return std::to_string(site.BodySize[t]); };
    EXPECT_EQ(Slurp(dir + "/pages.csv"),
              "Id,Depth,URI,Size,Status,Type\r\n"
              "1,0," + site.Home() + "," + size("/") + ",200,text/html\r\n"
              "2,1," + site.Url("/a.html") + "," + size("/a.html") + ",200,text/html; charset=UTF-8\r\n"
              "3,1," + site.Url("/b.html") + "," + size("/b.html") + ",200,text/html\r\n"
              "4,2," + site.Url("/doc.txt") + "," + size("/doc.txt") + ",200,text/plain\r\n"
              "5,2," + site.Url("/missing.html") + "," + size("/missing.html") + ",404,text/html\r\n"
              "-1,0," + site.Gone + ",-1,404,NotFound\r\n");
    EXPECT_EQ(Slurp(dir + "/objects.csv"),
              "Id,URI,Size,Status,Type,Count\r\n"
              "1," + site.Url("/bg.gif") + ",5000,200,image/gif,1\r\n"
              "2," + site.Url("/img.gif") + ",6,200,image/gif,4\r\n"
              "3," + site.Url("/nope.gif") + ",-1,404,Not Found,1\r\n");
    EXPECT_EQ(Slurp(dir + "/links.csv"),
              "Page,Kind,URI,Count,Scope\r\n"
              + site.Home() + ",anchor," + site.Url("/a.html") + ",1,internal\r\n"
              + site.Home() + ",anchor," + site.Url("/b.html") + ",1,internal\r\n"
              + site.Home() + ",anchor," + site.Home() + ",1,internal\r\n"
              + site.Home() + ",anchor,http://external.example/x,1,external\r\n"
              + site.Home() + ",object," + site.Url("/bg.gif") + ",1,\r\n"
              + site.Home() + ",object," + site.Url("/img.gif") + ",2,\r\n"
              + site.Home() + ",object," + site.Url("/nope.gif") + ",1,\r\n"
              + site.Url("/a.html") + ",anchor," + site.Url("/b.html") + ",1,internal\r\n"
              + site.Url("/a.html") + ",anchor," + site.Url("/doc.txt") + ",1,internal\r\n"
              + site.Url("/a.html") + ",anchor," + site.Url("/missing.html") + ",1,internal\r\n"
              + site.Url("/a.html") + ",anchor," + site.Gone + ",1,internal\r\n"
              + site.Url("/a.html") + ",object," + site.Url("/img.gif") + ",1,\r\n"
              + site.Url("/b.html") + ",anchor," + site.Url("/a.html") + ",1,internal\r\n"
              + site.Url("/b.html") + ",object," + site.Url("/img.gif") + ",1,\r\n");
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
    EXPECT_EQ(referrers.rfind("URI,Page\r\n" + site.Url("/bg.gif") + "," + site.Home() + "\r\n", 0), 0u);
    EXPECT_EQ(Pairs(referrers, false), Pairs(Slurp(tmp.filePath("links.csv")), true));
    EXPECT_NE(r.err.find(site.Gone + " (Failed to connect"), std::string::npos) << r.err;
}

TEST(Headless, ExitsZeroWhenNothingIsBroken) {
    TTestSite site;
    site.AddPage("/ok.html", "200 OK", "text/html", "<img src=img.gif><a href=http://other.example/>o</a>");
    const TRun r = Marrowby({"--headless", "--delay", "0", QString::fromStdString(site.Url("/ok.html"))});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "탐색이 끝났습니다\n");
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
    };
    for (const QStringList& args : table) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const TRun r = Marrowby(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("marrowby:"), std::string::npos);
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

TEST(Headless, MissingSkipListExitsOne) {
    // A copy of the program in a folder without the skip list, run from there.
    TTestSite site;
    QTemporaryDir tmp;
    const QString copy = tmp.filePath("marrowby");
    ASSERT_TRUE(QFile::copy(MARROWBY_BIN, copy));
    QProcess p;
    p.setWorkingDirectory(tmp.path());
    p.setProgram(copy);
    p.setArguments({"--headless", "--delay", "0", QString::fromStdString(site.Url("/"))});
    p.start();
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_NE(p.readAllStandardError().indexOf("TTags.txt"), -1);
}

TEST(Headless, SignalsStopTheCrawlAndWriteWhatWasDone) {
    const std::pair<int, int> table[] = {{SIGINT, 130}, {SIGTERM, 143}};
    for (auto [signo, code] : table) {
        SCOPED_TRACE(signo);
        TTestSite site;
        QTemporaryDir tmp;
        const QString dir = tmp.filePath("r");
        const TRun r = Marrowby({"--headless", "--delay", "60", "--report", dir,
                                QString::fromStdString(site.Url("/"))},
                               MARROWBY_BIN, [&](QProcess& p) {
                                   // The first page and its three objects, then the pause.
                                   site.Server.WaitForRequests(4, std::chrono::seconds(20));
                                   QThread::msleep(300);
                                   ::kill(static_cast<pid_t>(p.processId()), signo);
                               });
        EXPECT_EQ(r.exitCode, code);
        const std::string pages = Slurp(dir + "/pages.csv");
        EXPECT_EQ(pages.rfind("Id,Depth,URI,Size,Status,Type\r\n1,0,", 0), 0u) << pages;
        EXPECT_EQ(std::count(pages.begin(), pages.end(), '\n'), 2);
        EXPECT_NE(Slurp(dir + "/objects.csv").find("img.gif"), std::string::npos);
    }
}

TEST(Program, TheWindowClosesCleanlyOnAStopRequest) {
    // The window on the offscreen platform, mid-crawl, asked to stop by
    // SIGTERM: it closes the usual way, stops its workers and exits 0.
    TTestSite site;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(MARROWBY_BIN, {"--delay", "60", QString::fromStdString(site.Url("/"))});
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(site.Server.WaitForRequests(4, std::chrono::seconds(20)));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

TEST(Program, WithoutADisplayTheWindowSaysSoInOneLine) {
    const char* displays[] = {"", ":97"}; // none, and one where no server answers
    for (const char* display : displays) {
        SCOPED_TRACE(display);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("WAYLAND_DISPLAY");
        env.insert("DISPLAY", display);
        p.setProcessEnvironment(env);
        p.start(MARROWBY_BIN, QStringList{});
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_EQ(p.readAllStandardError().toStdString(),
                  "marrowby: cannot open a display; use --headless, or run under xvfb-run\n");
    }
}

TEST(Program, HelpAndVersionNeedNoDisplay) {
    const TRun help = Marrowby({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--headless"), std::string::npos);
    EXPECT_NE(help.out.find("Usage: marrowby"), std::string::npos);
    const TRun version = Marrowby({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("marrowby ", 0), 0u);
}

} // namespace
