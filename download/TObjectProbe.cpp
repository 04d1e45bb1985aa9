#include "TObjectProbe.h"

#include "HttpRules.h"
#include "platform/THttp.h"
#include "platform/TMessagePump.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <pthread.h>
#include <utility>

namespace {

constexpr std::size_t kChunkSize = 4096;

// How long the pumping caller sleeps between two rounds of its event queue.
constexpr std::chrono::milliseconds kPumpInterval{10};

// The bytes of the body, counted to its end or to a failed read.
std::int32_t CountBody(THttpRequest& request) {
    char buffer[kChunkSize];
    std::int64_t counted = 0;
    std::size_t received = 0;
    while (request.Read(buffer, sizeof buffer, received) && received > 0)
        counted += static_cast<std::int64_t>(received);
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(counted, std::numeric_limits<std::int32_t>::max()));
}

bool Aborted(const std::atomic<bool>* abort) {
    return abort != nullptr && abort->load(std::memory_order_acquire);
}

} // namespace

_TContent_Struct TObjectProbe::NotFound() {
    return {"Not Found", 404, -1};
}

_TContent_Struct TObjectProbe::Probe(const std::string& address, const std::atomic<bool>* abort,
                                     std::string* reason) {
    std::string why;
    const _TContent_Struct result = ProbeWithReason(address, abort, why);
    if (reason != nullptr)
        *reason = std::move(why);
    return result;
}

_TContent_Struct TObjectProbe::ProbeWithReason(const std::string& address,
                                               const std::atomic<bool>* abort, std::string& reason) {
    const std::string url = WithHttpScheme(address);
    const THttpSession session(kHttpAgent, abort);
    const std::unique_ptr<THttpRequest> request = session.OpenUrl(url);

    const std::optional<std::int32_t> status = StatusCodeOf(*request);
    if (!status || *status == 404) {
        reason = FailureReason(*request);
        return NotFound();
    }
    if (*status >= 400)
        reason = StatusReason(*status);

    _TContent_Struct result;
    result.StatusCode = *status;
    if (const std::optional<std::int32_t> declared = ShortDeclaredLength(*request))
        result.ContentLength = *declared;
    else
        result.ContentLength = CountBody(*request);
    if (request->QueryHeader("Content-Type", result.ContentType) != THttpQuery::Ok)
        result.ContentType.clear();
    request->Close();
    if (Aborted(abort)) {
        reason = "aborted";
        return NotFound();
    }
    return result;
}

_TContent_Struct TObjectProbe::ProbeResponsive(const std::string& address,
                                               const std::atomic<bool>* abort,
                                               std::string* reason) {
    // The helper owns its own transfer; the two threads share only the result,
    // which is read after the join.
    _TContent_Struct result = NotFound();
    std::string why = "aborted";
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;

    std::thread helper([&] {
        pthread_setname_np(pthread_self(), "ObjectProbe");
        _TContent_Struct found;
        std::string foundWhy;
        try {
            found = ProbeWithReason(address, abort, foundWhy);
        } catch (...) {
            found = NotFound(); // out of memory
            foundWhy = "out of memory";
        }
        std::lock_guard guard(lock);
        result = std::move(found);
        why = std::move(foundWhy);
        done = true;
        finished.notify_one();
    });
    // Joined on every way out, a handler's exception included.
    struct TJoin {
        std::thread& Thread;
        ~TJoin() {
            if (Thread.joinable())
                Thread.join();
        }
    } join{helper};

    std::unique_lock guard(lock);
    while (!done) {
        guard.unlock();
        TMessagePump::ProcessMessages();
        guard.lock();
        finished.wait_for(guard, kPumpInterval, [&] { return done; });
    }
    guard.unlock();
    helper.join();
    if (reason != nullptr)
        *reason = std::move(why);
    return result;
}
