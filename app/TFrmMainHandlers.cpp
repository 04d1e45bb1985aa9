// The handlers of the controls, and what the crawl tells the window.
#include "TFrmMain.h"

#include "TWhereUsedDialog.h"
#include "crawl/TAnsiText.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

void TFrmMain::UrlComboBoxKeyPress(char& key) {
    if (key == 13)
        FCrawl->Enter(UrlComboBox->currentText());
}

void TFrmMain::StartCrawl(const QString& address) {
    UrlComboBox->setEditText(address);
    char enter = 13;
    UrlComboBoxKeyPress(enter);
}

void TFrmMain::StartSiteCrawl(const QString& folder) {
    // One window, one crawl: a crawl under way is dropped first, as by New.
    if (FCrawl->Running())
        New1Click();
    const std::string error = FSite.Start(QFile::encodeName(folder).toStdString());
    if (!error.empty()) {
        ShowErrorBox(QString::fromLocal8Bit(error));
        return;
    }
    StartCrawl(QString::fromStdString(FSite.Url()));
}

void TFrmMain::OpenFolder1Click() {
    const QString folder = Hooks.ChooseFolder
                               ? Hooks.ChooseFolder()
                               : QFileDialog::getExistingDirectory(this, "Open Folder");
    if (!folder.isEmpty())
        StartSiteCrawl(folder);
}

void TFrmMain::SpeedButton1Click() { ApplyDelay(InterEdt->text()); }

void TFrmMain::ApplyDelay(const QString& text) {
    const QString error = FCrawl->ApplyDelay(text);
    if (!error.isEmpty()) {
        ShowErrorBox(error);
        return;
    }
    const int seconds = FCrawl->DelaySeconds();
    InterEdt->setText(QString::number(seconds));
    // A maximum of 0 would turn the bar into a busy indicator.
    ProgressBar->setMaximum(seconds > 0 ? seconds : 1);
}

// Starts over: the crawl stops in whatever state it is and a fresh one takes
// its place, with the delay that was applied.
void TFrmMain::New1Click() {
    const int delay = FCrawl->DelaySeconds();
    const unsigned probes = FCrawl->Probes();
    RetireCrawl();
    FSite.Stop(); // a folder being served goes with its crawl
    FCrawl = std::make_unique<TCrawl>(static_cast<TCrawlListener&>(*this));
    FCrawl->ApplyDelay(QString::number(delay));
    FCrawl->SetProbes(probes);
    ClearView();
}

void TFrmMain::Stop1Click() { FCrawl->Halt(); }

void TFrmMain::Save1Click() {
    const QString dir = Hooks.ChooseReportFolder
                            ? Hooks.ChooseReportFolder()
                            : QFileDialog::getExistingDirectory(this, "Save Report");
    if (dir.isEmpty())
        return;
    const std::string error = TCrawlReport::Write(FCrawl->Records(), dir.toStdString());
    if (!error.empty())
        ShowErrorBox(QString::fromStdString(error));
}

// The crawl may be stopped from a handler nested in one of its own: it is
// deleted from the event loop once none of its handlers is on the stack.
void TFrmMain::RetireCrawl() {
    FCrawl->Stop();
    FRetired.push_back(std::move(FCrawl));
    if (!FSweep) {
        FSweep = new QTimer(this);
        FSweep->setInterval(10);
        connect(FSweep, &QTimer::timeout, this, [this] {
            std::erase_if(FRetired, [](const std::unique_ptr<TCrawl>& c) { return !c->Busy(); });
            if (FRetired.empty())
                FSweep->stop();
        });
    }
    FSweep->start();
}

void TFrmMain::ClearView() {
    FPageModel->Clear();
    FPageObjectModel->Clear();
    FAllObjectModel->Clear();
    FAllObjectRows.clear();
    FBrokenPages = FBrokenObjects = 0;
    for (QLineEdit* count : {EdtGoneList, EdtGoingList, EdtAnchor, EdtInternalLink,
                             EdtExternalLink, EdtObj})
        count->setText("0");
    LabelTCount->setText("0");
    setWindowTitle("FrmMain");
    DLabel->setText("실행 대기 중입니다.");
    ProgressBar->setValue(0);
    StatusBar->clearMessage();
    WhereUsed->hide();
    ShowSummary();
}

void TFrmMain::SetProbes(unsigned concurrency) { FCrawl->SetProbes(concurrency); }

void TFrmMain::Close1Click() { close(); }

void TFrmMain::closeEvent(QCloseEvent* event) {
    FormClose();
    QMainWindow::closeEvent(event);
}

void TFrmMain::FormClose() {
    if (FClosed)
        return;
    FCrawl->Stop();
    FSite.Stop();
    FClosed = true;
}

void TFrmMain::ShowMessageBox(const QString& text) {
    if (Hooks.MessageBox)
        Hooks.MessageBox(text);
    else
        QMessageBox::information(this, windowTitle(), text);
}

void TFrmMain::ShowErrorBox(const QString& text) {
    if (Hooks.ErrorBox)
        Hooks.ErrorBox(text);
    else
        QMessageBox::critical(this, "Error", text);
}

void TFrmMain::Status(const QString& text) { StatusBar->showMessage(text); }

void TFrmMain::Caption(const QString& text) { setWindowTitle(text); }

void TFrmMain::Count(TCrawlCounter counter, std::size_t value) {
    QLineEdit* edit = nullptr;
    switch (counter) {
    case TCrawlCounter::GoneList: edit = EdtGoneList; break;
    case TCrawlCounter::GoingList: edit = EdtGoingList; break;
    case TCrawlCounter::Anchors: edit = EdtAnchor; break;
    case TCrawlCounter::InternalLinks: edit = EdtInternalLink; break;
    case TCrawlCounter::ExternalLinks: edit = EdtExternalLink; break;
    case TCrawlCounter::Objects: edit = EdtObj; break;
    }
    edit->setText(QString::number(value));
}

void TFrmMain::Clock(std::uint32_t seconds) { LabelTCount->setText(QString::number(seconds)); }

void TFrmMain::Pause(const QString& label, int position) {
    DLabel->setText(label);
    ProgressBar->setValue(position);
}

void TFrmMain::Finished(const QString& text) {
    FSite.Stop(); // nothing more will be asked of it
    ShowMessageBox(text);
}

void TFrmMain::Error(const QString& text) { ShowErrorBox(text); }
