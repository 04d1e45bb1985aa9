// The crawl's requests: every one goes through one scheduler, and every
// answer comes back here. A page's answer goes on as a crawl message; the
// object probes of a merge are taken in the page's order.
#include "TCrawl.h"

#include "TAnswerRecord.h"
#include "TSiteKey.h"
#include "http/TRequestScheduler.h"
#include "platform/TMessagePump.h"

namespace {

// The bodies kept for pages to come hold at most this many bytes together;
// past it, a page is asked for again.
constexpr std::size_t kKeptBytes = 32u * 1024 * 1024;

// An object's probe: a GET whose body is counted when no length is
// declared, for the size of an object is what it holds.
TRequest ObjectProbe(const std::string& address) {
    TRequest probe = TRequest::Probe(0, address);
    probe.Method = TRequest::TMethod::Get;
    probe.Body = TRequest::TBody::Count;
    return probe;
}

} // namespace

TRequestScheduler& TCrawl::Scheduler() {
    if (!FScheduler) {
        FScheduler = std::make_unique<TRequestScheduler>(
            [this](TAnswer answer) { Received(std::move(answer)); }, FOptions.Scheduler());
    }
    return *FScheduler;
}

TRequest TCrawl::Request(TRequest request) {
    request.Id = ++FLastRequestId;
    request.Login = FLogin;
    return request;
}

void TCrawl::Deliver(TAnswer answer) {
    if (FStopped)
        return;
    NoteAnswer(answer);
    if (answer.Id == FSoftRequest && FSoftRequest != 0) {
        FSoftRequest = 0;
        ApplySoftNotFound(answer);
        return;
    }
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
    if (const auto external = FExternalRequests.find(answer.Id);
        external != FExternalRequests.end()) {
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

_TContent_Struct TCrawl::GetObjData(const std::string& address, TVerdict& verdict,
                                    std::string& reason) {
    verdict = TVerdict::Unverifiable;
    const auto probe = FPageProbes.find(address);
    if (probe == FPageProbes.end()) {
        if (const _TObjectType* page = FetchedPage(address)) {
            const TAddressEntry& entry = *FRecords.Find(address);
            verdict = entry.Verdict;
            reason = entry.Reason;
            return {page->ContentType, page->Status, page->Size};
        }
        reason = "aborted";
        return TAnswerRecord::NotFound();
    }
    for (;;) {
        const std::uint64_t id = probe->second;
        std::optional<TAnswer>& answer = FProbeAnswers[id];
        // The answer (Deliver ends the wait) and a stop both come as
        // events; the wait sleeps until they come, a tenth of a second at
        // most each time.
        FAwaitedProbe = id;
        for (TMessagePump::KeepResponsive(); !FClosing && !answer;)
            TMessagePump::WaitMessages(100);
        FAwaitedProbe = 0;
        if (FClosing) {
            reason = "aborted";
            return TAnswerRecord::NotFound();
        }
        verdict = TAnswerRecord::Verdict(*answer);
        if (!FKeptProbes.contains(id))
            return TAnswerRecord::Object(*answer, reason);
        if (answer->Failure == TFailure::None) {
            // The row a probe that only counts would give: it reads no
            // body of a declared length.
            const bool read = answer->BodyRead;
            answer->BodyRead = read && answer->DeclaredLength < 0;
            const _TContent_Struct header = TAnswerRecord::Object(*answer, reason);
            answer->BodyRead = read;
            return header;
        }
        // Reading the body went wrong where counting might not have: asked
        // again as any object is.
        TRequest again = Request(ObjectProbe(address));
        probe->second = again.Id;
        FProbeAnswers.emplace(again.Id, std::nullopt);
        Submit(std::move(again));
    }
}

const _TObjectType* TCrawl::FetchedPage(const std::string& address) const {
    // A page that works, with a status of 200 to 399: its row is the
    // object's row to the byte (any other page is probed, as its object row
    // says more).
    const TAddressEntry* entry = FRecords.Find(address);
    if (entry == nullptr || !entry->Page || !entry->Page->Visited ||
        (entry->Verdict != TVerdict::Fine && entry->Verdict != TVerdict::Redirected))
        return nullptr;
    const _TObjectType* page = entry->Page.get();
    return page->Status >= 200 && page->Status < 400 ? page : nullptr;
}

bool TCrawl::KeepsForPage(const std::string& address,
                          std::unordered_set<std::string_view>& pageLinks) {
    if (FKeptBytes >= kKeptBytes)
        return false;
    if (pageLinks.empty())
        for (const _TObjectType* anchor : FParsedAnchors)
            pageLinks.insert(anchor->Url);
    if (!pageLinks.contains(address) || TSiteKey::Of(address) != FStartSite || Excluded(address))
        return false;
    const _TObjectType* page = FRecords.Page(address);
    return page == nullptr || !page->Visited;
}

void TCrawl::KeepForPages() {
    for (const auto& [address, id] : FPageProbes) {
        std::optional<TAnswer>& answer = FProbeAnswers[id];
        if (!FKeptProbes.contains(id) || !answer || answer->Failure != TFailure::None ||
            FKeptBytes + answer->Body.size() > kKeptBytes)
            continue;
        FKeptBytes += answer->Body.size();
        FKeptAnswers.insert_or_assign(address, std::move(*answer));
    }
}

std::optional<TAnswer> TCrawl::TakeKeptAnswer(const std::string& address) {
    const auto kept = FKeptAnswers.find(address);
    if (kept == FKeptAnswers.end())
        return std::nullopt;
    std::optional<TAnswer> answer(std::move(kept->second));
    FKeptAnswers.erase(kept);
    FKeptBytes -= answer->Body.size();
    return answer;
}

// Enters the page's objects, probing each one met for the first time. False
// when the crawl began to stop while the queue was pumped.
bool TCrawl::MergeObjects() {
    // The objects met for the first time are all asked for now; their
    // answers are taken in the page's order.
    FPageProbes.clear();
    FProbeAnswers.clear();
    FKeptProbes.clear();
    std::unordered_set<std::string_view> pageLinks; // this page's, once needed
    for (const _TObjectType* found : FParsedObjects) {
        if (FRecords.Object(found->Url) != nullptr || FPageProbes.contains(found->Url) ||
            FetchedPage(found->Url) != nullptr)
            continue;
        TRequest probe = Request(ObjectProbe(found->Url));
        if (KeepsForPage(found->Url, pageLinks)) {
            // As the page's own request would ask: its answer serves both.
            probe.Body = TRequest::TBody::Keep;
            probe.KeepHtmlOnly = true;
            FKeptProbes.insert(probe.Id);
        }
        FPageProbes.emplace(found->Url, probe.Id);
        FProbeAnswers.emplace(probe.Id, std::nullopt);
        Submit(std::move(probe));
    }
    const bool merged = MergeObjectsInOrder();
    if (!merged)
        for (const auto& [address, id] : FPageProbes)
            CancelRequest(id);
    if (merged)
        KeepForPages();
    FPageProbes.clear();
    FProbeAnswers.clear();
    FKeptProbes.clear();
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
    Submit(std::move(check));
}

void TCrawl::ApplyExternals() {
    for (;;) {
        const auto next = static_cast<std::int32_t>(FRecords.ExternalsApplied() + 1);
        const auto arrived = FExternalArrived.find(next);
        if (arrived == FExternalArrived.end())
            break;
        TExternalRow& row = FRecords.External(next);
        const _TContent_Struct header = TAnswerRecord::External(arrived->second, row.Reason);
        row.Verdict = TAnswerRecord::Verdict(arrived->second);
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
