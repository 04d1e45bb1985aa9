// File → Save Crawl… and Open Crawl…: a crawl kept and shown again as it
// was, its broken asked again; one stopped midway taken up to the same end
// as a crawl never stopped; and a file that is no crawl refused with
// nothing lost.
#include "PumpUntil.h"
#include "TFrmMain.h"
#include "TStateLabel.h"
#include "TTestSite.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <fstream>

namespace {

// A window as a person has it, the boxes it shows and the files chosen in
// its dialogs kept by the test.
struct TWindow {
    TFrmMain w;
    QStringList boxes, errors;
    QString saveAs, open; // the files the dialogs choose
    int asked = 0;

    TWindow() {
        w.Hooks.MessageBox = [this](const QString& t) { boxes << t; };
        w.Hooks.ErrorBox = [this](const QString& t) { errors << t; };
        w.Hooks.AskToSave = [this] {
            ++asked;
            return TSaveChoice::Discard;
        };
        w.Hooks.ChooseCrawlToSave = [this] { return saveAs; };
        w.Hooks.ChooseCrawlToOpen = [this] { return open; };
        TCrawlOptions options; // no waits for what fails on the test site
        options.Retries = 0;
        options.Confirm = false;
        w.SetOptions(options);
        w.show();
    }
    void Delay(int seconds) {
        w.InterEdt->selectAll();
        QTest::keyClicks(w.InterEdt, QString::number(seconds));
        QTest::mouseClick(w.SpeedButton1, Qt::LeftButton);
    }
    // Types url (none: keeps the one there) and presses Return.
    void Enter(const std::string& url) {
        w.UrlComboBox->setFocus();
        if (!url.empty()) {
            w.UrlComboBox->lineEdit()->selectAll();
            QTest::keyClicks(w.UrlComboBox, QString::fromStdString(url));
        }
        QTest::keyClick(w.UrlComboBox, Qt::Key_Return);
    }
    // Crawls url with no pause to its end.
    void Crawl(const std::string& url) {
        Delay(0);
        const qsizetype before = boxes.size();
        Enter(url);
        ASSERT_TRUE(PumpUntil([&] { return boxes.size() > before; }));
    }
    // File, then the entry of key, from the keyboard.
    void File(Qt::Key key) {
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
        ASSERT_EQ(QApplication::activePopupWidget(), w.File1);
        QTest::keyClick(w.File1, key);
    }
};

QStringList Rows(QTreeView* list) {
    QStringList rows;
    const QAbstractItemModel* model = list->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        rows << cells.join('|');
    }
    return rows;
}

// What the window shows of its crawl, a line each: the pages, every
// object, the links elsewhere and the summary; as it goes (not read whole
// from a finished file), the objects of the page merged last and the counts
// but the clock too.
std::string Shown(TFrmMain& w, bool asItGoes = true) {
    QStringList shown = Rows(w.GoneListView);
    if (asItGoes)
        shown << "--" << Rows(w.ObjListView);
    QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton);
    shown << "--" << Rows(w.ObjListView);
    QTest::mouseClick(w.AllObjectsCheck, Qt::LeftButton);
    shown << "--" << Rows(w.ExternalListView) << "--";
    if (asItGoes)
        for (QLineEdit* count : {w.EdtGoneList, w.EdtGoingList, w.EdtAnchor, w.EdtInternalLink,
                                 w.EdtExternalLink, w.EdtObj})
            shown << count->objectName() + "=" + count->text();
    shown << w.SummaryLabel->text();
    return shown.join('\n').toStdString();
}

int KeptFiles() {
    return static_cast<int>(
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/crawls")
            .entryList({"*.marrowby"})
            .size());
}

TEST(CrawlFiles, ASavedCrawlOpensAsItWas) {
    TTestSite site;
    QTemporaryDir dir;
    TWindow first;
    first.Crawl(site.Url("/"));
    ASSERT_GT(first.w.GoneListView->model()->rowCount(), 5);
    first.saveAs = dir.filePath("kept"); // the ending is added
    first.File(Qt::Key_A);
    ASSERT_TRUE(first.errors.isEmpty()) << first.errors.join('\n').toStdString();
    ASSERT_TRUE(QFile::exists(dir.filePath("kept.marrowby")));

    TWindow second;
    second.open = dir.filePath("kept.marrowby");
    second.File(Qt::Key_W);
    ASSERT_TRUE(second.errors.isEmpty()) << second.errors.join('\n').toStdString();
    EXPECT_EQ(Shown(second.w, false), Shown(first.w, false));
    EXPECT_EQ(second.w.StateLabel->State(), TCrawlState::Finished);
    EXPECT_EQ(second.w.EdtGoneList->text(), "6"); // every page begun
    EXPECT_EQ(second.w.EdtGoingList->text(), "0");
    EXPECT_EQ(second.w.UrlComboBox->currentText().toStdString(), site.Home());
    EXPECT_TRUE(second.w.Recheck1->isEnabled()); // what failed may be asked again

    // Crawl → Re-check broken asks the kept crawl's broken again: the page
    // missing then is there now.
    site.AddPage("/missing.html", "200 OK", "text/html", "<p>here");
    const auto verdictOfMissing = [&] {
        const QAbstractItemModel* model = second.w.GoneListView->model();
        for (int r = 0; r < model->rowCount(); ++r)
            if (model->index(r, 2).data().toString().toStdString() == site.Url("/missing.html"))
                return model->index(r, 6).data().toString();
        return QString();
    };
    EXPECT_EQ(verdictOfMissing(), "broken");
    second.w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second.w));
    QTest::keyClick(&second.w, Qt::Key_C, Qt::AltModifier);
    ASSERT_EQ(QApplication::activePopupWidget(), second.w.Crawl1);
    QTest::keyClick(second.w.Crawl1, Qt::Key_B);
    EXPECT_TRUE(PumpUntil([&] {
        return verdictOfMissing() == "fine" &&
               second.w.StateLabel->State() == TCrawlState::Finished;
    })) << verdictOfMissing().toStdString();

    // Saved, the crawl's own file goes with it; the file saved stays.
    const int kept = KeptFiles();
    first.File(Qt::Key_N);
    EXPECT_EQ(first.asked, 0);
    EXPECT_EQ(KeptFiles(), kept - 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("kept.marrowby")));
}

TEST(CrawlFiles, ACrawlStoppedMidwayGoesOnToTheEndOfOneNeverStopped) {
    TTestSite site;
    TWindow whole;
    whole.Crawl(site.Url("/"));

    // Stopped in the pause after the first page, saved.
    TWindow stopped;
    stopped.Delay(60);
    stopped.Enter(site.Url("/"));
    ASSERT_TRUE(PumpUntil([&] { return stopped.w.StateLabel->State() == TCrawlState::Pausing; }));
    QTest::keyClick(&stopped.w, Qt::Key_Escape);
    QTemporaryDir dir;
    stopped.saveAs = dir.filePath("midway.marrowby");
    stopped.File(Qt::Key_A);
    ASSERT_TRUE(stopped.errors.isEmpty()) << stopped.errors.join('\n').toStdString();
    const auto asked = [&site](const char* target) {
        int n = 0;
        for (const TReceivedRequest& r : site.Server.Requests())
            n += r.Target == target;
        return n;
    };
    const int firstPages = asked("/");

    // Opened, it is read back to where it stopped without asking anything;
    // Enter goes on from there.
    TWindow reopened;
    reopened.open = dir.filePath("midway.marrowby");
    reopened.File(Qt::Key_W);
    ASSERT_TRUE(PumpUntil([&] { return reopened.w.StateLabel->State() == TCrawlState::Stopped; }))
        << reopened.w.StateLabel->text().toStdString();
    EXPECT_TRUE(reopened.errors.isEmpty()) << reopened.errors.join('\n').toStdString();
    EXPECT_EQ(Shown(reopened.w), Shown(stopped.w));
    EXPECT_EQ(asked("/"), firstPages);
    reopened.Crawl("");
    EXPECT_TRUE(reopened.errors.isEmpty()) << reopened.errors.join('\n').toStdString();
    EXPECT_EQ(Shown(reopened.w), Shown(whole.w));
    EXPECT_EQ(asked("/"), firstPages);
    // The file opened was written on to the end.
    TWindow later;
    later.open = reopened.open;
    later.File(Qt::Key_W);
    EXPECT_EQ(later.w.StateLabel->State(), TCrawlState::Finished);
    EXPECT_EQ(Shown(later.w, false), Shown(whole.w, false));
}

TEST(CrawlFiles, AFileThatIsNoCrawlIsRefusedAndNothingIsLost) {
    TTestSite site;
    TWindow w;
    w.Crawl(site.Url("/b.html"));
    const std::string shown = Shown(w.w);
    QTemporaryDir dir;
    w.open = dir.filePath("notes.marrowby");
    std::ofstream(w.open.toStdString()) << "not a crawl\n";
    w.File(Qt::Key_W);
    ASSERT_EQ(w.errors.size(), 1);
    EXPECT_TRUE(w.errors[0].contains("notes.marrowby")) << w.errors[0].toStdString();
    EXPECT_EQ(w.asked, 0);
    EXPECT_EQ(Shown(w.w), shown);
    EXPECT_EQ(w.w.StateLabel->State(), TCrawlState::Finished);
    QFile notes(w.open);
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    EXPECT_EQ(notes.readAll(), "not a crawl\n");
}

} // namespace
