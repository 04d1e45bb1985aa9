#include "TApplication.h"
#include "TFrmMain.h"
#include "download/THttpContentDown.h"
#include "parser/THtmlParser.h"
#include "platform/TMessagePump.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>
#include <QTimer>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QStringList Headers(QTreeWidget* list) {
    QStringList headers;
    for (int i = 0; i < list->columnCount(); ++i)
        headers << list->headerItem()->text(i);
    return headers;
}

struct Window : ::testing::Test {
    TFrmMain w;
    QStringList errors, boxes;
    void SetUp() override {
        w.Hooks.ErrorBox = [this](const QString& t) { errors << t; };
        w.Hooks.MessageBox = [this](const QString& t) { boxes << t; };
    }
    QString Status() const { return w.StatusBar->currentMessage(); }
};

TEST_F(Window, StartsIdle) {
    EXPECT_EQ(w.windowTitle(), "FrmMain");
    EXPECT_EQ(w.DLabel->text(), "실행 대기 중입니다.");
    EXPECT_EQ(w.FDelaySeconds, 60);
    EXPECT_EQ(w.FDelayTick, 1u);
    EXPECT_EQ(w.ProgressBar->maximum(), 60);
    EXPECT_EQ(w.InterEdt->text(), "60");
    EXPECT_EQ(w.LabelTCount->text(), "0");
    for (QLineEdit* count : {w.EdtGoneList, w.EdtGoingList, w.EdtAnchor, w.EdtInternalLink,
                             w.EdtExternalLink, w.EdtObj})
        EXPECT_EQ(count->text(), "0") << count->objectName().toStdString();
    EXPECT_FALSE(w.SysTime->isActive());
    EXPECT_FALSE(w.DelayTimer->isActive());
    EXPECT_EQ(w.SysTime->interval(), 1000);
    EXPECT_EQ(w.DelayTimer->interval(), 1000);
    EXPECT_TRUE(Status().isEmpty());
    EXPECT_FALSE(w.FRunning);
    EXPECT_EQ(w.FParser, nullptr);
    EXPECT_EQ(w.FDownloader, nullptr);
}

TEST_F(Window, HasTheFormsControls) {
    EXPECT_EQ(Headers(w.GoneListView), (QStringList{"Id", "Depth", "URI", "Size", "Status", "Type"}));
    EXPECT_EQ(Headers(w.ObjListView), (QStringList{"Id", "URI", "Size", "Status", "Type", "Count"}));
    EXPECT_EQ(w.GoneListView->columnWidth(2), 400);
    EXPECT_TRUE(w.UrlComboBox->isEditable());
    EXPECT_EQ(w.UrlComboBox->count(), 0);
    EXPECT_EQ(w.UrlComboBox->width(), 385);
    EXPECT_EQ(w.File1->title(), "File");
    QStringList items;
    for (QAction* a : w.File1->actions())
        items << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(items, (QStringList{"New", "-", "Close"}));
    EXPECT_EQ(w.KindImageList.size(), 3u);
    for (const QIcon& icon : w.KindImageList)
        EXPECT_FALSE(icon.pixmap(16, 16).isNull());
    EXPECT_EQ(w.CheckImg->property("category").toString(), "Parser");
    // No tray offscreen, so no icon is shown.
    EXPECT_FALSE(w.TrayIcon1->isVisible());
}

TEST_F(Window, AtTheDefaultSizeEveryHeadingAndColumnCanBeRead) {
    w.show();
    for (QTreeWidget* list : {w.GoneListView, w.ObjListView}) {
        const QFontMetrics metrics(list->font());
        EXPECT_GT(list->columnWidth(0), 20 + metrics.horizontalAdvance("99999")); // check box + id
        for (int i = 0; i < list->columnCount(); ++i)
            EXPECT_GE(list->columnWidth(i), metrics.horizontalAdvance(list->headerItem()->text(i)))
                << list->headerItem()->text(i).toStdString();
    }
    QWidget* panel = w.findChild<QWidget*>("RightPanel");
    for (QLabel* heading : panel->findChildren<QLabel*>()) {
        SCOPED_TRACE(heading->text().toStdString());
        EXPECT_GE(heading->width(), heading->fontMetrics().horizontalAdvance(heading->text()));
        EXPECT_LE(heading->geometry().right(), panel->width());
    }
    for (QLineEdit* count : {w.EdtGoneList, w.EdtGoingList, w.EdtAnchor, w.EdtInternalLink,
                             w.EdtExternalLink, w.EdtObj}) {
        QTest::keyClicks(count, "12");
        EXPECT_EQ(count->text(), "0") << count->objectName().toStdString();
    }
    EXPECT_EQ(w.SpeedButton1->size(), QSize(39, 21));
    EXPECT_FALSE(w.SpeedButton1->toolTip().isEmpty());
    EXPECT_FALSE(w.InterEdt->toolTip().isEmpty());
}

TEST_F(Window, RoutesEveryCrawlMessageToItsHandler) {
    const struct {
        unsigned msg;
        QString status; // what the handler leaves in the status bar
    } table[] = {
        {WM_NAVIGATION_START, "On Navigation Start"},
        {WM_NAVIGATION_END, "On Navigation End"},
        {WM_DOWNLOAD_START, "On Content File DownLoad Start"},
        {WM_PARSE_START, "Parsing을 시작 되었습니다."},
        {WM_DATA_MOVE_END, "쓰레드 Data를 메인으로 옮기는 작업이 끝났습니다."},
        {WM_DATA_MOVE_START, "쓰레드 Data를 메인으로 옮기는 작업이 끝났습니다."}, // sends the end
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.msg);
        w.StatusBar->clearMessage();
        TMessage m{row.msg, 0, 0, 0};
        EXPECT_TRUE(w.Dispatch(m));
        EXPECT_EQ(Status(), row.status);
    }
    // Without a crawl the handlers of a finished worker find nothing to do.
    w.StatusBar->clearMessage();
    w.FInternalLinks = 5;
    for (unsigned msg : {WM_PARSER_END, WM_DOWNLOAD_END, WM_DOWNLOAD_FAILED}) {
        TMessage m{msg, 0, 0, 0};
        EXPECT_TRUE(w.Dispatch(m));
    }
    EXPECT_EQ(w.FInternalLinks, 0);
    EXPECT_TRUE(Status().isEmpty());
}

TEST_F(Window, LeavesOtherNumbersToDefaultHandling) {
    for (unsigned msg : {1024u, 1031u, 1032u, 1033u, 1034u, 1038u, 2000u}) {
        SCOPED_TRACE(msg);
        TMessage m{msg, 0, 0, 0};
        EXPECT_FALSE(w.Dispatch(m));
        w.Handle()->Post(msg, 0, 0);
    }
    TMessagePump::ProcessMessages();
    EXPECT_TRUE(Status().isEmpty());
    EXPECT_FALSE(w.FRunning);
    EXPECT_TRUE(w.FGoneList.empty());
}

TEST_F(Window, DelayBoxAcceptsOnlyWholeSecondsOfZeroOrMore) {
    const struct {
        const char* typed;
        int delay;      // FDelaySeconds afterwards
        bool refused;   // an error box was shown
    } table[] = {
        {"20", 20, false}, {" 5 ", 5, false}, {"0", 0, false}, {"abc", 0, true},
        {"-3", 0, true},   {"", 0, true},     {"1.5", 0, true}, {"7", 7, false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.typed);
        errors.clear();
        w.InterEdt->selectAll();
        QTest::keyClick(w.InterEdt, Qt::Key_Delete);
        QTest::keyClicks(w.InterEdt, row.typed);
        QTest::mouseClick(w.SpeedButton1, Qt::LeftButton);
        EXPECT_EQ(w.FDelaySeconds, row.delay);
        EXPECT_EQ(errors.size(), row.refused ? 1 : 0);
    }
    EXPECT_EQ(w.ProgressBar->maximum(), 7);
    EXPECT_EQ(w.FDelayTick, 1u); // the running pause is not touched
}

// A loopback address that refuses connections: a port bound and let go.
std::string RefusingUrl() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
}

// Enter crawls the typed address: its only page fails, so each press ends
// in one end-of-crawl box. A press counted twice would show two.
TEST_F(Window, EnterInTheAddressBoxStartsTheCrawlOncePerPress) {
    w.show();
    w.UrlComboBox->setFocus();
    QTest::keyClick(w.UrlComboBox, Qt::Key_Return); // nothing typed yet: nothing happens
    EXPECT_FALSE(w.FRunning);
    const QString url = QString::fromStdString(RefusingUrl());
    QTest::keyClicks(w.UrlComboBox, url);
    EXPECT_EQ(w.UrlComboBox->currentText(), url); // the other keys reach the box unchanged
    EXPECT_FALSE(w.FRunning);
    const struct {
        QWidget* target;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } presses[] = {
        {w.UrlComboBox, Qt::Key_Return, Qt::NoModifier},
        {w.UrlComboBox, Qt::Key_Enter, Qt::KeypadModifier},
        {w.UrlComboBox->lineEdit(), Qt::Key_Return, Qt::NoModifier},
        {w.UrlComboBox->lineEdit(), Qt::Key_Enter, Qt::KeypadModifier},
    };
    int expected = 0;
    for (const auto& press : presses) {
        SCOPED_TRACE(expected);
        QTest::keyClick(press.target, press.key, press.modifiers);
        ++expected;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < (boxes.size() < expected ? 10000 : 300))
            TMessagePump::ProcessMessages();
        EXPECT_EQ(boxes.size(), expected);
    }
    EXPECT_TRUE(w.FRunning);
    EXPECT_EQ(w.GoneListView->topLevelItemCount(), 1); // the failed page, once
}

TEST_F(Window, ClockCountsSeconds) {
    w.FElapsedSeconds = 41;
    w.SysTimeTimer();
    EXPECT_EQ(w.LabelTCount->text(), "42");
}

TEST_F(Window, PauseCountsOutOnTheLabelAndTheBar) {
    w.FDelaySeconds = 3;
    w.DelayTimerTimer();
    EXPECT_EQ(w.DLabel->text(), "2 / 3");
    EXPECT_EQ(w.ProgressBar->value(), 2);
    w.DelayTimerTimer(); // tick 3: the pause is over
    EXPECT_EQ(w.DLabel->text(), "탐색을 재개 합니다");
    EXPECT_EQ(w.ProgressBar->value(), 0);
    EXPECT_EQ(w.FDelayTick, 1u);
    EXPECT_EQ(Status(), "On Navigation Start");
}

// A loopback port that accepts connections but never answers.
struct SilentPort {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    std::string url;
    SilentPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 8);
        socklen_t n = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
    }
    ~SilentPort() { close(fd); }
};

TEST(WindowClose, BeforeAnyCrawlFreesNothingAndStopsNothing) {
    TFrmMain w;
    w.show();
    w.Close1->trigger(); // File -> Close
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.FClosing);
    EXPECT_FALSE(w.Handle()->Attached());
    w.FormClose(); // a second close changes nothing
}

TEST(WindowClose, WhileWorkersRunStopsThemAndIgnoresTheirLateMessages) {
    SilentPort silent;
    auto w = std::make_unique<TFrmMain>();
    // A parser busy with a big page and a download that waits for an answer.
    std::string page;
    for (int i = 0; i < 200000; ++i)
        page += "<a href=p" + std::to_string(i) + ".html>x</a>";
    w->FParser = std::make_unique<THtmlParser>(w->Handle());
    w->FParser->SetUrl("http://127.0.0.1/");
    w->FParser->SetDocument(page);
    w->FParser->Resume();
    w->FDownloader = std::make_unique<THttpContentDown>(silent.url, w->Handle());
    w->FDownloader->Resume();
    w->FPageMap["x"] = std::make_unique<_TObjectType>();

    QElapsedTimer clock;
    clock.start();
    w->close(); // runs FormClose
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(w->FParser, nullptr);
    EXPECT_EQ(w->FDownloader, nullptr);
    EXPECT_TRUE(w->FPageMap.empty());
    // Whatever the workers had posted is dropped.
    TMessagePump::ProcessMessages();
    TMessage late{WM_PARSER_END, 0, 0, 0};
    EXPECT_TRUE(w->Dispatch(late));
    EXPECT_TRUE(w->StatusBar->currentMessage().isEmpty());
    w.reset();
}

class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw std::runtime_error("'abc' is not a valid integer value");
        return QObject::event(e);
    }
};

TEST(Application, ShowsAnEscapingExceptionAndGoesOn) {
    QStringList shown;
    TApplication::SetErrorHandler([&](const QString& t) { shown << t; });
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    bool after = false;
    QTimer::singleShot(0, [&] { after = true; });
    QElapsedTimer clock;
    clock.start();
    while (!after && clock.elapsed() < 2000)
        TMessagePump::ProcessMessages();
    TApplication::SetErrorHandler(nullptr);
    EXPECT_EQ(shown, QStringList{"'abc' is not a valid integer value"});
    EXPECT_TRUE(after);
}

} // namespace
