#pragma once
// One request on its way through the scheduler: the request, the answer being
// built, and the state of the current attempt (one HTTP exchange). Redirects,
// retries and a HEAD asked again as a GET are further attempts of the same
// transfer, on the same curl handle. It belongs to the scheduler's worker.

#include "TAnswer.h"
#include "TRequest.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

typedef void CURL;
struct curl_slist;

class TTransfer {
public:
    using Clock = std::chrono::steady_clock;
    enum class TState { Queued, Running, Sleeping };

    // What the worker tells each attempt.
    struct TSetup {
        const std::string* UserAgent = nullptr;
        const std::string* NoProxy = nullptr; // null: the environment's
        curl_slist* Headers = nullptr;
    };

    TTransfer(TRequest request, std::uint64_t serial, std::string address);
    ~TTransfer();
    TTransfer(const TTransfer&) = delete;
    TTransfer& operator=(const TTransfer&) = delete;

    // Readies the next attempt for the current address and method; null when
    // no curl handle can be had.
    CURL* Prepare(const TSetup& setup, Clock::time_point now);
    CURL* Easy() const noexcept { return FEasy; }
    // A handle of an ended transfer, reset, to use instead of a new one.
    void AdoptEasy(CURL* easy) noexcept;
    // Gives the handle up (null when it has none), for another transfer.
    CURL* ReleaseEasy() noexcept;

    const TRequest& Request() const noexcept { return FRequest; }
    TAnswer& Answer() noexcept { return FAnswer; }
    std::uint64_t Serial() const noexcept { return FSerial; }
    const std::string& Address() const noexcept { return FAddress; }
    TRequest::TMethod Method() const noexcept { return FMethod; }

    // Moves on to another address (a redirect); false when it was asked before.
    bool MoveTo(std::string address);
    // Asks again with a GET that stops at the headers.
    void FallBackToGet();

    // The current attempt, as far as it came.
    int Status() const noexcept { return FStatus; }
    std::optional<std::string> Header(std::string_view name) const;
    // The attempt was ended on purpose once its headers were in.
    bool EndedEarly() const noexcept { return FEndedEarly; }
    bool TooLarge() const noexcept { return FTooLarge; }
    std::string ErrorText() const;
    Clock::time_point LastActivity() const noexcept { return FLastActivity; }
    // The status line's code as sent, for the answer.
    const std::string& StatusText() const noexcept { return FStatusText; }
    // The status line's words after the code ("Not Found").
    const std::string& StatusPhrase() const noexcept { return FStatusPhrase; }
    // The declared length of the final response's body as read.
    std::optional<std::int64_t> DeclaredLength() const;

    TState State = TState::Queued;
    std::string Host;
    // Set when the first attempt starts.
    std::optional<Clock::time_point> Deadline;
    // Asked again after a transient failure.
    int TransientRetries = 0;
    // Asked again after a Retry-After, and how long that made it wait.
    int RateRounds = 0;
    std::chrono::milliseconds RateWaited{0};

private:
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    bool HeaderLine(std::string_view line);
    bool HeadersEnded();
    bool BodyBytes(const char* data, std::size_t size);

    TRequest FRequest;
    TAnswer FAnswer;
    std::uint64_t FSerial;
    std::string FAddress;
    TRequest::TMethod FMethod;
    TRequest::TBody FBody;
    std::vector<std::string> FAsked;

    CURL* FEasy = nullptr;
    std::unique_ptr<char[]> FError;
    Clock::time_point FLastActivity{};
    int FStatus = -1;
    std::string FStatusText;
    std::string FStatusPhrase;
    std::vector<std::pair<std::string, std::string>> FHeaders;
    bool FHeadersEnded = false;
    bool FEndedEarly = false;
    bool FTooLarge = false;
    // The body of this attempt is kept, not only counted.
    bool FKeep = false;
};
