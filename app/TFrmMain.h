#pragma once
// The main window: the view of one crawl. It keeps the form's controls and
// their handlers, owns a TCrawl, calls it from the address box, the delay
// box and the menu, and shows what the crawl tells it as its listener.

#include "TReportFilter.h"
#include "TReportModel.h"
#include "TStateLabel.h"
#include "crawl/TCrawl.h"
#include "crawl/TCrawlListener.h"
#include "report/TReport.h"
#include "site/TSiteServer.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QIdentityProxyModel;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QSystemTrayIcon;
class QToolBar;
class QToolButton;
class QTimer;
class QTreeView;
class QUrl;
class TColumnFit;
class TRedirectsDialog;
class TCompareDialog;
class TOptionsDialog;
class TRecorderThread;
class TStateLabel;
class TWhereUsedDialog;

// What to do with results that were not saved, before they go.
enum class TSaveChoice { Save, Discard, Cancel };

// What the window does where it would talk to the user with a box, ask for a
// folder or hand an address to the desktop. The defaults show modal boxes and
// dialogs; the tests replace them.
struct TFrmMainHooks {
    std::function<void(const QString&)> MessageBox;   // information, e.g. the end of a crawl
    std::function<void(const QString&)> ErrorBox;     // an error the user must see
    std::function<QString()> ChooseReportFolder;      // empty: cancelled; the formats stay
                                                      // the session's
    std::function<bool(const QUrl&)> OpenUrl;         // to the desktop; false: nothing opened it
    std::function<QString()> ChooseFolder;            // Open Folder's choice, empty if none
    std::function<TSaveChoice()> AskToSave;           // results not saved are about to go
    std::function<QString()> ChooseCrawlToSave;       // Save Crawl's file, empty if none
    std::function<QString()> ChooseCrawlToOpen;       // Open Crawl's file, empty if none
};

// The actions of a report list's context menu; they act on its selected rows.
struct TListActions {
    QAction* WhereUsed = nullptr;     // "Referenced from…", also a double click
    QAction* CopyAddress = nullptr;   // one address a line
    QAction* OpenInBrowser = nullptr;
    QAction* Recheck = nullptr; // asks again for the rows' addresses
};

class TFrmMain : public QMainWindow, public TCrawlListener {
public:
    explicit TFrmMain(QWidget* owner = nullptr);
    ~TFrmMain() override;

    // Addresses the address box keeps in its list.
    static constexpr int MaxHistory = 20;

    // Event handlers of the controls.
    void UrlComboBoxKeyPress(char& key);
    void New1Click();
    void Stop1Click();
    void Save1Click();
    void OpenFolder1Click();
    // File → Save Crawl…: the crawl as it stands, into a crawl file of the
    // user's choosing (.marrowby added when the name has no ending).
    void SaveCrawl1Click();
    // File → Open Crawl…: a kept crawl shown as it was. A finished one is
    // listed; one that stopped or was cut short is read back to where it
    // stopped, and Enter goes on with its queue, written on into that file.
    void OpenCrawl1Click();
    // File → Compare…: opens the compare dialog, where two kept crawls (crawl
    // files or report folders), the older first, are typed or chosen and
    // what changed between them is listed.
    void Compare1Click();
    void Close1Click();
    void Options1Click();
    // Crawl → Re-check broken: the broken and unverifiable addresses of the
    // crawl, or those given (as the crawl holds them), are asked again once
    // it has finished or stopped.
    void Recheck1Click(const std::vector<std::string>& addresses = {});
    void SpeedButton1Click();
    void FormClose();

    // Applies a delay as if it had been typed into the delay box and applied.
    void ApplyDelay(const QString& text);
    // How crawls treat servers and how far they go: the window's one set of
    // options, which the check boxes and Crawl → Options… show and change.
    // A crawl takes them at its first Enter.
    void SetOptions(const TCrawlOptions& options);
    const TCrawlOptions& Options() const noexcept { return FOptions; }
    // Types an address into the address box and presses Enter.
    void StartCrawl(const QString& address);
    // Serves folder on 127.0.0.1 and crawls it from its root, the served
    // address in the address box. The server stops when the crawl ends.
    void StartSiteCrawl(const QString& folder);

    // What the crawl tells the window.
    void Status(const QString& text) override;
    void Caption(const QString& text) override;
    void PageRow(const TGoneRow& row) override;
    void ObjectsCleared() override;
    void ObjectRow(const TObjectRow& row) override;
    void ExternalRow(const TExternalRow& row) override;
    void PageRowChanged(std::size_t at, const TGoneRow& row) override;
    void ObjectChanged(const TObjectRow& row) override;
    void Confirming(std::size_t addresses) override;
    void Rechecking(std::size_t addresses) override;
    void Count(TCrawlCounter counter, std::size_t value) override;
    void Clock(std::uint32_t seconds) override;
    void Pause(const QString& label, int position) override;
    void PageStarted(std::size_t page, std::size_t queued) override;
    void Pausing(std::uint32_t secondsLeft) override;
    void Finished(const QString& text) override;
    void Reopened() override;
    void Error(const QString& text) override;

    const TCrawl& Crawl() const noexcept { return *FCrawl; }

    TFrmMainHooks Hooks;

    // Controls, named as in the form.
    QToolBar* ToolBar1 = nullptr;
    QComboBox* UrlComboBox = nullptr;
    QLineEdit* InterEdt = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter3 = nullptr;
    QTreeView* GoneListView = nullptr;
    QTreeView* ObjListView = nullptr;
    QCheckBox* AllObjectsCheck = nullptr;
    // The verdict filter: "All rows", "Broken only", "Broken and unverifiable".
    QComboBox* VerdictFilterBox = nullptr;
    // The links to other sites, and the two options beside the lists: check
    // them, obey robots.txt (for the next crawl).
    QTreeView* ExternalListView = nullptr;
    QCheckBox* ExternalCheck = nullptr;
    QCheckBox* RobotsCheck = nullptr;
    QLineEdit* FilterEdit = nullptr;
    QLabel* SummaryLabel = nullptr;
    TStateLabel* StateLabel = nullptr;
    QToolButton* OpenReportFolder = nullptr; // after Save Report: opens its folder
    TListActions GoneActions;
    TListActions ObjActions;
    TWhereUsedDialog* WhereUsed = nullptr;
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
    QMenu* File1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Stop1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* OpenFolder1 = nullptr;
    QAction* OpenCrawl1 = nullptr;
    QAction* SaveCrawl1 = nullptr;
    QAction* Compare1 = nullptr;
    TCompareDialog* CompareView = nullptr;
    QAction* Close1 = nullptr;
    QMenu* Crawl1 = nullptr;
    QAction* Options1 = nullptr;
    QAction* Recheck1 = nullptr;
    TOptionsDialog* OptionsDialog = nullptr;
    // View → Redirects…: the redirects to fix.
    QMenu* View1 = nullptr;
    QAction* Redirects1 = nullptr;
    TRedirectsDialog* RedirectsView = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    std::vector<QIcon> KindImageList;
    QAction* CheckImg = nullptr;
    QAction* CheckObj = nullptr;
    QAction* CheckAnchor = nullptr;

protected:
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
    void CreateStatusBar();
    void LoadHistory();
    void RememberAddress(const QString& address);

    void CreateListActions(QTreeView* list, TListActions& actions);
    void ShowMessageBox(const QString& text);
    void ShowErrorBox(const QString& text);
    void ShowWhereUsed(const QModelIndex& index);
    QStringList SelectedAddresses(QTreeView* list) const;
    void ShowSummary();
    void ClearView();
    void RetireCrawl();
    // New without asking: a fresh crawl with the chosen delay.
    void StartOver();
    // True when the results may go: there are none, they were saved, or the
    // user saved or discarded them when asked.
    bool ResultsMayGo();
    // Save Report: asks for a folder and writes the report into it. True
    // when written.
    bool SaveReport();
    bool OpenInDesktop(const QUrl& url);
    // The pause bar at empty, once the crawl is not going on.
    void PauseBarEmpty();
    // The crawl about to start is recorded as it goes in a file of its own
    // (FAutoFile); a crawl that cannot be is told once and goes on unkept.
    void StartRecording();
    // Writes the report's tables and the queue into the crawl's file, at a
    // halt or the end. Empty, or what went wrong.
    std::string KeepTables(bool finished);
    // Writes the crawl into the file at path. Empty, or what went wrong.
    std::string SaveCrawlTo(const QString& path);
    // Opens the crawl file at path in place of the crawl shown, once its
    // results may go; false when it is refused (the reason is shown) or they
    // may not, and the crawl shown stays.
    bool OpenCrawl(const QString& path);
    // The lists and counts of a finished crawl read from its file, once
    // the crawl holds its records.
    void ShowRecords();
    // The lists show no rows.
    void ClearLists();
    // The filter of the lists has changed.
    void Refilter();
    // The rows the lists hold back for their batch are shown now: the crawl
    // has come to a halt.
    void ShowListsNow();
    // The rows the lists show, read from the crawl's records: a page row, a
    // link elsewhere, the object at a place of FObjects.
    TGoneRow PageAt(std::size_t place) const;
    TExternalRow ExternalAt(std::size_t place) const;
    TObjectRow ObjectAt(std::size_t place) const;
    // The place of an object in FObjects; its size when it is not there.
    std::size_t ObjectPlace(std::int32_t id) const;
    // The rows of the pages, every object and the links elsewhere with verdict.
    std::size_t RowsJudged(TVerdict verdict) const;
    // The crawl has ended (a re-check after the end included).
    bool CrawlEnded() const;
    // The crawl is going: its automatic file is removed, unless it has
    // results nobody saved or let go; those, and a file the user opened,
    // keep the crawl as at a stop.
    void DropAutoFile();

    // Re-check is offered in the menu and the lists once a crawl is over.
    void EnableRecheck(TCrawlState state);
    void BackFromRecheck();
    // The crawl file the crawl is recorded in as it goes; null: none. It
    // outlives its crawl, which only points to it.
    std::unique_ptr<TRecorderThread> FRecorder;
    std::unique_ptr<TCrawl> FCrawl;
    // The file FRecorder writes when the window chose it (under the
    // program's data folder, "crawls/"); empty when it is a file the user
    // opened. It goes with its crawl (DropAutoFile).
    QString FAutoFile;
    // What crawl is shown: start address, times, options as given. Save
    // Report, Save Crawl and the crawl file have it.
    TReport FAbout;
    // The crawl shown was read whole from a finished crawl file.
    bool FLoaded = false;
    // A crawl that could not be recorded has been told once.
    bool FToldUnkept = false;
    // The folder of the last crawl file saved or opened.
    QString FCrawlFolder;
    // The state a re-check goes back to at its end: finished or stopped.
    TCrawlState FBeforeRecheck = TCrawlState::Finished;
    // Stopped crawls, deleted once none of their handlers is on the stack,
    // each before the recorder it wrote to.
    struct TRetired {
        std::unique_ptr<TRecorderThread> Recorder;
        std::unique_ptr<TCrawl> Crawl;
    };
    std::vector<TRetired> FRetired;
    QTimer* FSweep = nullptr;
    TSiteServer FSite;
    // The folder FSite was last asked to serve.
    QString FSiteFolder;
    bool FClosed = false;

    TReportModel<TGoneRow>* FPageModel = nullptr;
    TReportModel<TObjectRow>* FPageObjectModel = nullptr; // the page merged last
    TReportModel<TObjectRow>* FAllObjectModel = nullptr;  // every object, by id
    // The object list shows one of the two.
    QIdentityProxyModel* FObjectSwitch = nullptr;
    TReportModel<TExternalRow>* FExternalModel = nullptr;
    // Every object told, in the order of their ids: its entry in the crawl's
    // records. The objects of the page merged last, as places in it.
    std::vector<const TAddressEntry*> FObjects;
    std::vector<std::size_t> FPageObjects;
    TReportFilter FFilter;
    QTimer* FSummaryLater = nullptr;
    TColumnFit* FPageFit = nullptr;
    TColumnFit* FObjectFit = nullptr;
    TColumnFit* FExternalFit = nullptr;
    std::uint32_t FSeconds = 0; // the crawl's clock
    // The address of the Enter that started the crawl; empty before it.
    QString FStartAddress;
    // Rows have come in since the last Save Report.
    bool FUnsaved = false;
    QString FReportFolder;
    std::vector<std::string> FReportFormats{"csv"}; // Save Report's, for the session
    // The delay applied by the user (delay box or --delay); without one a
    // local folder is crawled with no pause.
    int FDelay = 60;
    // What the next crawl takes at its first Enter.
    TCrawlOptions FOptions;
    bool FDelayChosen = false;
    // "All objects" as the user left it while the verdict filter implies it.
    bool FAllObjectsChosen = false;
};

// The one window of the program.
extern TFrmMain* FrmMain;
