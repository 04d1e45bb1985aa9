// The parser thread: every run ends with WM_PARSER_END naming the parser.

#include "ParserTestSupport.h"
#include "common/Messages.h"
#include "platform/TMessageEvent.h"

#include <QCoreApplication>
#include <QObject>

#include <chrono>

namespace {

class TReceiver : public QObject {
public:
    std::vector<TMessage> Messages;

    bool event(QEvent* e) override {
        if (!TMessageEvent::IsMessageType(e->type()))
            return QObject::event(e);
        Messages.push_back(static_cast<TMessageEvent*>(e)->Message());
        return true;
    }
};

// Delivers posted events until `count` messages have come or time is up.
void PumpUntil(const TReceiver& receiver, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (receiver.Messages.size() < count && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

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
        {"a page with links", true, "<a href=x.html><a href=y.html><img src=i.gif>", false, 2},
        {"no address set", false, "<a href=x.html>", false, 0},
        {"an empty page", true, "", false, 0},
        {"a page without tags", true, "just text", false, 0},
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
        PumpUntil(receiver, 1);
        parser.WaitFor();
        QCoreApplication::sendPostedEvents();

        ASSERT_EQ(receiver.Messages.size(), 1u);
        EXPECT_EQ(receiver.Messages[0].Msg, WM_PARSER_END);
        EXPECT_EQ(receiver.Messages[0].WParam, 0u);
        EXPECT_EQ(receiver.Messages[0].LParam, reinterpret_cast<std::uintptr_t>(&parser));
        EXPECT_TRUE(parser.Finished());
        EXPECT_EQ(parser.Anchors().size(), c.Anchors);
        window->Detach();
    }
}

// Deleting a parser in the middle of a long scan waits for its thread; a stop
// request makes that wait short.
TEST(ParserThread, DeletedWhileScanning) {
    TSkipFile skip({});
    std::string page;
    for (int i = 0; i < 200000; ++i)
        page += "<a href=p" + std::to_string(i % 5000) + ".html>";
    auto parser = std::make_unique<THtmlParser>(nullptr);
    parser->SetUrl(TestBase);
    parser->SetDocument(std::move(page));
    parser->Resume();
    parser->Terminate();
    parser.reset();
}

} // namespace
