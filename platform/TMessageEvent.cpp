#include "TMessageEvent.h"

TMessageEvent::TMessageEvent(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam)
    : QEvent(static_cast<QEvent::Type>(msg)), FMessage{msg, wParam, lParam, 0} {
    FPublished.fetch_add(1, std::memory_order_release);
}

std::atomic<unsigned> TMessageEvent::FPublished{0};

TMessage* TMessageEvent::From(QEvent* event) noexcept {
    FPublished.load(std::memory_order_acquire);
    if (event == nullptr || !IsMessageType(event->type()))
        return nullptr;
    // Other code may register event types in the same range.
    auto* message = dynamic_cast<TMessageEvent*>(event);
    return message != nullptr ? &message->FMessage : nullptr;
}

bool TMessageEvent::IsMessageType(QEvent::Type type) noexcept {
    // Every number above WM_USER up to Qt's last user type is ours.
    const int t = static_cast<int>(type);
    return t > static_cast<int>(WM_USER) && t <= static_cast<int>(QEvent::MaxUser);
}
