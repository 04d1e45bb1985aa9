// Stopping a crawl.
#include "TCrawl.h"

#include "http/TRequestScheduler.h"
#include "parser/THtmlParser.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
// Where a stopped crawl's words go.
TCrawlListener Nobody;
} // namespace

// Stops every worker before anything they could name is freed. A handler
// that was pumping the queue when the stop came in finds FClosing set when
// it resumes and returns without touching the crawl state.
void TCrawl::Stop() {
    if (FStopped)
        return;
    FClosing = true;
    FSysTime->stop();
    FDelayTimer->stop();
    FHandle->Detach(); // from now on posts from late workers are dropped
    if (FScheduler)
        FScheduler->Stop(); // every transfer and wait ends; nothing more is delivered
    FConfirm.Halt();
    if (FRecheck)
        FRecheck->Halt();
    FSoftRequest = 0;
    if (FParser) {
        FParser->Terminate();
        FParser.reset(); // waits for the thread's end
    }
    FPageRequest = 0;
    FNextRequest = 0;
    FNextAnswer.reset();
    FRobotsRequest = 0;
    FParsedAnchors.clear();
    FParsedObjects.clear();
    FGoingList.clear(); // they name the records' addresses
    FGoneList.clear();
    FKeptAnswers.clear();
    FKeptBytes = 0;
    FRecords.FreeRecords();
    FListener = &Nobody;
    FStopped = true;
}

void TCrawl::Halt() {
    if (FStopped || FHalted)
        return;
    FHalted = true;
    FClosing = true; // the handlers on the stack return as from a stop
    FSysTime->stop();
    FDelayTimer->stop();
    if (FParser) {
        FParser->Terminate();
        FParser.reset();
    }
    for (const auto& [address, id] : FPageProbes)
        CancelRequest(id);
    if (FPageRequest != 0) {
        // Its answer comes back as aborted and is dropped.
        CancelRequest(FPageRequest);
        FPageRequest = 0;
        FPageAnswer = {};
        // Not fetched yet: the next Enter fetches it first.
        FGoingList.push_front(FGoneList.back());
        FGoneList.pop_back();
    }
    CancelNextRequest(); // asked again when its turn comes
    if (FRobotsRequest != 0)
        CancelRequest(FRobotsRequest); // asked again at the next Enter
    FRobotsRequest = 0;
    // Links to other sites still being checked are asked again at the next Enter.
    for (const auto& [request, id] : FExternalRequests) {
        CancelRequest(request);
        FExternalsToResume.push_back(id);
    }
    FExternalRequests.clear();
    FAwaitingExternals = false;
    HaltEndChecks();
    FParsedAnchors.clear();
    FParsedObjects.clear();
    // What the stopped workers posted, and the next page's start, must not
    // reach the crawl when it goes on.
    QCoreApplication::removePostedEvents(this);
    FReplayPending = 0; // a journal's answers were among them
    FPageInFlight = false;
    // What came since the last page (checks of links elsewhere, in the
    // pause) is kept with the pages done: a halted crawl read back shows
    // it. A file that cannot be written says so when its tables are.
    CommitJournal();
}
