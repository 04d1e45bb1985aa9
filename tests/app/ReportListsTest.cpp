// What a person does with a crawl's results in the window: sort, filter, see
// where an address is used, copy, save; and starting over or stopping in
// every state of a crawl.
#include "PumpUntil.h"
#include "TFrmMain.h"
#include "TOptionsDialog.h"
#include "TStateLabel.h"
#include "TRedirectsDialog.h"
#include "TTestSite.h"
#include "TWhereUsedDialog.h"
#include "platform/TMessagePump.h"
#include "report/TCrawlReport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTemporaryFile>
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

QColor Background(QTreeView* list, int row) {
    return list->model()->index(row, 1).data(Qt::BackgroundRole).value<QBrush>().color();
}

// The verdict filter, chosen with the keyboard: All rows, Broken only,
// Broken and unverifiable.
void Show(TFrmMain& w, int choice) {
    w.VerdictFilterBox->setFocus();
    QTest::keyClick(w.VerdictFilterBox, Qt::Key_Home);
    for (int i = 0; i < choice; ++i)
        QTest::keyClick(w.VerdictFilterBox, Qt::Key_Down);
}

// The last part of each address of a list, in its order.
QStringList Names(QTreeView* list, int column) {
    QStringList names;
    for (const QString& address : Column(list, column))
        names << address.section('/', -1);
    return names;
}

TEST_F(Lists, SortByNumbersColourAndFilterByVerdictAndShowAllObjects) {
    // Four pages linked from the first, of sizes that sort one way as
    // numbers and another as text; one broken, one unverifiable; three
    // objects likewise, the last page using one of them again.
    TCannedServer site;
    ASSERT_TRUE(site.Start());
    const auto page = [&site](const std::string& target, const std::string& status,
                              const std::string& body, std::size_t size) {
        site.Add(target,
                 TTestSite::Page(status, "text/html", body + std::string(size - body.size(), ' ')));
    };
    page("/", "200 OK",
         "<a href=1.html>1</a><a href=2.html>2</a><a href=3.html>3</a><a href=4.html>4</a>"
         "<img src=a.gif><img src=b.gif><img src=c.gif>",
         170);
    page("/1.html", "200 OK", "<p>", 1000);
    page("/2.html", "404 Not Found", "<p>", 5);
    page("/3.html", "500 Internal Server Error", "<p>", 30);
    page("/4.html", "200 OK", "<img src=b.gif>", 90);
    site.Add("/a.gif", TTestSite::Page("200 OK", "image/gif", "GIF89a"));
    site.Add("/b.gif", TTestSite::Page("404 Not Found", "text/html", "none"));
    site.Add("/c.gif", TTestSite::Page("500 Internal Server Error", "text/html", "failed"));
    TCrawlOptions options; // every answer taken as it comes
    options.Retries = 0;
    options.Confirm = false;
    w.SetOptions(options);
    // Sorted by size before the crawl: the rows take their places as they come.
    ClickHeading(w.GoneListView, 3);
    Crawl(site.Url("/"));
    EXPECT_EQ(Column(w.GoneListView, 3), (QStringList{"5", "30", "90", "170", "1000"}));
    ClickHeading(w.GoneListView, 3);
    EXPECT_EQ(Column(w.GoneListView, 3), (QStringList{"1000", "170", "90", "30", "5"}));
    // The first page, as the crawl keys it.
    const QString root = QString::fromStdString(site.Url("")).section('/', -1);
    const QStringList pages{"1.html", root, "4.html", "3.html", "2.html"};
    // Broken red, unverifiable amber, each readable on its background.
    using TModel = TReportModel<TGoneRow>;
    EXPECT_EQ(Column(w.GoneListView, 6),
              (QStringList{"fine", "fine", "fine", "unverifiable", "broken"}));
    EXPECT_EQ(Background(w.GoneListView, 3), TModel::UnverifiableBackground);
    EXPECT_EQ(Background(w.GoneListView, 4), TModel::BrokenBackground);
    EXPECT_FALSE(w.GoneListView->model()->index(0, 1).data(Qt::BackgroundRole).isValid());
    EXPECT_EQ(w.GoneListView->model()->index(4, 1).data(Qt::ForegroundRole).value<QBrush>().color(),
              TModel::BrokenText);

    // The list shows the objects of the last page; "All objects" every
    // object by id, with its total count; the verdict filter every such
    // object of the crawl, as many rows as the status bar counts.
    EXPECT_EQ(w.SummaryLabel->text(), "5 pages, 3 objects, 2 broken, 2 unverifiable, 0 redirected");
    EXPECT_EQ(w.VerdictFilterBox->currentText(), "All rows");
    const struct {
        QCheckBox* clicked;
        int shown; // the verdict filter chosen, -1 as it is
        const char* filter;
        QStringList pages, objects; // as shown
        bool allObjects;            // the box as shown
    } steps[] = {
        {nullptr, -1, "", pages, {"b.gif"}, false},
        {w.AllObjectsCheck, -1, "", pages, {"a.gif", "b.gif", "c.gif"}, true},
        {w.AllObjectsCheck, -1, "", pages, {"b.gif"}, false},
        {nullptr, 2, "", {"3.html", "2.html"}, {"b.gif", "c.gif"}, true},
        {nullptr, 1, "", {"2.html"}, {"b.gif"}, true},
        {nullptr, -1, "B.GIF", {}, {"b.gif"}, true},
        {nullptr, 0, "1.HTML", {"1.html"}, {}, false},
        {nullptr, -1, "", pages, {"b.gif"}, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.shown) + step.filter);
        if (step.clicked)
            QTest::mouseClick(step.clicked, Qt::LeftButton);
        if (step.shown >= 0)
            Show(w, step.shown);
        w.FilterEdit->selectAll();
        QTest::keyClick(w.FilterEdit, Qt::Key_Delete);
        QTest::keyClicks(w.FilterEdit, step.filter);
        EXPECT_EQ(Names(w.GoneListView, 2), step.pages);
        EXPECT_EQ(Names(w.ObjListView, 1), step.objects);
        EXPECT_EQ(w.AllObjectsCheck->isChecked(), step.allObjects);
    }
    EXPECT_EQ(Column(w.ObjListView, 5), QStringList{"2"}); // b.gif, on both pages
}

TEST_F(Lists, WhereUsedCopySaveAndWhyAPageFailed) {
    TTestSite site;
    Crawl(site.Url("/"));
    // The page nobody serves says why.
    const int gone = RowOf(w.GoneListView, site.Gone);
    ASSERT_GE(gone, 0);
    const QString why = w.GoneListView->model()->index(gone, 2).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(why.contains("cut short", Qt::CaseInsensitive)) << why.toStdString();
    // The link to another site: one row, its answer in.
    ASSERT_EQ(w.ExternalListView->model()->rowCount(), 1);
    EXPECT_EQ(RowOf(w.ExternalListView, site.Outside), 0);
    EXPECT_EQ(w.ExternalListView->model()->index(0, 2).data().toString(), "200");

    // Where used: a page linked from two pages, and a broken image, each
    // with the line where it is written.
    auto shown = [&] {
        QStringList rows;
        for (int i = 0; i < w.WhereUsed->Pages->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = w.WhereUsed->Pages->topLevelItem(i);
            rows << item->text(0) + " " + item->text(1) + " " + item->text(2);
        }
        return rows;
    };
    const QString home = QString::fromStdString(site.Home()), a = QString::fromStdString(site.Url("/a.html"));
    DoubleClickRow(w.GoneListView, RowOf(w.GoneListView, site.Url("/b.html")));
    ASSERT_TRUE(w.WhereUsed->isVisible());
    EXPECT_EQ(w.WhereUsed->Pages->headerItem()->text(2), "Line");
    EXPECT_EQ(shown(), (QStringList{"1 " + home + " 2", "2 " + a + " 1"}));
    QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton);
    ClickRow(w.ObjListView, RowOf(w.ObjListView, site.Url("/nope.gif")));
    QTest::keyClick(w.ObjListView, Qt::Key_Return);
    EXPECT_EQ(shown(), (QStringList{"1 " + home + " 4"}));
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

    // One that no browser opens says so.
    w.Hooks.OpenUrl = [](const QUrl&) { return false; };
    w.GoneActions.OpenInBrowser->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QString::fromStdString(site.Home()))) << errors[0].toStdString();
}

// Crawl → Options… from the keyboard: an expression that does not compile is
// refused with its reason; an exclusion, a page limit and robots.txt turned
// off are what the next crawl does, and the check box follows the dialog.
TEST_F(Lists, OptionsFromTheMenuShapeTheNextCrawl) {
    TTestSite site;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), w.Crawl1);
    QTest::keyClick(w.Crawl1, Qt::Key_O);
    TOptionsDialog* const d = w.OptionsDialog;
    ASSERT_TRUE(d->isVisible());
    QTest::mouseClick(d->Exclude, Qt::LeftButton);
    QTest::keyClicks(d->Exclude, ".*/(b\\.html");
    QTest::keyClick(d->Exclude, Qt::Key_Return);
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->Error->isVisible());
    EXPECT_TRUE(
        d->Error->text().startsWith("The exclude expression is not a valid regular expression: "))
        << d->Error->text().toStdString();

    QTest::keyClick(d->Exclude, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(d->Exclude, ".*/b\\.html");
    QTest::mouseClick(d->MaxPages, Qt::LeftButton);
    QTest::keyClick(d->MaxPages, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(d->MaxPages, "2");
    d->Robots->setFocus();
    QTest::keyClick(d->Robots, Qt::Key_Space);
    QTest::mouseClick(d->Ok, Qt::LeftButton);
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(w.RobotsCheck->isChecked());
    EXPECT_TRUE(w.ExternalCheck->isChecked());

    Crawl(site.Url("/"));
    const QString b = QString::fromStdString(site.Url("/b.html"));
    EXPECT_EQ(Column(w.GoneListView, 2),
              (QStringList{QString::fromStdString(site.Home()), b,
                           QString::fromStdString(site.Url("/a.html"))}));
    EXPECT_EQ(w.GoneListView->model()->index(1, 2).data(Qt::ToolTipRole).toString(), "excluded");
    for (const TReceivedRequest& r : site.Server.Requests())
        EXPECT_TRUE(r.Target != "/robots.txt" && r.Target != "/b.html" && r.Target != "/doc.txt")
            << r.Target;
}

// Save Report says where it wrote, or why the folder cannot take it; results
// not saved are never thrown away without asking once.
TEST_F(Lists, SavingSaysWhereAndResultsGoOnlyWhenLetGo) {
    TTestSite site, other;
    Crawl(site.Url("/b.html"));
    const int rows = w.GoneListView->model()->rowCount();
    ASSERT_GT(rows, 0);
    QTemporaryDir folder;
    std::ofstream(folder.filePath("index.html").toStdString()) << "<p>a folder to open</p>";
    w.Hooks.ChooseFolder = [&] { return folder.path(); };
    const struct {
        const char* way;
        std::function<void()> act;
    } ways[] = {
        {"New", [&] { QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier); }},
        {"Open Folder", [&] { QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier); }},
        {"another address",
         [&] {
             w.UrlComboBox->lineEdit()->selectAll();
             QTest::keyClicks(w.UrlComboBox, QString::fromStdString(other.Url("/b.html")));
             QTest::keyClick(w.UrlComboBox, Qt::Key_Return);
         }},
        {"Close", [&] { QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier); }},
    };
    answer = TSaveChoice::Cancel;
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        asked = 0;
        way.act();
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(w.GoneListView->model()->rowCount(), rows);
        EXPECT_TRUE(w.isVisible());
    }
    EXPECT_TRUE(other.Server.Requests().empty());

    // The folder's own reason when it cannot take the report.
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    QString chosen;
    w.Hooks.ChooseReportFolder = [&] { return chosen; };
    const struct {
        QString folder;
        QString reason;
    } refused[] = {
        {"/sys", "/sys: Permission denied"},
        {file.fileName(), "Not a directory"},
        {"/proc", "/proc: "},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.folder.toStdString());
        chosen = row.folder;
        errors.clear();
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(row.reason)) << errors[0].toStdString();
        EXPECT_FALSE(w.OpenReportFolder->isVisible());
    }

    // Saved: the status bar says where, and the folder opens from there.
    QTemporaryDir saved;
    chosen = saved.path();
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    for (const std::string& name : TCrawlReport::FileNames())
        EXPECT_TRUE(QFile::exists(saved.filePath(QString::fromStdString(name)))) << name;
    EXPECT_TRUE(w.StatusBar->currentMessage().contains(saved.path()));
    ASSERT_TRUE(w.OpenReportFolder->isVisible());
    QList<QUrl> opened;
    bool opens = true;
    w.Hooks.OpenUrl = [&](const QUrl& u) {
        opened << u;
        return opens;
    };
    errors.clear();
    for (bool works : {true, false}) {
        opens = works;
        QTest::mouseClick(w.OpenReportFolder, Qt::LeftButton);
    }
    EXPECT_EQ(opened,
              (QList<QUrl>{QUrl::fromLocalFile(saved.path()), QUrl::fromLocalFile(saved.path())}));
    EXPECT_EQ(errors.size(), 1);

    // Saved results go without a question; new ones are asked for, and Save
    // saves them before they go.
    asked = 0;
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(asked, 0);
    Crawl(site.Url("/b.html"));
    QTemporaryDir before;
    chosen = before.path();
    answer = TSaveChoice::Save;
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(QFile::exists(before.filePath("pages.csv")));
    EXPECT_EQ(w.GoneListView->model()->rowCount(), 0);
}

// Save Report asks for the folder and the formats: CSV at first, then the
// formats last chosen; it writes the files of the formats ticked, and only
// those.
TEST_F(Lists, SaveReportWritesTheFormatsTicked) {
    TTestSite site;
    Crawl(site.Url("/b.html"));
    QTemporaryDir saved;
    // The dialog is modal: what a person does in it runs once it is up (or
    // fails after 5 s without one).
    int shown = 0;
    const auto inDialog = [&shown](const std::function<void(QDialog*)>& act) {
        auto* poll = new QTimer;
        auto* waited = new QElapsedTimer;
        waited->start();
        QObject::connect(poll, &QTimer::timeout, [poll, waited, act, &shown] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr && waited->elapsed() < 5000)
                return;
            poll->deleteLater();
            delete waited;
            ASSERT_NE(dialog, nullptr) << "no dialog";
            ++shown;
            act(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        poll->start(10);
    };
    const auto box = [](QDialog* dialog, const QString& text) {
        for (QCheckBox* b : dialog->findChildren<QCheckBox*>())
            if (b->text().remove('&').startsWith(text))
                return b;
        ADD_FAILURE() << "no check box " << text.toStdString();
        return static_cast<QCheckBox*>(nullptr);
    };
    const auto button = [](QDialog* dialog, const QString& text) {
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text().remove('&') == text)
                return b;
        ADD_FAILURE() << "no button " << text.toStdString();
        return static_cast<QPushButton*>(nullptr);
    };
    // A click on the box itself, at the left where it is drawn.
    const auto tick = [](QCheckBox* b) {
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    };
    inDialog([&](QDialog* dialog) {
        EXPECT_TRUE(box(dialog, "CSV")->isChecked());
        EXPECT_FALSE(box(dialog, "HTML")->isChecked());
        tick(box(dialog, "CSV"));
        EXPECT_FALSE(button(dialog, "Save")->isEnabled()); // no format, no folder
        tick(box(dialog, "HTML"));
        tick(box(dialog, "JUnit"));
        QTest::keyClicks(dialog->findChild<QLineEdit*>(), saved.path());
        QTest::mouseClick(button(dialog, "Save"), Qt::LeftButton);
    });
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QFile::exists(saved.filePath("report.html")));
    EXPECT_TRUE(QFile::exists(saved.filePath("junit.xml")));
    EXPECT_FALSE(QFile::exists(saved.filePath("pages.csv")));
    EXPECT_TRUE(w.StatusBar->currentMessage().contains(saved.path()));

    // The choice is remembered; Cancel writes nothing.
    w.activateWindow(); // back to the window, as a person would
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    inDialog([&](QDialog* dialog) {
        EXPECT_FALSE(box(dialog, "CSV")->isChecked());
        EXPECT_TRUE(box(dialog, "HTML")->isChecked());
        EXPECT_TRUE(box(dialog, "JUnit")->isChecked());
        EXPECT_EQ(dialog->findChild<QLineEdit*>()->text(), saved.path());
        tick(box(dialog, "JSON"));
        QTest::mouseClick(button(dialog, "Cancel"), Qt::LeftButton);
    });
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(shown, 2);
    EXPECT_FALSE(QFile::exists(saved.filePath("report.json")));
}

// After the end or a stop, Enter with the start address goes on as before;
// with another one it crawls that, as New then Enter. The address box keeps
// the addresses started, newest first, for the next window too.
TEST_F(Lists, EnterAfterTheEndStartsWhatIsTyped) {
    TTestSite first, second;
    const auto requested = [](TTestSite& site) { return site.Server.Requests().size(); };
    Crawl(first.Url("/b.html"));
    const int rows = w.GoneListView->model()->rowCount();
    const qsizetype ends = boxes.size();
    Crawl(first.Url("/b.html")); // the same: finished again, nothing new
    EXPECT_EQ(boxes.size(), ends + 1);
    EXPECT_EQ(w.GoneListView->model()->rowCount(), rows);
    EXPECT_EQ(asked, 0);
    Crawl(second.Url("/b.html"));
    EXPECT_EQ(asked, 1);
    EXPECT_GT(requested(second), 0u);
    EXPECT_EQ(Column(w.GoneListView, 2).value(0), QString::fromStdString(second.Url("/b.html")));
    EXPECT_EQ(Column(w.GoneListView, 0).value(0), "1");

    // Stopped in the pause: another address is a new crawl too.
    ApplyDelay(60);
    w.UrlComboBox->lineEdit()->selectAll();
    QTest::keyClicks(w.UrlComboBox, QString::fromStdString(second.Url("/")));
    QTest::keyClick(w.UrlComboBox, Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([&] { return w.StateLabel->State() == TCrawlState::Pausing; }))
        << w.StateLabel->text().toStdString() << " " << asked;
    QTest::keyClick(&w, Qt::Key_Escape);
    const std::size_t before = requested(first);
    Crawl(first.Url("/"));
    EXPECT_GT(requested(first), before);
    EXPECT_EQ(Column(w.GoneListView, 2).value(0), QString::fromStdString(first.Home()));

    const QStringList history{QString::fromStdString(first.Url("/")),
                              QString::fromStdString(second.Url("/")),
                              QString::fromStdString(second.Url("/b.html")),
                              QString::fromStdString(first.Url("/b.html"))};
    const auto items = [](const QComboBox* box) {
        QStringList all;
        for (int i = 0; i < box->count(); ++i)
            all << box->itemText(i);
        return all;
    };
    // Newest first; other tests' addresses may follow.
    EXPECT_EQ(items(w.UrlComboBox).mid(0, 4).join(' ').toStdString(),
              history.join(' ').toStdString());
    EXPECT_EQ(items(TFrmMain().UrlComboBox).mid(0, 4).join(' ').toStdString(),
              history.join(' ').toStdString());
    QStringList many;
    for (int i = 0; i < TFrmMain::MaxHistory + 5; ++i)
        many << QString("http://h%1/").arg(i);
    QSettings("marrowby", "marrowby").setValue("history", many);
    EXPECT_EQ(items(TFrmMain().UrlComboBox).join(' ').toStdString(),
              many.mid(0, TFrmMain::MaxHistory).join(' ').toStdString());
}

// The state label through a crawl: the first page, the pause, a stop (the
// pause bar empties), the end, and New.
TEST_F(Lists, TheStateLabelFollowsTheCrawl) {
    TTestSite site;
    EXPECT_EQ(w.StateLabel->text(), "Ready");
    ApplyDelay(60);
    QTest::keyClicks(w.UrlComboBox, QString::fromStdString(site.Url("/")));
    QSet<QString> seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { seen << w.StateLabel->text(); });
    poll.start(0);
    QTest::keyClick(w.UrlComboBox, Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([&] { return w.ProgressBar->value() == 2; }));
    poll.stop();
    EXPECT_TRUE(seen.contains("Crawling — page 1, 0 queued"))
        << QStringList(seen.values()).join('|').toStdString();
    EXPECT_TRUE(seen.contains("Pausing — 59 s"));
    EXPECT_EQ(w.StateLabel->text(), "Pausing — 58 s");
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_EQ(w.StateLabel->text(), "Stopped — Enter goes on");
    EXPECT_EQ(w.ProgressBar->value(), 0);
    Crawl("");
    const QStringList summary = w.SummaryLabel->text().split(' ');
    EXPECT_TRUE(
        w.StateLabel->text().startsWith(QString("Finished — %1 pages, %2 objects, %3 broken in ")
                                            .arg(summary[0], summary[2], summary[4])))
        << w.StateLabel->text().toStdString();
    EXPECT_EQ(w.ProgressBar->value(), 0);
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(w.StateLabel->text(), "Ready");
}

// At the end a 503 is asked again and its row changes in place, while the
// state says so; View -> Redirects lists the link answered through a 301.
TEST_F(Lists, TheEndChecksShowInTheListsAndRedirectsAreListed) {
    TTestSite site;
    site.Server.AddSequence("/busy.html", {TTestSite::Page("503 Service Unavailable", "text/html", ""),
                                           TTestSite::Page("200 OK", "text/html", "<p>here")});
    TCannedResponse moved;
    moved.Raw = "HTTP/1.1 301 Moved Permanently\r\nLocation: /b.html\r\nContent-Length: 0\r\n\r\n";
    site.Server.Add("/old.html", moved);
    site.AddPage("/start.html", "200 OK", "text/html", "<a href=busy.html>b</a><a href=old.html>o</a>");
    TCrawlOptions options;
    options.Retries = 0;
    w.SetOptions(options);
    QSet<QString> seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { seen << w.StateLabel->text(); });
    poll.start(0);
    Crawl(site.Url("/start.html"));
    poll.stop();
    EXPECT_TRUE(seen.contains("Confirming 1 address")) << QStringList(seen.values()).join('|').toStdString();
    EXPECT_EQ(Column(w.GoneListView, 4)[RowOf(w.GoneListView, site.Url("/busy.html"))], "200");
    QTest::keyClick(&w, Qt::Key_V, Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), w.View1);
    QTest::keyClick(w.View1, Qt::Key_R);
    ASSERT_TRUE(w.RedirectsView->isVisible());
    QStringList row;
    for (int c = 0; c < 4; ++c)
        row << Column(w.RedirectsView->List, c).value(0);
    EXPECT_EQ(row, (QStringList{QString::fromStdString(site.Url("/start.html")),
                                QString::fromStdString(site.Url("/old.html")), "301",
                                QString::fromStdString(site.Url("/b.html"))}));
    EXPECT_EQ(w.RedirectsView->List->model()->rowCount(), 1);
}

// A page missing at the crawl is there now: Crawl → Re-check broken, offered
// once the crawl is over, asks for it again and its row turns fine.
TEST_F(Lists, RecheckBrokenAsksAgainAndTheRowTurnsFine) {
    TTestSite site;
    site.AddPage("/start.html", "200 OK", "text/html", "<a href=later.html>l</a>");
    EXPECT_FALSE(w.Recheck1->isEnabled());
    Crawl(site.Url("/start.html"));
    const int row = RowOf(w.GoneListView, site.Url("/later.html"));
    ASSERT_GE(row, 0);
    EXPECT_EQ(w.GoneListView->model()->index(row, 6).data().toString(), "broken");
    EXPECT_TRUE(w.Recheck1->isEnabled());
    EXPECT_TRUE(w.GoneActions.Recheck->isEnabled());

    // Its answer takes a while, so that the state of the re-check is seen.
    TCannedResponse later = TTestSite::Page("200 OK", "text/html", "<p>here");
    later.StallAfter = 0;
    later.Stall = std::chrono::milliseconds(300);
    site.Server.Add("/later.html", later);
    QSet<QString> seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { seen << w.StateLabel->text(); });
    poll.start(0);
    Show(w, 1); // broken only: the row leaves the list once it is fine
    ASSERT_GE(RowOf(w.GoneListView, site.Url("/later.html")), 0);
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), w.Crawl1);
    const qsizetype boxesBefore = boxes.size();
    QTest::keyClick(w.Crawl1, Qt::Key_B);
    ASSERT_TRUE(PumpUntil([&] {
        return RowOf(w.GoneListView, site.Url("/later.html")) < 0 &&
               w.StateLabel->State() == TCrawlState::Finished;
    }));
    poll.stop();
    Show(w, 0);
    EXPECT_EQ(w.GoneListView->model()->index(row, 6).data().toString(), "fine");
    EXPECT_TRUE(seen.contains("Re-checking 1 address"))
        << QStringList(seen.values()).join('|').toStdString();
    EXPECT_EQ(w.GoneListView->model()->index(row, 4).data().toString(), "200");
    EXPECT_TRUE(w.StateLabel->text().contains(", 0 broken")) << w.StateLabel->text().toStdString();
    EXPECT_EQ(boxes.size(), boxesBefore); // the end of a crawl is told once
    EXPECT_TRUE(w.Recheck1->isEnabled());
}

// Keys: Alt+F and F10 open the menu and Esc closes it, the crawl going on;
// Esc alone stops; Enter on a row shows where it is used; Ctrl+Q closes.
TEST_F(Lists, KeysDoWhatPeopleExpect) {
    TTestSite site;
    ApplyDelay(60);
    QTest::keyClicks(w.UrlComboBox, QString::fromStdString(site.Url("/")));
    QTest::keyClick(w.UrlComboBox, Qt::Key_Return);
    ASSERT_TRUE(PumpUntil([&] { return w.StateLabel->State() == TCrawlState::Pausing; }));
    for (const QKeyCombination opens :
         {Qt::AltModifier | Qt::Key_F, QKeyCombination(Qt::Key_F10)}) {
        QTest::keyClick(&w, opens.key(), opens.keyboardModifiers());
        EXPECT_EQ(QApplication::activePopupWidget(), w.File1);
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape); // where the keyboard is
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(w.StateLabel->State(), TCrawlState::Pausing);
        EXPECT_TRUE(w.Crawl().SysTime().isActive());
    }
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_EQ(w.StateLabel->State(), TCrawlState::Stopped);
    ClickRow(w.GoneListView, 0);
    QTest::keyClick(w.GoneListView, Qt::Key_Return);
    EXPECT_TRUE(w.WhereUsed->isVisible());
    w.WhereUsed->hide();
    asked = 0;
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(w.isVisible());
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
        EXPECT_FALSE(w.Crawl().Downloading());
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
