// Closing the window.
#include "TFrmMain.h"

#include "download/THttpContentDown.h"
#include "parser/THtmlParser.h"

#include <QCloseEvent>
#include <QTimer>

void TFrmMain::Close1Click() { close(); }

void TFrmMain::closeEvent(QCloseEvent* event) {
    FormClose();
    QMainWindow::closeEvent(event);
}

// Stops every worker before anything they could name is freed. A handler
// that was pumping the queue when the close came in finds FClosing set when
// it resumes and returns without touching the crawl state.
void TFrmMain::FormClose() {
    if (FClosed)
        return;
    FClosing = true;
    FProbeAbort = true;
    SysTime->stop();
    DelayTimer->stop();
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
    FClosed = true;
}
