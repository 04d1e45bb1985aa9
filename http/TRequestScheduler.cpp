#include "TRequestScheduler.h"

#include "TTransferLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <utility>

namespace {

// The event that wakes the owner thread. Qt's queue lock is invisible to a
// race detector, so the poster's writes are ordered before the receiver's
// reads with an atomic of our own.
class TWakeEvent : public QEvent {
public:
    TWakeEvent() : QEvent(Type()) { Published.fetch_add(1, std::memory_order_release); }

    static QEvent::Type Type() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    static void Acquire() { Published.load(std::memory_order_acquire); }

private:
    static inline std::atomic<unsigned> Published{0};
};

} // namespace

class TRequestScheduler::TReceiver : public QObject {
public:
    explicit TReceiver(TRequestScheduler& owner) : FOwner(owner) {}

    bool event(QEvent* e) override {
        TWakeEvent::Acquire();
        if (e->type() != TWakeEvent::Type())
            return QObject::event(e);
        FOwner.DeliverWaiting();
        return true;
    }

private:
    TRequestScheduler& FOwner;
};

TRequestScheduler::TRequestScheduler(TDeliver deliver, TSchedulerOptions options)
    : FOptions(std::move(options)), FDeliver(std::move(deliver)),
      FReceiver(std::make_unique<TReceiver>(*this)), FAlive(std::make_shared<bool>(true)) {
    // The type is registered here, on the owner's thread, not by the worker.
    TWakeEvent::Type();
    FLoop = std::make_unique<TTransferLoop>(FOptions, [this](TAnswer a) { Post(std::move(a)); });
    FWorker = std::thread([this] { FLoop->Run(); });
}

TRequestScheduler::~TRequestScheduler() {
    Stop();
    *FAlive = false;
}

void TRequestScheduler::Submit(TRequest request) {
    FLoop->Submit(std::move(request));
}

void TRequestScheduler::Cancel(std::uint64_t id) {
    FLoop->Cancel(id);
}

void TRequestScheduler::Stop() {
    if (FStopped)
        return;
    FStopped = true;
    FLoop->Stop();
    if (FWorker.joinable())
        FWorker.join();
    std::lock_guard guard(FLock);
    FAnswers.clear();
}

void TRequestScheduler::Post(TAnswer answer) {
    {
        std::lock_guard guard(FLock);
        FAnswers.push_back(std::move(answer));
        if (std::exchange(FPosted, true))
            return;
    }
    // Outside the lock: the owner taking the answers does not wait for Qt's
    // queue. A wake that finds them taken already delivers nothing.
    QCoreApplication::postEvent(FReceiver.get(), new TWakeEvent);
}

void TRequestScheduler::DeliverWaiting() {
    std::deque<TAnswer> answers;
    {
        std::lock_guard guard(FLock);
        answers.swap(FAnswers);
        FPosted = false;
    }
    const std::shared_ptr<bool> alive = FAlive;
    const TDeliver deliver = FDeliver;
    for (TAnswer& answer : answers) {
        if (!*alive || FStopped)
            return;
        deliver(std::move(answer));
    }
}
