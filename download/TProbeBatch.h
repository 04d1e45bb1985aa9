#pragma once
// Probes the new objects of one page, several at a time, on threads of its
// own, while the caller takes the results one by one in the page's order.
// With one probe at a time the requests go out in the page's order, as one
// probe after the other would send them.

#include "common/TContentStruct.h"
#include "platform/THttp.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TProbeBatch {
public:
    // Starts probing addresses, at most concurrency at a time. Setting
    // *abort makes every probe end within a second.
    TProbeBatch(std::vector<std::string> addresses, unsigned concurrency,
                const std::atomic<bool>* abort, THttpLogin login = {});
    // Stops taking new addresses and waits for the probes under way.
    ~TProbeBatch();
    TProbeBatch(const TProbeBatch&) = delete;
    TProbeBatch& operator=(const TProbeBatch&) = delete;

    // The result for the address at index, waiting for it while the calling
    // thread keeps handling its Qt event queue, so that any handler may run
    // in the meantime. reason receives why the object is broken, if it is.
    _TContent_Struct Result(std::size_t index, std::string& reason);

private:
    struct TOutcome {
        _TContent_Struct Header;
        std::string Reason;
    };
    void Work();

    std::vector<std::string> FAddresses;
    const std::atomic<bool>* FAbort;
    THttpLogin FLogin;
    std::mutex FLock;
    std::condition_variable FDone;
    std::size_t FNext = 0;
    bool FStopping = false;
    std::vector<std::optional<TOutcome>> FOutcomes;
    std::vector<std::thread> FWorkers;
};
