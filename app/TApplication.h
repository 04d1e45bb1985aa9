#pragma once
// The application object. An exception that escapes an event handler is
// shown in an error box and the event loop goes on.

#include <QApplication>

#include <functional>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the message of an exception that escaped a handler. The default
    // is a modal error box; the headless run writes to stderr instead.
    static void SetErrorHandler(std::function<void(const QString&)> handler);
    static void ShowException(const QString& message);
};
