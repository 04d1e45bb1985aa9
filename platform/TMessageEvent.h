#pragma once
// A crawl message travelling through Qt's event queue. The event's type is the
// message number. The event owns nothing: LParam only names a worker object
// that the window owns.

#include "common/Messages.h"

#include <QEvent>

#include <atomic>

class TMessageEvent : public QEvent {
public:
    TMessageEvent(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam);

    TMessage& Message() noexcept { return FMessage; }

    // The message an event carries, or null when it is not a crawl message.
    // Receivers read messages only through this call: it also orders the
    // poster's writes before the receiver's reads where a race detector can
    // see it (Qt's own queue lock is invisible to one).
    static TMessage* From(QEvent* event) noexcept;

    static bool IsMessageType(QEvent::Type type) noexcept;

private:
    TMessage FMessage;
    static std::atomic<unsigned> FPublished;
};
