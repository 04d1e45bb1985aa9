// The journal of a crawl's answers (TCrawlJournal): every answer is kept as
// it comes, a page at a time, and a crawl read back takes them instead of
// asking again.
#include "TCrawl.h"

#include "TCrawlJournal.h"
#include "TRowReader.h"
#include "http/TRequestScheduler.h"

#include <QTimer>

void TCrawl::SetJournal(TCrawlJournal* journal) {
    FRecords.Reclaim(); // from the journal going, if any
    FJournal = journal;
    FReplayPages = journal ? journal->PagesCommitted() : 0;
}

void TCrawl::Reopen(const QString& typed) {
    FReopening = FJournal != nullptr;
    Enter(typed);
}

bool TCrawl::Replaying() const {
    return FJournal != nullptr && FGoneList.size() < FReplayPages;
}

void TCrawl::Submit(TRequest request) {
    if (FJournal) {
        const std::string key = TCrawlJournal::Key(request);
        if (std::optional<TAnswer> kept = FJournal->Replay(key)) {
            // Comes back from the event loop, as the scheduler's would.
            kept->Id = request.Id;
            ++FReplayPending;
            QTimer::singleShot(0, this, [this, answer = std::move(*kept)]() mutable {
                --FReplayPending;
                Deliver(std::move(answer));
            });
            return;
        }
        if (FReopening) {
            // Read back only: nothing goes out. A check of a link elsewhere
            // may not have come before the kept crawl stopped; anything
            // else means the journal ends here.
            if (!request.Background)
                QTimer::singleShot(0, this, [this] { EndReopen(); });
            return;
        }
        FJournalKeys.emplace(request.Id, key);
    }
    Scheduler().Submit(std::move(request));
}

void TCrawl::CancelRequest(std::uint64_t id) {
    if (FScheduler)
        FScheduler->Cancel(id);
}

void TCrawl::Received(TAnswer answer) {
    if (const auto key = FJournalKeys.find(answer.Id); key != FJournalKeys.end()) {
        // A cancelled request's answer says nothing of the address.
        if (FJournal && answer.Failure != TFailure::Aborted)
            FJournal->Record(key->second, answer);
        FJournalKeys.erase(key);
    }
    Deliver(std::move(answer));
}

std::string TCrawl::CommitJournal() {
    if (!FJournal || FReopening)
        return {};
    const TCrawlProgress progress{FGoneList.size(), FGoingList.size(), FRecords.ObjectCount(),
                                  FRecords.ExternalCount()};
    std::string error = FJournal->Commit(progress, FRecords);
    if (error.empty()) // the rows committed leave memory
        FRecords.Release(FJournal->KeptRows(), FJournal->MergedKept());
    return error;
}

bool TCrawl::CommitPage() {
    const std::string error = CommitJournal();
    if (error.empty())
        return true;
    Halt();
    FListener->Error(QString::fromStdString(error));
    return false;
}

void TCrawl::EndReopen() {
    if (!FReopening || FStopped)
        return;
    Halt(); // still reading back: nothing new to keep
    FReopening = false;
    FListener->Reopened();
}
