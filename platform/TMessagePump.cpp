#include "TMessagePump.h"

#include <QCoreApplication>

void TMessagePump::ProcessMessages() {
    // processEvents() alone does not deliver posted events while another
    // posted event is being handled under the GLib dispatcher.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
