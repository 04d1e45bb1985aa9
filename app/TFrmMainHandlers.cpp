// The handlers of the controls, and what the crawl tells the window.
#include "TFrmMain.h"

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
#include <QTreeWidget>

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
    // One window, one crawl: the engine goes on with its queue at the next
    // Enter, so a second site cannot start here.
    if (FCrawl->Running()) {
        ShowErrorBox("A crawl has already begun in this window.");
        return;
    }
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

void TFrmMain::PageRow(const TGoneRow& row) {
    auto* item = new QTreeWidgetItem(
        QStringList{QString::number(row.Id), QString::number(row.Depth),
                    TAnsiText::ToDisplay(row.Url), QString::number(row.Size),
                    QString::number(row.Status), TAnsiText::ToDisplay(row.Type)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    GoneListView->addTopLevelItem(item);
}

void TFrmMain::ObjectsCleared() { ObjListView->clear(); }

void TFrmMain::ObjectRow(const _TObjectType& record) {
    auto* item = new QTreeWidgetItem(QStringList{
        QString::number(record.Id), TAnsiText::ToDisplay(record.Url),
        QString::number(record.Size), QString::number(record.Status),
        TAnsiText::ToDisplay(record.ContentType), QString::number(record.Count)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    ObjListView->addTopLevelItem(item);
}

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
