#pragma once
// The main window: its controls, the state of one crawl, and the handlers that
// drive the crawl from message to message.
//
// The implementation is split by concern:
//   TFrmMain.cpp          construction, controls and layout
//   TFrmMainDispatch.cpp  routing of crawl messages to their handlers
//   TFrmMainClose.cpp     closing the window
//   TFrmMainCrawl.cpp     the crawl controller: Enter, next page, clock, pause
//   TFrmMainHandoff.cpp   a downloaded page goes to the parser
//   TFrmMainMerge.cpp     the parser's results go into the crawl state
//   TFrmMainProbe.cpp     the object probe

#include "common/Messages.h"
#include "common/TContentStruct.h"
#include "common/TObjectType.h"
#include "TCrawlReport.h"
#include "platform/TWindowHandle.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class THtmlParser;
class THttpContentDown;

// What the window does where it would talk to the user with a box. The
// defaults show modal boxes; the headless run and the tests replace them.
struct TFrmMainHooks {
    std::function<void(const QString&)> MessageBox;   // information, e.g. the end of a crawl
    std::function<void(const QString&)> ErrorBox;     // an error the user must see
    std::function<void(const TGoneRow&)> PageRow;     // a row was added to GoneListView
};

class TFrmMain : public QMainWindow {
public:
    explicit TFrmMain(QWidget* owner = nullptr);
    ~TFrmMain() override;

    // Routes one crawl message to its handler. False for a number the crawl
    // does not handle, which then gets Qt's default handling.
    bool Dispatch(TMessage& message);

    // Event handlers of the controls.
    void UrlComboBoxKeyPress(char& key);
    void SysTimeTimer();
    void Close1Click();
    void SpeedButton1Click();
    void FormClose();
    void DelayTimerTimer();

    // Probes one object address for its status, size and type. Queued
    // messages and input are handled while it waits, so the window may be
    // closing when it returns.
    _TContent_Struct GetObjData(const std::string& address);

    // Message handlers.
    void OnParseStart(TMessage& message);
    void OnParserEnd(TMessage& message);
    void OnNavigationStart(TMessage& message);
    void OnNavigationEnd(TMessage& message);
    void OnContentFileDownLoadStart(TMessage& message);
    void OnContentFileDownLoadEnd(TMessage& message);
    void OnContentFileDownLoadFailed(TMessage& message);
    void OnThreadDataMoveStart(TMessage& message);
    void OnThreadDataMoveEnd(TMessage& message);

    // Sends a message to this window synchronously, as the crawl does to move
    // from step to step.
    std::intptr_t Perform(unsigned msg, std::uintptr_t wParam = 0, std::uintptr_t lParam = 0);

    // Applies a delay as if it had been typed into the delay box and applied.
    void ApplyDelay(const QString& text);
    // Types an address into the address box and presses Enter.
    void StartCrawl(const QString& address);

    TFrmMainHooks Hooks;

    // The reports' view of the crawl so far.
    TCrawlReportData ReportData() const { return {FGoneRows, FObjectMap, FMergedPages}; }

    // The address of this window for workers' messages.
    const HWND& Handle() const noexcept { return FHandle; }

    // Controls, named as in the form.
    QToolBar* ToolBar1 = nullptr;
    QComboBox* UrlComboBox = nullptr;
    QLineEdit* InterEdt = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter3 = nullptr;
    QTreeWidget* GoneListView = nullptr;
    QTreeWidget* ObjListView = nullptr;
    QLabel* LabelTime = nullptr;
    QLabel* LabelTCount = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* EdtGoneList = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* EdtGoingList = nullptr;
    QLabel* AnchorLabel = nullptr;
    QLineEdit* EdtAnchor = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* EdtInternalLink = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* EdtExternalLink = nullptr;
    QLabel* ObjLabel = nullptr;
    QLineEdit* EdtObj = nullptr;
    QLabel* DLabel = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QStatusBar* StatusBar = nullptr;
    QTimer* SysTime = nullptr;
    QTimer* DelayTimer = nullptr;
    QMenu* File1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Close1 = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    std::vector<QIcon> KindImageList;
    QAction* CheckImg = nullptr;
    QAction* CheckObj = nullptr;
    QAction* CheckAnchor = nullptr;

    // Crawl state.
    bool FRunning = false;
    std::uint32_t FElapsedSeconds = 0;
    std::string FStartHost;
    std::vector<std::string> FGoneList;
    std::deque<std::string> FGoingList;
    TRecordMap FPageMap;
    TRecordMap FObjectMap;
    std::int32_t FLastRecordId = 0;
    std::unique_ptr<THttpContentDown> FDownloader;
    std::unique_ptr<THtmlParser> FParser;
    bool FClosing = false;
    std::int32_t FDelaySeconds = 0;
    std::uint32_t FDelayTick = 0;

    // Merge state.
    std::vector<_TObjectType*> FParsedAnchors;
    std::vector<_TObjectType*> FParsedObjects;
    std::map<std::string, std::uint32_t> FInternalLinkCount;
    std::map<std::string, std::uint32_t> FObjectCount;
    std::int32_t FLastObjectId = 0;
    std::int32_t FInternalLinks = 0;
    std::int32_t FExternalLinks = 0;

    // The reports' records: visited-pages rows, and pages in merge order with
    // what the merge found on each.
    std::vector<TGoneRow> FGoneRows;
    std::vector<TMergedPage> FMergedPages;

    // A page is between its navigation start and the end of its merge.
    bool FPageInFlight = false;
    // The crawl has ended: the queue was empty at a navigation start.
    bool FFinished = false;
    // The page being parsed and merged.
    std::string FParsingPage;
    // Set on close; a probe in progress gives up when it sees it.
    std::atomic<bool> FProbeAbort{false};

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateControls();
    void CreateToolBar();
    void CreateReportLists();
    void CreateCountPanel(QWidget* panel);
    void CreateMenuAndTray();
    void CreateImages();

    void ShowMessageBox(const QString& text);
    void ShowErrorBox(const QString& text);
    void SetStatus(const QString& text);
    void StartDownload(const std::string& address);
    void ScheduleNavigationStart();
    void AddGoneRow(const TGoneRow& row);
    void StartPause();
    void FinishCrawl();
    bool MergeObjects();
    bool MergeAnchors();
    _TObjectType& RecordDownloadedPage(const std::string& url, const _TContent_Struct& header);

    HWND FHandle;
    bool FClosed = false;
};

// The one window of the program.
extern TFrmMain* FrmMain;
