#include "TMessageEvent.h"

TMessageEvent::TMessageEvent(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam)
    : QEvent(static_cast<QEvent::Type>(msg)), FMessage{msg, wParam, lParam, 0} {}

bool TMessageEvent::IsMessageType(QEvent::Type type) noexcept {
    // Every number above WM_USER up to Qt's last user type is ours.
    const int t = static_cast<int>(type);
    return t > static_cast<int>(WM_USER) && t <= static_cast<int>(QEvent::MaxUser);
}
