#include "TProbeBatch.h"

#include "TObjectProbe.h"
#include "platform/TMessagePump.h"

#include <algorithm>
#include <chrono>

#include <pthread.h>

namespace {
// How long the pumping caller sleeps between two rounds of its event queue.
constexpr std::chrono::milliseconds kPumpInterval{10};
} // namespace

TProbeBatch::TProbeBatch(std::vector<std::string> addresses, unsigned concurrency,
                         const std::atomic<bool>* abort, THttpLogin login)
    : FAddresses(std::move(addresses)), FAbort(abort), FLogin(std::move(login)),
      FOutcomes(FAddresses.size()) {
    const std::size_t workers =
        std::min<std::size_t>(std::max(concurrency, 1u), FAddresses.size());
    for (std::size_t i = 0; i < workers; ++i)
        FWorkers.emplace_back([this] { Work(); });
}

TProbeBatch::~TProbeBatch() {
    {
        std::lock_guard guard(FLock);
        FStopping = true;
    }
    for (std::thread& worker : FWorkers)
        worker.join();
}

void TProbeBatch::Work() {
    pthread_setname_np(pthread_self(), "ObjectProbe");
    for (;;) {
        std::size_t index = 0;
        {
            std::lock_guard guard(FLock);
            if (FStopping || FNext == FAddresses.size())
                return;
            index = FNext++;
        }
        TOutcome outcome{TObjectProbe::NotFound(), "aborted"};
        if (FAbort != nullptr && FAbort->load(std::memory_order_acquire)) {
            // Every address gets its answer, at once: the caller may wait for any.
        } else try {
            outcome.Header = TObjectProbe::Probe(FAddresses[index], FAbort, &outcome.Reason, FLogin);
        } catch (...) {
            outcome = {TObjectProbe::NotFound(), "out of memory"};
        }
        std::lock_guard guard(FLock);
        FOutcomes[index] = std::move(outcome);
        FDone.notify_all();
    }
}

_TContent_Struct TProbeBatch::Result(std::size_t index, std::string& reason) {
    std::unique_lock guard(FLock);
    while (!FOutcomes[index]) {
        guard.unlock();
        TMessagePump::ProcessMessages();
        guard.lock();
        FDone.wait_for(guard, kPumpInterval, [&] { return FOutcomes[index].has_value(); });
    }
    reason = FOutcomes[index]->Reason;
    return FOutcomes[index]->Header;
}
