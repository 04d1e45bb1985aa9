// The crawl's requests: every one goes through one scheduler, and every
// answer comes back here. A page's answer goes on as a crawl message; the
// object probes of a merge are taken in the page's order.
#include "TCrawl.h"

#include "TAnswerRecord.h"
#include "http/TRequestScheduler.h"
#include "platform/TMessagePump.h"

TRequestScheduler& TCrawl::Scheduler() {
    if (!FScheduler) {
        FScheduler = std::make_unique<TRequestScheduler>(
            [this](TAnswer answer) { Deliver(std::move(answer)); }, FOptions.Scheduler());
    }
    return *FScheduler;
}

TRequest TCrawl::Request(TRequest request) {
    request.Id = ++FLastRequestId;
    request.Login = {FLogin.Address, FLogin.User, FLogin.Password};
    return request;
}

void TCrawl::Deliver(TAnswer answer) {
    if (FStopped)
        return;
    if (answer.Id == FPageRequest && FPageRequest != 0) {
        const bool failed = TAnswerRecord::Page(answer).Failed;
        FPageAnswer = std::move(answer);
        PostMessage(FHandle, failed ? WM_DOWNLOAD_FAILED : WM_DOWNLOAD_END, 0, 0);
        RequestNextPage();
        return;
    }
    if (answer.Id == FNextRequest && FNextRequest != 0) {
        FNextAnswer = std::move(answer); // taken when its page starts
        return;
    }
    if (answer.Id == FRobotsRequest && FRobotsRequest != 0) {
        FRobotsRequest = 0;
        FRobotsRead = true;
        FRobots = TRobotsRules::FromAnswer(
            answer, TRobotsRules::ProductToken(Scheduler().Options().UserAgent));
        if (!FClosing)
            ScheduleNavigationStart();
        return;
    }
    if (const auto external = FExternalRequests.find(answer.Id); external != FExternalRequests.end()) {
        FExternalArrived.emplace(external->second, std::move(answer));
        FExternalRequests.erase(external);
        ApplyExternals();
        return;
    }
    // An answer nobody waits for any more (a halted page's) is dropped.
    if (const auto waiting = FProbeAnswers.find(answer.Id); waiting != FProbeAnswers.end()) {
        waiting->second = std::move(answer);
        if (waiting->first == FAwaitedProbe)
            TMessagePump::EndWait();
    }
}

_TContent_Struct TCrawl::GetObjData(const std::string& address, std::string& reason) {
    const auto probe = FPageProbes.find(address);
    if (probe == FPageProbes.end()) {
        reason = "aborted";
        return TAnswerRecord::NotFound();
    }
    const std::optional<TAnswer>& answer = FProbeAnswers[probe->second];
    // The answer (Deliver ends the wait) and a stop both come as events; the
    // wait sleeps until they come, a tenth of a second at most each time.
    FAwaitedProbe = probe->second;
    for (TMessagePump::KeepResponsive(); !FClosing && !answer;)
        TMessagePump::WaitMessages(100);
    FAwaitedProbe = 0;
    if (FClosing) {
        reason = "aborted";
        return TAnswerRecord::NotFound();
    }
    return TAnswerRecord::Object(*answer, reason);
}

// Enters the page's objects, probing each one met for the first time. False
// when the crawl began to stop while the queue was pumped.
bool TCrawl::MergeObjects() {
    // The objects met for the first time are all asked for now; their
    // answers are taken in the page's order.
    FPageProbes.clear();
    FProbeAnswers.clear();
    for (const _TObjectType* found : FParsedObjects) {
        if (FRecords.Object(found->Url) != nullptr || FPageProbes.contains(found->Url))
            continue;
        // A GET whose body is counted when no length is declared: the size
        // of an object is what it holds.
        TRequest probe = Request(TRequest::Probe(0, found->Url));
        probe.Method = TRequest::TMethod::Get;
        probe.Body = TRequest::TBody::Count;
        FPageProbes.emplace(found->Url, probe.Id);
        FProbeAnswers.emplace(probe.Id, std::nullopt);
        Scheduler().Submit(std::move(probe));
    }
    const bool merged = MergeObjectsInOrder();
    if (!merged && FScheduler)
        for (const auto& [address, id] : FPageProbes)
            FScheduler->Cancel(id);
    FPageProbes.clear();
    FProbeAnswers.clear();
    return merged;
}

void TCrawl::CheckExternal(const std::string& address, std::int32_t count) {
    if (const TAddressEntry* entry = FRecords.Find(address); entry && entry->ExternalId != 0) {
        TExternalRow& row = FRecords.External(entry->ExternalId);
        ++row.Count;
        if (static_cast<std::size_t>(row.Id) <= FRecords.ExternalsApplied())
            FListener->ExternalRow(row);
        return;
    }
    SubmitExternal(FRecords.AddExternal(address, count).Id);
}

void TCrawl::SubmitExternal(std::int32_t id) {
    // The probe a person's click would send: a HEAD, a GET when refused.
    TRequest check = Request(TRequest::Probe(0, FRecords.External(id).Url));
    check.Background = true; // the site's own pages go first
    FExternalRequests.emplace(check.Id, id);
    Scheduler().Submit(std::move(check));
}

void TCrawl::ApplyExternals() {
    for (;;) {
        const auto next = static_cast<std::int32_t>(FRecords.ExternalsApplied() + 1);
        const auto arrived = FExternalArrived.find(next);
        if (arrived == FExternalArrived.end())
            break;
        TExternalRow& row = FRecords.External(next);
        const _TContent_Struct header = TAnswerRecord::External(arrived->second, row.Reason);
        row.Status = header.StatusCode;
        row.Size = header.ContentLength;
        row.Type = header.ContentType;
        FExternalArrived.erase(arrived);
        FRecords.ApplyExternal();
        FListener->ExternalRow(row);
    }
    if (FAwaitingExternals && FRecords.ExternalsApplied() == FRecords.ExternalCount()) {
        const TNesting nesting(*this);
        FinishCrawl();
    }
}
