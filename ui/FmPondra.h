#pragma once
#include <QMainWindow>
#include <QMap>
#include <QUrl>

#include <functional>
#include <memory>

#include "EngineConfig.h"
#include "MailFolders.h"
#include "Prompt.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class TBoxMount;
class TDetailsPane;
class TExListView;
class TExStatusBar;
class TFileListAdapter;
class TExSysTray;
class TQtDispatcher;
class TQtPrompt;

// The main window: the mailbox list, the file list of the open folder, the search results,
// the commands with their enabled states, the status bar, the tray icon, the layout kept in
// Tavrel.ini, and the owner of the mailbox collection and its worker.
class QMessageBox;
class TFmPondra : public QMainWindow {
    Q_OBJECT
public:
    struct TSettings {
        TSettings(bool withWorker = true, IPrompt* prompt = nullptr,
                  std::function<void(TEngineConfig&)> adjustEngine = {})
            : WithWorker(withWorker), Prompt(prompt), AdjustEngine(std::move(adjustEngine)) {}
        bool WithWorker; // tests build the window without a worker
        IPrompt* Prompt; // questions go here instead of to message boxes (tests)
        // Changes the worker's settings after Tavrel.ini was read (tests shorten the waits).
        std::function<void(TEngineConfig&)> AdjustEngine;
    };
    explicit TFmPondra(const TSettings& settings);
    TFmPondra() : TFmPondra(TSettings{}) {}
    ~TFmPondra() override;

    // The start-up password was cancelled: the program ends with 0, nothing is saved.
    bool StartupCancelled() const { return startupCancelled_; }
    TMailFolders& Folders() { return *folders_; }

    // Status and command states.
    void IdleUpdate();
    void OnProgress(TMailFolder* box, int32_t position, int32_t maximum);
    void OnOperationDone(TMailFolder* box);
    // A failed operation with a reason the user has not seen yet: told in one error box
    // (objectName "msgFailures") that lists every failure until it is closed. The box is
    // not modal: a question open would hold the worker, and the queue goes on.
    void OnOperationFailed(TMailFolder* box, const TExOp& op);
    void ShowFailures();
    QStringList failures_;
    QMessageBox* failureBox_ = nullptr;
    void RefreshOpsView();
    void RefreshMailboxList();
    int PendingCount() const;
    QString PanelText(int index) const;
    void SetStatusText(const QString& text);

    void LoadLayout();
    void SaveLayout();

    // Start-up and closing.
    void AskStartupPassword();
    void ShowWindowFromLayout();
    void BringToFront(const QByteArray& activationToken = {});
    void HandleHelp(QWidget* focus);
    static int HelpContextOf(QWidget* w);
    // How the manual is opened (tests see the URL instead).
    static std::function<void(const QUrl&)> OpenManual;
    static QString ManualFile();

    QAction* Action(const char* name) const { return actions_.value(name); }
    int ViewStyle() const;
    void SetViewStyle(int style);
    QProgressBar* ProgressBar() const { return pbStatus_; }
    TExSysTray* Tray() const { return tray_; }
    QTreeWidget* OpsView() const { return lvOps_; }
    QListWidget* MailsView() const { return lvMails_; }
    TExListView* FilesView() const { return lvFiles_; }
    TExListView* SearchView() const { return lvSearch_; }
    TDetailsPane* DetailsPane() const { return pbDetails_; }
    QComboBox* AddressBox() const { return cbbAddress_; }
    QPushButton* StopButton() const { return btnStop_; }
    QWidget* SearchPanel() const { return pnlSearch_; }
    bool ClipboardUsable() const;
    bool Searching() const { return searching_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void BuildWidgets();
    void FreeCollection();
    void BuildActions();
    void BuildMenus();
    QAction* MakeAction(const char* name, const QString& caption, const QString& hint,
                        const QKeySequence& shortcut = {});
    void OnCloseQuery();
    void Quit();
    void Show();
    void About();
    void GotoWeb();
    void Options();
    void UpdateTray();
    // Browsing the open mailbox: listing, moving about, the details of the selection.
    void EnterSelected();
    void RefreshMailbox();
    void GoUp();
    void GoBack();
    void GoForward();
    void GoToAddress();
    void UpdateDetails();
    // The mailbox list's commands.
    TMailFolder* SelectedMailbox() const;
    void AddMailbox();
    void MailboxProperties();
    void DeleteMailbox();
    void ClearClipboardUnlessFileList();
    // Search.
    void SearchCommand();
    void StopSearch() { searching_ = false; }
    void OpenContainingFolder();
    void PlaceStopButton();
    // The file commands on the open mailbox.
    void NewFolderCommand();
    void DeleteCommand();
    void DownloadCommand();
    void CopyCommand();
    void PasteCommand();
    void PropertiesCommand();
    // Drag-over and drop events of lvFiles' viewport; true when handled.
    bool FilesDropEvent(QEvent* e);

public:
    // Lists the open mailbox's current folder (or `path`) into lvFiles and the address box.
    void ListCurrent(const std::string& path = {});
    // Opens the mailbox selected in lvMails (at once, or after its structure is read).
    void OpenMailbox();
    // Fills lvSearch with the open mailbox's entries whose name holds `text`; serves the
    // window's events before every entry and ends early when Stop Search is pressed.
    void RunSearch(const QString& text);
    // Local files and folders dropped onto lvFiles: onto a folder row (into it) or empty
    // space (row -1: the current folder), never onto a file row. Rows in view order.
    bool AcceptsDrop(int row, const std::vector<std::string>& names) const;
    void DropFiles(int row, const std::vector<std::string>& names);
    // A placeholder ("*" + entry path) dropped on a local folder: downloaded, then copied.
    void DropNotice(const QByteArray& source, const QByteArray& dest);
    // A drag-out of lvFiles begins with these captions: each becomes the entry's cache path
    // when it is local, else its placeholder ("*" + entry path, a folder's with a final
    // backslash), and DragAllLocal tells whether all were local. No mailbox: cancelled.
    void DragFiles(std::vector<std::string>& files, bool& cancel);
    // A drag-out taken by another program: notice 1 when an entry was not local.
    void DragDropped();
    bool DragAllLocal() const { return dragAllLocal_; }
    // The open mailbox is mounted while it is open (for the drag-out of entries that are not
    // local): called after anything that may change which one is open. The mount's folder
    // ("" while nothing is mounted), and why none can be made ("" when one can).
    void SyncMount();
    std::string MountedAt() const;
    const std::string& MountUnavailable() const { return mountUnavailable_; }
    // Whether a name lies in the mount: the window's thread must never open one (reading it
    // waits for this very thread), so drops, pastes and drop notices refuse them.
    bool InMount(const std::string& path) const;
    bool HoldsMountPath(const std::vector<std::string>& names) const;
    // A request of the mount's file system, on this thread (later while a question is open).
    void RunMountTask(const std::function<void()>& task);

private:
    bool SelectionHasBusyEntry() const;
    bool SelectionAllowsPaste() const;

    std::unique_ptr<TQtDispatcher> dispatcher_; // outlives the collection's worker
    std::unique_ptr<TQtPrompt> prompt_;
    std::unique_ptr<TMailFolders> folders_;
    bool startupCancelled_ = false;
    bool searching_ = false;
    bool dragAllLocal_ = false;
    bool toldPlaceholderDrag_ = false;
    std::unique_ptr<TBoxMount> mount_;
    std::string mountPoint_;
    std::string mountUnavailable_;

    QMap<QString, QAction*> actions_;
    QActionGroup* viewGroup_ = nullptr;
    QToolBar* tlb1_ = nullptr;
    QWidget* pnlAddr_ = nullptr;
    QComboBox* cbbAddress_ = nullptr;
    QPushButton* btnGo_ = nullptr;
    QWidget* pnlLeft_ = nullptr;
    QListWidget* lvMails_ = nullptr;
    TDetailsPane* pbDetails_ = nullptr;
    QSplitter* splLeft_ = nullptr;
    QSplitter* splSearch_ = nullptr;
    TExListView* lvFiles_ = nullptr;
    QWidget* pnlSearch_ = nullptr;
    QWidget* pnlSearchBar_ = nullptr;
    QToolButton* btnSearchToggle_ = nullptr;
    TExListView* lvSearch_ = nullptr;
    QPushButton* btnStop_ = nullptr;
    int searchRun_ = 0; // counts searches; a search started inside another ends the outer
    QTreeWidget* lvOps_ = nullptr;
    TExStatusBar* ExStatMain_ = nullptr;
    QProgressBar* pbStatus_ = nullptr;
    TExSysTray* tray_ = nullptr;
    QMenu* pmTray_ = nullptr;
    QMenu *pmFiles_ = nullptr, *pmMails_ = nullptr, *pmSearch_ = nullptr;
    QTimer* idle_ = nullptr;
    std::unique_ptr<TFileListAdapter> files_;
    mutable bool clipboardKnown_ = false, clipboardUsable_ = false;
};
