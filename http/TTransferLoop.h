#pragma once
// The worker of a TRequestScheduler: one curl multi handle driven from one
// thread. It keeps a queue per host (name and port) and starts what the
// limits allow: PerHost transfers per host, Total in all, HostGap between two
// starts on one host, nothing while a host has asked to be left alone
// (Retry-After). Connections stay open in the multi handle's cache and are
// used again by the next request to their host.
//
// Submit, Cancel and Stop may be called from any thread; Run is the worker's
// body. Each answer goes to the deliver function, on the worker thread, once.

#include "TAnswer.h"
#include "TRequest.h"
#include "TSchedulerOptions.h"
#include "TTransfer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

typedef void CURLM;
struct curl_slist;

class TTransferLoop {
public:
    using TDeliver = std::function<void(TAnswer)>;

    TTransferLoop(TSchedulerOptions options, TDeliver deliver);
    ~TTransferLoop();
    TTransferLoop(const TTransferLoop&) = delete;
    TTransferLoop& operator=(const TTransferLoop&) = delete;

    void Submit(TRequest request);
    void Cancel(std::uint64_t id);
    // Run returns soon after, every transfer and wait ended, nothing answered.
    void Stop();
    void Run();

private:
    using Clock = std::chrono::steady_clock;

    struct THost {
        int Active = 0;
        std::deque<TTransfer*> Queue;
        Clock::time_point BlockedUntil{};
        Clock::time_point NextStart{};
    };

    struct TOutcome {
        TFailure Failure = TFailure::None;
        std::string Reason;
        bool Transient = false;
        // A HEAD that the server dropped without an answer.
        bool HeadRefused = false;
    };

    // Ends every transfer and closes every connection.
    void Close();
    void TakeInbox();
    void Enqueue(TTransfer& t, bool front);
    void StartWhatFits(Clock::time_point now);
    void Start(TTransfer& t, THost& host, Clock::time_point now);
    void Detach(TTransfer& t);
    void CollectDone();
    void CheckRunning(Clock::time_point now);
    void WakeSleepers(Clock::time_point now);
    int PollMillis(Clock::time_point now) const;
    bool RoomForBackground() const;
    void CancelAll(std::uint64_t id);

    // TTransferOutcome.cpp: what an ended attempt leads to.
    void AttemptEnded(TTransfer& t, int code);
    void Answered(TTransfer& t, Clock::time_point now);
    TOutcome Classify(const TTransfer& t, int code) const;
    bool RetryLater(TTransfer& t, Clock::time_point now);
    void Redirect(TTransfer& t, std::string next);
    void Finish(TTransfer& t, TFailure failure, std::string reason);

    TSchedulerOptions FOptions;
    TDeliver FDeliver;
    CURLM* FMulti = nullptr;
    curl_slist* FHeaders = nullptr;
    std::string FNoProxy;
    bool FHasNoProxy = false;

    std::mutex FInboxLock;
    std::vector<TRequest> FInbox;
    std::vector<std::uint64_t> FCancels;
    std::atomic<bool> FStopping{false};

    std::uint64_t FNextSerial = 0;
    int FRunning = 0;
    std::unordered_map<TTransfer*, std::unique_ptr<TTransfer>> FTransfers;
    std::unordered_map<std::string, THost> FHosts;
    std::unordered_set<THost*> FHostsWithWork;
    std::unordered_set<TTransfer*> FActive;
    std::multimap<Clock::time_point, TTransfer*> FSleeping;
    // Handles of ended transfers, reset, for the next ones: making and
    // freeing one a request cost more than resetting it.
    std::vector<CURL*> FIdleEasy;
};
