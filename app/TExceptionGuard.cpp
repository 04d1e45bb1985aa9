#include "TExceptionGuard.h"

#include <exception>
#include <new>

namespace {
TExceptionGuard::THandler& Handler() {
    static TExceptionGuard::THandler handler;
    return handler;
}
} // namespace

const QString& TExceptionGuard::OutOfMemory() {
    // Made before it is needed: nothing here may allocate once memory is out.
    static const QString text = QStringLiteral("out of memory");
    return text;
}

bool TExceptionGuard::Deliver(const std::function<bool()>& deliver, const THandler& fallback) {
    const QString* message = nullptr;
    QString what;
    try {
        return deliver();
    } catch (const std::bad_alloc&) {
        message = &OutOfMemory();
    } catch (const std::exception& error) {
        try {
            what = QString::fromLocal8Bit(error.what());
            message = &what;
        } catch (...) {
            message = &OutOfMemory();
        }
    } catch (...) {
        message = &what;
    }
    const THandler& report = Handler() ? Handler() : fallback;
    try {
        if (report)
            report(*message);
    } catch (...) {
        // A report that cannot be made is not a reason to end the program.
    }
    return false;
}

void TExceptionGuard::SetErrorHandler(THandler handler) { Handler() = std::move(handler); }
