// Stopping a crawl.
#include "TCrawl.h"

#include "download/THttpContentDown.h"
#include "parser/THtmlParser.h"

#include <QTimer>

// Stops every worker before anything they could name is freed. A handler
// that was pumping the queue when the stop came in finds FClosing set when
// it resumes and returns without touching the crawl state.
void TCrawl::Stop() {
    if (FStopped)
        return;
    FClosing = true;
    FProbeAbort = true;
    FSysTime->stop();
    FDelayTimer->stop();
    FHandle->Detach(); // from now on posts from late workers are dropped
    if (FParser) {
        FParser->Terminate();
        FParser.reset(); // waits for the thread's end
    }
    if (FDownloader) {
        FDownloader->Abort();
        FDownloader.reset();
    }
    FParsedAnchors.clear();
    FParsedObjects.clear();
    FPageMap.clear();
    FObjectMap.clear();
    FStopped = true;
}
