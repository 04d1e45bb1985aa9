#pragma once
// Finds out the status, size and Content-Type of one embedded object with its
// own GET. The size is taken from a declared Content-Length of at most three
// digits; otherwise the body is read, counted and dropped. A body sent
// compressed is counted decoded, as the page download counts a page.
//
// A 404, a status that is not a number, and every failure to reach the
// object (or an abort) give the NotFound() triple. So does a probe that runs
// past TotalTimeout, and a body without a declared length that goes on past
// kMaxPageBytes; these two keep the bytes counted as the size.

#include "common/TContentStruct.h"
#include "platform/THttp.h"

#include <atomic>
#include <chrono>
#include <string>

class TObjectProbe {
public:
    // The time limit of a probe, unless the default HTTP options set one.
    static constexpr std::chrono::milliseconds TotalTimeout = std::chrono::minutes(2);

    // "Not Found", 404, -1.
    static _TContent_Struct NotFound();

    // Probes address on the calling thread and blocks until done. abort, when
    // given, may be set from another thread to end the probe early. reason,
    // when given, receives why the object is broken (a status of 400 or more,
    // or no answer); it is emptied otherwise. login goes with the request
    // when it is for the login's server.
    static _TContent_Struct Probe(const std::string& address,
                                  const std::atomic<bool>* abort = nullptr,
                                  std::string* reason = nullptr, const THttpLogin& login = {});

    // The same probe run on a helper thread while the calling thread keeps
    // handling its Qt event queue, so a window stays responsive; returns the
    // result like Probe. For a thread with a Qt event loop (the GUI thread).
    //
    // Any handler may run inside this call, so the caller must expect its own
    // state (even its window) to have changed when it returns. A handler that
    // sets *abort makes the call return NotFound() within a second.
    static _TContent_Struct ProbeResponsive(const std::string& address,
                                            const std::atomic<bool>* abort = nullptr,
                                            std::string* reason = nullptr,
                                            const THttpLogin& login = {});

private:
    static _TContent_Struct ProbeWithReason(const std::string& address,
                                            const std::atomic<bool>* abort, std::string& reason,
                                            const THttpLogin& login);
};
