#pragma once
// The address of a window for crawl messages. Workers keep a shared copy and
// post through it from any thread; the window detaches it when it closes, and
// posts after that are dropped, so a late worker can never reach a window
// that is gone.

#include <cstdint>
#include <memory>
#include <mutex>

class QObject;
class TWindowHandle;

using HWND = std::shared_ptr<TWindowHandle>;

class TWindowHandle {
public:
    explicit TWindowHandle(QObject* window) : FWindow(window) {}

    static HWND Create(QObject* window) { return std::make_shared<TWindowHandle>(window); }

    // Queues a message for the window and returns at once. Thread-safe. Posts
    // from one thread arrive in the order they were made. False when the
    // window has been detached.
    bool Post(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam);

    // Runs the window's handler at once, nested in the caller, and returns its
    // result. Only on the window's own thread.
    std::intptr_t Send(unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam);

    // From now on every post is dropped and every send does nothing.
    void Detach();

    bool Attached() const;

private:
    mutable std::mutex FLock;
    QObject* FWindow;
};

// Post through a handle that may be empty (a worker whose window was cleared).
bool PostMessage(const HWND& window, unsigned msg, std::uintptr_t wParam, std::uintptr_t lParam);
std::intptr_t SendMessage(const HWND& window, unsigned msg, std::uintptr_t wParam,
                          std::uintptr_t lParam);
