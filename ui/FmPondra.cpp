#include "FmPondra.h"

#include "AppDir.h"
#include "EngineConfig.h"
#include "DetailsPane.h"
#include "ExListView.h"
#include "ExStatusBar.h"
#include "ExSysTray.h"
#include "FileListAdapter.h"
#include "FmFileProp.h"
#include "FmMailProp.h"
#include "FmOptions.h"
#include "IniFile.h"
#include "MailThread.h"
#include "QtDispatcher.h"
#include "BoxMount.h"
#include "QtPrompt.h"
#include "ExImageList.h"
#include "Registry.h"
#include "UiText.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QTreeWidget* MakeReport(QWidget* parent, const char* name, const QStringList& columns) {
    auto* view = new QTreeWidget(parent);
    view->setObjectName(name);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setHeaderLabels(columns);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setAllColumnsShowFocus(true);
    for (int i = 0; i < columns.size(); ++i) view->header()->resizeSection(i, 100);
    return view;
}
} // namespace

TFmPondra::TFmPondra(const TSettings& settings) {
    // 1. The window and its components, view style Details, address bar shown, search
    //    panel hidden.
    setObjectName("TFmPondra");
    setProperty("helpContext", 2);
    Q_INIT_RESOURCE(resources); // the icons live in this static library
    setWindowIcon(QIcon(":/tavrel.svg"));
    BuildWidgets();
    BuildActions();
    BuildMenus();
    SetViewStyle(3);

    // 2. The program's path, recorded only where the key already exists.
    {
        TRegistry reg;
        const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Kelmora\\Tavrel";
        if (reg.KeyExists(key)) {
            reg.WriteString(key, "", S(QCoreApplication::applicationFilePath()));
            reg.WriteString(key, "Ver", "2.3");
        }
    }
    // 3.
    QApplication::setApplicationDisplayName(QString());
    QApplication::setApplicationName("Tavrel");
    // 4.
    LoadLayout();
    // 5. F1 anywhere, modal dialogs included.
    qApp->installEventFilter(this);

    // 6. The collection, its worker and MailRoot; then Data.bin (missing: created;
    //    unreadable: an empty list, the file kept aside).
    dispatcher_ = std::make_unique<TQtDispatcher>();
    prompt_ = std::make_unique<TQtPrompt>(this);
    SetPrompt(settings.Prompt ? settings.Prompt : prompt_.get());
    static TExImageList typeNames;
    SetTypeNames(&typeNames);
    InstallOptionsDialog(this);
    InstallFilePropDialog(this);
    InstallMailPropDialog(this);
    TWorkerFactory factory;
    if (settings.WithWorker) {
        TEngineConfig engine = LoadEngineConfig(IniFile());
        if (settings.AdjustEngine) settings.AdjustEngine(engine);
        factory = TMailThread::Factory(*dispatcher_, engine);
    }
    folders_ = std::make_unique<TMailFolders>(
        [this](TMailFolder* box, int32_t pos, int32_t max) { OnProgress(box, pos, max); },
        [this](TMailFolder* box) { OnOperationDone(box); }, factory);
    folders_->OnStatus = [this](const std::string& s) { SetStatusText(Q(s)); };
    folders_->OnOperationFinished = [this](TMailFolder* box, const TExOp& op, bool ok) {
        if (mount_) mount_->Finished(box, op, ok); // the readers of a download go on
        if (!ok) OnOperationFailed(box, op);
    };
    folders_->ProcessMessages = [this] { dispatcher_->ProcessMessages(); };
    folders_->LoadFromFile(AppDir() + "Data.bin");

    // The mount of the open mailbox: its folder depends on the program folder, so a mount
    // left by a window that crashed is this one's to take away.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    mountPoint_ = TBoxMount::MountPointFor(AppDir(), runtime ? runtime : "");
    if (mountPoint_.empty())
        mountUnavailable_ = "there is no runtime folder ($XDG_RUNTIME_DIR)";
    else {
        TBoxMount::CleanStale(mountPoint_);
        mountUnavailable_ = TBoxMount::Unavailable();
    }
    // The file system's requests run between the window's events (never waited for here).
    mount_ = std::make_unique<TBoxMount>([this](std::function<void()> task) {
        QMetaObject::invokeMethod(this, [this, task = std::move(task)] { RunMountTask(task); },
                                  Qt::QueuedConnection);
    });

    // 8. May end the start.
    AskStartupPassword();
    if (startupCancelled_) return;

    // 9. Tray icon.
    tray_->SetIcon(windowIcon());
    tray_->SetHint("Tavrel");
    tray_->SetPopupMenu(pmTray_);
    tray_->SetActive(folders_->Options->ShowTrayIcon);
    // 10.
    RefreshMailboxList();
    lvOps_->hide();
    // 11.
    searching_ = false;
    setWindowTitle("Tavrel");

    connect(QApplication::clipboard(), &QClipboard::dataChanged, this,
            [this] { clipboardKnown_ = false; });
    // The idle update: cheap rules, evaluated a few times a second and after each command.
    idle_ = new QTimer(this);
    idle_->setInterval(200);
    connect(idle_, &QTimer::timeout, this, &TFmPondra::IdleUpdate);
    idle_->start();
    IdleUpdate();
}

TFmPondra::~TFmPondra() {
    qApp->removeEventFilter(this);
    if (!startupCancelled_) SaveLayout();
    FreeCollection();
    SetPrompt(nullptr);
    SetTypeNames(nullptr);
    SetOptionsDialogRunner({});
    SetFilePropRunner({});
    SetMailPropRunner({});
}

void TFmPondra::FreeCollection() {
    if (mount_) mount_->Stop();
    if (!folders_) return;
    // The collection removes MailRoot, asks the worker to stop and waits for up to 1000 ms
    // while the worker's calls are still served. Nothing of the window may run meanwhile
    // (the collection is half gone): no callbacks, no user input, only the worker's calls.
    hide();
    folders_->OnOperationDone = {};
    folders_->OnProgress = {};
    folders_->OnStatus = {};
    folders_->OnOperationFinished = {};
    folders_->ProcessMessages = [this] { dispatcher_->TPumpedDispatcher::ProcessMessages(); };
    const bool hadWorker = folders_->MailThread() != nullptr;
    folders_.reset();
    // A worker that did not end in time was let go and may still be inside a call to the
    // dispatcher: refuse it everything from now on, and keep the dispatcher's memory.
    dispatcher_->Abandon();
    if (hadWorker) (void)dispatcher_.release();
}

void TFmPondra::BuildWidgets() {
    tlb1_ = new QToolBar(this);
    tlb1_->setObjectName("tlb1");
    tlb1_->setMovable(false);
    tlb1_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    addToolBar(tlb1_);

    auto* central = new QWidget(this);
    auto* vbox = new QVBoxLayout(central);
    vbox->setContentsMargins(2, 2, 2, 2);
    vbox->setSpacing(2);

    pnlAddr_ = new QWidget(central);
    pnlAddr_->setObjectName("pnlAddr");
    auto* addr = new QHBoxLayout(pnlAddr_);
    addr->setContentsMargins(0, 0, 0, 0);
    addr->addWidget(new QLabel("  Address", pnlAddr_));
    cbbAddress_ = new QComboBox(pnlAddr_);
    cbbAddress_->setObjectName("cbbAddress");
    cbbAddress_->setEditable(true);
    cbbAddress_->setInsertPolicy(QComboBox::NoInsert);
    addr->addWidget(cbbAddress_, 1);
    btnGo_ = new QPushButton(" Go ", pnlAddr_);
    btnGo_->setObjectName("btnGo");
    addr->addWidget(btnGo_);
    vbox->addWidget(pnlAddr_);

    splLeft_ = new QSplitter(Qt::Horizontal, central);
    splLeft_->setObjectName("splLeft");
    pnlLeft_ = new QWidget(splLeft_);
    pnlLeft_->setObjectName("pnlLeft");
    auto* left = new QVBoxLayout(pnlLeft_);
    left->setContentsMargins(0, 0, 0, 0);
    auto* leftCaption = new QLabel(" Brevik Boxes List", pnlLeft_);
    leftCaption->setStyleSheet("QLabel { font-weight: bold; padding: 3px; }");
    left->addWidget(leftCaption);
    lvMails_ = new QListWidget(pnlLeft_);
    lvMails_->setObjectName("lvMails");
    lvMails_->setIconSize(QSize(32, 32));
    lvMails_->setContextMenuPolicy(Qt::CustomContextMenu);
    left->addWidget(lvMails_, 1);
    pbDetails_ = new TDetailsPane(pnlLeft_);
    left->addWidget(pbDetails_);

    splSearch_ = new QSplitter(Qt::Vertical, splLeft_);
    splSearch_->setObjectName("splSearch");
    lvFiles_ = new TExListView({"Name", "Size", "Type", "Date Modified", "Location", "Action"}, {1},
                               splSearch_);
    lvFiles_->setObjectName("lvFiles");
    lvFiles_->SetAcceptDrops(true);
    lvFiles_->Details()->viewport()->installEventFilter(this); // drops of local files
    lvFiles_->List()->viewport()->installEventFilter(this);
    lvFiles_->OnDragFiles = [this](std::vector<std::string>& files, bool& cancel) { DragFiles(files, cancel); };
    lvFiles_->OnDragDrop = [this] { DragDropped(); };
    lvFiles_->SetDragOut(true);
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(lvFiles_->Details()),
                                 static_cast<QAbstractItemView*>(lvFiles_->List())})
        v->setContextMenuPolicy(Qt::CustomContextMenu);
    pbDetails_->recompute = [this] { UpdateDetails(); };
    connect(lvFiles_, &TExListView::SelectionChanged, pbDetails_, &TDetailsPane::Invalidate);

    pnlSearch_ = new QWidget(splSearch_);
    pnlSearch_->setObjectName("pnlSearch");
    auto* search = new QVBoxLayout(pnlSearch_);
    search->setContentsMargins(0, 0, 0, 0);
    search->setSpacing(0);
    // The caption bar: "Stop Search" is kept centred by hand (PlaceStopButton), the results
    // toggle sits at the right end.
    pnlSearchBar_ = new QWidget(pnlSearch_);
    pnlSearchBar_->setObjectName("pnlSearchBar");
    auto* searchHead = new QHBoxLayout(pnlSearchBar_);
    searchHead->setContentsMargins(0, 1, 2, 1);
    searchHead->addWidget(new QLabel("  Search Results:", pnlSearchBar_));
    searchHead->addStretch(1);
    btnSearchToggle_ = new QToolButton(pnlSearchBar_);
    btnSearchToggle_->setObjectName("btnSearchToggle");
    btnSearchToggle_->setAutoRaise(true);
    searchHead->addWidget(btnSearchToggle_);
    btnStop_ = new QPushButton("Stop Search", pnlSearchBar_);
    btnStop_->setObjectName("btnStop");
    btnStop_->hide();
    connect(btnStop_, &QPushButton::clicked, this, &TFmPondra::StopSearch);
    pnlSearchBar_->installEventFilter(this); // resizes keep the button centred
    search->addWidget(pnlSearchBar_);
    lvSearch_ = new TExListView({"Name", "In Folder", "Size", "Type", "Date Modified"}, {2},
                                pnlSearch_);
    lvSearch_->setObjectName("lvSearch");
    lvSearch_->SetMultiSelect(false);
    lvSearch_->Details()->setContextMenuPolicy(Qt::CustomContextMenu);
    search->addWidget(lvSearch_, 1);
    pnlSearch_->hide();
    splLeft_->setStretchFactor(1, 1);
    vbox->addWidget(splLeft_, 1);

    lvOps_ = MakeReport(central, "lvOps", {"Index", "MailFolder", "Action", "Path", "FileName"});
    lvOps_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvOps_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvOps_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvOps_->header()->resizeSection(1, 150);
    lvOps_->header()->resizeSection(2, 80);
    lvOps_->header()->resizeSection(3, 150);
    lvOps_->header()->resizeSection(4, 250);
    lvOps_->hide();
    vbox->addWidget(lvOps_);
    setCentralWidget(central);

    ExStatMain_ = new TExStatusBar({-1, 200, 150, 230}, this);
    ExStatMain_->setObjectName("ExStatMain");
    setStatusBar(ExStatMain_);
    ExStatMain_->SetPanelText(1, "Current:");
    pbStatus_ = new QProgressBar;
    pbStatus_->setObjectName("pbStatus");
    pbStatus_->setTextVisible(false);
    pbStatus_->setRange(0, 1);
    pbStatus_->setValue(0);
    pbStatus_->setMaximumHeight(14);
    ExStatMain_->PlaceOnPanel(1, pbStatus_);
    pbStatus_->hide();

    tray_ = new TExSysTray(this);
    tray_->setObjectName("exsystry1");
    files_ = std::make_unique<TFileListAdapter>(lvFiles_, cbbAddress_);
}

QAction* TFmPondra::MakeAction(const char* name, const QString& caption, const QString& hint,
                               const QKeySequence& shortcut) {
    auto* a = new QAction(caption, this);
    a->setObjectName(name);
    if (!hint.isEmpty()) {
        a->setStatusTip(hint);
        a->setToolTip(hint);
    }
    if (!shortcut.isEmpty()) a->setShortcut(shortcut);
    actions_.insert(name, a);
    return a;
}

void TFmPondra::BuildActions() {
    MakeAction("actEnter", "Open Folder", "Enter selected folder");
    MakeAction("actSearch", "&Search", "Search your files");
    MakeAction("actNewFolder", "New Folder", "Create a new folder under current folder");
    MakeAction("actDelete", "Delete", "Delete selected items", QKeySequence::Delete);
    MakeAction("actProperties", "Properties", "Show properties of current selected item");
    MakeAction("actQuit", "&Quit", "Quit this program");
    MakeAction("actMailsOpen", "&Open",
               "Open current mail folder and download folder structure from server");
    MakeAction("actMailsAdd", "&Add", "Add a new email box");
    MakeAction("actMailsDel", "&Delete", "Delete selected email box");
    MakeAction("actMailsProp", "&Properties", "Show properties of selected  email box");
    MakeAction("actDownload", "Download", "Download selected items from mail server");
    MakeAction("actCopy", "Copy", "Copy selected items to clipboard", QKeySequence::Copy);
    MakeAction("actPaste", "Paste", "Paste files/folders here from clipboard", QKeySequence::Paste);
    MakeAction("actSelAll", "Select All", "Select all items in current folder",
               QKeySequence::SelectAll);
    MakeAction("actViewAddr", "Address Bar", "Hide/Show address bar")->setCheckable(true);
    MakeAction("actViewSearch", "Search Results", "Hide/Show search results")->setCheckable(true);
    viewGroup_ = new QActionGroup(this);
    for (const char* n : {"actTiles", "actIcons", "actList", "actDetails"}) {
        QAction* a = MakeAction(n, QString(n + 3), QString());
        a->setCheckable(true);
        viewGroup_->addAction(a);
    }
    MakeAction("actViews", QString(), "Change style of file list");
    MakeAction("actBack", "Back", "Go back");
    MakeAction("actFoward", "Forward", "Go forward");
    MakeAction("actUp", "Up One Level", "Go up one level of current folder",
               QKeySequence(Qt::Key_Backspace));
    MakeAction("actRefresh", "Refresh", "Refresh current folder from your mail server");
    MakeAction("actOptions", "&Options", "Show option dialog");
    MakeAction("actManual", "Manual", "Show the user manual");
    MakeAction("actGotoWeb", "Goto Our Website", "Visit our website");
    MakeAction("actAbout", "&About...", "Show about dialog");
    MakeAction("actOpenFolder", "Open Containing Folder",
               "Open containing folder of current selected item");
    MakeAction("actShow", "&Show", QString());

    // The keys of the file list act only there.
    for (const char* n : {"actDelete", "actCopy", "actPaste", "actSelAll", "actUp"}) {
        Action(n)->setShortcutContext(Qt::WidgetShortcut);
        lvFiles_->Details()->addAction(Action(n));
        lvFiles_->List()->addAction(Action(n));
    }
    Action("actViewAddr")->setChecked(true);
    Action("actDetails")->setChecked(true);

    connect(Action("actQuit"), &QAction::triggered, this, &TFmPondra::Quit);
    connect(Action("actShow"), &QAction::triggered, this, &TFmPondra::Show);
    connect(Action("actAbout"), &QAction::triggered, this, &TFmPondra::About);
    connect(Action("actGotoWeb"), &QAction::triggered, this, &TFmPondra::GotoWeb);
    connect(Action("actOptions"), &QAction::triggered, this, &TFmPondra::Options);
    connect(Action("actManual"), &QAction::triggered, this, [this] { HandleHelp(nullptr); });
    connect(Action("actViewAddr"), &QAction::toggled, pnlAddr_, &QWidget::setVisible);
    connect(Action("actViewSearch"), &QAction::toggled, pnlSearch_, &QWidget::setVisible);
    btnSearchToggle_->setDefaultAction(Action("actViewSearch"));
    btnSearchToggle_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const char* styles[] = {"actIcons", "actTiles", "actList", "actDetails"};
    for (int i = 0; i < 4; ++i)
        connect(Action(styles[i]), &QAction::triggered, this, [this, i] { SetViewStyle(i); });
    connect(tray_, &TExSysTray::IconDblClick, this, &TFmPondra::Show);
    connect(Action("actMailsOpen"), &QAction::triggered, this, &TFmPondra::OpenMailbox);
    connect(lvMails_, &QListWidget::itemActivated, this, &TFmPondra::OpenMailbox);
    connect(Action("actEnter"), &QAction::triggered, this, &TFmPondra::EnterSelected);
    connect(lvFiles_, &TExListView::Activated, this, &TFmPondra::EnterSelected);
    connect(lvSearch_, &TExListView::Activated, this, &TFmPondra::OpenContainingFolder);
    connect(Action("actOpenFolder"), &QAction::triggered, this, &TFmPondra::OpenContainingFolder);
    connect(Action("actSearch"), &QAction::triggered, this, &TFmPondra::SearchCommand);
    connect(Action("actMailsAdd"), &QAction::triggered, this, &TFmPondra::AddMailbox);
    connect(Action("actMailsProp"), &QAction::triggered, this, &TFmPondra::MailboxProperties);
    connect(Action("actMailsDel"), &QAction::triggered, this, &TFmPondra::DeleteMailbox);
    connect(btnGo_, &QPushButton::clicked, this, &TFmPondra::GoToAddress);
    connect(cbbAddress_->lineEdit(), &QLineEdit::returnPressed, this, &TFmPondra::GoToAddress);
    // A chosen item lists that folder; the box is refilled after the signal has returned.
    connect(cbbAddress_, &QComboBox::activated, this, &TFmPondra::GoToAddress, Qt::QueuedConnection);
    connect(Action("actRefresh"), &QAction::triggered, this, &TFmPondra::RefreshMailbox);
    connect(Action("actNewFolder"), &QAction::triggered, this, &TFmPondra::NewFolderCommand);
    connect(Action("actDelete"), &QAction::triggered, this, &TFmPondra::DeleteCommand);
    connect(Action("actDownload"), &QAction::triggered, this, &TFmPondra::DownloadCommand);
    connect(Action("actCopy"), &QAction::triggered, this, &TFmPondra::CopyCommand);
    connect(Action("actPaste"), &QAction::triggered, this, &TFmPondra::PasteCommand);
    connect(Action("actProperties"), &QAction::triggered, this, &TFmPondra::PropertiesCommand);
    connect(Action("actSelAll"), &QAction::triggered, lvFiles_, &TExListView::SelectAll);
    connect(Action("actUp"), &QAction::triggered, this, &TFmPondra::GoUp);
    connect(Action("actBack"), &QAction::triggered, this, &TFmPondra::GoBack);
    connect(Action("actFoward"), &QAction::triggered, this, &TFmPondra::GoForward);
    // Every command may change what the rules look at.
    for (QAction* a : actions_)
        connect(a, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, &TFmPondra::IdleUpdate); });
}

void TFmPondra::BuildMenus() {
    auto add = [this](QMenu* m, std::initializer_list<const char*> names) {
        for (const char* n : names) {
            if (!*n)
                m->addSeparator();
            else
                m->addAction(Action(n));
        }
    };
    QMenuBar* mm1 = menuBar();
    mm1->setObjectName("mm1");
    add(mm1->addMenu(" &File "), {"actEnter", "actSearch", "", "actNewFolder", "", "actDelete",
                                  "actProperties", "", "actQuit"});
    add(mm1->addMenu("MailBox"),
        {"actMailsOpen", "", "actMailsAdd", "actMailsDel", "", "actMailsProp"});
    add(mm1->addMenu(" &Edit "), {"actDownload", "", "actCopy", "actPaste", "", "actSelAll"});
    QMenu* view = mm1->addMenu(" &View ");
    add(view, {"actViewAddr", "actViewSearch", "", "actTiles", "actIcons", "actList",
               "actDetails", ""});
    QMenu* goTo = view->addMenu("Go To");
    add(goTo, {"actBack", "actFoward", "actUp"});
    add(view, {"actRefresh"});
    add(mm1->addMenu(" &Tools "), {"actOptions"});
    add(mm1->addMenu(" &Help "), {"actManual", "", "actGotoWeb", "", "actAbout"});

    pmFiles_ = new QMenu(this);
    pmFiles_->setObjectName("pmFiles");
    add(pmFiles_, {"actPaste", "actCopy", "", "actDownload", "", "actNewFolder", "",
                   "actDelete", "", "actProperties"});
    pmMails_ = new QMenu(this);
    pmMails_->setObjectName("pmMails");
    add(pmMails_, {"actMailsOpen", "", "actMailsAdd", "actMailsDel", "", "actMailsProp"});
    pmSearch_ = new QMenu(this);
    pmSearch_->setObjectName("pmSearch");
    add(pmSearch_, {"actOpenFolder", "", "actProperties"});
    pmTray_ = new QMenu(this);
    pmTray_->setObjectName("pmTray");
    add(pmTray_, {"actShow", "", "actQuit"});
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(lvFiles_->Details()),
                                 static_cast<QAbstractItemView*>(lvFiles_->List())})
        connect(v, &QWidget::customContextMenuRequested, this,
                [this, v](const QPoint& p) { pmFiles_->popup(v->viewport()->mapToGlobal(p)); });
    connect(lvMails_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { pmMails_->popup(lvMails_->viewport()->mapToGlobal(p)); });
    connect(lvSearch_->Details(), &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        pmSearch_->popup(lvSearch_->Details()->viewport()->mapToGlobal(p));
    });

    for (const char* n : {"actBack", "actFoward", "actUp", "", "actSearch", "actRefresh", "",
                          "actNewFolder", "", "actDownload", "actCopy", "actPaste", "actDelete",
                          ""}) {
        if (!*n)
            tlb1_->addSeparator();
        else
            tlb1_->addAction(Action(n));
    }
    auto* views = new QMenu(this);
    views->setObjectName("pmViews");
    add(views, {"actTiles", "actIcons", "actList", "actDetails"});
    QAction* actViews = Action("actViews");
    actViews->setMenu(views);
    actViews->setIcon(QIcon::fromTheme("view-list-details", style()->standardIcon(QStyle::SP_FileDialogDetailedView)));
    tlb1_->addAction(actViews);
    if (auto* b = qobject_cast<QToolButton*>(tlb1_->widgetForAction(actViews)))
        b->setPopupMode(QToolButton::InstantPopup);

    struct { const char* action; const char* theme; QStyle::StandardPixmap fallback; } icons[] = {
        {"actBack", "go-previous", QStyle::SP_ArrowBack},
        {"actFoward", "go-next", QStyle::SP_ArrowForward},
        {"actUp", "go-up", QStyle::SP_FileDialogToParent},
        {"actSearch", "edit-find", QStyle::SP_FileDialogContentsView},
        {"actRefresh", "view-refresh", QStyle::SP_BrowserReload},
        {"actNewFolder", "folder-new", QStyle::SP_FileDialogNewFolder},
        {"actDownload", "document-save", QStyle::SP_DialogSaveButton},
        {"actCopy", "edit-copy", QStyle::SP_FileIcon},
        {"actPaste", "edit-paste", QStyle::SP_DialogApplyButton},
        {"actDelete", "edit-delete", QStyle::SP_TrashIcon},
        {"actQuit", "application-exit", QStyle::SP_DialogCloseButton},
        {"actMailsAdd", "list-add", QStyle::SP_FileDialogNewFolder},
        {"actOptions", "preferences-system", QStyle::SP_FileDialogInfoView},
        {"actManual", "help-contents", QStyle::SP_DialogHelpButton},
        {"actAbout", "help-about", QStyle::SP_MessageBoxInformation},
        {"actViewSearch", "window-close", QStyle::SP_TitleBarCloseButton},
    };
    for (const auto& i : icons)
        Action(i.action)->setIcon(QIcon::fromTheme(i.theme, style()->standardIcon(i.fallback)));
}
