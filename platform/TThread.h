#pragma once
// A worker thread object: created suspended, started once by Resume, asked to
// stop by Terminate, and waited for by its owner. The object outlives its
// thread; the owner deletes it on its own thread after the worker's final
// message.
//
// A derived class must call WaitFor() first thing in its destructor: by the
// time this base destructor runs, the derived members are already gone.

#include <atomic>
#include <string>
#include <thread>

class TThread {
public:
    explicit TThread(std::string name);
    virtual ~TThread();

    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread body. Only the first call has an effect.
    void Resume();
    // Runs the thread body on the calling thread instead, to its end: for
    // work too short to be worth a thread. Nothing happens once started.
    void RunHere() noexcept;
    // Asks the thread body to stop; the body decides when it looks.
    void Terminate() noexcept;
    // Blocks until the thread body has returned. Safe to call more than once,
    // and on a thread that was never started.
    void WaitFor();

    bool Started() const noexcept { return FStarted; }
    bool Finished() const noexcept { return FFinished.load(std::memory_order_acquire); }
    bool Terminated() const noexcept { return FTerminated.load(std::memory_order_acquire); }
    const std::string& Name() const noexcept { return FName; }

protected:
    // The thread body. Must not let an exception escape; one that does is
    // swallowed so that it never crosses into another thread.
    virtual void Execute() = 0;

private:
    void Run() noexcept;
    void Body() noexcept;

    std::string FName;
    std::thread FThread;
    bool FStarted = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
};
