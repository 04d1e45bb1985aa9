#pragma once
// A stand-in window that records the crawl messages posted to it.

#include "platform/TMessageEvent.h"
#include "platform/TMessagePump.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <thread>
#include <vector>

struct TRecordedMessage {
    unsigned Msg = 0;
    std::uintptr_t LParam = 0;
    bool operator==(const TRecordedMessage&) const = default;
};

inline void PrintTo(const TRecordedMessage& m, std::ostream* os) {
    *os << m.Msg << (m.LParam != 0 ? "(this)" : "(0)");
}

class TMessageRecorder : public QObject {
public:
    std::vector<TRecordedMessage> Messages;

    bool event(QEvent* e) override {
        const TMessage* message = TMessageEvent::From(e);
        if (message == nullptr)
            return QObject::event(e);
        const TMessage& m = *message;
        Messages.push_back({m.Msg, m.LParam});
        return true;
    }

    // Handles the queue until done() holds or timeout has passed.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            TMessagePump::ProcessMessages();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};
