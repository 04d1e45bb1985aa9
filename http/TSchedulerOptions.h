#pragma once
// How a TRequestScheduler treats servers: how many transfers at once, how
// often, how long it waits when asked to, and how it introduces itself.

#include <chrono>
#include <string>
#include <vector>

struct TSchedulerOptions {
    // Transfers at once to one host (its name and port).
    int PerHost = 2;
    // Transfers at once in all.
    int Total = 64;
    // The least time between the starts of two requests to one host.
    std::chrono::milliseconds HostGap{0};
    // Transient failures (a connect timeout, a reset connection, 502, 503 or
    // 504 without Retry-After, 429 without it) are asked again this often.
    int Retries = 2;
    // The wait before each retry; the last one serves any further retry.
    std::vector<std::chrono::milliseconds> RetryWaits{std::chrono::seconds(1),
                                                      std::chrono::seconds(4)};
    // The longest Retry-After honoured; a longer one answers "rate limited".
    std::chrono::milliseconds MaxWait = std::chrono::seconds(60);
    int MaxRedirects = 10;
    std::string UserAgent = DefaultUserAgent();
    // Hosts reached without a proxy, as in no_proxy ("127.0.0.1,localhost"),
    // added to those the environment names. The proxies themselves come from
    // the environment (http_proxy, https_proxy).
    std::string NoProxy;

    // "Marrowby/VERSION (+HOMEPAGE)".
    static std::string DefaultUserAgent();
};
