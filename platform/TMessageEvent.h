#pragma once
// A crawl message travelling through Qt's event queue. The event's type is the
// message number. The event owns nothing: LParam only names a worker object
// that the window owns.

#include "common/Messages.h"

#include <QEvent>

class TMessageEvent : public QEvent {
public:
    TMessageEvent(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam);

    TMessage& Message() noexcept { return FMessage; }

    static bool IsMessageType(QEvent::Type type) noexcept;

private:
    TMessage FMessage;
};
