#pragma once
// The answer to one TRequest, as a value. Exactly one comes back for each
// request (none once the scheduler has stopped).

#include "TRequest.h"

#include <cstdint>
#include <string>
#include <vector>

// Why a request got no usable answer.
enum class TFailure {
    None,
    ConnectionRefused,
    HostNotFound,
    TimedOut,
    Tls,
    CutShort,    // the connection ended before the answer did
    TooLarge,    // the body went past the request's cap
    Aborted,     // cancelled
    RateLimited, // the server asked for a longer wait than allowed, or kept refusing
    RedirectLoop, // a loop, or more redirects than allowed
    InvalidAddress, // not an address that can be asked for
    Other,
};

// One redirect followed: the status that sent it and where it led (the
// Location resolved against the address asked for).
struct TRedirectHop {
    int Status = 0;
    std::string Location;
};

struct TAnswer {
    std::uint64_t Id = 0;
    // The final response's status code; -1 when there was none or it was not
    // a number.
    int Status = -1;
    // The status code as the status line gave it.
    std::string StatusText;
    // The status line's words after the code, as the server sent them.
    std::string StatusPhrase;
    // Where the final response came from.
    std::string FinalAddress;
    std::vector<TRedirectHop> Redirects;
    // The method of the last request sent: a GET when a HEAD was refused.
    TRequest::TMethod Method = TRequest::TMethod::Get;
    std::string ContentType;
    // The Content-Length of the final response when it is a valid length of
    // the body as read (not of a compressed body); -1 otherwise.
    std::int64_t DeclaredLength = -1;
    // Body bytes read (after decoding), whether kept or not.
    std::int64_t BodyBytes = 0;
    bool BodyRead = false;
    // The body, for a request that keeps it (what came, up to the cap).
    std::string Body;
    TFailure Failure = TFailure::None;
    // Why, in words: "connection refused", "timed out after 60 s", "after 2
    // retries"... Empty for a plain answer.
    std::string Reason;
    int Retries = 0;

    // The declared length, else the bytes read, else -1.
    std::int64_t Size() const {
        return DeclaredLength >= 0 ? DeclaredLength : BodyRead ? BodyBytes : -1;
    }
};
