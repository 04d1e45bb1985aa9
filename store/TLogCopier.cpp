#include "TLogCopier.h"

#include <sqlite3.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace {

// What the log holds copied into the file, as far as readers allow; the
// pages copied so far, or -1 when it could not.
int Copy(sqlite3* db) {
    int logged = 0, copied = 0;
    if (sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logged, &copied) !=
        SQLITE_OK)
        return -1;
    return copied;
}

} // namespace

struct TLogCopier::TThread {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Asked = false;
    bool Copying = false;
    bool Ending = false;
    // The writer outran the copier and waits to copy the log itself.
    bool Behind = false;
    // The copier's connection opened (false till it has, and if it cannot).
    bool Open = false;
    // The log's length at the last commit, and how much of it the copier
    // has copied (0 once it starts again from its beginning).
    int Logged = 0;
    int Copied = 0;
    std::thread Worker;

    explicit TThread(const std::string& path) {
        Worker = std::thread([this, path] { Run(path); });
    }
    ~TThread() {
        {
            const std::lock_guard<std::mutex> hold(Lock);
            Ending = true;
        }
        Changed.notify_all();
        Worker.join();
    }

    void Run(const std::string& path) {
        pthread_setname_np(pthread_self(), "CrawlFileLog");
        sqlite3* db = nullptr;
        const bool open =
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) == SQLITE_OK;
        std::unique_lock<std::mutex> hold(Lock);
        Open = open;
        while (Open) {
            Changed.wait(hold, [this] { return Ending || Asked; });
            if (Ending)
                break;
            Asked = false;
            Copying = true;
            // Again while the writer added more than it may copy itself
            // meanwhile, as long as each copy gets further.
            int copied = 0;
            for (int last = -1; copied > last && Logged - copied > Few && !Ending && !Behind;) {
                last = copied;
                hold.unlock();
                copied = Copy(db);
                hold.lock();
            }
            Copying = false;
            Copied = copied > 0 && copied <= Logged ? copied : 0;
            Changed.notify_all();
        }
        hold.unlock();
        sqlite3_close_v2(db);
    }
};

TLogCopier::TLogCopier(const std::string& path) : FThread(std::make_unique<TThread>(path)) {}

TLogCopier::~TLogCopier() = default;

void TLogCopier::Logged(sqlite3* writer, int pages) {
    TThread& t = *FThread;
    std::unique_lock<std::mutex> hold(t.Lock);
    if (pages < t.Logged || pages < t.Copied)
        t.Copied = 0; // the log started again
    t.Logged = pages;
    if (pages >= Most) {
        // Written faster than the copier copies: the writer waits for the
        // copy under way, then copies the rest, as SQLite would.
        t.Behind = true;
        t.Changed.wait(hold, [&t] { return !t.Copying; });
        t.Behind = false;
        t.Asked = false;
        hold.unlock();
        Copy(writer);
        hold.lock();
        t.Copied = 0;
        return;
    }
    if (t.Copying || t.Asked)
        return;
    if (t.Copied > 0 && pages - t.Copied <= Few) {
        // The little left: once in the file, the next commit starts the log again.
        hold.unlock();
        Copy(writer);
        hold.lock();
        t.Copied = 0;
    } else if (pages >= Start && t.Open) {
        t.Asked = true;
        t.Changed.notify_all();
    }
}
