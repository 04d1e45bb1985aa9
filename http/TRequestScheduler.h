#pragma once
// Every HTTP request of a crawl goes through one scheduler. It runs the
// transfers on one worker thread (see TTransferLoop for the limits it keeps),
// asks again where the server asks for it or a failure is passing, and hands
// each answer to the deliver function once, on the thread that made the
// scheduler, from that thread's event loop. Nothing is thrown.
//
// Make, stop and destroy it on one thread, which runs a Qt event loop.
// Submit and Cancel may be called from any thread. deliver may call Submit,
// Cancel and Stop, but must not destroy the scheduler.

#include "TAnswer.h"
#include "TRequest.h"
#include "TSchedulerOptions.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;
class TTransferLoop;

class TRequestScheduler {
public:
    using TDeliver = std::function<void(TAnswer)>;

    explicit TRequestScheduler(TDeliver deliver, TSchedulerOptions options = {});
    // Stops first.
    ~TRequestScheduler();
    TRequestScheduler(const TRequestScheduler&) = delete;
    TRequestScheduler& operator=(const TRequestScheduler&) = delete;

    // Queues a request; its answer comes back later, never during this call.
    void Submit(TRequest request);
    // Ends every request with this id, wherever it is (queued, in flight,
    // waiting to be asked again); each is answered as aborted.
    void Cancel(std::uint64_t id);
    // Ends every transfer and every wait and returns within 2 s; from then on
    // nothing is delivered and requests are ignored.
    void Stop();

    const TSchedulerOptions& Options() const noexcept { return FOptions; }

private:
    class TReceiver;

    // Worker thread: keeps an answer and makes sure one delivery is posted.
    void Post(TAnswer answer);
    // Owner thread: delivers what has come in.
    void DeliverWaiting();

    TSchedulerOptions FOptions;
    TDeliver FDeliver;
    std::unique_ptr<TReceiver> FReceiver;
    std::unique_ptr<TTransferLoop> FLoop;
    std::thread FWorker;
    bool FStopped = false;
    // Set on destruction, seen by a delivery loop that is still on the stack.
    std::shared_ptr<bool> FAlive;

    std::mutex FLock;
    std::deque<TAnswer> FAnswers;
    bool FPosted = false;
};
