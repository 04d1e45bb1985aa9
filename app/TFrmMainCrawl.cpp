// The crawl controller: Enter, the choice and start of each page, a failed
// download, the clock and the pause between pages.
#include "TFrmMain.h"

#include "TAnsiText.h"
#include "download/THttpContentDown.h"
#include "platform/TIdURI.h"
#include "platform/TMessagePump.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

namespace {

// The typed address in the form that resolution gives an absolute link: with
// a scheme ("http://" when none was typed) and without one trailing "/".
std::string NormalizeTypedAddress(const QString& typed) {
    QString address = typed.trimmed();
    if (!address.startsWith("http://", Qt::CaseInsensitive) &&
        !address.startsWith("https://", Qt::CaseInsensitive))
        address.prepend("http://");
    if (address.endsWith('/'))
        address.chop(1);
    return TAnsiText::FromTyped(address);
}

} // namespace

void TFrmMain::UrlComboBoxKeyPress(char& key) {
    if (key != 13)
        return;
    if (UrlComboBox->currentText().trimmed().isEmpty())
        return;
    FElapsedSeconds = 0;
    LabelTCount->setText("0");
    SysTime->start();
    FRunning = true;
    FStartHost = TIdURI(NormalizeTypedAddress(UrlComboBox->currentText())).Host();
    // A page already on its way finishes first; its end leads to the next one.
    if (!FPageInFlight)
        Perform(WM_NAVIGATION_START);
}

void TFrmMain::StartCrawl(const QString& address) {
    UrlComboBox->setEditText(address);
    char enter = 13;
    UrlComboBoxKeyPress(enter);
}

void TFrmMain::SysTimeTimer() {
    ++FElapsedSeconds;
    LabelTCount->setText(QString::number(FElapsedSeconds));
}

void TFrmMain::SpeedButton1Click() { ApplyDelay(InterEdt->text()); }

void TFrmMain::ApplyDelay(const QString& text) {
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok, 10);
    if (!ok) {
        ShowErrorBox(QString("'%1' is not a valid integer value").arg(text));
        return;
    }
    if (seconds < 0) {
        ShowErrorBox(QString("'%1' is not a valid delay: give 0 or more seconds").arg(text));
        return;
    }
    InterEdt->setText(QString::number(seconds));
    FDelaySeconds = seconds;
    // A maximum of 0 would turn the bar into a busy indicator.
    ProgressBar->setMaximum(seconds > 0 ? seconds : 1);
}

void TFrmMain::OnNavigationStart(TMessage&) {
    TMessagePump::ProcessMessages();
    if (FClosing)
        return;
    SetStatus("On Navigation Start");
    if (!FRunning || FPageInFlight)
        return;
    DelayTimer->stop();
    if (FGoneList.empty() && FGoingList.empty()) {
        const std::string address = NormalizeTypedAddress(UrlComboBox->currentText());
        auto record = std::make_unique<_TObjectType>();
        record->Url = address;
        record->Kind = KIND_PAGE;
        record->Id = ++FLastRecordId;
        FPageMap[address] = std::move(record);
        // Known from the start, so a link back to it counts on its record.
        FInternalLinkCount.emplace(address, 0);
        FGoneList.push_back(address);
        StartDownload(address);
        return;
    }
    if (FGoingList.empty()) {
        DelayTimer->stop();
        FinishCrawl();
        return;
    }
    const std::string address = FGoingList.front();
    FGoneList.push_back(address);
    FGoingList.pop_front();
    StartDownload(address);
}

void TFrmMain::StartDownload(const std::string& address) {
    FFinished = false;
    FPageInFlight = true;
    FDownloader = std::make_unique<THttpContentDown>(address, FHandle);
    FDownloader->Resume();
    setWindowTitle(TAnsiText::ToDisplay(address) + " 페이지를 탐색 중입니다");
}

void TFrmMain::FinishCrawl() {
    FFinished = true;
    Perform(WM_NAVIGATION_END); // the clock stops at the crawl's length
    ShowMessageBox("탐색이 끝났습니다");
}

void TFrmMain::OnNavigationEnd(TMessage&) {
    SetStatus("On Navigation End");
    SysTime->stop();
    TMessagePump::ProcessMessages();
}

void TFrmMain::OnContentFileDownLoadStart(TMessage&) {
    SetStatus("On Content File DownLoad Start");
    TMessagePump::ProcessMessages();
}

void TFrmMain::OnContentFileDownLoadFailed(TMessage& message) {
    auto* failed = reinterpret_cast<THttpContentDown*>(message.LParam);
    if (FClosing || failed == nullptr || failed != FDownloader.get())
        return; // not the download of the page in flight
    failed->WaitFor(); // the thread may still be finishing after its post
    AddGoneRow({-1, 0, failed->GetUrl(), -1, 404, "NotFound"});
    SetStatus(TAnsiText::ToDisplay(failed->GetUrl()) + " On Content File DownLoad Failed");
    failed->Clear();
    FDownloader.reset();
    FPageInFlight = false;
    ScheduleNavigationStart(); // at once, without the pause
}

void TFrmMain::OnParseStart(TMessage&) {
    SetStatus("Parsing을 시작 되었습니다.");
    QThread::msleep(100);
    TMessagePump::ProcessMessages();
}

void TFrmMain::OnThreadDataMoveStart(TMessage&) {
    TMessagePump::ProcessMessages();
    if (FClosing)
        return;
    SetStatus("쓰레드 Data를 메인으로 옮깁니다.");
    Perform(WM_DATA_MOVE_END);
}

void TFrmMain::OnThreadDataMoveEnd(TMessage&) {
    TMessagePump::ProcessMessages();
    if (FClosing)
        return;
    SetStatus("쓰레드 Data를 메인으로 옮기는 작업이 끝났습니다.");
    StartPause();
}

// The page is done; the next one follows after the pause.
void TFrmMain::StartPause() {
    FPageInFlight = false;
    if (FDelaySeconds == 0)
        ScheduleNavigationStart();
    else
        DelayTimer->start();
}

// The next page always starts from the event loop, never nested in the
// handlers of the page before, so the stack does not grow with the crawl.
void TFrmMain::ScheduleNavigationStart() {
    QTimer::singleShot(0, this, [this] {
        if (!FClosing)
            Perform(WM_NAVIGATION_START);
    });
}

void TFrmMain::DelayTimerTimer() {
    ++FDelayTick;
    if (FDelaySeconds <= 0 || FDelayTick % static_cast<std::uint32_t>(FDelaySeconds) == 0) {
        TMessagePump::ProcessMessages();
        if (FClosing)
            return;
        FDelayTick = 1;
        DLabel->setText("탐색을 재개 합니다");
        ProgressBar->setValue(0);
        Perform(WM_NAVIGATION_START);
        return;
    }
    ProgressBar->setValue(static_cast<int>(FDelayTick));
    DLabel->setText(QString("%1 / %2").arg(FDelayTick).arg(FDelaySeconds));
}

void TFrmMain::AddGoneRow(const TGoneRow& row) {
    FGoneRows.push_back(row);
    auto* item = new QTreeWidgetItem(
        QStringList{QString::number(row.Id), QString::number(row.Depth),
                    TAnsiText::ToDisplay(row.Url), QString::number(row.Size),
                    QString::number(row.Status), TAnsiText::ToDisplay(row.Type)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    GoneListView->addTopLevelItem(item);
    if (Hooks.PageRow)
        Hooks.PageRow(row);
}
