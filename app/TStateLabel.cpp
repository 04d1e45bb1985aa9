#include "TStateLabel.h"

TStateLabel::TStateLabel(QWidget* parent) : QLabel(parent) {
    setObjectName("StateLabel");
    setToolTip("What the crawl is doing");
    Ready();
}

void TStateLabel::Show(TCrawlState state, const QString& text) {
    FState = state;
    setText(text);
    if (FOnChange)
        FOnChange(state);
}

void TStateLabel::Ready() {
    FPage = FQueued = 0;
    Show(TCrawlState::Ready, "Ready");
}

void TStateLabel::Crawling(std::size_t page, std::size_t queued) {
    FPage = page;
    FQueued = queued;
    Show(TCrawlState::Crawling, QString("Crawling — page %1, %2 queued").arg(page).arg(queued));
}

void TStateLabel::Queued(std::size_t queued) {
    if (FState == TCrawlState::Crawling)
        Crawling(FPage, queued);
    else
        FQueued = queued;
}

void TStateLabel::Pausing(std::uint32_t secondsLeft) {
    Show(TCrawlState::Pausing, QString("Pausing — %1 s").arg(secondsLeft));
}

void TStateLabel::Confirming(std::size_t addresses) {
    Show(TCrawlState::Confirming,
         QString("Confirming %1 %2").arg(addresses).arg(addresses == 1 ? "address" : "addresses"));
}

void TStateLabel::Rechecking(std::size_t addresses) {
    Show(TCrawlState::Rechecking,
         QString("Re-checking %1 %2").arg(addresses).arg(addresses == 1 ? "address" : "addresses"));
}

void TStateLabel::Stopped() {
    Show(TCrawlState::Stopped, "Stopped — Enter goes on");
}

void TStateLabel::Finished(std::size_t pages, std::size_t objects, std::size_t broken,
                           std::uint32_t seconds) {
    Show(TCrawlState::Finished, QString("Finished — %1 pages, %2 objects, %3 broken in %4")
                                    .arg(pages)
                                    .arg(objects)
                                    .arg(broken)
                                    .arg(Duration(seconds)));
}

QString TStateLabel::Duration(std::uint32_t seconds) {
    if (seconds < 60)
        return QString("%1 s").arg(seconds);
    if (seconds < 3600)
        return QString("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QString("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}
