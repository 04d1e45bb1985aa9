// Writes a crawl file page after page (tests/store/TJournalPages.h), saying
// on stdout each page committed, until it is killed, or until a commit fails:
//
//   store_recorder_writer FILE kill-after-ms N   (SIGKILLs itself after N ms)
//   store_recorder_writer FILE file-limit BYTES  (no file may grow past BYTES)
//
// A fourth argument, "thread", writes through TRecorderThread, whose commit
// is written while the next page goes on: a page is printed once handed over.
#include "TJournalPages.h"

#include "crawl/TCrawlOptions.h"
#include "report/TReport.h"
#include "store/TCrawlRecorder.h"
#include "store/TRecorderThread.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <thread>

// Writes pages until killed or until a commit fails; the exit code.
template <class TRecorder> int WritePages(TRecorder& recorder) {
    TRecordStore records;
    for (std::size_t page = 1; page < 1000000; ++page) {
        recorder.Record(PageKey(page), PageAnswer(page));
        recorder.Record(SharedKey, SharedAnswer(page));
        MergePage(records, page);
        std::string error = recorder.Commit({page, 1, 0, 0}, records);
        if (!error.empty()) {
            std::printf("failed: %s\n", error.c_str());
            // Tried again, the commit fails again and keeps nothing.
            error = recorder.Commit({page, 1, 0, 0}, records);
            if (error.empty()) // handed over: said at the next
                error = recorder.Commit({page, 1, 0, 0}, records);
            return error.empty() ? 1 : 0;
        }
        std::printf("%zu\n", page);
        std::fflush(stdout);
    }
    return 1;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 5)
        return 2;
    const std::string path = argv[1], mode = argv[2];
    const long value = std::stol(argv[3]);
    const bool threaded = argc == 5 && std::string(argv[4]) == "thread";
    std::string error;
    TReport about;
    about.Start = "http://127.0.0.1/";
    // Once the file is made.
    const auto start = [&] {
        if (mode == "kill-after-ms") {
            std::thread([value] {
                std::this_thread::sleep_for(std::chrono::milliseconds(value));
                std::raise(SIGKILL);
            }).detach();
        } else {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(value), rlim_t(value)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
    };
    if (threaded) {
        if (const auto recorder = TRecorderThread::Create(path, {}, about, error)) {
            start();
            return WritePages(*recorder);
        }
    } else if (const auto recorder = TCrawlRecorder::Create(path, {}, about, error)) {
        start();
        return WritePages(*recorder);
    }
    std::printf("failed: %s\n", error.c_str());
    return 1;
}
