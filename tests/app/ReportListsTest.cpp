// What a person does with a crawl's results in the window: sort, filter, see
// where an address is used, copy, save; and starting over or stopping in
// every state of a crawl.
#include "PumpUntil.h"
#include "TFrmMain.h"
#include "TStateLabel.h"
#include "TTestSite.h"
#include "TWhereUsedDialog.h"
#include "platform/TMessagePump.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

QStringList Column(QTreeView* list, int column) {
    QStringList texts;
    for (int r = 0; r < list->model()->rowCount(); ++r)
        texts << list->model()->index(r, column).data().toString();
    return texts;
}

// The crawl's worker threads still running: downloads, parsers, probes.
int Workers() {
    int n = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        comm.open(QIODevice::ReadOnly);
        const QByteArray name = comm.readAll().trimmed();
        n += name == "HttpContentDown" || name == "HtmlParser" || name == "ObjectProbe";
    }
    return n;
}

struct Lists : ::testing::Test {
    TFrmMain w;
    QStringList boxes, errors;
    int asked = 0; // Save / Discard / Cancel questions
    TSaveChoice answer = TSaveChoice::Discard;
    void SetUp() override {
        w.Hooks.MessageBox = [this](const QString& t) { boxes << t; };
        w.Hooks.ErrorBox = [this](const QString& t) { errors << t; };
        w.Hooks.AskToSave = [this] {
            ++asked;
            return answer;
        };
        w.show();
    }
    void ClickHeading(QTreeView* list, int column) {
        QHeaderView* h = list->header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(column) + 5, h->height() / 2));
    }
    void ClickRow(QTreeView* list, int row, Qt::KeyboardModifiers modifiers = {}) {
        const QRect cell = list->visualRect(list->model()->index(row, 2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, cell.center());
    }
    void DoubleClickRow(QTreeView* list, int row) {
        const QPoint at = list->visualRect(list->model()->index(row, 2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at); // the first press of the two
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }
    void ApplyDelay(int seconds) {
        w.InterEdt->selectAll();
        QTest::keyClicks(w.InterEdt, QString::number(seconds));
        QTest::mouseClick(w.SpeedButton1, Qt::LeftButton);
    }
    // Types the address (none: keeps the one there), applies no pause,
    // presses Return and waits for the end.
    void Crawl(const std::string& url) {
        ApplyDelay(0);
        w.UrlComboBox->setFocus();
        if (!url.empty()) {
            w.UrlComboBox->lineEdit()->selectAll();
            QTest::keyClicks(w.UrlComboBox, QString::fromStdString(url));
        }
        const qsizetype before = boxes.size();
        QTest::keyClick(w.UrlComboBox, Qt::Key_Return);
        ASSERT_TRUE(PumpUntil([&] { return boxes.size() > before; }));
    }
    int RowOf(QTreeView* list, const std::string& url) {
        return static_cast<int>(Column(list, list == w.GoneListView ? 2 : 1).indexOf(QString::fromStdString(url)));
    }
};

_TObjectType Object(int id, const char* url, int status, int count) {
    _TObjectType r;
    r.Id = id;
    r.Url = url;
    r.Status = status;
    r.Count = count;
    return r;
}

TEST_F(Lists, SortByNumbersFilterBrokenRowsAndShowAllObjects) {
    const int sizes[] = {30, 5, 1000, 200}, statuses[] = {200, 404, 200, 500};
    for (int i = 0; i < 4; ++i)
        w.PageRow({i + 1, 1, "http://h/" + std::to_string(i), sizes[i], statuses[i], "text/html"}, "");
    ClickHeading(w.GoneListView, 3); // Size: as numbers, not as text
    EXPECT_EQ(Column(w.GoneListView, 3), (QStringList{"5", "30", "200", "1000"}));
    ClickHeading(w.GoneListView, 3);
    EXPECT_EQ(Column(w.GoneListView, 3), (QStringList{"1000", "200", "30", "5"}));
    w.PageRow({5, 1, "http://h/5", 100, 200, "text/html"}, ""); // goes to its sorted place
    EXPECT_EQ(Column(w.GoneListView, 3), (QStringList{"1000", "200", "100", "30", "5"}));
    QTest::mouseClick(w.BrokenOnlyCheck, Qt::LeftButton);
    EXPECT_EQ(Column(w.GoneListView, 0), (QStringList{"4", "2"}));
    QTest::mouseClick(w.BrokenOnlyCheck, Qt::LeftButton);
    EXPECT_EQ(w.GoneListView->model()->rowCount(), 5);

    // Two pages: the list shows the objects of the last one; "All objects"
    // every object by id, with its total count.
    w.ObjectsCleared();
    w.ObjectRow(Object(1, "http://h/a.gif", 200, 1), "");
    w.ObjectRow(Object(2, "http://h/b.gif", 404, 1), "the server answered 404");
    w.ObjectsCleared();
    w.ObjectRow(Object(2, "http://h/b.gif", 404, 2), "the server answered 404");
    EXPECT_EQ(Column(w.ObjListView, 0), (QStringList{"2"}));
    QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton);
    EXPECT_EQ(Column(w.ObjListView, 0), (QStringList{"1", "2"}));
    EXPECT_EQ(Column(w.ObjListView, 5), (QStringList{"1", "2"}));
    EXPECT_EQ(w.SummaryLabel->text(), "5 pages, 2 objects, 3 broken");
}

TEST_F(Lists, WhereUsedCopySaveAndWhyAPageFailed) {
    TTestSite site;
    Crawl(site.Url("/"));
    // The page nobody serves says why.
    const int gone = RowOf(w.GoneListView, site.Gone);
    ASSERT_GE(gone, 0);
    const QString why = w.GoneListView->model()->index(gone, 2).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(why.contains("connect", Qt::CaseInsensitive)) << why.toStdString();

    // Where used: a page linked from two pages, and a broken image.
    DoubleClickRow(w.GoneListView, RowOf(w.GoneListView, site.Url("/b.html")));
    ASSERT_TRUE(w.WhereUsed->isVisible());
    EXPECT_EQ(w.WhereUsed->Pages->topLevelItemCount(), 2);
    EXPECT_EQ(w.WhereUsed->Pages->topLevelItem(0)->text(1), QString::fromStdString(site.Home()));
    EXPECT_EQ(w.WhereUsed->Pages->topLevelItem(1)->text(0), "2");
    QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton);
    ClickRow(w.ObjListView, RowOf(w.ObjListView, site.Url("/nope.gif")));
    w.ObjActions.WhereUsed->trigger();
    EXPECT_EQ(w.WhereUsed->Pages->topLevelItemCount(), 1);
    EXPECT_EQ(w.WhereUsed->Pages->topLevelItem(0)->text(0), "1");
    EXPECT_TRUE(w.WhereUsed->Reason->text().contains("404"));

    // Copy and open several rows.
    ClickRow(w.GoneListView, 0);
    ClickRow(w.GoneListView, 1, Qt::ControlModifier);
    w.GoneActions.CopyAddress->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString::fromStdString(site.Home() + "\n" + site.Url("/a.html")));
    QList<QUrl> opened;
    w.Hooks.OpenUrl = [&](const QUrl& u) {
        opened << u;
        return true;
    };
    w.GoneActions.OpenInBrowser->trigger();
    EXPECT_EQ(opened.size(), 2);

    // Save Report: the files of --report; a failure names the file.
    QTemporaryDir tmp;
    w.Hooks.ChooseReportFolder = [&] { return tmp.path(); };
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    for (const char* name : TCrawlReport::FileNames)
        EXPECT_TRUE(QFile::exists(tmp.filePath(name))) << name;
    std::filesystem::remove(tmp.filePath("referrers.csv").toStdString());
    std::filesystem::create_directory(tmp.filePath("referrers.csv").toStdString());
    w.Save1->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("referrers.csv")) << errors[0].toStdString();
}

// Each state of a crawl, reached on a local site with slow parts.
struct TState {
    const char* name;
    const char* start; // the first page
    int delay;
    std::function<bool(const TFrmMain&, TTestSite&)> reached;
};

std::vector<TState> States() {
    auto requested = [](TTestSite& site, const char* target) {
        for (const TReceivedRequest& r : site.Server.Requests())
            if (r.Target == target)
                return true;
        return false;
    };
    return {
        {"download", "/slow.html", 0,
         [=](const TFrmMain&, TTestSite& s) { return requested(s, "/slow.html"); }},
        {"parse", "/big.html", 0,
         [](const TFrmMain& w, TTestSite&) { return w.Crawl().Parser() != nullptr; }},
        {"probe", "/big.html", 0,
         [=](const TFrmMain&, TTestSite& s) { return requested(s, "/slow.gif"); }},
        {"pause", "/", 60,
         [](const TFrmMain& w, TTestSite&) { return w.Crawl().DelayTimer().isActive(); }},
        {"finished", "/", 0,
         [](const TFrmMain& w, TTestSite&) {
             return w.Crawl().Running() && !w.Crawl().SysTime().isActive();
         }},
    };
}

void AddSlowParts(TTestSite& site) {
    TCannedResponse slow = TTestSite::Page("200 OK", "text/html", "<a href=a.html>a</a>");
    slow.StallAfter = 0;
    slow.Stall = std::chrono::seconds(20);
    site.Server.Add("/slow.html", slow);
    TCannedResponse slowGif = TTestSite::Page("200 OK", "image/gif", "GIF89a");
    slowGif.StallAfter = 0;
    slowGif.Stall = std::chrono::seconds(20);
    site.Server.Add("/slow.gif", slowGif);
    std::string big = "<img src=slow.gif>";
    for (int i = 0; i < 20000; ++i)
        big += "<a href=p" + std::to_string(i % 500) + ".html>x</a>";
    site.AddPage("/big.html", "200 OK", "text/html", big);
}

// Crawls the site from the state's first page and, as soon as the state is
// reached, presses key from inside whatever handler runs then. The rows
// shown at that moment.
int PressWhen(Lists& t, const TState& state, TTestSite& site, QKeyCombination key) {
    t.ApplyDelay(state.delay);
    t.w.UrlComboBox->lineEdit()->selectAll();
    QTest::keyClicks(t.w.UrlComboBox, QString::fromStdString(site.Url(state.start)));
    bool pressed = false;
    int rows = 0;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!pressed && state.reached(t.w, site)) {
            pressed = true;
            QTest::keyClick(&t.w, key.key(), key.keyboardModifiers());
            rows = t.w.GoneListView->model()->rowCount();
        }
    });
    poll.start();
    QTest::keyClick(t.w.UrlComboBox, Qt::Key_Return);
    EXPECT_TRUE(PumpUntil([&] { return pressed; }, 30000));
    return rows;
}

TEST_F(Lists, NewStartsAFreshCrawlInEveryState) {
    for (const TState& state : States()) {
        SCOPED_TRACE(state.name);
        TTestSite site;
        AddSlowParts(site);
        PressWhen(*this, state, site, Qt::ControlModifier | Qt::Key_N);
        EXPECT_EQ(w.GoneListView->model()->rowCount(), 0);
        EXPECT_EQ(w.ObjListView->model()->rowCount(), 0);
        EXPECT_EQ(w.windowTitle(), "FrmMain");
        EXPECT_EQ(w.DLabel->text(), "실행 대기 중입니다.");
        EXPECT_EQ(w.EdtGoneList->text(), "0");
        EXPECT_EQ(w.LabelTCount->text(), "0");
        EXPECT_TRUE(w.StatusBar->currentMessage().isEmpty());
        EXPECT_TRUE(PumpUntil([&] { return Workers() == 0; }, 2000)) << "workers left behind";
        // The next Enter crawls afresh, ids from 1.
        Crawl(site.Url("/b.html"));
        EXPECT_EQ(Column(w.GoneListView, 0).value(0), "1");
        EXPECT_EQ(w.Crawl().LastObjectId(), 1);
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    }
}

TEST_F(Lists, StopKeepsWhatWasFoundAndEnterGoesOn) {
    for (const TState& state : States()) {
        SCOPED_TRACE(state.name);
        TTestSite site;
        AddSlowParts(site);
        const int rows = PressWhen(*this, state, site, QKeyCombination(Qt::Key_Escape));
        PumpUntil([] { return false; }, 200);
        EXPECT_FALSE(w.Crawl().SysTime().isActive());
        EXPECT_EQ(w.Crawl().Downloader(), nullptr);
        EXPECT_EQ(w.Crawl().Parser(), nullptr);
        EXPECT_EQ(w.GoneListView->model()->rowCount(), rows); // kept, and nothing more
        // Enter goes on with the queue, now without the slow parts; a page
        // stopped while downloading is fetched then.
        site.Server.Add("/slow.html", TTestSite::Page("200 OK", "text/html", ""));
        site.Server.Add("/slow.gif", TTestSite::Page("200 OK", "image/gif", "GIF89a"));
        Crawl("");
        EXPECT_GE(w.GoneListView->model()->rowCount(), std::max(rows, 1));
        EXPECT_EQ(Column(w.GoneListView, 0).value(0), "1");
        QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    }
}

} // namespace
