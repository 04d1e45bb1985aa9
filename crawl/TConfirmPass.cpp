#include "TConfirmPass.h"

#include "http/TRequestScheduler.h"

#include <algorithm>

TConfirmPass::TConfirmPass(TAnswered answered) : FOnAnswer(std::move(answered)) {}

TConfirmPass::~TConfirmPass() {
    Halt();
}

void TConfirmPass::Note(const std::string& address, TKind kind) {
    if (!FNoted.insert(static_cast<char>('0' + static_cast<int>(kind)) + address).second)
        return;
    FItems.push_back({address, kind});
    FDone.push_back(false);
}

void TConfirmPass::Start(const TSchedulerOptions& crawl, const TMake& make, bool slowly) {
    if (FRunning || Waiting() == 0)
        return;
    TSchedulerOptions options = crawl;
    if (slowly) {
        options.PerHost = 1;
        options.HostGap = std::max(options.HostGap, std::chrono::milliseconds(Gap));
        options.Retries = 0;
    }
    FScheduler.reset(); // stopped, and not on the stack: Start never runs in its delivery
    FScheduler = std::make_unique<TRequestScheduler>(
        [this](TAnswer answer) { Deliver(std::move(answer)); }, options);
    FRunning = true;
    FAsked.clear();
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        if (FDone[i])
            continue;
        TRequest request = make(FItems[i]);
        FAsked.emplace(request.Id, i);
        FScheduler->Submit(std::move(request));
    }
}

void TConfirmPass::Halt() {
    if (FScheduler)
        FScheduler->Stop(); // nothing more is delivered
    FAsked.clear();
    FRunning = false;
}

void TConfirmPass::Deliver(TAnswer answer) {
    const auto asked = FAsked.find(answer.Id);
    if (asked == FAsked.end() || answer.Failure == TFailure::Aborted)
        return;
    const std::size_t at = asked->second;
    FAsked.erase(asked);
    FDone[at] = true;
    ++FAnsweredCount;
    if (FAsked.empty())
        FRunning = false;
    FOnAnswer(FItems[at], std::move(answer));
}
