#include "TWindowHandle.h"

#include "TMessageEvent.h"

#include <QCoreApplication>

bool TWindowHandle::Post(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam) {
    std::lock_guard guard(FLock);
    if (FWindow == nullptr)
        return false;
    QCoreApplication::postEvent(FWindow, new TMessageEvent(msg, wParam, lParam));
    return true;
}

std::intptr_t TWindowHandle::Send(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam) {
    QObject* window = nullptr;
    {
        std::lock_guard guard(FLock);
        window = FWindow;
    }
    if (window == nullptr)
        return 0;
    TMessageEvent event(msg, wParam, lParam);
    QCoreApplication::sendEvent(window, &event);
    return event.Message().Result;
}

void TWindowHandle::Detach() {
    std::lock_guard guard(FLock);
    FWindow = nullptr;
}

bool TWindowHandle::Attached() const {
    std::lock_guard guard(FLock);
    return FWindow != nullptr;
}

bool PostMessage(const HWND& window, unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam) {
    return window ? window->Post(msg, wParam, lParam) : false;
}

std::intptr_t SendMessage(const HWND& window, unsigned msg, std::uintptr_t wParam,
                          std::uintptr_t lParam) {
    return window ? window->Send(msg, wParam, lParam) : 0;
}
