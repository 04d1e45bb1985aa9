#include "TObjectProbe.h"

#include "HttpRules.h"
#include "common/Limits.h"
#include "platform/THttp.h"
#include "platform/TMessagePump.h"

#include <algorithm>
#include <charconv>
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

// How counting a body ended.
enum class TCountEnd { End, Failed, OverLimit };

// Counts the body's bytes up to its end, a failed read, or limit bytes with
// more to come (then counted is limit).
TCountEnd CountBody(THttpRequest& request, std::int64_t limit, std::int64_t& counted) {
    char buffer[kChunkSize];
    counted = 0;
    for (;;) {
        // One byte past the limit tells a body of exactly limit bytes from a longer one.
        const auto wanted =
            static_cast<std::size_t>(std::min<std::int64_t>(sizeof buffer, limit - counted + 1));
        std::size_t received = 0;
        if (!request.Read(buffer, wanted, received))
            return TCountEnd::Failed;
        if (received == 0)
            return TCountEnd::End;
        counted += static_cast<std::int64_t>(received);
        if (counted > limit) {
            counted = limit;
            return TCountEnd::OverLimit;
        }
    }
}

// Where counting stops: at kMaxPageBytes, or at the declared length of a body
// that is not decoded when that is larger (the transfer ends there by itself).
std::int64_t CountLimit(const THttpRequest& request) {
    std::int64_t declared = 0;
    std::string text;
    if (!request.Decoded() && request.QueryHeader("Content-Length", text) == THttpQuery::Ok) {
        const char* const end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, declared);
        if (error != std::errc() || stop != end)
            declared = 0;
    }
    return std::max(static_cast<std::int64_t>(kMaxPageBytes), declared);
}

std::int32_t ClampSize(std::int64_t size) {
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(size, std::numeric_limits<std::int32_t>::max()));
}

bool Aborted(const std::atomic<bool>* abort) {
    return abort != nullptr && abort->load(std::memory_order_acquire);
}

} // namespace

_TContent_Struct TObjectProbe::NotFound() {
    return {"Not Found", 404, -1};
}

_TContent_Struct TObjectProbe::Probe(const std::string& address, const std::atomic<bool>* abort,
                                     std::string* reason, const THttpLogin& login) {
    std::string why;
    const _TContent_Struct result = ProbeWithReason(address, abort, why, login);
    if (reason != nullptr)
        *reason = std::move(why);
    return result;
}

_TContent_Struct TObjectProbe::ProbeWithReason(const std::string& address,
                                               const std::atomic<bool>* abort, std::string& reason,
                                               const THttpLogin& login) {
    const std::string url = WithHttpScheme(address);
    const THttpSession session(kHttpAgent, SessionOptions(TotalTimeout, login), abort);
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
    if (request->QueryHeader("Content-Type", result.ContentType) != THttpQuery::Ok)
        result.ContentType.clear();
    // A declared length is the size: the body is not read to be counted.
    if (const std::optional<std::int64_t> declared = DeclaredLength(*request)) {
        result.ContentLength = ClampSize(*declared);
    } else {
        const std::int64_t limit = CountLimit(*request);
        std::int64_t counted = 0;
        const TCountEnd end = CountBody(*request, limit, counted);
        result.ContentLength = ClampSize(counted);
        // A body cut short or stalled counts what came; one that never ends
        // is a failure, and the size says how far it was counted.
        // A compressed body that does not decode, or ends before its
        // compressed data does, is a failure too.
        const bool overdue = request->Failure() == THttpFailure::Overdue;
        const bool undecodable = end == TCountEnd::Failed && request->Decoded();
        if (end == TCountEnd::OverLimit || overdue || undecodable) {
            reason = overdue || undecodable                ? request->ErrorText()
                     : limit > std::int64_t{kMaxPageBytes} ? "the body is longer than declared"
                                                           : "the body is larger than 64 MiB";
            result = NotFound();
            result.ContentLength = ClampSize(counted);
        }
    }
    request->Close();
    if (Aborted(abort)) {
        reason = "aborted";
        return NotFound();
    }
    return result;
}

_TContent_Struct TObjectProbe::ProbeResponsive(const std::string& address,
                                               const std::atomic<bool>* abort, std::string* reason,
                                               const THttpLogin& login) {
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
            found = ProbeWithReason(address, abort, foundWhy, login);
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
