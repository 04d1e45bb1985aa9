#include "THeadlessRun.h"

#include "TCrawlAbout.h"
#include "TExceptionGuard.h"
#include "TSignalNotifier.h"
#include "report/TCrawlReport.h"
#include "report/TReportReader.h"
#include "store/TCrawlFile.h"
#include "store/TCrawlRecorder.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace {

void PrintLine(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString Bytes(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// " (broken: 404 Not Found)": what a progress line ends with.
QString Judged(TVerdict verdict, const std::string& reason) {
    return " (" + Bytes(std::string(TVerdicts::Name(verdict))) + ": " + Bytes(reason) + ")";
}

} // namespace

THeadlessRun::THeadlessRun(std::string reportDir, std::vector<std::string> formats)
    : FCrawl(std::make_unique<TCrawl>(static_cast<TCrawlListener&>(*this))),
      FReportDir(std::move(reportDir)), FFormats(std::move(formats)),
      FReserve(std::make_unique<char[]>(ReserveBytes)) {
    new TSignalNotifier([this](int signo) { OnSignal(signo); }, this);
    // Never throws: out of memory, it gives back the reserve and writes only
    // text made beforehand.
    TExceptionGuard::SetErrorHandler([this](const QString& text) {
        if (&text == &TExceptionGuard::OutOfMemory()) {
            FReserve.reset();
            std::fputs("marrowby: out of memory\n", stderr);
        } else {
            try {
                PrintLine(stderr, "marrowby: " + (text.isEmpty() ? "unexpected error" : text));
            } catch (...) {
                std::fputs("marrowby: unexpected error\n", stderr);
            }
        }
        Finish(ExitFailed);
    });
}

THeadlessRun::~THeadlessRun() {
    TExceptionGuard::SetErrorHandler(nullptr);
    FCrawl->Stop();
}

bool THeadlessRun::CheckOutputs() {
    std::vector<std::string> folders;
    if (!FReportDir.empty())
        folders.push_back(FReportDir);
    if (!FCrawlFile.empty()) {
        const std::filesystem::path file(FCrawlFile);
        folders.push_back(file.has_parent_path() ? file.parent_path().string() : ".");
    }
    for (const std::string& folder : folders) {
        if (const std::string error = TCrawlReport::CheckFolder(folder); !error.empty()) {
            PrintLine(stderr, "marrowby: " + Bytes(error));
            return false;
        }
    }
    return true;
}

int THeadlessRun::Exec(const QString& url, int delaySeconds, const TCrawlOptions& options) {
    if (!CheckOutputs())
        return ExitFailed;
    TCrawlAbout::Begin(FAbout, url, delaySeconds, options);
    if (!FCrawlFile.empty()) {
        std::string error;
        FRecorder = TRecorderThread::Create(FCrawlFile, options, FAbout, error);
        if (!FRecorder) {
            PrintLine(stderr, "marrowby: " + Bytes(error));
            return ExitFailed;
        }
    }
    return Run(url, delaySeconds, options);
}

int THeadlessRun::Run(const QString& url, int delaySeconds, const TCrawlOptions& options) {
    FOptions = options;
    FCrawl->ApplyDelay(QString::number(delaySeconds));
    FCrawl->SetOptions(options);
    FCrawl->SetJournal(FRecorder.get());
    QTimer::singleShot(0, this, [this, url] { FCrawl->Enter(url); });
    const int exitCode = QCoreApplication::exec();
    LeaveUnfreed(exitCode);
    return exitCode;
}

void THeadlessRun::LeaveUnfreed(int exitCode) {
    // A big crawl's records are millions of blocks, which take a second or
    // more to free one by one; the system takes them back at once. All
    // the run writes is written by now (Finish), and the crawl file is
    // closed as it would be. A small crawl is freed as usual.
    constexpr std::size_t ManyPages = 100000;
    if (FCrawl->Records().PageRows().size() < ManyPages)
        return;
    FRecorder.reset();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

int THeadlessRun::ExecSite(const std::string& folder, int delaySeconds,
                           const TCrawlOptions& options) {
    const std::string error = FSite.Start(folder);
    if (!error.empty()) {
        PrintLine(stderr, "marrowby: " + Bytes(error));
        return ExitFailed;
    }
    FAbout.Options.emplace_back("site", folder);
    return Exec(QString::fromStdString(FSite.Url()), delaySeconds, options);
}

int THeadlessRun::ExecResume(
    const std::string& path,
    const std::function<void(TCrawlOptions& options, int& delaySeconds)>& adjust) {
    FCrawlFile = path;
    if (!CheckOutputs())
        return ExitFailed;
    std::string error;
    TCrawlOptions options;
    TReport kept;
    FRecorder = TRecorderThread::Open(path, options, kept, error);
    if (!FRecorder) {
        PrintLine(stderr, "marrowby: " + Bytes(error));
        return ExitFailed;
    }
    if (FRecorder->Finished()) {
        // Nothing to go on with: the report is written from its tables.
        FRecorder.reset();
        TRecordStore records;
        error = TCrawlFile::Load(path, records, options, FAbout);
        if (error.empty() && !FReportDir.empty())
            error = TCrawlReport::Write(records, FReportDir, FFormats, FAbout);
        if (!error.empty()) {
            PrintLine(stderr, "marrowby: " + Bytes(error));
            return ExitFailed;
        }
        PrintLine(stderr, "The crawl in " + Bytes(path) + " had ended");
        return TCrawlReport::HasBrokenRows(records, FStrict) ? ExitBroken : ExitClean;
    }
    int delay = TCrawlAbout::Delay(kept, 0);
    adjust(options, delay);
    FAbout.Start = kept.Start;
    FAbout.Started = kept.Started;
    if (const std::string folder = TCrawlAbout::Option(kept, "site"); !folder.empty()) {
        error = TCrawlAbout::ServeAgain(kept, FSite);
        if (!error.empty()) {
            PrintLine(stderr, "marrowby: " + Bytes(error));
            return ExitFailed;
        }
        FAbout.Options.emplace_back("site", folder);
    }
    TCrawlAbout::Describe(FAbout, delay, options);
    PrintLine(stderr, QString("Going on with the crawl in %1 after %2 pages")
                          .arg(Bytes(path))
                          .arg(FRecorder->PagesCommitted()));
    return Run(QString::fromStdString(kept.Start), delay, options);
}

int THeadlessRun::ExecRecheck(const std::string& kept, const TCrawlOptions& options) {
    TRecordStore records;
    std::error_code ec;
    const bool file = std::filesystem::is_regular_file(kept, ec);
    // A crawl file keeps the options and times of its crawl, saved again as
    // they were; the re-check itself runs with the options given.
    FOptions = options;
    const std::string error = file ? TCrawlFile::Load(kept, records, FOptions, FAbout)
                                   : TReportReader::Read(kept, records);
    if (!error.empty()) {
        PrintLine(stderr, "marrowby: " + Bytes(error));
        return ExitFailed;
    }
    if (file && FCrawlFile.empty()) {
        // Written back as finished, a crawl that had not ended would lose
        // its queue and its answers: it could no longer go on.
        TCrawlOptions unused;
        TReport state;
        std::string unread;
        const auto recorder = TCrawlRecorder::Open(kept, unused, state, unread);
        if (recorder && !recorder->Finished()) {
            PrintLine(stderr, "marrowby: " + Bytes(kept) +
                                  ": the crawl kept there has not ended; go on with it first "
                                  "(--resume), or give --crawl-file to keep the re-check apart");
            return ExitFailed;
        }
        FCrawlFile = kept;
    }
    if (!CheckOutputs())
        return ExitFailed;
    if (FAbout.Start.empty() && !records.PageRows().empty())
        FAbout.Start = records.PageRows().front().Url; // the first page is the start
    FCrawl->SetOptions(options);
    FCrawl->Load(std::move(records));
    if (!file) {
        FAbout.Options.emplace_back("recheck", kept);
        FAbout.Options.emplace_back("per-host", std::to_string(options.PerHost));
        FAbout.Options.emplace_back("retries", std::to_string(options.Retries));
        FAbout.Started = TCrawlAbout::Now();
    }
    QTimer::singleShot(0, this, [this] {
        if (FCrawl->Recheck() == 0) {
            PrintLine(stderr, "Nothing to re-check");
            Finished("탐색이 끝났습니다");
        }
    });
    return QCoreApplication::exec();
}

void THeadlessRun::Rechecking(std::size_t addresses) {
    if (std::exchange(FRechecking, true))
        return;
    PrintLine(
        stderr,
        QString("Re-checking %1 %2").arg(addresses).arg(addresses == 1 ? "address" : "addresses"));
}

// A page a re-check judged again: its row as it is now.
void THeadlessRun::PageRowChanged(std::size_t at, const TGoneRow& row) {
    if (!FRechecking)
        return; // the checks at a crawl's end: the report tells
    PrintLine(stderr, QString("re-checked page %1: status %2 %3")
                              .arg(at + 1)
                              .arg(row.Status)
                              .arg(Bytes(row.Url)) +
                          Judged(row.Verdict, row.Reason));
}

void THeadlessRun::PageRow(const TGoneRow& row) {
    const QString line = QString("page %1: id %2 depth %3 status %4 size %5 type %6 %7")
                             .arg(++FPages)
                             .arg(row.Id)
                             .arg(row.Depth)
                             .arg(row.Status)
                             .arg(row.Size)
                             .arg(Bytes(row.Type).isEmpty() ? "-" : Bytes(row.Type))
                             .arg(Bytes(row.Url));
    PrintLine(stderr, line + Judged(row.Verdict, row.Reason));
}

// One line per link to another site, when its answer is in.
void THeadlessRun::ExternalRow(const TExternalRow& row) {
    if (row.Id <= FExternalsShown)
        return; // its count grew
    FExternalsShown = row.Id;
    const QString line = QString("link %1: status %2 size %3 type %4 %5")
                             .arg(row.Id)
                             .arg(row.Status)
                             .arg(row.Size)
                             .arg(Bytes(row.Type).isEmpty() ? "-" : Bytes(row.Type))
                             .arg(Bytes(row.Url));
    PrintLine(stderr, line + Judged(row.Verdict, row.Reason));
}

// One line when the confirmation pass begins: it may take a while.
void THeadlessRun::Confirming(std::size_t addresses) {
    if (std::exchange(FConfirmingShown, true))
        return;
    PrintLine(
        stderr,
        QString("Confirming %1 %2").arg(addresses).arg(addresses == 1 ? "address" : "addresses"));
}

void THeadlessRun::Finished(const QString& text) {
    FEnded = true;
    PrintLine(stdout, text);
    Finish(ExitClean); // or ExitBroken, judged once the crawl file is being written
}

void THeadlessRun::Error(const QString& text) {
    PrintLine(stderr, "marrowby: " + text);
    Finish(ExitFailed);
}

void THeadlessRun::OnSignal(int signo) {
    PrintLine(stderr, QString("marrowby: stopped by signal %1").arg(signo));
    Finish(128 + signo);
}

// Writes the reports of what was done, stops every worker and leaves the
// event loop with the exit code.
void THeadlessRun::Finish(int exitCode) {
    if (FFinishing)
        return;
    FFinishing = true;
    const auto failed = [&exitCode] {
        exitCode = exitCode == ExitClean || exitCode == ExitBroken ? ExitFailed : exitCode;
    };
    // Writes what the crawl leaves behind; a failure is told and fails the run.
    const auto keep = [&](const char* what, const auto& write) {
        try {
            FAbout.Finished = TCrawlAbout::Now();
            if (const std::string error = write(); !error.empty()) {
                PrintLine(stderr, "marrowby: " + Bytes(error));
                failed();
            }
        } catch (...) {
            FReserve.reset();
            std::fprintf(stderr, "marrowby: cannot write the %s: out of memory\n", what);
            failed();
        }
    };
    // An ended crawl's file is written while its report is: the two read
    // the rows back from the file, each through a connection of its own.
    const bool beside = FRecorder && FEnded;
    bool begun = false;
    if (beside)
        keep("crawl file", [&] {
            FRecorder->BeginTables(
                FCrawl->Records(),
                std::vector<std::string>(FCrawl->GoingList().begin(), FCrawl->GoingList().end()),
                FAbout, true);
            begun = true;
            return std::string();
        });
    if (FEnded && exitCode == ExitClean && TCrawlReport::HasBrokenRows(FCrawl->Records(), FStrict))
        exitCode = ExitBroken;
    if (!FReportDir.empty())
        keep("report",
             [&] { return TCrawlReport::Write(FCrawl->Records(), FReportDir, FFormats, FAbout); });
    if (beside) {
        if (begun)
            keep("crawl file", [&] { return FRecorder->EndTables(); });
    } else if (FRecorder) {
        keep("crawl file", [&] {
            // A crawl cut short keeps the page in flight in its queue.
            if (!FEnded)
                FCrawl->Halt();
            std::vector<std::string> queue(FCrawl->GoingList().begin(), FCrawl->GoingList().end());
            return FRecorder->WriteTables(FCrawl->Records(), queue, FAbout, FEnded);
        });
    } else if (!FCrawlFile.empty()) {
        keep("crawl file",
             [&] { return TCrawlFile::Save(FCrawl->Records(), FOptions, FAbout, FCrawlFile); });
    }
    // Leave from the outermost loop: this may run nested in a handler that
    // was pumping the queue. Out of memory, leave at once.
    try {
        FCrawl->Stop();
        FSite.Stop();
        QTimer::singleShot(0, qApp, [exitCode] { QCoreApplication::exit(exitCode); });
    } catch (...) {
        QCoreApplication::exit(exitCode);
    }
}
