#pragma once
// How a crawl treats the servers it asks and how far it goes: one value,
// filled by the command line or the window, read by the crawl at its first
// Enter. The pause between pages is the delay box's (TCrawl::ApplyDelay).

#include "http/TSchedulerOptions.h"

#include <chrono>
#include <string>
#include <vector>

struct TCrawlOptions {
    // Transfers at once in all, and to one host (its name and port).
    int Connections = 64;
    int PerHost = 2;
    // The least time between two requests to one host.
    int HostGapMs = 0;
    // Transient failures are asked again this often, after these waits.
    int Retries = 2;
    std::vector<std::chrono::milliseconds> RetryWaits{std::chrono::seconds(1),
                                                      std::chrono::seconds(4)};
    // The longest Retry-After honoured, in seconds.
    int MaxWaitSeconds = 60;
    // Links to other sites are checked.
    bool External = true;
    // The start host's robots.txt decides which pages are fetched.
    bool Robots = true;
    // At the end, the addresses whose answer may pass (a timeout, a server
    // error, a rate limit, a connection cut short) are asked once more,
    // slowly, and their rows judged again.
    bool Confirm = true;
    // Empty: "Marrowby/VERSION (+HOMEPAGE)".
    std::string UserAgent;
    // Pages further than this many links from the start are not fetched;
    // -1: no limit.
    int MaxDepth = -1;
    // At most this many pages are fetched; -1: no limit.
    int MaxPages = -1;
    // Regular expressions on the whole address; empty: none. A page link
    // that does not match Include, or matches Exclude, is not requested.
    std::string Include;
    std::string Exclude;

    // The scheduler's part, with 127.0.0.1 reached directly (a folder the
    // program serves).
    TSchedulerOptions Scheduler() const;
    // Why a regular expression cannot be used; empty when both can.
    std::string ScopeError() const;
};
