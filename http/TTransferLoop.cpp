#include "TTransferLoop.h"

#include "HttpTerms.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The longest the worker sleeps without looking at its clocks.
constexpr std::chrono::milliseconds kLongestPoll{1000};

void InitCurlOnce() {
    // Once per process, never cleaned up: another library's thread may still
    // be in a transfer when the process ends.
    static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)rc;
}

std::string EnvironmentNoProxy() {
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

} // namespace

TTransferLoop::TTransferLoop(TSchedulerOptions options, TDeliver deliver)
    : FOptions(std::move(options)), FDeliver(std::move(deliver)) {
    InitCurlOnce();
    FOptions.PerHost = std::max(FOptions.PerHost, 1);
    FOptions.Total = std::max(FOptions.Total, 1);
    FOptions.Retries = std::max(FOptions.Retries, 0);
    FMulti = curl_multi_init();
    if (FMulti != nullptr) {
        // Room for an open connection to each of many hosts.
        curl_multi_setopt(FMulti, CURLMOPT_MAXCONNECTS, std::max(4L * FOptions.Total, 256L));
    }
    FHeaders = curl_slist_append(nullptr, "Accept-Encoding:");
    // Setting a no-proxy list replaces the environment's; keep both.
    if (!FOptions.NoProxy.empty()) {
        const std::string environment = EnvironmentNoProxy();
        FNoProxy = environment.empty() ? FOptions.NoProxy : environment + "," + FOptions.NoProxy;
        FHasNoProxy = true;
    }
}

TTransferLoop::~TTransferLoop() {
    Close();
    curl_slist_free_all(FHeaders);
}

void TTransferLoop::Close() {
    for (TTransfer* t : FActive)
        curl_multi_remove_handle(FMulti, t->Easy());
    FActive.clear();
    FSleeping.clear();
    FHostsWithWork.clear();
    FHosts.clear();
    FTransfers.clear();
    for (CURL* easy : FIdleEasy)
        curl_easy_cleanup(easy);
    FIdleEasy.clear();
    std::lock_guard guard(FInboxLock);
    if (FMulti != nullptr)
        curl_multi_cleanup(FMulti); // closes every connection
    FMulti = nullptr;
    FInbox.clear();
}

// The multi handle is woken under the inbox lock, so it cannot be cleaned up
// meanwhile; once it is gone, nothing more is taken.
void TTransferLoop::Submit(TRequest request) {
    {
        std::lock_guard guard(FInboxLock);
        if (FMulti != nullptr) {
            // A request already waiting has woken the worker, which takes
            // them all at once.
            const bool wake = FInbox.empty();
            FInbox.push_back(std::move(request));
            if (wake)
                curl_multi_wakeup(FMulti);
            return;
        }
    }
    if (FStopping.load(std::memory_order_acquire))
        return;
    // No multi handle could be made: nothing can be asked.
    TAnswer answer;
    answer.Id = request.Id;
    answer.FinalAddress = request.Address;
    answer.Failure = TFailure::Other;
    answer.Reason = "cannot start a transfer";
    FDeliver(std::move(answer));
}

void TTransferLoop::Cancel(std::uint64_t id) {
    std::lock_guard guard(FInboxLock);
    if (FMulti == nullptr)
        return;
    FCancels.push_back(id);
    curl_multi_wakeup(FMulti);
}

void TTransferLoop::Stop() {
    FStopping.store(true, std::memory_order_release);
    std::lock_guard guard(FInboxLock);
    if (FMulti != nullptr)
        curl_multi_wakeup(FMulti);
}

void TTransferLoop::Run() {
    if (FMulti == nullptr)
        return; // Submit takes nothing
    while (!FStopping.load(std::memory_order_acquire)) {
        TakeInbox();
        Clock::time_point now = Clock::now();
        WakeSleepers(now);
        CheckRunning(now);
        StartWhatFits(now);
        int running = 0;
        curl_multi_perform(FMulti, &running);
        CollectDone();
        if (FStopping.load(std::memory_order_acquire))
            break;
        curl_multi_poll(FMulti, nullptr, 0, PollMillis(Clock::now()), nullptr);
    }
    Close();
}

void TTransferLoop::TakeInbox() {
    std::vector<TRequest> requests;
    std::vector<std::uint64_t> cancels;
    {
        std::lock_guard guard(FInboxLock);
        requests.swap(FInbox);
        cancels.swap(FCancels);
    }
    for (TRequest& request : requests) {
        std::string address = HttpTerms::ForRequest(request.Address);
        auto owned =
            std::make_unique<TTransfer>(std::move(request), FNextSerial++, std::move(address));
        TTransfer& t = *owned;
        t.Host = HttpTerms::HostKey(t.Address());
        FTransfers.emplace(&t, std::move(owned));
        Enqueue(t, false);
    }
    for (const std::uint64_t id : cancels)
        CancelAll(id);
}

void TTransferLoop::CancelAll(std::uint64_t id) {
    std::vector<TTransfer*> found;
    for (const auto& [key, t] : FTransfers) {
        if (t->Request().Id == id)
            found.push_back(key);
    }
    for (TTransfer* t : found) {
        if (t->State == TTransfer::TState::Running) {
            Detach(*t);
        } else if (t->State == TTransfer::TState::Sleeping) {
            for (auto it = FSleeping.begin(); it != FSleeping.end(); ++it) {
                if (it->second == t) {
                    FSleeping.erase(it);
                    break;
                }
            }
        } else {
            auto& queue = FHosts[t->Host].Queue;
            queue.erase(std::remove(queue.begin(), queue.end(), t), queue.end());
        }
        Finish(*t, TFailure::Aborted, "aborted");
    }
}

void TTransferLoop::Enqueue(TTransfer& t, bool front) {
    THost& host = FHosts[t.Host];
    if (front)
        host.Queue.push_front(&t);
    else
        host.Queue.push_back(&t);
    t.State = TTransfer::TState::Queued;
    FHostsWithWork.insert(&host);
}

// Background requests leave PerHost transfers to the others.
bool TTransferLoop::RoomForBackground() const {
    return FRunning < std::max(1, FOptions.Total - FOptions.PerHost);
}

void TTransferLoop::StartWhatFits(Clock::time_point now) {
    while (FRunning < FOptions.Total) {
        const bool roomForBackground = RoomForBackground();
        THost* best = nullptr;
        for (auto it = FHostsWithWork.begin(); it != FHostsWithWork.end();) {
            THost* host = *it;
            if (host->Queue.empty()) {
                it = FHostsWithWork.erase(it);
                continue;
            }
            ++it;
            if (host->Active >= FOptions.PerHost || now < host->BlockedUntil ||
                now < host->NextStart)
                continue;
            if (!roomForBackground && host->Queue.front()->Request().Background)
                continue;
            // The longest waiting request goes first, whatever its host.
            if (best == nullptr || host->Queue.front()->Serial() < best->Queue.front()->Serial())
                best = host;
        }
        if (best == nullptr)
            return;
        TTransfer* t = best->Queue.front();
        best->Queue.pop_front();
        Start(*t, *best, now);
    }
}

void TTransferLoop::Start(TTransfer& t, THost& host, Clock::time_point now) {
    if (!t.Deadline)
        t.Deadline = now + t.Request().TotalTimeout;
    const TTransfer::TSetup setup{&FOptions.UserAgent, FHasNoProxy ? &FNoProxy : nullptr, FHeaders};
    if (t.Easy() == nullptr && !FIdleEasy.empty()) {
        t.AdoptEasy(FIdleEasy.back());
        FIdleEasy.pop_back();
    }
    CURL* easy = t.Prepare(setup, now);
    if (easy == nullptr || curl_multi_add_handle(FMulti, easy) != CURLM_OK) {
        Finish(t, TFailure::Other, "cannot start a transfer");
        return;
    }
    t.State = TTransfer::TState::Running;
    FActive.insert(&t);
    ++host.Active;
    ++FRunning;
    host.NextStart = now + FOptions.HostGap;
}

void TTransferLoop::Detach(TTransfer& t) {
    curl_multi_remove_handle(FMulti, t.Easy());
    FActive.erase(&t);
    --FHosts[t.Host].Active;
    --FRunning;
    t.State = TTransfer::TState::Queued;
}

void TTransferLoop::CollectDone() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(FMulti, &left)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        void* self = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &self);
        const CURLcode code = msg->data.result;
        AttemptEnded(*static_cast<TTransfer*>(self), code);
    }
}

void TTransferLoop::CheckRunning(Clock::time_point now) {
    std::vector<TTransfer*> overdue;
    for (TTransfer* t : FActive) {
        if (now >= *t->Deadline || now - t->LastActivity() >= t->Request().IdleTimeout)
            overdue.push_back(t);
    }
    for (TTransfer* t : overdue) {
        Detach(*t);
        const bool total = now >= *t->Deadline;
        const auto limit = total ? t->Request().TotalTimeout : t->Request().IdleTimeout;
        Finish(*t, TFailure::TimedOut, "timed out after " + HttpTerms::Duration(limit));
    }
}

void TTransferLoop::WakeSleepers(Clock::time_point now) {
    while (!FSleeping.empty() && FSleeping.begin()->first <= now) {
        TTransfer* t = FSleeping.begin()->second;
        FSleeping.erase(FSleeping.begin());
        Enqueue(*t, true);
    }
}

int TTransferLoop::PollMillis(Clock::time_point now) const {
    Clock::time_point wake = now + kLongestPoll;
    if (!FSleeping.empty())
        wake = std::min(wake, FSleeping.begin()->first);
    for (const TTransfer* t : FActive)
        wake = std::min({wake, *t->Deadline, t->LastActivity() + t->Request().IdleTimeout});
    if (FRunning < FOptions.Total) {
        const bool roomForBackground = RoomForBackground();
        for (const THost* host : FHostsWithWork) {
            // A background request that has no room waits for a transfer's
            // end, which wakes the poll anyway.
            if (!host->Queue.empty() && host->Active < FOptions.PerHost &&
                (roomForBackground || !host->Queue.front()->Request().Background))
                wake = std::min(wake, std::max(host->BlockedUntil, host->NextStart));
        }
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, kLongestPoll.count()));
}
