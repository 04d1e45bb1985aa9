#pragma once
// Runs the window's crawl without showing the window: progress on stderr, the
// end of the crawl on stdout, the reports on disk and an exit code that tells
// whether anything was broken.

#include <QObject>

#include <string>

class TFrmMain;

class THeadlessRun : public QObject {
public:
    // Exit codes.
    static constexpr int ExitClean = 0;
    static constexpr int ExitFailed = 1;   // the crawl could not go on
    static constexpr int ExitBroken = 4;   // some page or object has a status of 400 or more

    THeadlessRun(TFrmMain& window, std::string reportDir);
    ~THeadlessRun() override;

    // Crawls from url with the given pause and returns the exit code.
    int Exec(const QString& url, int delaySeconds);

private:
    void Finish(int exitCode);
    void OnSignal(int signo);

    TFrmMain& FWindow;
    std::string FReportDir;
    bool FFinishing = false;
    int FPages = 0;
};
