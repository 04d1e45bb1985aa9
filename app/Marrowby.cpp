// The entry routine: reads the command line, then opens the window, runs a
// headless crawl or scans a local file.
#include "TApplication.h"
#include "TCoreApplication.h"
#include "TDisplayProbe.h"
#include "TFrmMain.h"
#include "THeadlessRun.h"
#include "TScanCommand.h"
#include "TSignalNotifier.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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
    QCommandLineOption Scan{"scan", "Scan a local HTML file (\"-\" for standard input) and print its links as CSV.", "FILE"};
    QCommandLineOption Base{"base", "The page address of the scanned file.", "URL"};
    QCommandLineOption Depth{"depth", "The crawl depth of the scanned file (default 0).", "N", "0"};
    QCommandLineOption Headless{"headless", "Crawl without a window; report on stdout and stderr."};
    QCommandLineOption Delay{"delay", "Pause between pages in seconds (default 60).", "S", "60"};
    QCommandLineOption Report{"report", "Write pages.csv, objects.csv and links.csv into DIR when the crawl ends.", "DIR"};
};

int UsageError(const QString& message) {
    std::fprintf(stderr, "marrowby: %s\nTry 'marrowby --help'.\n", message.toLocal8Bit().constData());
    return ExitUsage;
}

bool ReadCount(const QString& text, int& value) {
    bool ok = false;
    value = text.trimmed().toInt(&ok, 10);
    return ok && value >= 0;
}

int RunScan(const QCommandLineParser& cl, const TOptions& o, int argc, char** argv) {
    if (!cl.isSet(o.Base))
        return UsageError("--scan needs --base URL");
    int depth = 0;
    if (!ReadCount(cl.value(o.Depth), depth))
        return UsageError("--depth takes a whole number of 0 or more");
    if (!cl.positionalArguments().isEmpty())
        return UsageError("--scan takes no address");
    TCoreApplication app(argc, argv);
    return TScanCommand::Run(cl.value(o.Scan).toStdString(), cl.value(o.Base).toStdString(), depth,
                             StdinClosed ? -1 : STDIN_FILENO, std::cout, std::cerr);
}

int RunWindow(const QCommandLineParser& cl, const TOptions& o, int argc, char** argv) {
    const QStringList addresses = cl.positionalArguments();
    if (addresses.size() > 1)
        return UsageError("give at most one start address");
    int delay = 60;
    if (cl.isSet(o.Delay) && !ReadCount(cl.value(o.Delay), delay))
        return UsageError("--delay takes a whole number of seconds, 0 or more");
    const bool headless = cl.isSet(o.Headless);
    if (headless && addresses.size() != 1)
        return UsageError("--headless needs a start address");
    if (!headless && cl.isSet(o.Report))
        return UsageError("--report goes with --headless");
    if (headless) {
        TCoreApplication app(argc, argv);
        THeadlessRun run(cl.value(o.Report).toStdString());
        return run.Exec(addresses.front(), delay);
    }
    if (!TDisplayProbe::Available()) {
        std::fputs("marrowby: cannot open a display; use --headless, or run under xvfb-run\n", stderr);
        return ExitNoDisplay;
    }

    TApplication app(argc, argv);
    TFrmMain window;
    FrmMain = &window;
    if (cl.isSet(o.Delay))
        window.ApplyDelay(QString::number(delay));
    // A stop request from the terminal closes the window the usual way.
    TSignalNotifier stopRequests([&window](int) { window.close(); });
    window.show();
    if (!addresses.isEmpty())
        QTimer::singleShot(0, &window, [&window, &addresses] { window.StartCrawl(addresses.front()); });
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
    cl.setApplicationDescription("Marrowby crawls a web site from a start address and reports every "
                                 "page link and embedded object it finds, with its status, size and type.");
    const QCommandLineOption help = cl.addHelpOption();
    const QCommandLineOption version = cl.addVersionOption();
    TOptions o;
    cl.addOptions({o.Scan, o.Base, o.Depth, o.Headless, o.Delay, o.Report});
    cl.addPositionalArgument("URL", "The start address.", "[URL]");
    if (!cl.parse(arguments))
        return UsageError(cl.errorText());
    if (cl.isSet(help)) {
        std::fputs(cl.helpText().replace("<executable_name>", "marrowby").toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (cl.isSet(version)) {
        std::printf("marrowby %s\n", MARROWBY_VERSION);
        return 0;
    }
    if (cl.isSet(o.Scan))
        return RunScan(cl, o, argc, argv);
    return RunWindow(cl, o, argc, argv);
}

int main(int argc, char** argv) { return Marrowby(argc, argv); }
