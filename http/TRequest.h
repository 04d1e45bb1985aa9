#pragma once
// One HTTP request as a value: what to ask, how much of the answer to take,
// and how long to wait for it. The caller picks the id; the answer carries it
// back.

#include <chrono>
#include <cstdint>
#include <string>

struct TRequest {
    enum class TMethod { Head, Get };
    // What the request is for; it names the limit in a too-large reason.
    enum class TPurpose { Page, Probe };
    // What is done with the body of the final response.
    enum class TBody {
        Keep,  // kept in the answer, up to BodyCap
        Count, // counted and dropped, up to BodyCap, unless a length is declared
        Skip,  // never read: the transfer ends with the headers
    };

    // A user name and password for one server: they go with the requests to
    // the scheme, host and port of Address only, never to where a redirect
    // leads elsewhere.
    struct TLogin {
        std::string Address; // empty: no login
        std::string User;
        std::string Password;
    };

    static constexpr std::int64_t kPageCap = 64LL * 1024 * 1024;
    static constexpr std::int64_t kRobotsCap = 512LL * 1024;

    std::uint64_t Id = 0;
    std::string Address;
    TMethod Method = TMethod::Get;
    TPurpose Purpose = TPurpose::Page;
    TBody Body = TBody::Keep;
    std::int64_t BodyCap = kPageCap;
    // With Keep: only an HTML body (text/html) is kept; any other is treated
    // as with Count (a declared length is its size, else it is counted).
    bool KeepHtmlOnly = false;
    // A request that may wait for the others (the check of a link to another
    // site): it never takes the last PerHost of the Total transfers, so that
    // checks of slow or unreachable hosts cannot hold up the crawl's pages.
    bool Background = false;
    // From the first transfer's start to the answer, redirects, retries and
    // their waits included.
    std::chrono::milliseconds TotalTimeout = std::chrono::minutes(5);
    std::chrono::milliseconds ConnectTimeout = std::chrono::seconds(30);
    // A transfer fails when nothing has arrived for this long.
    std::chrono::milliseconds IdleTimeout = std::chrono::seconds(60);
    TLogin Login;

    // A page of the crawl: a GET whose body is kept, up to 64 MiB, 5 min.
    static TRequest Page(std::uint64_t id, std::string address);
    // An object or a link elsewhere: a HEAD (a GET when the server refuses
    // it) whose body is never read, 2 min.
    static TRequest Probe(std::uint64_t id, std::string address);
    // A robots.txt: a GET kept up to 512 KiB, 2 min.
    static TRequest Robots(std::uint64_t id, std::string address);
};
