// The checks at the end of a crawl, once the last link elsewhere is answered:
// the soft-404 check of the start site, then the confirmation pass. Each
// ends by finishing the crawl again from the event loop; a halt cuts them
// short, and the next Enter takes them up where they were.
#include "TCrawl.h"

#include "TAddressLogin.h"
#include "TAnswerRecord.h"
#include "http/TRequestScheduler.h"

#include <QRandomGenerator>
#include <QTimer>

namespace {

QString Confirming(std::size_t addresses) {
    return QString("Confirming %1 %2").arg(addresses).arg(addresses == 1 ? "address" : "addresses");
}

} // namespace

bool TCrawl::AwaitEndChecks() {
    if (FSoftRequest != 0 || FConfirm.Running())
        return true;
    if (!FSoftAsked && FSoftNotFound.HasPages()) {
        FSoftAsked = true;
        const QString name = QString::number(QRandomGenerator::global()->generate64(), 36);
        std::string address = TSoftNotFound::ProbeAddress(FSoftBeside, name.toStdString());
        // Where robots.txt forbids it, no page of the site is judged.
        if (!FOptions.Robots || FRobots.Allows(TRobotsRules::PathOf(address))) {
            TRequest probe = Request(TRequest::Page(0, std::move(address)));
            probe.KeepHtmlOnly = true;
            FSoftRequest = probe.Id;
            Submit(std::move(probe));
            SetStatus("Asking for a page that cannot exist");
            return true;
        }
    }
    if (FOptions.Confirm && FConfirm.Waiting() > 0) {
        FConfirm.Start(Scheduler().Options(),
                       [this](const TConfirmPass::TItem& item) { return ConfirmRequest(item); });
        SetStatus(Confirming(FConfirm.Waiting()));
        FListener->Confirming(FConfirm.Waiting());
        return true;
    }
    return false;
}

void TCrawl::ScheduleFinish() {
    QTimer::singleShot(0, this, [this] {
        if (FClosing)
            return;
        const TNesting nesting(*this);
        FinishCrawl();
    });
}

void TCrawl::HaltEndChecks() {
    if (FSoftRequest != 0) {
        CancelRequest(FSoftRequest);
        FSoftRequest = 0;
        FSoftAsked = false; // asked again at the next Enter
    }
    FConfirm.Halt();
    if (FRecheck)
        FRecheck->Halt();
}

void TCrawl::NoteAnswer(const TAnswer& answer) {
    const bool mayPass = TAnswerRecord::MayPass(answer);
    if (!mayPass && TAnswerRecord::PermanentRedirect(answer) == 0)
        return;
    const std::string* address = nullptr;
    TConfirmPass::TKind kind = TConfirmPass::TKind::Page;
    if (answer.Id == FPageRequest && FPageRequest != 0) {
        address = &FPageAddress;
    } else if (const auto external = FExternalRequests.find(answer.Id);
               external != FExternalRequests.end()) {
        address = &FRecords.External(external->second).Url;
        kind = TConfirmPass::TKind::External;
    } else if (FProbeAnswers.contains(answer.Id)) {
        for (const auto& [url, id] : FPageProbes)
            if (id == answer.Id)
                address = &url;
        kind = TConfirmPass::TKind::Object;
    }
    if (address == nullptr)
        return;
    NoteRedirect(*address, answer);
    if (mayPass)
        FConfirm.Note(*address, kind);
}

void TCrawl::NoteRedirect(const std::string& address, const TAnswer& answer) {
    const int status = TAnswerRecord::PermanentRedirect(answer);
    if (status == 0)
        return;
    std::string final = answer.FinalAddress;
    TAddressLogin::Strip(final); // a redirect's login is never shown
    FRecords.AddRedirect(address, status, std::move(final));
}

void TCrawl::NoteSoftNotFoundPage(const std::string& address, const std::string& body) {
    if (FSoftAsked)
        return; // judged already
    const bool start = address == FTypedAddress;
    if (!FSoftNotFound.HasPages() || start)
        FSoftBeside = address;
    FSoftNotFound.NotePage(FRecords.PageRows().size(), body, start);
}

void TCrawl::ApplySoftNotFound(const TAnswer& answer) {
    FSoftNotFound.Answered(answer);
    for (const std::size_t at : FSoftNotFound.Missing()) {
        TGoneRow row = FRecords.PageRows()[at];
        row.Verdict = TVerdict::Broken;
        row.Reason = TSoftNotFound::Reason;
        FRecords.SetPageRow(at, row);
        TAddressEntry& entry = FRecords.Entry(row.Url);
        entry.Verdict = row.Verdict;
        entry.Reason = FRecords.Keep(row.Reason);
        FListener->PageRowChanged(at, row);
    }
    FSoftNotFound = {}; // the pages noted are not needed any more
    ScheduleFinish();
}

TRequest TCrawl::ConfirmRequest(const TConfirmPass::TItem& item) {
    if (item.Kind == TConfirmPass::TKind::External)
        return Request(TRequest::Probe(0, item.Address)); // as it was checked
    // A GET whose body is counted, as the merge probes an object; a page is
    // not parsed again, its row only is judged.
    TRequest request = item.Kind == TConfirmPass::TKind::Page ? TRequest::Page(0, item.Address)
                                                              : TRequest::Probe(0, item.Address);
    request.Method = TRequest::TMethod::Get;
    request.Body = TRequest::TBody::Count;
    return Request(std::move(request));
}

// A row changes only when the verdict does: an address that is still
// unverifiable keeps the reason of its first answer, which tells more (the
// retries it took).
void TCrawl::Confirmed(const TConfirmPass::TItem& item, TAnswer answer) {
    if (FStopped)
        return;
    if (TAnswerRecord::Verdict(answer) != TVerdict::Unverifiable)
        Rejudge(item, answer, true);
    else
        NoteRedirect(item.Address, answer);
    if (FConfirm.Running()) {
        SetStatus(Confirming(FConfirm.Waiting()));
        FListener->Confirming(FConfirm.Waiting());
    } else {
        ScheduleFinish();
    }
}
