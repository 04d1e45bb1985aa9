#include "TMessagePump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include <chrono>

void TMessagePump::ProcessMessages() {
    // processEvents() alone does not deliver posted events while another
    // posted event is being handled under the GLib dispatcher.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TMessagePump::KeepResponsive() {
    QCoreApplication::sendPostedEvents();
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point last;
    const Clock::time_point now = Clock::now();
    if (now - last < std::chrono::milliseconds(1))
        return;
    last = now;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TMessagePump::WaitMessages(int timeoutMs) {
    // The timer's event ends the wait at the latest.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(timeoutMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TMessagePump::EndWait() {
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
}
