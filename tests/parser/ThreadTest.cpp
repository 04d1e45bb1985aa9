// The parser thread: every run ends with WM_PARSER_END naming the parser.

#include "ParserTestSupport.h"
#include "common/Messages.h"
#include "platform/TMessageEvent.h"

#include <QCoreApplication>

#include <chrono>

namespace {

class TReceiver : public QObject {
public:
    std::vector<TMessage> Messages;
    bool event(QEvent* e) override {
        const TMessage* m = TMessageEvent::From(e);
        if (m == nullptr)
            return QObject::event(e);
        Messages.push_back(*m);
        return true;
    }
};

struct TThreadCase {
    const char* What;
    bool SetUrl;
    std::string Page;
    bool TerminateFirst;
    std::size_t Anchors;
};

TEST(ParserThread, PostsEndMessageAfterEveryRun) {
    TSkipFile skip({});
    const std::vector<TThreadCase> cases = {
        {"links", true, "<a href=x.html><a href=y.html><img src=i.gif>", false, 2},
        {"no address set", false, "<a href=x.html>", false, 0},
        {"empty page", true, "", false, 0},
        {"stopped before it started", true, "<a href=x.html>", true, 0},
    };
    for (const TThreadCase& c : cases) {
        SCOPED_TRACE(c.What);
        TReceiver receiver;
        const HWND window = TWindowHandle::Create(&receiver);
        THtmlParser parser(window);
        if (c.SetUrl)
            parser.SetUrl(TestBase);
        parser.SetDocument(c.Page);
        if (c.TerminateFirst)
            parser.Terminate();
        parser.Resume();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (receiver.Messages.empty() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        parser.WaitFor();
        QCoreApplication::sendPostedEvents();

        ASSERT_EQ(receiver.Messages.size(), 1u);
        EXPECT_EQ(receiver.Messages[0].Msg, WM_PARSER_END);
        EXPECT_EQ(receiver.Messages[0].WParam, 0u);
        EXPECT_EQ(receiver.Messages[0].LParam, reinterpret_cast<std::uintptr_t>(&parser));
        EXPECT_EQ(parser.Anchors().size(), c.Anchors);
        window->Detach();
    }
}

} // namespace
