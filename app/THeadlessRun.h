#pragma once
// Runs a crawl without a window: progress on stderr, the end of the crawl on
// stdout, the reports on disk and an exit code that tells whether anything
// was broken. Needs QtCore only.

#include "crawl/TCrawl.h"
#include "crawl/TCrawlListener.h"
#include "crawl/TCrawlOptions.h"
#include "report/TReport.h"
#include "site/TSiteServer.h"
#include "store/TRecorderThread.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class THeadlessRun : public QObject, public TCrawlListener {
public:
    // Exit codes.
    static constexpr int ExitClean = 0;
    static constexpr int ExitFailed = 1; // the crawl could not go on
    static constexpr int ExitBroken = 4; // some address is broken (TVerdicts::Fails)

    // The report goes into reportDir (none when empty) in these formats.
    explicit THeadlessRun(std::string reportDir, std::vector<std::string> formats = {"csv"});
    ~THeadlessRun() override;

    // Strict: an unverifiable address counts as broken in the exit code.
    void SetStrict(bool strict) { FStrict = strict; }
    // The crawl is kept in this crawl file as it goes (TRecorderThread), its
    // tables written when it ends or stops; none when empty. A re-check
    // writes the file (TCrawlFile) when it ends.
    void SetCrawlFile(std::string path) { FCrawlFile = std::move(path); }

    // Serves folder on 127.0.0.1 and crawls it from its root, as Exec does;
    // a folder that cannot be served is a failed crawl.
    int ExecSite(const std::string& folder, int delaySeconds, const TCrawlOptions& options = {});
    // Crawls from url with the given pause and options, and returns the exit
    // code.
    int Exec(const QString& url, int delaySeconds, const TCrawlOptions& options = {});

    // Goes on with the crawl kept in the crawl file at path, written as it
    // went and stopped or cut short: with its options, its pause between
    // pages and (a crawl of a folder) its folder served on its port, after
    // adjust has changed those given beside it. The crawl is read back from
    // the file's answers and goes on from where it stopped, still written
    // to the file; its report is the one an uninterrupted crawl writes. A
    // crawl that had ended has its report written again.
    int ExecResume(const std::string& path,
                   const std::function<void(TCrawlOptions& options, int& delaySeconds)>& adjust);

    // Reads a kept crawl back, asks again for every broken and unverifiable
    // address in it, and writes the report (into the report folder, when
    // there is one) and the crawl file. kept is a crawl file, rewritten with
    // the new verdicts unless another crawl file is set (its options, start
    // and times are kept as they were), or a folder of CSV reports (the
    // report folder, then). What is no such crawl is refused (ExitFailed)
    // before anything is asked or written.
    int ExecRecheck(const std::string& kept, const TCrawlOptions& options = {});

    void PageRow(const TGoneRow& row) override;
    void PageRowChanged(std::size_t at, const TGoneRow& row) override;
    void Rechecking(std::size_t addresses) override;
    void ExternalRow(const TExternalRow& row) override;
    void Confirming(std::size_t addresses) override;
    void Finished(const QString& text) override;
    void Error(const QString& text) override;

private:
    // Checks that the report and the crawl file can be written, before the
    // crawl begins; false, with the reason on stderr, when not.
    bool CheckOutputs();
    // Starts the crawl from url and runs the event loop until its end.
    int Run(const QString& url, int delaySeconds, const TCrawlOptions& options);
    // Ends the process with exitCode at once after a big crawl, its records
    // left to the system; returns after a small one.
    void LeaveUnfreed(int exitCode);
    void Finish(int exitCode);
    void OnSignal(int signo);

    std::unique_ptr<TCrawl> FCrawl;
    TSiteServer FSite;
    std::string FReportDir;
    std::vector<std::string> FFormats;
    std::string FCrawlFile;
    std::unique_ptr<TRecorderThread> FRecorder;
    // The crawl came to its end (not a stop or a failure).
    bool FEnded = false;
    // The options the crawl runs with, kept in the crawl file.
    TCrawlOptions FOptions;
    // What crawl the report is of: its start, options and times.
    TReport FAbout;
    // Memory given back when memory runs out, so that the report of what
    // was done can still be written.
    static constexpr std::size_t ReserveBytes = 16 << 20;
    std::unique_ptr<char[]> FReserve;
    bool FFinishing = false;
    bool FStrict = false;
    int FPages = 0;
    std::int32_t FExternalsShown = 0;
    bool FConfirmingShown = false;
    bool FRechecking = false;
};
