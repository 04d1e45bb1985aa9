// The entry routine: reads the command line, then opens the window, runs a
// headless crawl or scans a local file.
#include "TApplication.h"
#include "TCompareCommand.h"
#include "TCoreApplication.h"
#include "TDisplayProbe.h"
#include "TFrmMain.h"
#include "THeadlessRun.h"
#include "TScanCommand.h"
#include "TSignalNotifier.h"
#include "crawl/TCrawlOptions.h"
#include "report/TCrawlReport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int ExitUsage = 2;
constexpr int ExitNoDisplay = 1;

// Standard input was closed when the program started.
bool StdinClosed = false;

// Opens /dev/null on any standard stream that was closed at the start, so
// that no file the program (or Qt) opens later takes its number: output
// meant for the terminal must not land in it, and --scan - must not read it.
void GuardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        StdinClosed = StdinClosed || fd == 0;
        const int null = open("/dev/null", O_RDWR); // the lowest free number: fd
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

struct TOptions {
    QCommandLineOption Help{{"h", "help"}, "Show this help.\nExample: marrowby --help"};
    QCommandLineOption Version{{"v", "version"}, "Show the version.\nExample: marrowby --version"};
    QCommandLineOption Site{"site",
                            "Serve the folder DIR on 127.0.0.1 and crawl it from its root, in the "
                            "window or headless.\nExample: marrowby --site public/",
                            "DIR"};
    QCommandLineOption Headless{"headless",
                                "Crawl without a window: progress on stderr, the end on stdout, "
                                "the exit code tells whether anything is broken.\n"
                                "Example: marrowby --headless --delay 0 https://example.org/"};
    QCommandLineOption Delay{"delay",
                             "Pause between pages in seconds (default 60, or 0 with --site; "
                             "0 for none).\nExample: marrowby --delay 5 https://example.org/",
                             "S", "60"};
    QCommandLineOption PerHost{"per-host",
                               "Requests at once to one host (default 2).\nExample: marrowby "
                               "--per-host 4 https://example.org/",
                               "N", "2"};
    QCommandLineOption Connections{"connections",
                                   "Requests at once in all (default 64; each host still gets "
                                   "no more than --per-host).\nExample: marrowby "
                                   "--connections 16 https://example.org/",
                                   "M", "64"};
    QCommandLineOption HostGap{
        "host-gap",
        "Least time between two requests to one host, in milliseconds "
        "(default 0).\nExample: marrowby --host-gap 250 https://example.org/",
        "MS", "0"};
    QCommandLineOption Retries{"retries",
                               "Times a passing failure (connect timeout, reset, 502/503/504) is "
                               "asked again, after 1 s, then 4 s (default 2).\nExample: marrowby "
                               "--retries 0 https://example.org/",
                               "N", "2"};
    QCommandLineOption MaxWait{"max-wait",
                               "Longest Retry-After honoured, in seconds (default 60); a longer "
                               "one is \"rate limited\".\nExample: marrowby --max-wait 10 "
                               "https://example.org/",
                               "S", "60"};
    QCommandLineOption NoExternal{"no-external",
                                  "Do not check links to other sites (another host, or another "
                                  "port of the start host).\nExample: marrowby --no-external "
                                  "https://example.org/"};
    QCommandLineOption NoConfirm{"no-confirm",
                                 "Do not ask again, at the end, the addresses that timed out or "
                                 "answered 429 or 5xx (once more, one at a time per host, 2 s "
                                 "apart).\nExample: marrowby --no-confirm https://example.org/"};
    QCommandLineOption Strict{
        "strict", "With --headless or --recheck: an unverifiable address (a login or bot "
                  "wall, a "
                  "rate limit, a timeout, a server error) counts as broken in the "
                  "exit code.\nExample: marrowby --headless --strict https://example.org/"};
    QCommandLineOption IgnoreRobots{"ignore-robots",
                                    "Fetch pages the start host's robots.txt disallows.\n"
                                    "Example: marrowby --ignore-robots https://example.org/"};
    QCommandLineOption UserAgent{"user-agent",
                                 "The User-Agent sent (default Marrowby/VERSION (+project "
                                 "page)).\nExample: marrowby --user-agent \"MyBot/1.0\" "
                                 "https://example.org/",
                                 "TEXT"};
    QCommandLineOption MaxDepth{"max-depth",
                                "Fetch no page further than N links from the start (default: no "
                                "limit).\nExample: marrowby --max-depth 2 https://example.org/",
                                "N"};
    QCommandLineOption MaxPages{"max-pages",
                                "Fetch at most N pages (default: no limit).\nExample: marrowby "
                                "--max-pages 500 https://example.org/",
                                "N"};
    QCommandLineOption Include{
        "include",
        "Fetch only pages whose whole address matches REGEX.\nExample: "
        "marrowby --include 'https://example\\.org/docs/.*' https://example.org/docs/",
        "REGEX"};
    QCommandLineOption Exclude{"exclude",
                               "Do not request addresses matching REGEX; they are listed as "
                               "\"excluded\".\nExample: marrowby --exclude '.*\\.pdf' "
                               "https://example.org/",
                               "REGEX"};
    QCommandLineOption Report{"report",
                              "With --headless: write pages.csv, objects.csv, links.csv, "
                              "referrers.csv, external.csv and redirects.csv into DIR when the "
                              "crawl ends (in the formats of --format); with --recheck FILE: the "
                              "report of the crawl re-checked; with --compare: where the changes "
                              "go.\nExample: marrowby "
                              "--headless --site public/ --report out/",
                              "DIR"};
    QCommandLineOption Recheck{
        "recheck",
        "Read a crawl kept before, ask again for every broken and "
        "unverifiable address in it, and write it back: a crawl file "
        "(--crawl-file) whose crawl ended is rewritten with the new verdicts (the report "
        "goes to --report when given), a folder of CSV reports gets the "
        "new report (in the formats of --format). Headless; the crawl's "
        "options apply (--per-host, --host-gap, --retries, --user-agent)."
        "\nExample: marrowby --recheck today.marrowby --report out/",
        "FILE|DIR"};
    QCommandLineOption CrawlFile{"crawl-file",
                                 "With --headless or --recheck: keep the crawl in FILE as it "
                                 "goes, one SQLite file (see docs/CRAWL-FILE.md) to go on with "
                                 "(--resume), compare with --compare or query with sqlite3 (with "
                                 "--recheck FILE: instead of rewriting FILE). A killed crawl "
                                 "loses at most the page in flight and the one being "
                                 "written.\nExample: "
                                 "marrowby --headless --site public/ --crawl-file today.marrowby",
                                 "FILE"};
    QCommandLineOption Resume{"resume",
                              "Go on, headless, with the crawl kept in FILE (--crawl-file) "
                              "that was stopped or cut short, with the options kept in it; "
                              "options given beside it win. The report (--report) is the one "
                              "an uninterrupted crawl writes.\nExample: marrowby --resume "
                              "today.marrowby --report out/",
                              "FILE"};
    QCommandLineOption Compare{"compare",
                               "Compare the crawls kept in OLD and NEW, each a crawl file "
                               "(--crawl-file) or a folder of CSV reports: print how "
                               "many addresses broke, were fixed, are new and are gone, each "
                               "that broke or was fixed with the pages linking to it, and write "
                               "the changes into the folder of --report (the current folder when "
                               "not given) in the formats of --format: compare.csv, "
                               "compare.json, compare.html, compare.xml (JUnit). Exit code 4 "
                               "when something broke.\nExample: marrowby "
                               "--compare last-week/ today.marrowby --report changes/ --format "
                               "csv,html",
                               "OLD NEW"};
    QCommandLineOption Format{"format",
                              "With --report, --recheck DIR or --compare: the formats of the "
                              "report, comma-separated: csv "
                              "(the CSV files, the default), json (report.json), html "
                              "(report.html, one page to read and send on) and junit "
                              "(junit.xml, for CI).\n"
                              "Example: marrowby --headless --site public/ --report out/ "
                              "--format junit,html",
                              "LIST", "csv"};
    QCommandLineOption Scan{"scan",
                            "Scan a local HTML file (\"-\" for standard input) and print its "
                            "links as CSV.\nExample: marrowby --scan a.html --base http://h/a.html",
                            "FILE"};
    QCommandLineOption Base{"base",
                            "With --scan: the page address of the scanned file.\n"
                            "Example: marrowby --scan - --base http://h/ < a.html",
                            "URL"};
    QCommandLineOption Depth{"depth",
                             "With --scan: the crawl depth of the scanned file (default 0).\n"
                             "Example: marrowby --scan a.html --base http://h/ --depth 2",
                             "N", "0"};
};

int UsageError(const QString& message) {
    std::fprintf(stderr, "marrowby: %s\nTry 'marrowby --help'.\n",
                 message.toLocal8Bit().constData());
    return ExitUsage;
}

bool ReadCount(const QString& text, int& value) {
    bool ok = false;
    value = text.trimmed().toInt(&ok, 10);
    return ok && value >= 0;
}

// A whole number from low to high, when the option is given.
bool ReadNumber(const QCommandLineParser& cl, const QCommandLineOption& option, int low, int high,
                int& value) {
    if (!cl.isSet(option))
        return true;
    return ReadCount(cl.value(option), value) && value >= low && value <= high;
}

// The crawl's options from the command line; the error to show, else empty.
QString ReadCrawlOptions(const QCommandLineParser& cl, const TOptions& o, TCrawlOptions& options) {
    const struct {
        const QCommandLineOption& Option;
        int& Value;
        int Low, High;
        const char* Name;
    } numbers[] = {
        {o.PerHost, options.PerHost, 1, 64, "--per-host"},
        {o.Connections, options.Connections, 1, 256, "--connections"},
        {o.HostGap, options.HostGapMs, 0, 3600000, "--host-gap"},
        {o.Retries, options.Retries, 0, 10, "--retries"},
        {o.MaxWait, options.MaxWaitSeconds, 0, 3600, "--max-wait"},
        {o.MaxDepth, options.MaxDepth, 0, 1000000, "--max-depth"},
        {o.MaxPages, options.MaxPages, 1, 100000000, "--max-pages"},
    };
    for (const auto& n : numbers)
        if (!ReadNumber(cl, n.Option, n.Low, n.High, n.Value))
            return QString("%1 takes a whole number from %2 to %3")
                .arg(n.Name)
                .arg(n.Low)
                .arg(n.High);
    // Only what is given changes options: a resumed crawl's come from its file.
    if (cl.isSet(o.NoExternal))
        options.External = false;
    if (cl.isSet(o.IgnoreRobots))
        options.Robots = false;
    if (cl.isSet(o.NoConfirm))
        options.Confirm = false;
    if (cl.isSet(o.UserAgent)) {
        options.UserAgent = cl.value(o.UserAgent).toStdString();
        if (options.UserAgent.empty() ||
            options.UserAgent.find_first_of("\r\n") != std::string::npos)
            return "--user-agent takes one line of text";
    }
    if (cl.isSet(o.Include))
        options.Include = cl.value(o.Include).toStdString();
    if (cl.isSet(o.Exclude))
        options.Exclude = cl.value(o.Exclude).toStdString();
    if (const std::string error = options.ScopeError(); !error.empty())
        return QString::fromStdString("--" + error);
    return {};
}

// The report's formats (--format); the error to show, else empty.
QString ReadFormats(const QCommandLineParser& cl, const TOptions& o,
                    std::vector<std::string>& formats) {
    for (const QString& format : cl.value(o.Format).split(',')) {
        const std::string name = format.trimmed().toStdString();
        if (!TCrawlReport::Writer(name)) {
            QStringList known;
            for (const std::string& each : TCrawlReport::Formats())
                known << QString::fromStdString(each);
            return "no report format \"" + QString::fromStdString(name) + "\" (there are " +
                   known.join(", ") + ")";
        }
        formats.push_back(name);
    }
    return {};
}

int RunScan(const QCommandLineParser& cl, const TOptions& o, int argc, char** argv) {
    if (!cl.isSet(o.Base))
        return UsageError("--scan needs --base URL");
    int depth = 0;
    if (!ReadCount(cl.value(o.Depth), depth))
        return UsageError("--depth takes a whole number of 0 or more");
    if (!cl.positionalArguments().isEmpty() || cl.isSet(o.Site))
        return UsageError("--scan takes no address and no --site");
    TCoreApplication app(argc, argv);
    return TScanCommand::Run(cl.value(o.Scan).toStdString(), cl.value(o.Base).toStdString(), depth,
                             StdinClosed ? -1 : STDIN_FILENO, std::cout, std::cerr);
}

int RunCompare(const QCommandLineParser& cl, const TOptions& o, int argc, char** argv) {
    if (cl.positionalArguments().size() != 1)
        return UsageError("--compare OLD NEW takes two crawl files or report folders");
    if (cl.isSet(o.Headless) || cl.isSet(o.Site) || cl.isSet(o.Recheck) || cl.isSet(o.Scan) ||
        cl.isSet(o.CrawlFile))
        return UsageError("--compare goes only with --report and --format");
    std::vector<std::string> formats;
    if (const QString error = ReadFormats(cl, o, formats); !error.isEmpty())
        return UsageError(error);
    TCoreApplication app(argc, argv);
    return TCompareCommand::Run(QFile::encodeName(cl.value(o.Compare)).toStdString(),
                                QFile::encodeName(cl.positionalArguments().front()).toStdString(),
                                QFile::encodeName(cl.value(o.Report)).toStdString(), formats,
                                std::cout, std::cerr);
}

int RunResume(const QCommandLineParser& cl, const TOptions& o, int argc, char** argv) {
    if (!cl.positionalArguments().isEmpty() || cl.isSet(o.Site) || cl.isSet(o.Recheck) ||
        cl.isSet(o.CrawlFile))
        return UsageError("--resume FILE goes on with the crawl in FILE: give no address, "
                          "--site, --recheck or --crawl-file");
    int delay = 0;
    if (cl.isSet(o.Delay) && !ReadCount(cl.value(o.Delay), delay))
        return UsageError("--delay takes a whole number of seconds, 0 or more");
    TCrawlOptions checked;
    if (const QString error = ReadCrawlOptions(cl, o, checked); !error.isEmpty())
        return UsageError(error);
    std::vector<std::string> formats;
    if (const QString error = ReadFormats(cl, o, formats); !error.isEmpty())
        return UsageError(error);
    TCoreApplication app(argc, argv);
    THeadlessRun run(QFile::encodeName(cl.value(o.Report)).toStdString(), formats);
    run.SetStrict(cl.isSet(o.Strict));
    return run.ExecResume(QFile::encodeName(cl.value(o.Resume)).toStdString(),
                          [&](TCrawlOptions& options, int& delaySeconds) {
                              ReadCrawlOptions(cl, o, options); // checked above
                              if (cl.isSet(o.Delay))
                                  delaySeconds = delay;
                          });
}

int RunCrawl(const QCommandLineParser& cl, const TOptions& o, int argc, char** argv) {
    const QStringList addresses = cl.positionalArguments();
    if (addresses.size() > 1)
        return UsageError("give at most one start address");
    const bool site = cl.isSet(o.Site);
    if (site && !addresses.isEmpty())
        return UsageError("--site crawls the folder from its root: give no address");
    int delay = site ? 0 : 60; // a local folder needs no politeness
    if (cl.isSet(o.Delay) && !ReadCount(cl.value(o.Delay), delay))
        return UsageError("--delay takes a whole number of seconds, 0 or more");
    TCrawlOptions options;
    if (const QString error = ReadCrawlOptions(cl, o, options); !error.isEmpty())
        return UsageError(error);
    const bool headless = cl.isSet(o.Headless);
    const bool recheck = cl.isSet(o.Recheck);
    if (headless && addresses.size() != 1 && !site && !recheck)
        return UsageError("--headless needs a start address or --site DIR");
    if (!headless && !recheck && cl.isSet(o.Report))
        return UsageError("--report goes with --headless or --recheck FILE");
    if (!headless && !recheck && cl.isSet(o.Strict))
        return UsageError("--strict goes with --headless or --recheck");
    // A crawl file re-checked is written back; a report only when asked for.
    const bool recheckFile = recheck && QFileInfo(cl.value(o.Recheck)).isFile();
    if (recheck && (site || !addresses.isEmpty()))
        return UsageError("--recheck re-checks a kept crawl: give no address or --site");
    if (recheck && !recheckFile && cl.isSet(o.Report))
        return UsageError("--recheck DIR writes the report back into DIR: give no --report");
    if (cl.isSet(o.Format) && !cl.isSet(o.Report) && (!recheck || recheckFile))
        return UsageError("--format goes with --report, or --recheck DIR");
    if (cl.isSet(o.CrawlFile) && !headless && !recheck)
        return UsageError("--crawl-file goes with --headless or --recheck");
    std::vector<std::string> formats;
    if (const QString error = ReadFormats(cl, o, formats); !error.isEmpty())
        return UsageError(error);
    if (recheck) {
        TCoreApplication app(argc, argv);
        const std::string kept = QFile::encodeName(cl.value(o.Recheck)).toStdString();
        THeadlessRun run(recheckFile ? QFile::encodeName(cl.value(o.Report)).toStdString() : kept,
                         formats);
        run.SetStrict(cl.isSet(o.Strict));
        run.SetCrawlFile(QFile::encodeName(cl.value(o.CrawlFile)).toStdString());
        return run.ExecRecheck(kept, options);
    }
    if (headless) {
        TCoreApplication app(argc, argv);
        THeadlessRun run(cl.value(o.Report).toStdString(), formats);
        run.SetStrict(cl.isSet(o.Strict));
        run.SetCrawlFile(QFile::encodeName(cl.value(o.CrawlFile)).toStdString());
        if (site)
            return run.ExecSite(QFile::encodeName(cl.value(o.Site)).toStdString(), delay, options);
        return run.Exec(addresses.front(), delay, options);
    }
    if (!TDisplayProbe::Available()) {
        std::fputs("marrowby: cannot open a display; use --headless, or run under xvfb-run\n",
                   stderr);
        return ExitNoDisplay;
    }

    TApplication app(argc, argv);
    TFrmMain window;
    FrmMain = &window;
    if (cl.isSet(o.Delay))
        window.ApplyDelay(QString::number(delay));
    window.SetOptions(options);
    // A stop request from the terminal closes the window the usual way,
    // without asking about unsaved results.
    TSignalNotifier stopRequests([&window](int) {
        window.FormClose();
        window.close();
    });
    window.show();
    if (site)
        QTimer::singleShot(0, &window,
                           [&window, &cl, &o] { window.StartSiteCrawl(cl.value(o.Site)); });
    else if (!addresses.isEmpty())
        QTimer::singleShot(0, &window,
                           [&window, &addresses] { window.StartCrawl(addresses.front()); });
    app.exec();
    return 0;
}

} // namespace

int Marrowby(int argc, char** argv) {
    GuardStandardStreams();
    // The plain Unix dispatcher delivers posted messages inside the handler of
    // another posted message, which the crawl relies on.
    setenv("QT_NO_GLIB", "1", 0);
    QCoreApplication::setApplicationName("marrowby");
    QCoreApplication::setApplicationVersion(MARROWBY_VERSION);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser cl;
    cl.setApplicationDescription(
        "Marrowby crawls a web site from a start address, or a local folder, "
        "and reports every page link and embedded object it finds, with its "
        "status, size and type.");
    TOptions o;
    cl.addOptions({o.Help,        o.Version,      o.Site,      o.Headless,  o.Delay,      o.PerHost,
                   o.Connections, o.HostGap,      o.Retries,   o.MaxWait,   o.NoExternal, o.Strict,
                   o.NoConfirm,   o.IgnoreRobots, o.UserAgent, o.MaxDepth,  o.MaxPages,   o.Include,
                   o.Exclude,     o.Report,       o.Recheck,   o.CrawlFile, o.Resume,     o.Compare,
                   o.Format,      o.Scan,         o.Base,      o.Depth});
    cl.addPositionalArgument("URL", "The start address.\nExample: marrowby https://example.org/",
                             "[URL]");
    if (!cl.parse(arguments))
        return UsageError(cl.errorText());
    if (cl.isSet(o.Help)) {
        const QString text =
            cl.helpText().replace("<executable_name>", "marrowby") +
            "\nThe site is the start address's host and port: http://h/ and https://h/ are "
            "one site,\nhttp://h:8080/ is another. Its pages are crawled; a link elsewhere "
            "is checked once.\n"
            "\nExit codes: 0 nothing broken; 4 some page, object or link elsewhere is\n"
            "broken (it does not exist, is gone or cannot be reached; with --strict also\n"
            "one that cannot be verified), with --compare: broke since; 1 the work could\n"
            "not go on; 2 bad usage.\n"
            "\nTime limits: a request fails when no connection is made within 30 s "
            "or nothing\nis received for 60 s; a page download gives up after 5 "
            "minutes, an object probe\nafter 2.\n";
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (cl.isSet(o.Version)) {
        std::printf("marrowby %s\n", MARROWBY_VERSION);
        return 0;
    }
    if (cl.isSet(o.Compare))
        return RunCompare(cl, o, argc, argv);
    if (cl.isSet(o.Scan))
        return RunScan(cl, o, argc, argv);
    if (cl.isSet(o.Resume))
        return RunResume(cl, o, argc, argv);
    return RunCrawl(cl, o, argc, argv);
}

int main(int argc, char** argv) {
    return Marrowby(argc, argv);
}
