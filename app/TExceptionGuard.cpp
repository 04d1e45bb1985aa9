#include "TExceptionGuard.h"

#include <exception>

namespace {
TExceptionGuard::THandler& Handler() {
    static TExceptionGuard::THandler handler;
    return handler;
}
} // namespace

bool TExceptionGuard::Deliver(const std::function<bool()>& deliver, const THandler& fallback) {
    QString message;
    try {
        return deliver();
    } catch (const std::exception& error) {
        message = QString::fromLocal8Bit(error.what());
    } catch (...) {
    }
    const THandler& report = Handler() ? Handler() : fallback;
    if (report)
        report(message);
    return false;
}

void TExceptionGuard::SetErrorHandler(THandler handler) { Handler() = std::move(handler); }
