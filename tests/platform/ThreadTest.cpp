#include "platform/TThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <pthread.h>
#include <stdexcept>

namespace {

class CountingThread : public TThread {
public:
    explicit CountingThread(std::atomic<int>& runs, bool loopUntilTerminated = false)
        : TThread("CountingThread"), FRuns(runs), FLoop(loopUntilTerminated) {}
    ~CountingThread() override { WaitFor(); }
    std::string SeenName;

protected:
    void Execute() override {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        SeenName = name;
        ++FRuns;
        while (FLoop && !Terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    std::atomic<int>& FRuns;
    bool FLoop;
};

class ThrowingThread : public TThread {
public:
    ThrowingThread() : TThread("Throwing") {}
    ~ThrowingThread() override { WaitFor(); }

protected:
    void Execute() override { throw std::runtime_error("boom"); }
};

TEST(Thread, CreatedSuspendedAndStartedOnce) {
    std::atomic<int> runs{0};
    CountingThread t(runs);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(t.Started());
    t.Resume();
    t.Resume();
    t.WaitFor();
    t.WaitFor();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(t.Finished());
    EXPECT_EQ(t.SeenName, "CountingThread"); // 14 characters: kept whole
}

TEST(Thread, DeletingANeverStartedThreadDoesNotBlock) {
    std::atomic<int> runs{0};
    { CountingThread t(runs); }
    EXPECT_EQ(runs, 0);
}

TEST(Thread, TerminateIsARequestTheBodySees) {
    std::atomic<int> runs{0};
    auto t = std::make_unique<CountingThread>(runs, true);
    t->Resume();
    t->Terminate();
    t.reset(); // waits for the body, which stops because it was asked to
    EXPECT_EQ(runs, 1);
}

TEST(Thread, AnEscapingExceptionStaysInItsThread) {
    ThrowingThread t;
    t.Resume();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
}

} // namespace
