#include "TThread.h"

#include <pthread.h>

TThread::TThread(std::string name) : FName(std::move(name)) {}

TThread::~TThread() { WaitFor(); }

void TThread::Resume() {
    if (FStarted)
        return;
    FStarted = true;
    FThread = std::thread([this] { Run(); });
}

void TThread::RunHere() noexcept {
    if (FStarted)
        return;
    FStarted = true;
    Body();
}

void TThread::Terminate() noexcept { FTerminated.store(true, std::memory_order_release); }

void TThread::WaitFor() {
    if (FThread.joinable())
        FThread.join();
}

void TThread::Run() noexcept {
    // Linux keeps at most 15 characters of a thread's name.
    pthread_setname_np(pthread_self(), FName.substr(0, 15).c_str());
    Body();
}

void TThread::Body() noexcept {
    try {
        Execute();
    } catch (...) {
        // Nothing may cross into the owner's thread; the body reports its own
        // outcome through its final message.
    }
    FFinished.store(true, std::memory_order_release);
}
