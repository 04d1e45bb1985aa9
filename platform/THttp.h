#pragma once
// A small HTTP client over libcurl, cut to what the crawl asks of it.
//
// A session carries the agent string, the timeouts and an optional abort
// flag. A request opened from it performs one GET: opening waits until the
// headers of the final response have arrived (redirects are followed, at most
// MaxRedirects), then headers can be queried by name and the body is pulled
// chunk by chunk with Read. Nothing is cached, no compression is asked for
// (a body sent compressed anyway is handed out decoded, every layer its
// Content-Encoding lists: gzip, deflate, br, zstd; one that does not decode
// or ends before its compressed data does is a failed read),
// and the usual proxy environment variables are honoured, except for
// 127.0.0.1, the folder server's address, which is always reached directly.
//
// A session and its requests belong to the thread that made them. Only the
// abort flag may be touched from another thread.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// A user name and password for one server. They go with the requests to that
// server only (as HTTP authentication), never inside an address.
struct THttpLogin {
    // An address on the server: its scheme, host and port pick the requests.
    // Empty: no login.
    std::string Address;
    std::string User;
    std::string Password;
};

struct THttpOptions {
    // Longest wait for a connection to be established.
    std::chrono::milliseconds ConnectTimeout{std::chrono::seconds(30)};
    // A transfer fails when nothing has arrived for this long.
    std::chrono::milliseconds IdleTimeout{std::chrono::seconds(60)};
    // A transfer fails when it has not ended this long after it began, however
    // steadily its bytes come. 0: no such limit; the page download and the
    // object probe then set their own.
    std::chrono::milliseconds TotalTimeout{0};
    long MaxRedirects = 10;
    THttpLogin Login;

    // The options of sessions made without explicit ones. Thread-safe; a
    // session copies them when it is made.
    static THttpOptions Default();
    static void SetDefault(const THttpOptions& options);
};

// Outcome of a header query.
enum class THttpQuery {
    Ok,      // the value was stored
    Missing, // the response has no such header
    Failed,  // there is no response to ask (the request could not be opened)
};

// Why a request stopped early.
enum class THttpFailure {
    None,
    Transfer, // connection refused, protocol error, TLS failure, body cut short...
    TimedOut, // no connection in time, or nothing received for IdleTimeout
    Overdue,  // still going at TotalTimeout
    Aborted,  // the session's abort flag was set
};

class THttpRequest;

class THttpSession {
public:
    // abort, when given, must outlive the session; setting it makes every
    // transfer of the session fail within a fraction of a second.
    explicit THttpSession(std::string agent, const std::atomic<bool>* abort = nullptr);
    THttpSession(std::string agent, const THttpOptions& options,
                 const std::atomic<bool>* abort = nullptr);

    // Starts one GET of address and waits for the headers of the final
    // response, or for the failure. Never null: a request that could not be
    // opened reports Opened() == false. Spaces, control bytes and bytes of
    // 0x80 and above after the host are percent-encoded for the request.
    std::unique_ptr<THttpRequest> OpenUrl(const std::string& address) const;

    const std::string& Agent() const noexcept { return FAgent; }
    const THttpOptions& Options() const noexcept { return FOptions; }

private:
    std::string FAgent;
    THttpOptions FOptions;
    const std::atomic<bool>* FAbort;
};

class THttpRequest {
public:
    ~THttpRequest();
    THttpRequest(const THttpRequest&) = delete;
    THttpRequest& operator=(const THttpRequest&) = delete;

    // True when the headers of the final response were received.
    bool Opened() const noexcept;

    // The status code of the final response as it appeared in the status
    // line, as text.
    THttpQuery QueryStatusCode(std::string& text) const;
    // The value of the first header called name (any letter case) of the
    // final response, without surrounding blanks.
    THttpQuery QueryHeader(std::string_view name, std::string& value) const;
    // Where the final response came from: the address as opened, or, when
    // redirects were followed, where the last one led (in libcurl's form).
    const std::string& FinalUrl() const;

    // True when the body is handed out decoded from its Content-Encoding: a
    // declared Content-Length then counts the encoded bytes, not these.
    bool Decoded() const noexcept;

    // Copies up to size body bytes into buffer and sets received to their
    // number, waiting for them if need be. At the end of the body it returns
    // true with received == 0; false when the body cannot be read (the request
    // was not opened or the transfer failed; bytes that arrived before the
    // failure are handed out first).
    bool Read(char* buffer, std::size_t size, std::size_t& received);

    // Ends the transfer and frees the connection. Further queries fail.
    void Close() noexcept;

    THttpFailure Failure() const noexcept;
    // A short description of the failure, for diagnostics.
    std::string ErrorText() const;

    struct TTransfer;

private:
    friend class THttpSession;
    explicit THttpRequest(std::unique_ptr<TTransfer> transfer);

    std::unique_ptr<TTransfer> FTransfer;
};
