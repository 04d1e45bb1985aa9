#pragma once
// Lets the calling thread's window handle what waits in its queue, also from
// inside the handler of a posted message.

class TMessagePump {
public:
    // Delivers every posted event that is waiting, then the other pending
    // events (timers, input, painting), and returns.
    static void ProcessMessages();
};
