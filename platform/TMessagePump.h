#pragma once
// Lets the calling thread's window handle what waits in its queue, also from
// inside the handler of a posted message.

class TMessagePump {
public:
    // Delivers every posted event that is waiting, then the other pending
    // events (timers, input, painting), and returns.
    static void ProcessMessages();
    // For a handler that goes through many steps at once: delivers the
    // posted events that wait, and the rest as ProcessMessages does when a
    // millisecond or more has passed since it last did. Looking for input and
    // timers is a system call; a crawl's steps come tens of thousands a
    // second.
    static void KeepResponsive();
    // For a handler that waits for a worker's answer: sleeps until events
    // come (a post from a worker, input, a timer) or the time runs out, and
    // handles them. Posted events handled first do not end the sleep: the
    // handler that takes the awaited answer calls EndWait.
    static void WaitMessages(int timeoutMs);
    // Ends the WaitMessages under way at once, or the next one, on the
    // calling thread.
    static void EndWait();
};
