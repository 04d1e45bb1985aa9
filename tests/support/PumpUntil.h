#pragma once
// Handles the thread's event queue until done() holds; false when timeoutMs
// have passed first. Every wait in the tests is bounded this way.

#include "platform/TMessagePump.h"

#include <QElapsedTimer>
#include <QThread>

#include <functional>

inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        TMessagePump::ProcessMessages();
        QThread::msleep(1);
    }
    return true;
}
