#include "TApplication.h"

#include "TExceptionGuard.h"

#include <QMessageBox>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The desktop shows "caption — Marrowby".
    setApplicationDisplayName("Marrowby");
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    return TExceptionGuard::Deliver([&] { return QApplication::notify(receiver, event); },
                                    [](const QString& message) {
                                        QMessageBox::critical(activeWindow(), "Error", message);
                                    });
}
