// A re-check: the addresses that failed are asked again when a person asks
// for it, after the crawl (the window), or from a report read back
// (--recheck), and their rows are judged again in place.
#include "TCrawl.h"

#include "TAnswerRecord.h"
#include "TSoftNotFound.h"

#include <unordered_set>

namespace {

QString Rechecking(std::size_t addresses) {
    return QString("Re-checking %1 %2")
        .arg(addresses)
        .arg(addresses == 1 ? "address" : "addresses");
}

bool Failing(TVerdict verdict) {
    return verdict == TVerdict::Broken || verdict == TVerdict::Unverifiable;
}

// A page row that asking again would not judge: one that was never asked
// for (robots.txt, the scope) or that only the whole site's answers judge.
bool KeptOut(const TGoneRow& row) {
    return row.Reason == "disallowed by robots.txt" || row.Reason == "excluded" ||
           row.Reason == TSoftNotFound::Reason;
}

} // namespace

void TCrawl::Load(TRecordStore records) {
    if (FStopped || FRunning)
        return;
    FRecords = std::move(records);
}

std::size_t TCrawl::Recheck(const std::vector<std::string>& addresses) {
    if (FStopped || FPageInFlight || FPageRequest != 0 || FRobotsRequest != 0 ||
        FSoftRequest != 0 || FConfirm.Running() || FAwaitingExternals || Rechecking() ||
        !FExternalRequests.empty())
        return 0;
    const std::unordered_set<std::string_view> chosen(addresses.begin(), addresses.end());
    const auto wanted = [&chosen](const std::string& address, TVerdict verdict) {
        return chosen.empty() ? Failing(verdict) : chosen.contains(address);
    };
    FRecheck =
        std::make_unique<TConfirmPass>([this](const TConfirmPass::TItem& item, TAnswer answer) {
            Rechecked(item, std::move(answer));
        });
    for (const TGoneRow& row : FRecords.PageRows())
        if (wanted(row.Url, row.Verdict) && !KeptOut(row))
            FRecheck->Note(row.Url, TConfirmPass::TKind::Page);
    for (const _TObjectType* object : FRecords.ObjectsById())
        if (const TAddressEntry* entry = FRecords.Find(object->Url);
            entry && wanted(object->Url, entry->Verdict))
            FRecheck->Note(object->Url, TConfirmPass::TKind::Object);
    for (const TExternalRow& row : FRecords.ExternalRows())
        if (wanted(row.Url, row.Verdict))
            FRecheck->Note(row.Url, TConfirmPass::TKind::External);
    const std::size_t count = FRecheck->Waiting();
    if (count == 0)
        return 0;
    if (FHalted && !Busy()) {
        FHalted = false; // the halted page's handlers are gone
        FClosing = false;
    }
    FRecheck->Start(
        FOptions.Scheduler(),
        [this](const TConfirmPass::TItem& item) { return ConfirmRequest(item); }, false);
    SetStatus(::Rechecking(count));
    FListener->Rechecking(count);
    return count;
}

void TCrawl::Rechecked(const TConfirmPass::TItem& item, TAnswer answer) {
    if (FStopped)
        return;
    Rejudge(item, answer, false);
    if (FRecheck->Running()) {
        SetStatus(::Rechecking(FRecheck->Waiting()));
        FListener->Rechecking(FRecheck->Waiting());
    } else {
        FListener->Finished("탐색이 끝났습니다");
    }
}

void TCrawl::Rejudge(const TConfirmPass::TItem& item, const TAnswer& answer,
                     bool onlyUnverifiable) {
    NoteRedirect(item.Address, answer);
    const TVerdict verdict = TAnswerRecord::Verdict(answer);
    TAddressEntry* entry = FRecords.Find(item.Address);
    if (entry == nullptr)
        return;
    switch (item.Kind) {
    case TConfirmPass::TKind::Page: {
        const TAnswerRecord::TPage page = TAnswerRecord::Page(answer);
        entry->Verdict = verdict;
        entry->Reason = FRecords.Keep(page.Reason);
        if (!page.Failed && entry->Page) {
            entry->Page->Status = page.Header.StatusCode;
            entry->Page->Size = page.Header.ContentLength;
            entry->Page->ContentType = page.Header.ContentType;
        }
        for (std::size_t at = 0; at < FRecords.PageRows().size(); ++at) {
            TGoneRow row = FRecords.PageRows()[at];
            if (row.Url != item.Address ||
                (onlyUnverifiable && row.Verdict != TVerdict::Unverifiable))
                continue;
            if (!page.Failed) {
                row.Status = page.Header.StatusCode;
                row.Size = page.Header.ContentLength;
                row.Type = page.Header.ContentType;
            } else if (!onlyUnverifiable) {
                // As a failed page's row is first written.
                row.Status = 404;
                row.Size = -1;
                row.Type = "NotFound";
            }
            row.Verdict = verdict;
            row.Reason = page.Reason;
            FRecords.SetPageRow(at, row);
            FListener->PageRowChanged(at, row);
        }
        break;
    }
    case TConfirmPass::TKind::Object:
        if (entry->Object) {
            std::string reason;
            const _TContent_Struct header = TAnswerRecord::Object(answer, reason);
            entry->Object->Status = header.StatusCode;
            entry->Object->Size = header.ContentLength;
            entry->Object->ContentType = header.ContentType;
            entry->Verdict = verdict;
            entry->Reason = FRecords.Keep(reason);
            FListener->ObjectChanged(TObjectRow::Of(*entry->Object, entry->Verdict, entry->Reason));
        }
        break;
    case TConfirmPass::TKind::External:
        if (entry->ExternalId != 0) {
            TExternalRow& row = FRecords.External(entry->ExternalId);
            const _TContent_Struct header = TAnswerRecord::External(answer, row.Reason);
            row.Status = header.StatusCode;
            row.Size = header.ContentLength;
            row.Type = header.ContentType;
            row.Verdict = verdict;
            FListener->ExternalRow(row);
        }
        break;
    }
}
