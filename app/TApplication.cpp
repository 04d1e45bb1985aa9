#include "TApplication.h"

#include <QMessageBox>

#include <exception>

namespace {
std::function<void(const QString&)>& ErrorHandler() {
    static std::function<void(const QString&)> handler;
    return handler;
}
} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowException(QString());
    }
    return false;
}

void TApplication::SetErrorHandler(std::function<void(const QString&)> handler) {
    ErrorHandler() = std::move(handler);
}

void TApplication::ShowException(const QString& message) {
    if (ErrorHandler())
        ErrorHandler()(message);
    else
        QMessageBox::critical(activeWindow(), "Error", message);
}
