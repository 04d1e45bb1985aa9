#pragma once
// The main window: the view of one crawl. It keeps the form's controls and
// their handlers, owns a TCrawl, calls it from the address box, the delay
// box and the menu, and shows what the crawl tells it as its listener.

#include "crawl/TCrawl.h"
#include "crawl/TCrawlListener.h"
#include "crawl/TSiteServer.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>
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
class QToolBar;
class QToolButton;
class QTreeWidget;

// What the window does where it would talk to the user with a box. The
// defaults show modal boxes; the tests replace them.
struct TFrmMainHooks {
    std::function<void(const QString&)> MessageBox;   // information, e.g. the end of a crawl
    std::function<void(const QString&)> ErrorBox;     // an error the user must see
    std::function<QString()> ChooseFolder;            // Open Folder's choice, empty if none
};

class TFrmMain : public QMainWindow, public TCrawlListener {
public:
    explicit TFrmMain(QWidget* owner = nullptr);
    ~TFrmMain() override;

    // Event handlers of the controls.
    void UrlComboBoxKeyPress(char& key);
    void OpenFolder1Click();
    void Close1Click();
    void SpeedButton1Click();
    void FormClose();

    // Applies a delay as if it had been typed into the delay box and applied.
    void ApplyDelay(const QString& text);
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
    void ObjectRow(const _TObjectType& record) override;
    void Count(TCrawlCounter counter, std::size_t value) override;
    void Clock(std::uint32_t seconds) override;
    void Pause(const QString& label, int position) override;
    void Finished(const QString& text) override;
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
    QMenu* File1 = nullptr;
    QAction* New1 = nullptr;
    QAction* OpenFolder1 = nullptr;
    QAction* Close1 = nullptr;
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

    void ShowMessageBox(const QString& text);
    void ShowErrorBox(const QString& text);

    std::unique_ptr<TCrawl> FCrawl;
    TSiteServer FSite;
    bool FClosed = false;
};

// The one window of the program.
extern TFrmMain* FrmMain;
