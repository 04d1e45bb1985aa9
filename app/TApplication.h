#pragma once
// The application object of the window. An exception that escapes an event
// handler is shown in an error box and the event loop goes on.

#include <QApplication>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
