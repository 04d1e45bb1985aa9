#pragma once
// The application object of the runs without a window. An exception that
// escapes an event handler is reported on stderr and the event loop goes on.

#include <QCoreApplication>

class TCoreApplication : public QCoreApplication {
public:
    TCoreApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
