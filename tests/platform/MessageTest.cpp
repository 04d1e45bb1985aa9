#include "platform/TMessageEvent.h"
#include "platform/TMessagePump.h"
#include "platform/TWindowHandle.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <map>
#include <thread>

namespace {

// A stand-in window: records every message it receives and may react.
class Recorder : public QObject {
public:
    std::vector<unsigned> Seen;
    std::map<unsigned, std::function<void()>> OnMessage;

    bool event(QEvent* e) override {
        TMessage* message = TMessageEvent::From(e);
        if (message == nullptr)
            return QObject::event(e);
        TMessage& m = *message;
        Seen.push_back(m.Msg);
        m.Result = static_cast<std::intptr_t>(m.LParam) + 1;
        if (auto it = OnMessage.find(m.Msg); it != OnMessage.end())
            it->second();
        return true;
    }
};

void PumpUntil(const std::function<bool()>& done, int ms = 2000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        TMessagePump::ProcessMessages();
}

TEST(Messages, PostsFromAThreadKeepTheirOrder) {
    Recorder window;
    HWND handle = TWindowHandle::Create(&window);
    std::thread worker([handle] {
        for (unsigned i = 0; i < 100; ++i)
            PostMessage(handle, 1100 + i, 0, 0);
    });
    worker.join();
    PumpUntil([&] { return window.Seen.size() == 100; });
    ASSERT_EQ(window.Seen.size(), 100u);
    for (unsigned i = 0; i < 100; ++i)
        EXPECT_EQ(window.Seen[i], 1100 + i);
}

TEST(Messages, SendRunsTheHandlerNestedAndReturnsItsResult) {
    Recorder window;
    HWND handle = TWindowHandle::Create(&window);
    PostMessage(handle, 1029, 0, 0);
    window.OnMessage[1036] = [&] { SendMessage(handle, 1037, 0, 0); };
    EXPECT_EQ(SendMessage(handle, 1036, 0, 41), 42);
    // Both sends ran at once, nested; the earlier post still waits.
    EXPECT_EQ(window.Seen, (std::vector<unsigned>{1036, 1037}));
    PumpUntil([&] { return window.Seen.size() == 3; });
    EXPECT_EQ(window.Seen, (std::vector<unsigned>{1036, 1037, 1029}));
}

TEST(Messages, PumpInsideAPostedHandlerDeliversLaterPosts) {
    Recorder window;
    HWND handle = TWindowHandle::Create(&window);
    std::vector<unsigned> seenInsidePump;
    window.OnMessage[1026] = [&] {
        TMessagePump::ProcessMessages();
        seenInsidePump = window.Seen;
    };
    PostMessage(handle, 1026, 0, 0);
    PostMessage(handle, 1029, 0, 0);
    PostMessage(handle, 1030, 0, 0);
    PumpUntil([&] { return window.Seen.size() == 3; });
    EXPECT_EQ(seenInsidePump, (std::vector<unsigned>{1026, 1029, 1030}));
}

TEST(Messages, ADetachedHandleDropsEverything) {
    Recorder window;
    HWND handle = TWindowHandle::Create(&window);
    handle->Detach();
    EXPECT_FALSE(PostMessage(handle, 1030, 0, 0));
    EXPECT_EQ(SendMessage(handle, 1027, 0, 0), 0);
    EXPECT_FALSE(PostMessage(HWND{}, 1030, 0, 0));
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(window.Seen.empty());
}

TEST(Messages, OnlyOurEventsCarryMessages) {
    // Another event type in the user range is not mistaken for a message.
    QEvent foreign(static_cast<QEvent::Type>(QEvent::registerEventType()));
    EXPECT_EQ(TMessageEvent::From(&foreign), nullptr);
    QEvent timer(QEvent::Timer);
    EXPECT_EQ(TMessageEvent::From(&timer), nullptr);
    TMessageEvent ours(1030, 0, 7);
    ASSERT_NE(TMessageEvent::From(&ours), nullptr);
    EXPECT_EQ(TMessageEvent::From(&ours)->LParam, 7u);
}

TEST(Messages, OnlyNumbersAboveWmUserAreMessages) {
    EXPECT_FALSE(TMessageEvent::IsMessageType(QEvent::Timer));
    EXPECT_FALSE(TMessageEvent::IsMessageType(static_cast<QEvent::Type>(1024)));
    EXPECT_TRUE(TMessageEvent::IsMessageType(static_cast<QEvent::Type>(1025)));
    EXPECT_TRUE(TMessageEvent::IsMessageType(static_cast<QEvent::Type>(1031)));
}

} // namespace
