#pragma once
// The confirmation pass at the end of a crawl. The addresses whose answer
// said nothing about them, for a reason that may pass (a timeout, a server
// error, a rate limit, a connection reset or cut short), are asked once
// more, slowly: one at a time to each host, the starts on one host at least
// Gap apart, without retries. It has a scheduler of its own, so that its pace
// is kept apart from the crawl's; it is made at each start.

#include "http/TAnswer.h"
#include "http/TRequest.h"
#include "http/TSchedulerOptions.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TRequestScheduler;

class TConfirmPass {
public:
    // Which row of the crawl the address has.
    enum class TKind : std::uint8_t { Page, Object, External };
    struct TItem {
        std::string Address;
        TKind Kind = TKind::Page;
    };
    // An item's answer, on the owner's thread, from its event loop.
    using TAnswered = std::function<void(const TItem& item, TAnswer answer)>;
    // The request that asks for an item, with an id of the crawl's.
    using TMake = std::function<TRequest(const TItem& item)>;

    static constexpr std::chrono::milliseconds Gap{2000};

    explicit TConfirmPass(TAnswered answered);
    ~TConfirmPass();
    TConfirmPass(const TConfirmPass&) = delete;
    TConfirmPass& operator=(const TConfirmPass&) = delete;

    // An address to ask again at the end; each address and kind once.
    void Note(const std::string& address, TKind kind);
    // Noted and not answered yet.
    std::size_t Waiting() const noexcept { return FItems.size() - FAnsweredCount; }
    bool Running() const noexcept { return FRunning; }
    // Asks every item waiting, with the crawl's scheduler options slowed
    // down as above (not slowly: as they are, retries included, for a
    // re-check a person asked for). Nothing happens when nothing waits or it
    // runs already.
    void Start(const TSchedulerOptions& crawl, const TMake& make, bool slowly = true);
    // Ends the pass where it is: what was not answered waits for the next
    // Start. Returns within a fraction of a second.
    void Halt();

private:
    void Deliver(TAnswer answer);

    TAnswered FOnAnswer;
    std::vector<TItem> FItems;
    std::unordered_set<std::string> FNoted; // the kind, then the address
    std::vector<bool> FDone;
    std::size_t FAnsweredCount = 0;
    std::unordered_map<std::uint64_t, std::size_t> FAsked; // request id to item
    // Stopped ones are kept until the next start or the end: a scheduler may
    // be stopped from inside its own delivery, but not destroyed there.
    std::unique_ptr<TRequestScheduler> FScheduler;
    bool FRunning = false;
};
