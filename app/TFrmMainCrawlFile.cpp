// A crawl kept in a file: every crawl the window runs is recorded as it
// goes, and File → Save Crawl… and Open Crawl… keep it and take it up again.
#include "TFrmMain.h"

#include "TCrawlAbout.h"
#include "TStateLabel.h"
#include "store/TCrawlFile.h"
#include "store/TRecorderThread.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>

#include <unistd.h>

namespace {

std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString Decoded(const std::string& text) {
    return QString::fromLocal8Bit(text);
}

// The folder the window records its crawls in.
QString AutoFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/crawls";
}

// A name no other crawl of this or another window takes: the time, the
// process and a number.
QString AutoName() {
    static int made = 0;
    return QString("crawl-%1-%2-%3%4")
        .arg(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss"))
        .arg(getpid())
        .arg(++made)
        .arg(TCrawlFile::Suffix);
}

bool SameFile(const QString& a, const std::string& b) {
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(Decoded(b)).canonicalFilePath();
}

} // namespace

void TFrmMain::StartRecording() {
    std::string error;
    const QString folder = AutoFolder();
    const QString path = folder + "/" + AutoName();
    if (QDir().mkpath(folder))
        FRecorder = TRecorderThread::Create(Encoded(path), FCrawl->Options(), FAbout, error);
    else
        error = Encoded(folder) + ": cannot be made";
    if (!FRecorder) {
        if (!std::exchange(FToldUnkept, true))
            ShowErrorBox("The crawl goes on, but it is not kept as it goes: " + Decoded(error));
        return;
    }
    FAutoFile = path;
    FCrawl->SetJournal(FRecorder.get());
}

std::string TFrmMain::KeepTables(bool finished) {
    if (!FRecorder)
        return {};
    FAbout.Finished = finished ? TCrawlAbout::Now() : std::string();
    const auto& going = FCrawl->GoingList();
    const std::vector<std::string> queue(going.begin(), going.end());
    return FRecorder->WriteTables(FCrawl->Records(), queue, FAbout, finished);
}

void TFrmMain::DropAutoFile() {
    if (FRecorder && (FUnsaved || FAutoFile.isEmpty())) {
        // A file the user opened, or results nobody saved or let go (the
        // window closed from the terminal): the crawl stays in its file, as
        // at a stop.
        FCrawl->Halt();
        KeepTables(CrawlEnded());
    } else if (!FAutoFile.isEmpty()) {
        for (const char* side : {"", "-journal", "-wal", "-shm"})
            QFile::remove(FAutoFile + side);
    }
    FAutoFile.clear();
}

bool TFrmMain::CrawlEnded() const {
    const TCrawlState state = StateLabel->State();
    return state == TCrawlState::Finished ||
           (state == TCrawlState::Rechecking && FBeforeRecheck == TCrawlState::Finished);
}

void TFrmMain::SaveCrawl1Click() {
    if (!FRecorder && FPageModel->Rows() == 0) {
        Status("Nothing to save: no crawl yet");
        return;
    }
    QString path = Hooks.ChooseCrawlToSave
                       ? Hooks.ChooseCrawlToSave()
                       : QFileDialog::getSaveFileName(this, "Save Crawl", FCrawlFolder,
                                                      "Crawl files (*.marrowby)");
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += TCrawlFile::Suffix;
    if (const std::string error = SaveCrawlTo(path); !error.empty()) {
        ShowErrorBox(Decoded(error));
        return;
    }
    FUnsaved = false;
    FCrawlFolder = QFileInfo(path).absolutePath();
    Status(QString("Crawl saved in %1").arg(QDir::toNativeSeparators(path)));
}

std::string TFrmMain::SaveCrawlTo(const QString& path) {
    if (!FRecorder) // read whole from its file: written whole
        return TCrawlFile::Save(FCrawl->Records(), FCrawl->Options(), FAbout, Encoded(path));
    std::string error = KeepTables(CrawlEnded());
    if (!error.empty())
        return error;
    if (SameFile(path, FRecorder->Path())) {
        // The file the crawl is written in: it is whole already, and the
        // user's now, never to be removed.
        FAutoFile.clear();
        return {};
    }
    return FRecorder->CopyTo(Encoded(path));
}

void TFrmMain::OpenCrawl1Click() {
    const QString path =
        Hooks.ChooseCrawlToOpen
            ? Hooks.ChooseCrawlToOpen()
            : QFileDialog::getOpenFileName(this, "Open Crawl",
                                           FCrawlFolder.isEmpty() ? AutoFolder() : FCrawlFolder,
                                           "Crawl files (*.marrowby);;All files (*)");
    if (!path.isEmpty())
        OpenCrawl(path);
}

bool TFrmMain::OpenCrawl(const QString& path) {
    if (FRecorder && SameFile(path, FRecorder->Path())) {
        Status(QString("%1 holds the crawl shown").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    TCrawlOptions options;
    TReport about;
    std::string error;
    std::unique_ptr<TRecorderThread> recorder =
        TRecorderThread::Open(Encoded(path), options, about, error);
    if (!recorder) {
        ShowErrorBox(Decoded(error));
        return false;
    }
    TRecordStore records;
    if (recorder->Finished()) {
        recorder.reset(); // all is in its tables
        TCrawlOptions kept;
        TReport times;
        error = TCrawlFile::Load(Encoded(path), records, kept, times);
        if (!error.empty()) {
            ShowErrorBox(Decoded(error));
            return false;
        }
    }
    // Only a file that opens asks whether the results shown may go.
    if (!ResultsMayGo())
        return false;
    StartOver();
    FCrawlFolder = QFileInfo(path).absolutePath();
    FAbout = std::move(about);
    FStartAddress = QString::fromStdString(FAbout.Start);
    UrlComboBox->setEditText(FStartAddress);
    FCrawl->SetOptions(options);
    const int delay = TCrawlAbout::Delay(FAbout, FDelay);
    FCrawl->ApplyDelay(QString::number(delay));
    InterEdt->setText(QString::number(delay));
    ProgressBar->setMaximum(delay > 0 ? delay : 1);
    if (!recorder) {
        FCrawl->Load(std::move(records));
        ShowRecords();
        FLoaded = true;
        Status(QString("Crawl opened from %1").arg(QDir::toNativeSeparators(path)));
        return true;
    }
    // A folder's crawl goes on with the folder served where it was.
    if (const std::string error = TCrawlAbout::ServeAgain(FAbout, FSite); !error.empty())
        ShowErrorBox(Decoded(error));
    FRecorder = std::move(recorder);
    FCrawl->SetJournal(FRecorder.get());
    // Read back at once: the crawl's pause is for the pages it goes on with.
    FCrawl->ApplyDelay("0");
    StateLabel->Crawling();
    FCrawl->Reopen(FStartAddress);
    return true;
}

void TFrmMain::Reopened() {
    ShowListsNow();
    FCrawl->ApplyDelay(InterEdt->text());
    StateLabel->Stopped();
    PauseBarEmpty();
    FUnsaved = false; // all of it is in the file opened
    Status("Crawl opened: Enter goes on with its queue");
}
