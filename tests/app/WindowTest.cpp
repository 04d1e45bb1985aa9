// The window as a person uses it: typing, clicking, the menu; and what it
// shows of what the crawl tells it.
#include "TCompareDialog.h"
#include "TExceptionGuard.h"
#include "TFrmMain.h"
#include "TStateLabel.h"
#include "crawl/TCrawlOptions.h"
#include "crawl/TRecordStore.h"
#include "platform/TMessagePump.h"
#include "report/TCrawlReport.h"
#include "report/TReport.h"
#include "store/TCrawlFile.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QStringList Headers(QTreeView* list) {
    QStringList headers;
    for (int i = 0; i < list->model()->columnCount(); ++i)
        headers << list->model()->headerData(i, Qt::Horizontal).toString();
    return headers;
}

// The texts of a list's row as shown, in its present order.
QStringList Row(QTreeView* list, int row, int role = Qt::DisplayRole) {
    QStringList texts;
    for (int c = 0; c < list->model()->columnCount(); ++c)
        texts << list->model()->index(row, c).data(role).toString();
    return texts;
}

struct Window : ::testing::Test {
    TFrmMain w;
    QStringList errors, boxes;
    void SetUp() override {
        w.Hooks.ErrorBox = [this](const QString& t) { errors << t; };
        w.Hooks.MessageBox = [this](const QString& t) { boxes << t; };
    }
};

TEST_F(Window, StartsIdle) {
    EXPECT_EQ(w.windowTitle(), "FrmMain");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Marrowby");
    EXPECT_EQ(w.StateLabel->text(), "Ready");
    EXPECT_EQ(w.DLabel->text(), "실행 대기 중입니다.");
    EXPECT_EQ(w.ProgressBar->maximum(), 60);
    EXPECT_EQ(w.InterEdt->text(), "60");
    EXPECT_EQ(w.LabelTCount->text(), "0");
    for (QLineEdit* count : {w.EdtGoneList, w.EdtGoingList, w.EdtAnchor, w.EdtInternalLink,
                             w.EdtExternalLink, w.EdtObj})
        EXPECT_EQ(count->text(), "0") << count->objectName().toStdString();
    EXPECT_TRUE(w.StatusBar->currentMessage().isEmpty());
    EXPECT_EQ(w.Crawl().DelaySeconds(), 60);
    EXPECT_FALSE(w.Crawl().Running());
}

TEST_F(Window, HasTheFormsControls) {
    w.show();
    EXPECT_EQ(Headers(w.GoneListView),
              (QStringList{"Id", "Depth", "URI", "Size", "Status", "Type", "Verdict", "Reason"}));
    EXPECT_EQ(Headers(w.ObjListView),
              (QStringList{"Id", "URI", "Size", "Status", "Type", "Count", "Verdict", "Reason"}));
    EXPECT_EQ(Headers(w.ExternalListView),
              (QStringList{"Id", "URI", "Status", "Size", "Type", "Count", "Verdict", "Reason"}));
    EXPECT_TRUE(w.UrlComboBox->isEditable());
    EXPECT_EQ(w.UrlComboBox->width(), 385);
    EXPECT_EQ(w.File1->title(), "&File");
    QStringList items;
    for (QAction* a : w.File1->actions())
        items << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(items, (QStringList{"&New", "&Open Folder…", "Open Cra&wl…", "&Stop",
                                  "Save &Report…", "Save Cr&awl…", "Co&mpare…", "-", "&Close"}));
    EXPECT_EQ(w.KindImageList.size(), 3u);
    for (const QIcon& icon : w.KindImageList)
        EXPECT_FALSE(icon.pixmap(16, 16).isNull());
    EXPECT_EQ(w.CheckImg->property("category").toString(), "Parser");
    // No tray offscreen, so no icon is shown.
    EXPECT_FALSE(w.TrayIcon1->isVisible());
}

// The sample site crawled through File -> Open Folder, with no pause asked
// for: at the default size no heading or value is cut (or the list scrolls
// to it); a wider window widens the address and the type only; a narrow one
// keeps the address box and may narrow the count panel to its content.
TEST_F(Window, TheSampleSiteFitsItsColumnsAndTheWindowsWidth) {
    w.Hooks.ChooseFolder = [] { return QString(MARROWBY_SAMPLE_SITE); };
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(w.Crawl().DelaySeconds(), 0); // a local folder needs no pause
    QElapsedTimer clock;
    clock.start();
    while (boxes.isEmpty() && clock.elapsed() < 30000)
        TMessagePump::ProcessMessages();
    ASSERT_EQ(boxes.size(), 1) << errors.join("\n").toStdString();
    for (bool all : {false, true}) {
        if (all)
            QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton);
        for (QTreeView* list : {w.GoneListView, w.ObjListView}) {
            const QFontMetrics metrics(list->font());
            int total = 0;
            for (int c = 0; c < list->model()->columnCount(); ++c) {
                int widest = metrics.horizontalAdvance(Headers(list)[c]);
                for (int r = 0; r < list->model()->rowCount(); ++r)
                    widest = std::max(widest, metrics.horizontalAdvance(Row(list, r)[c]) +
                                                  (c == 0 ? list->iconSize().width() : 0));
                EXPECT_GT(list->columnWidth(c), widest) << Headers(list)[c].toStdString();
                total += list->columnWidth(c);
            }
            EXPECT_TRUE(total <= list->viewport()->width() ||
                        list->horizontalScrollBar()->maximum() > 0);
            EXPECT_FALSE(list->model()->flags(list->model()->index(0, 0)) &
                         Qt::ItemIsUserCheckable); // no check box that nothing reads
        }
    }
    const auto widths = [](QTreeView* list) {
        QList<int> all;
        for (int c = 0; c < list->model()->columnCount(); ++c)
            all << list->columnWidth(c);
        return all;
    };
    const QList<int> pages = widths(w.GoneListView), objects = widths(w.ObjListView);
    w.resize(1560, w.height());
    QTest::qWait(50);
    for (int c = 0; c < 6; ++c) {
        const bool pageStretches = c == 2 || c == 5, objectStretches = c == 1 || c == 4;
        EXPECT_EQ(widths(w.GoneListView)[c] > pages[c], pageStretches) << c;
        EXPECT_EQ(widths(w.ObjListView)[c] > objects[c], objectStretches) << c;
    }
    w.resize(480, w.height());
    QTest::qWait(50);
    EXPECT_TRUE(w.UrlComboBox->isVisible()); // not in the tool bar's overflow
    QWidget* panel = w.findChild<QWidget*>("RightPanel");
    QSplitterHandle* handle = w.Splitter1->handle(1);
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(1, 10));
    QTest::mouseMove(handle, QPoint(400, 10));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(400, 10));
    EXPECT_LT(panel->width(), 200);
    for (QWidget* child : panel->findChildren<QWidget*>())
        EXPECT_LE(child->geometry().right(), panel->width()) << child->objectName().toStdString();
    for (QWidget* counter :
         {(QWidget*)w.LabelTime, (QWidget*)w.Label1, (QWidget*)w.Label2, (QWidget*)w.EdtAnchor,
          (QWidget*)w.EdtInternalLink, (QWidget*)w.EdtExternalLink, (QWidget*)w.EdtObj})
        EXPECT_FALSE(counter->toolTip().isEmpty()) << counter->objectName().toStdString();
}

TEST_F(Window, ShowsWhatTheCrawlTellsIt) {
    w.Status("On Navigation Start");
    w.Caption("http://h/a.html 페이지를 탐색 중입니다");
    w.Clock(42);
    w.Pause("2 / 3", 2);
    w.Count(TCrawlCounter::GoingList, 7);
    w.Count(TCrawlCounter::ExternalLinks, 3);
    w.Finished("탐색이 끝났습니다");
    EXPECT_EQ(w.StateLabel->text(), "Finished — 0 pages, 0 objects, 0 broken in 42 s");
    w.Error("TTags.txt is missing");

    EXPECT_EQ(w.StatusBar->currentMessage(), "On Navigation Start");
    EXPECT_EQ(w.windowTitle(), "http://h/a.html 페이지를 탐색 중입니다");
    EXPECT_EQ(w.LabelTCount->text(), "42");
    EXPECT_EQ(w.DLabel->text(), "2 / 3");
    EXPECT_EQ(w.ProgressBar->value(), 0); // emptied at the end
    EXPECT_EQ(w.EdtGoingList->text(), "7");
    EXPECT_EQ(w.EdtExternalLink->text(), "3");
    for (const auto& [seconds, text] :
         {std::pair{59u, "59 s"}, {185u, "3 min 5 s"}, {3720u, "1 h 2 min"}})
        EXPECT_EQ(TStateLabel::Duration(seconds), text);
    EXPECT_EQ(boxes, QStringList{"탐색이 끝났습니다"});
    EXPECT_EQ(errors, QStringList{"TTags.txt is missing"});
    EXPECT_EQ(w.StateLabel->text(), "Stopped — Enter goes on");
}

// The rows of a kept crawl, as the lists show them: an address in the Korean
// code page, a broken row marked and saying why.
TEST_F(Window, ListsTheRowsOfAKeptCrawl) {
    TRecordStore store;
    store.AddPageRow({12345, 1, "http://h/a.html", 99, 200, "text/html", TVerdict::Fine, "200 OK"});
    TAddressEntry& entry = store.Entry("http://h/\xc7\xd1.gif");
    entry.Object = std::make_unique<_TObjectType>();
    *entry.Object = {"http://h/\xc7\xd1.gif", "Not Found", KIND_OBJECT, -1, 0, 3, 404, 1, 2};
    entry.Verdict = TVerdict::Broken;
    entry.Reason = store.Keep("host not found");
    store.CountObject();
    QTemporaryDir dir;
    const QString file = dir.filePath("kept.marrowby");
    ASSERT_EQ(TCrawlFile::Save(store, {}, {}, file.toStdString()), "");
    w.Hooks.ChooseCrawlToOpen = [&file] { return file; };
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
    QTest::keyClick(w.File1, Qt::Key_W);
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton);
    EXPECT_EQ(Row(w.GoneListView, 0), (QStringList{"12345", "1", "http://h/a.html", "99", "200",
                                                   "text/html", "fine", "200 OK"}));
    EXPECT_EQ(Row(w.ObjListView, 0), (QStringList{"2", "http://h/한.gif", "-1", "404", "Not Found",
                                                  "3", "broken", "host not found"}));
    EXPECT_TRUE(w.GoneListView->model()->index(0, 0).data(Qt::DecorationRole).isNull());
    EXPECT_FALSE(w.ObjListView->model()->index(0, 0).data(Qt::DecorationRole).isNull());
    EXPECT_EQ(Row(w.ObjListView, 0, Qt::ToolTipRole)[3], "host not found");
    EXPECT_EQ(w.SummaryLabel->text(), "1 pages, 1 objects, 1 broken, 0 unverifiable, 0 redirected");
    EXPECT_TRUE(w.StateLabel->text().startsWith("Finished — 1 pages, 1 objects, 1 broken"))
        << w.StateLabel->text().toStdString();
    QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton); // the page merged last: none
    EXPECT_EQ(w.ObjListView->model()->rowCount(), 0);
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
        EXPECT_EQ(w.Crawl().DelaySeconds(), row.delay);
        EXPECT_EQ(errors.size(), row.refused ? 1 : 0);
    }
    EXPECT_EQ(w.ProgressBar->maximum(), 7);
    EXPECT_EQ(w.Crawl().DelayTick(), 1u); // the running pause is not touched
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
    EXPECT_FALSE(w.Crawl().Running());
    const QString url = QString::fromStdString(RefusingUrl());
    QTest::keyClicks(w.UrlComboBox, url);
    EXPECT_EQ(w.UrlComboBox->currentText(), url); // the other keys reach the box unchanged
    EXPECT_FALSE(w.Crawl().Running());
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
    EXPECT_TRUE(w.Crawl().Running());
    EXPECT_EQ(w.GoneListView->model()->rowCount(), 1); // the failed page, once
}

// File -> Compare: two kept crawls typed, the older first (a crawl file and a
// report folder), their changes listed; what is no crawl is said and nothing
// is listed.
TEST_F(Window, CompareListsWhatChangedBetweenTwoKeptCrawls) {
    QTemporaryDir past, now, empty;
    const QString file = past.filePath("past.marrowby");
    const auto crawl = [](TVerdict verdict) {
        TRecordStore store;
        store.AddPageRow({1, 0, "http://h/", 5, 200, "text/html", TVerdict::Fine, "200 OK"});
        const bool broken = verdict == TVerdict::Broken;
        store.AddPageRow({2, 1, "http://h/a", 5, broken ? 404 : 200, "text/html", verdict,
                          broken ? "404 Not Found" : "200 OK"});
        store.BeginMerge("http://h/");
        store.AddReference("http://h/a", KIND_PAGE, 1, true, 3);
        store.EndMerge();
        return store;
    };
    ASSERT_EQ(TCrawlFile::Save(crawl(TVerdict::Fine), {}, {}, file.toStdString()), "");
    ASSERT_EQ(TCrawlReport::Write(crawl(TVerdict::Broken), now.path().toStdString()), "");
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), w.File1);
    QTest::keyClick(w.File1, Qt::Key_M);
    TCompareDialog& dialog = *w.CompareView;
    ASSERT_TRUE(dialog.isVisible());
    const auto compare = [&dialog](const QString& older, const QString& newer) {
        const std::pair<QLineEdit*, QString> typed[] = {{dialog.OldEdit, older},
                                                        {dialog.NewEdit, newer}};
        for (const auto& [edit, path] : typed) {
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(edit, path);
        }
        QTest::mouseClick(dialog.CompareButton, Qt::LeftButton);
    };
    compare(empty.path(), now.path());
    EXPECT_TRUE(dialog.Summary->text().contains("pages.csv"))
        << dialog.Summary->text().toStdString();
    EXPECT_EQ(dialog.List->model()->rowCount(), 0);
    compare(file, now.path());
    ASSERT_EQ(dialog.List->model()->rowCount(), 1);
    EXPECT_EQ(Row(dialog.List, 0), (QStringList{"broke", "http://h/a", "fine: 200 OK",
                                                "broken: 404 Not Found", "http://h/"}));
    EXPECT_TRUE(dialog.Summary->text().endsWith("1 broke, 0 fixed, 0 new, 0 gone."))
        << dialog.Summary->text().toStdString();
    compare(now.path(), empty.path() + "/notes.marrowby");
    EXPECT_EQ(dialog.List->model()->rowCount(), 0);
    EXPECT_TRUE(errors.isEmpty());
}

// File -> Open Folder: nothing when cancelled, an error for what is no
// folder, else the folder's served address crawled
// to the end, after which nothing listens there any more.
TEST_F(Window, OpenFolderCrawlsTheFolderFromItsServedAddress) {
    QString chosen;
    w.Hooks.ChooseFolder = [&chosen] { return chosen; };
    w.Hooks.AskToSave = [] { return TSaveChoice::Discard; };
    const struct {
        QString folder;
        int errors;
        bool running;
    } steps[] = {
        {"", 0, false},
        {"/nonexistent/marrowby", 1, false},
        {MARROWBY_SAMPLE_SITE, 1, true},
        {MARROWBY_SAMPLE_SITE, 1, true}, // the crawl under way is dropped, as by New
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.folder.toStdString());
        chosen = step.folder;
        w.OpenFolder1->trigger();
        EXPECT_EQ(errors.size(), step.errors);
        EXPECT_EQ(w.Crawl().Running(), step.running);
    }
    const QString address = w.UrlComboBox->currentText();
    EXPECT_TRUE(address.startsWith("http://127.0.0.1:")) << address.toStdString();
    QElapsedTimer clock;
    clock.start();
    while (boxes.isEmpty() && clock.elapsed() < 30000)
        TMessagePump::ProcessMessages();
    EXPECT_EQ(boxes, QStringList{"탐색이 끝났습니다"});
    EXPECT_EQ(w.GoneListView->model()->rowCount(), 16);
    EXPECT_EQ(w.ObjListView->model()->rowCount(), 5); // the last page's objects

    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(QUrl(address).port()));
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(fd);
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

TEST(WindowClose, FileCloseStopsTheCrawlAndItsWorkers) {
    SilentPort silent;
    TFrmMain w;
    QStringList boxes;
    w.Hooks.MessageBox = [&](const QString& t) { boxes << t; };
    w.show();
    QTest::keyClicks(w.UrlComboBox, QString::fromStdString(silent.url));
    QTest::keyClick(w.UrlComboBox, Qt::Key_Return);
    ASSERT_TRUE(w.Crawl().Downloading()); // waiting for an answer that never comes
    QElapsedTimer clock;
    clock.start();
    w.Close1->trigger(); // File -> Close
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.Crawl().Closing());
    EXPECT_FALSE(w.Crawl().Downloading());
    EXPECT_FALSE(w.Crawl().Handle()->Attached()); // late posts are dropped
    TMessagePump::ProcessMessages();
    EXPECT_TRUE(boxes.isEmpty());
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
    TExceptionGuard::SetErrorHandler([&](const QString& t) { shown << t; });
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    bool after = false;
    QTimer::singleShot(0, [&] { after = true; });
    QElapsedTimer clock;
    clock.start();
    while (!after && clock.elapsed() < 2000)
        TMessagePump::ProcessMessages();
    TExceptionGuard::SetErrorHandler(nullptr);
    EXPECT_EQ(shown, QStringList{"'abc' is not a valid integer value"});
    EXPECT_TRUE(after);
}

} // namespace
