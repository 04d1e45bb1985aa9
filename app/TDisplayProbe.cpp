#include "TDisplayProbe.h"

#include <QByteArray>
#include <QtGlobal>

#include <dlfcn.h>

namespace {

// The X protocol library, loaded at run time: the X platform plugin needs it
// anyway, and the program must not need its headers to build.
bool XServerAnswers(const QByteArray& display) {
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr)
        return true; // cannot tell: leave it to Qt
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool answers = true;
    if (connect && hasError && disconnect) {
        void* connection = connect(display.constData(), nullptr);
        answers = connection != nullptr && hasError(connection) == 0;
        if (connection != nullptr)
            disconnect(connection);
    }
    dlclose(xcb);
    return answers;
}

} // namespace

bool TDisplayProbe::Available() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return true;
    if (platform.isEmpty() && !qgetenv("WAYLAND_DISPLAY").isEmpty())
        return true;
    const QByteArray display = qgetenv("DISPLAY");
    return !display.isEmpty() && XServerAnswers(display);
}
