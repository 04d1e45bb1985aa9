#pragma once
// Delivers an event so that an exception escaping its handler is reported
// and the event loop goes on, in the window and in the headless run alike.

#include <QString>

#include <functional>

class TExceptionGuard {
public:
    using THandler = std::function<void(const QString&)>;

    // Runs deliver and returns its result; false when an exception escaped
    // it, after handing the exception's message to the handler set, or to
    // fallback when none is set.
    static bool Deliver(const std::function<bool()>& deliver, const THandler& fallback);

    // Replaces where escaped exceptions are reported; null restores the
    // fallback of each application. A handler must not throw.
    static void SetErrorHandler(THandler handler);

    // The message a std::bad_alloc is reported with; its text is made
    // before memory runs out, so the report allocates nothing.
    static const QString& OutOfMemory();
};
