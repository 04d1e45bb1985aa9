#include "TRecorderThread.h"

#include "TCrawlDb.h"
#include "TCrawlRecorder.h"
#include "TCrawlRowWriter.h"

#include "crawl/TRecordStore.h"
#include "report/TReport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include <pthread.h>

namespace {

// While a crawl goes, the next page's commit comes a fraction of a
// millisecond after the last one is written. Waiting for it (and for a
// commit the crawl waits for) awake, this long at most, spares both threads
// a sleep and a wake a page: on a virtual machine, sleeping and waking took
// a third of this thread's time (a millisecond crawled 100,000 pages a
// tenth faster than half of one; two, no faster). A crawl that pauses
// between pages (--delay) lets the thread sleep after this.
constexpr std::chrono::microseconds AwakeFor(1000);

void Pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Whether ready() came true within AwakeFor, asked without sleeping.
template <class TReady> bool CameAwake(const TReady& ready) {
    const auto until = std::chrono::steady_clock::now() + AwakeFor;
    do {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
            Pause();
        }
    } while (std::chrono::steady_clock::now() < until);
    return ready();
}

} // namespace

struct TRecorderThread::TThread {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::function<void()>> Jobs;
    // Jobs is not empty: looked at without the lock while the thread waits
    // awake for the next.
    std::atomic<bool> Queued{false};
    // A job is being run: the queue is empty only once it is done too.
    bool Running = false;
    bool Ending = false;
    // Commits handed over and not written yet, and the first that failed;
    // the merged pages whose rows the file holds.
    std::atomic<std::size_t> Commits{0};
    std::size_t MergedKept = 0;
    // The referrers' index handed over and not made yet.
    bool Indexing = false;
    std::string Failure;
    std::thread Worker;

    TThread() {
        Worker = std::thread([this] { Run(); });
    }
    ~TThread() {
        {
            const std::lock_guard<std::mutex> hold(Lock);
            Ending = true;
        }
        Changed.notify_all();
        Worker.join();
    }

    void Run() {
        pthread_setname_np(pthread_self(), "CrawlFile");
        std::unique_lock<std::mutex> hold(Lock);
        for (;;) {
            if (Jobs.empty() && !Ending) {
                hold.unlock();
                CameAwake([this] { return Queued.load(std::memory_order_acquire); });
                hold.lock();
            }
            Changed.wait(hold, [this] { return Ending || !Jobs.empty(); });
            if (Jobs.empty())
                return; // ending, with nothing left to write
            std::function<void()> job = std::move(Jobs.front());
            Jobs.pop_front();
            Queued.store(!Jobs.empty(), std::memory_order_relaxed);
            Running = true;
            hold.unlock();
            try {
                job(); // jobs keep their own failures
            } catch (...) {
                // None escapes them; should one, the thread goes on.
            }
            hold.lock();
            Running = false;
            Changed.notify_all();
        }
    }

    void Push(std::function<void()> job) {
        Jobs.push_back(std::move(job));
        Queued.store(true, std::memory_order_release);
    }

    void Wait(std::unique_lock<std::mutex>& hold) {
        Changed.wait(hold, [this] { return Jobs.empty() && !Running; });
    }
};

TRecorderThread::TRecorderThread() : FThread(std::make_unique<TThread>()) {}

TRecorderThread::~TRecorderThread() {
    // The recorder and its connection go on the thread that made them.
    Call([this] { FRecorder.reset(); });
}

void TRecorderThread::HandOverAnswers() const {
    if (FAnswers.empty())
        return;
    FThread->Push([this, answers = std::exchange(FAnswers, {})] {
        try {
            for (const auto& [key, answer] : answers)
                FRecorder->Record(key, answer);
        } catch (const std::bad_alloc&) {
            // Not kept: a crawl read back asks for them again.
        }
    });
}

void TRecorderThread::Post(std::function<void()> job) {
    {
        const std::lock_guard<std::mutex> hold(FThread->Lock);
        HandOverAnswers();
        FThread->Push(std::move(job));
    }
    FThread->Changed.notify_all();
}

void TRecorderThread::Call(const std::function<void()>& job) const {
    std::unique_lock<std::mutex> hold(FThread->Lock);
    HandOverAnswers();
    FThread->Push(job);
    FThread->Changed.notify_all();
    FThread->Wait(hold);
}

void TRecorderThread::WaitForCommits() const {
    if (CameAwake([this] { return FThread->Commits.load(std::memory_order_acquire) == 0; }))
        return;
    std::unique_lock<std::mutex> hold(FThread->Lock);
    FThread->Changed.wait(hold, [this] { return FThread->Commits == 0; });
}

std::string TRecorderThread::TakeFailure() {
    const std::lock_guard<std::mutex> hold(FThread->Lock);
    return std::exchange(FThread->Failure, {});
}

std::unique_ptr<TRecorderThread> TRecorderThread::Create(const std::string& path,
                                                         const TCrawlOptions& options,
                                                         const TReport& about, std::string& error) {
    std::unique_ptr<TRecorderThread> kept(new TRecorderThread());
    kept->Call([&] {
        try {
            kept->FRecorder = TCrawlRecorder::Create(path, options, about, error);
        } catch (const std::bad_alloc&) {
            error = path + ": cannot be written: out of memory";
        }
    });
    if (!kept->FRecorder)
        return nullptr;
    kept->FPath = path;
    return kept;
}

std::unique_ptr<TRecorderThread> TRecorderThread::Open(const std::string& path,
                                                       TCrawlOptions& options, TReport& about,
                                                       std::string& error) {
    std::unique_ptr<TRecorderThread> kept(new TRecorderThread());
    kept->Call([&] {
        try {
            kept->FRecorder = TCrawlRecorder::Open(path, options, about, error);
        } catch (const std::bad_alloc&) {
            error = path + ": cannot be read: out of memory";
        }
        if (kept->FRecorder) {
            kept->FFinished = kept->FRecorder->Finished();
            kept->FReplayable = kept->FRecorder->ReplayLeft() > 0;
            kept->FPagesCommitted = kept->FRecorder->PagesCommitted();
        }
    });
    if (!kept->FRecorder)
        return nullptr;
    kept->FPath = path;
    return kept;
}

std::optional<TAnswer> TRecorderThread::Replay(const std::string& key) {
    if (!FReplayable)
        return std::nullopt;
    std::optional<TAnswer> answer;
    Call([&] {
        try {
            answer = FRecorder->Replay(key);
        } catch (const std::bad_alloc&) {
            answer.reset(); // asked again instead
        }
        FReplayable = FRecorder->ReplayLeft() > 0;
    });
    return answer;
}

void TRecorderThread::Record(const std::string& key, const TAnswer& answer) {
    // Handed over with the next job, the page's commit: one wake of the
    // thread a page, not one an answer.
    FAnswers.emplace_back(key, answer);
}

std::string TRecorderThread::Commit(const TCrawlProgress& progress, const TRecordStore& records) {
    // One page's commit at a time: the crawl never runs further ahead of
    // the file than the page being fetched.
    WaitForCommits();
    if (std::string failure = TakeFailure(); !failure.empty())
        return failure;
    // Taken here, while the store stands still; a commit that fails keeps them.
    TCrawlRowWriter::TRows rows;
    try {
        rows = FRecorder->TakeRows(records, records.MergesEnded());
    } catch (const std::bad_alloc&) {
        return FPath + ": cannot be written: out of memory";
    }
    {
        const std::lock_guard<std::mutex> hold(FThread->Lock);
        ++FThread->Commits;
    }
    Post([this, progress, rows = std::move(rows)]() mutable {
        std::string error;
        try {
            error = FRecorder->Commit(progress, std::move(rows));
        } catch (const std::bad_alloc&) {
            error = FPath + ": cannot be written: out of memory";
        }
        const std::size_t kept = FRecorder->MergedKept();
        const std::lock_guard<std::mutex> hold(FThread->Lock);
        if (FThread->Failure.empty())
            FThread->Failure = std::move(error);
        FThread->MergedKept = kept;
        --FThread->Commits;
    });
    FPagesCommitted = progress.Pages;
    FFinished = false;
    return {};
}

std::string TRecorderThread::WriteTables(const TRecordStore& store,
                                         const std::vector<std::string>& queue,
                                         const TReport& about, bool finished) {
    BeginTables(store, queue, about, finished);
    return EndTables();
}

void TRecorderThread::BeginTables(const TRecordStore& store, std::vector<std::string> queue,
                                  TReport about, bool finished) {
    // An ended crawl's report reads the referrers by their index: made
    // first, not behind the tables (which would make it anyway), while the
    // report reads what comes before them.
    if (finished && !FReferrersIndexed) {
        {
            const std::lock_guard<std::mutex> hold(FThread->Lock);
            FThread->Indexing = true;
        }
        Post([this] {
            try {
                FRecorder->IndexReferrers();
            } catch (const std::bad_alloc&) {
                // Read without it, by a sort.
            }
            const std::lock_guard<std::mutex> hold(FThread->Lock);
            FThread->Indexing = false;
        });
        FReferrersIndexed = true;
    }
    Post([this, &store, queue = std::move(queue), about = std::move(about), finished] {
        try {
            FTablesError = FRecorder->WriteTables(store, queue, about, finished, false);
        } catch (const std::bad_alloc&) {
            FTablesError = FPath + ": cannot be written: out of memory";
        }
    });
}

std::string TRecorderThread::EndTables() {
    Call([] {}); // the tables are written
    FReader.reset();
    Call([this] {
        if (std::string error = FRecorder->OneFile(); !error.empty() && FTablesError.empty())
            FTablesError = std::move(error);
        FFinished = FRecorder->Finished();
        FThread->MergedKept = FRecorder->MergedKept(); // the caller waits
    });
    if (std::string failure = TakeFailure(); !failure.empty())
        return failure;
    return std::exchange(FTablesError, {});
}

std::string TRecorderThread::CopyTo(const std::string& path) const {
    std::string error;
    Call([&] {
        try {
            error = FRecorder->CopyTo(path);
        } catch (const std::bad_alloc&) {
            error = path + ": cannot be written: out of memory";
        }
    });
    return error;
}

std::size_t TRecorderThread::MergedKept() const {
    const std::lock_guard<std::mutex> hold(FThread->Lock);
    return FThread->MergedKept;
}

bool TRecorderThread::Read(const std::function<bool(const TRowReader& rows)>& read) const {
    // The tables of a halt, written on the thread, read the rows as well.
    if (std::this_thread::get_id() == FThread->Worker.get_id())
        return read(*FRecorder);
    // The rows handed over are written; tables being written are not
    // waited for (an ended crawl's report is written meanwhile).
    WaitForCommits();
    if (!FReader) {
        auto reader = std::make_unique<TCrawlDb>();
        if (!reader->Open(FPath, true))
            return false;
        FReader = std::move(reader);
    }
    return read(TCrawlRowWriter(*FReader));
}

bool TRecorderThread::ReadLinks(std::size_t from, std::size_t to, const TLinkVisit& visit) const {
    return Read([&](const TRowReader& rows) { return rows.ReadLinks(from, to, visit); });
}

bool TRecorderThread::ReadPages(std::size_t from, std::size_t to, const TPageVisit& visit) const {
    return Read([&](const TRowReader& rows) { return rows.ReadPages(from, to, visit); });
}

bool TRecorderThread::ReadReferences(std::int32_t address, std::size_t to,
                                     const TReferenceVisit& visit) const {
    // Their index is made on the thread, once (the recorder's own reading
    // makes it there).
    if (std::this_thread::get_id() != FThread->Worker.get_id()) {
        if (!FReferrersIndexed) {
            Call([this] { FRecorder->IndexReferrers(); });
            FReferrersIndexed = true;
        }
        std::unique_lock<std::mutex> hold(FThread->Lock);
        FThread->Changed.wait(hold, [this] { return !FThread->Indexing; });
    }
    return Read([&](const TRowReader& rows) { return rows.ReadReferences(address, to, visit); });
}
