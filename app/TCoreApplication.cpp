#include "TCoreApplication.h"

#include "TExceptionGuard.h"

#include <cstdio>

TCoreApplication::TCoreApplication(int& argc, char** argv) : QCoreApplication(argc, argv) {}

bool TCoreApplication::notify(QObject* receiver, QEvent* event) {
    return TExceptionGuard::Deliver([&] { return QCoreApplication::notify(receiver, event); },
                                    [](const QString& message) {
                                        std::fprintf(stderr, "marrowby: %s\n",
                                                     message.toLocal8Bit().constData());
                                    });
}
