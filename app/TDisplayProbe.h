#pragma once
// Tells, before any window is made, whether the window system can be reached,
// so that a window run without a display ends with a clear line instead of
// the platform plugin's abort.

class TDisplayProbe {
public:
    // False only when the X platform is the one to be used and no X server
    // answers at DISPLAY. Other platforms (offscreen, Wayland) are left to Qt.
    static bool Available();
};
