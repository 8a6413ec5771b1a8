// The main window's layout, actions and menus, the four views and the rules that enable the
// actions as the user moves between the panes and selects files.
#include <algorithm>
#include <filesystem>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "mount/FuseSession.h"
#include "mount/PhoneMount.h"
#include "protocol/PhoneTree.h"
#include "protocol/Text.h"
#include "phone/PhoneLink.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"

TForm_Main* Form_Main = nullptr;

namespace fs = std::filesystem;

namespace {

// ImageList1: 0 handset, 1 closed folder, 2 sound folder, 3 picture folder, 4 camera folder,
// 5 unused, 6 open folder.
const char* const kTreeImages[] = {"handset", "folder", "sound", "picture", "camera", nullptr, "folder_open"};

QPixmap TreeImage(int index)
{
    if (index < 0 || index > 6 || !kTreeImages[index])
        return {};
    return QPixmap(QStringLiteral(":/images/tree_%1.png").arg(QLatin1String(kTreeImages[index])));
}

// A tree node shows its image normally and its selected image when selected.
QIcon NodeIcon(int image, int selectedImage)
{
    QIcon icon;
    icon.addPixmap(TreeImage(image), QIcon::Normal);
    icon.addPixmap(TreeImage(selectedImage), QIcon::Selected);
    return icon;
}

// The tool bar pictures (ImageList_Normal, ImageList_Hot, ImageList_Disable) by image index.
const char* const kToolImages[] = {"upload", "download", "reload", "gohome", "melody",
                                   "delete", "play", "stop", "midlet"};

QIcon ToolIcon(int index)
{
    QIcon icon;
    const QString name = QLatin1String(kToolImages[index]);
    icon.addPixmap(QPixmap(QStringLiteral(":/images/tool_%1.png").arg(name)), QIcon::Normal);
    icon.addPixmap(QPixmap(QStringLiteral(":/images/tool_%1_hot.png").arg(name)), QIcon::Active);
    icon.addPixmap(QPixmap(QStringLiteral(":/images/tool_%1_disabled.png").arg(name)), QIcon::Disabled);
    return icon;
}

QLabel* PathLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setFixedHeight(17);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setStyleSheet(QStringLiteral("color: blue;"));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// Sorts a file list by the column its header shows as chosen (none: the list keeps its order).
void SortAsChosen(QTreeWidget* list)
{
    const QHeaderView* header = list->header();
    if (header->sortIndicatorSection() >= 0)
        list->sortItems(header->sortIndicatorSection(), header->sortIndicatorOrder());
}

// The key a file list sorts a column by when its text would sort wrongly (sizes, type codes,
// dates); a column without one sorts by its text.
constexpr int kSortKeyRole = Qt::UserRole + 2;

// A date as the handset or the PC writes it, as a key that sorts in time order: its runs of
// digits, each as a number, year first ("31/12/2024 10:30" is taken day first).
QString DateSortKey(const QString& date)
{
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    QStringList runs;
    for (auto it = digits.globalMatch(date); it.hasNext();)
        runs.push_back(it.next().captured());
    if (runs.size() >= 3 && runs[2].size() == 4 && runs[0].size() <= 2)
        std::swap(runs[0], runs[2]);
    for (QString& run : runs)
        run = run.rightJustified(12, QLatin1Char('0'));
    return runs.join(QLatin1Char('.'));
}

// An item of a file list: sorted by the column's key where it has one.
class FileListItem : public QTreeWidgetItem {
public:
    explicit FileListItem(int type = Type) : QTreeWidgetItem(type) {}
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant mine = data(column, kSortKeyRole);
        const QVariant theirs = other.data(column, kSortKeyRole);
        if (mine.isValid() && theirs.isValid() && mine != theirs)
            return QVariant::compare(mine, theirs) == QPartialOrdering::Less;
        return QTreeWidgetItem::operator<(other);
    }
};

// A file list whose drag carries what the window makes of the selection (copied, never moved).
class FileListView : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    std::function<QMimeData*()> DragData;

protected:
    void startDrag(Qt::DropActions) override
    {
        QMimeData* data = DragData ? DragData() : nullptr;
        if (!data)
            return;
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction, Qt::CopyAction);
    }
};

void SetupReportView(QTreeWidget* list)
{
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The drop side is the main window's (it routes drags between the panes).
    list->setDragDropMode(QAbstractItemView::DragOnly);
    // A click on a column header sorts the list by it (again: the other way round). The list
    // keeps its order until then, and a new listing of the folder is sorted as chosen.
    list->setSortingEnabled(false);
    list->header()->setSectionsClickable(true);
    list->header()->setSortIndicatorShown(true);
    list->header()->setSortIndicator(-1, Qt::AscendingOrder);
    QObject::connect(list->header(), &QHeaderView::sortIndicatorChanged, list, [list](int column, Qt::SortOrder) {
        if (column >= 0)
            SortAsChosen(list);
    });
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
}

} // namespace

TForm_Main::TForm_Main(QWidget* parent) : QMainWindow(parent)
{
    Form_Main = this;
    Dialogs::UseMessageBoxes();
    setObjectName(QStringLiteral("Form_Main"));
    setWindowTitle(QStringLiteral("Tarvel R15"));
    resize(774, 607);

    Link = new TPhoneLink(this);
    Link->setObjectName(QStringLiteral("Link"));

    // The pictures (ui/images.qrc) are compiled into this static library, where the linker
    // keeps only what is referenced: register them by name (a second call is harmless).
    Q_INIT_RESOURCE(images);
    createActions();
    createPanes();
    createMenus();
    createStatusBar();
    createPhoneTree();
    ConnectLink();
    FormCreate();
}

TForm_Main::~TForm_Main()
{
    if (Form_Main == this)
        Form_Main = nullptr;
}

void TForm_Main::createActions()
{
    auto make = [this](const char* name, const char* caption, const char* hint, int image) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setObjectName(QLatin1String(name));
        if (hint) {
            action->setToolTip(QString::fromUtf8(hint));
            action->setStatusTip(QString::fromUtf8(hint));
        }
        if (image >= 0)
            action->setIcon(ToolIcon(image));
        return action;
    };
    EditSelectAll1 = make("EditSelectAll1", "Select &All", nullptr, -1);
    EditSelectAll1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    EditSelectAll1->setToolTip(QStringLiteral("Select All"));
    EditSelectAll1->setStatusTip(QStringLiteral("Selects the entire document"));
    EditSelectAll1->setWhatsThis(QStringLiteral("Select All|Selects the entire document"));
    Action_GoHome = make("Action_GoHome", "GoHome", "Go to home page", 3);
    Action_Download = make("Action_Download", "Download", "Copy to computer", 1);
    Action_Delete = make("Action_Delete", "Action_Delete", "Delete file", 5);
    Action_Reload = make("Action_Reload", "Reload", "Reload", 2);
    Action_Reload->setShortcut(QKeySequence(Qt::Key_F5));
    Action_Upload = make("Action_Upload", "Upload", "Copy to phone", 0);
    Action_UplodAsMelody = make("Action_UplodAsMelody", "Uplod As Melody", "Copy to phone as melody (only for MMF files)", 4);
    Action_PlayMMF = make("Action_PlayMMF", "Play MMF", nullptr, 6);
    Action_PlayMMF->setEnabled(false);
    Action_StopMMF = make("Action_StopMMF", "Stop MMF", nullptr, 7);
    Action_StopMMF->setEnabled(false);
    Action_Reconnect = make("Action_Reconnect", "Reconnect", nullptr, -1);
    Action_CopyAsMIDlet = make("Action_CopyAsMIDlet", "Copy As MIDlet", "Copy to phone as MIDlet (only for JAD files)", 8);
    Action_BackupPhone = make("Action_BackupPhone", "Back up phone...", "Copy every folder of the phone into a PC folder", -1);
    Action_BackupPhone->setEnabled(false);
    Action_ShowPhoneFolder = make("Action_ShowPhoneFolder", "Show phone in file manager",
                                  "Mount the phone as a folder and open it in the file manager", -1);
    Action_ShowPhoneFolder->setCheckable(true);

    // Shortcuts work wherever the focus is in the main window.
    for (QAction* a : {EditSelectAll1, Action_Reload})
        a->setShortcutContext(Qt::WindowShortcut);
    addAction(EditSelectAll1);
    addAction(Action_Reload);

    connect(EditSelectAll1, &QAction::triggered, this, [this] { EditSelectAll1Execute(); });
    connect(Action_GoHome, &QAction::triggered, this, [this] { Action_GoHomeExecute(); });
    connect(Action_Download, &QAction::triggered, this, [this] { Action_DownloadExecute(); });
    connect(Action_Delete, &QAction::triggered, this, [this] { Action_DeleteExecute(); });
    connect(Action_Reload, &QAction::triggered, this, [this] { Action_ReloadExecute(); });
    connect(Action_Upload, &QAction::triggered, this, [this] { Action_UploadExecute(); });
    connect(Action_UplodAsMelody, &QAction::triggered, this, [this] { Action_UplodAsMelodyExecute(); });
    connect(Action_PlayMMF, &QAction::triggered, this, [this] { Action_PlayMMFExecute(); });
    connect(Action_StopMMF, &QAction::triggered, this, [this] { Action_StopMMFExecute(); });
    connect(Action_Reconnect, &QAction::triggered, this, [this] { Action_ReconnectExecute(); });
    connect(Action_CopyAsMIDlet, &QAction::triggered, this, [this] { Action_CopyAsMIDletExecute(); });
    connect(Action_BackupPhone, &QAction::triggered, this, [this] { Action_BackupPhoneExecute(); });
    connect(Action_ShowPhoneFolder, &QAction::triggered, this, [this](bool checked) { Action_ShowPhoneFolderExecute(checked); });
}

void TForm_Main::createMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    MenuSetup = bar->addMenu(QStringLiteral("Setup"));
    MenuSetup->setObjectName(QStringLiteral("MenuSetup"));
    miComPortSetup = MenuSetup->addAction(QStringLiteral("COM Port..."));
    miComPortSetup->setObjectName(QStringLiteral("miComPortSetup"));
    miHomeDir = MenuSetup->addAction(QStringLiteral("Home Dir..."));
    miHomeDir->setObjectName(QStringLiteral("miHomeDir"));

    MenuAction = bar->addMenu(QStringLiteral("Action"));
    MenuAction->setObjectName(QStringLiteral("MenuAction"));
    MenuAction->addAction(Action_Reconnect);
    MenuAction->addAction(Action_Reload);
    MenuAction->addAction(Action_BackupPhone);
    MenuAction->addAction(Action_ShowPhoneFolder);
    MenuAction->addAction(EditSelectAll1);
    miLog = MenuAction->addAction(QStringLiteral("Log"));
    miLog->setObjectName(QStringLiteral("miLog"));
    miLog->setCheckable(true);

    MenuHelp = bar->addMenu(QStringLiteral("Help"));
    MenuHelp->setObjectName(QStringLiteral("MenuHelp"));
    miAbout = MenuHelp->addAction(QStringLiteral("About"));
    miAbout->setObjectName(QStringLiteral("miAbout"));

    connect(miComPortSetup, &QAction::triggered, this, [this] { miComPortSetupClick(); });
    connect(miHomeDir, &QAction::triggered, this, [this] { miHomeDirClick(); });
    connect(miLog, &QAction::triggered, this, [this] { miLogClick(); });
    connect(miAbout, &QAction::triggered, this, [this] { miAboutClick(); });
}

void TForm_Main::createPanes()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Central"));
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Vertical, central);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(4);
    Splitter1->setOpaqueResize(true);
    Splitter1->setChildrenCollapsible(false);
    outer->addWidget(Splitter1);

    // ---- the phone pane
    Panel_Phone = new QWidget(Splitter1);
    Panel_Phone->setObjectName(QStringLiteral("Panel_Phone"));
    auto* phoneLayout = new QVBoxLayout(Panel_Phone);
    phoneLayout->setContentsMargins(0, 0, 0, 0);
    Splitter_Phone = new QSplitter(Qt::Horizontal, Panel_Phone);
    Splitter_Phone->setObjectName(QStringLiteral("Splitter_Phone"));
    Splitter_Phone->setHandleWidth(4);
    Splitter_Phone->setOpaqueResize(true);
    Splitter_Phone->setChildrenCollapsible(false);
    phoneLayout->addWidget(Splitter_Phone);

    auto* dirColumn = new QWidget(Splitter_Phone);
    dirColumn->setObjectName(QStringLiteral("Panel_Dir_Phone"));
    auto* dirLayout = new QVBoxLayout(dirColumn);
    dirLayout->setContentsMargins(0, 0, 0, 0);
    dirLayout->setSpacing(0);
    PN_FullDirName = PathLabel("PN_FullDirName", dirColumn);
    PN_FullDirName->setAccessibleName(QStringLiteral("Phone folder"));
    TreeView_PNDir = new QTreeWidget(dirColumn);
    TreeView_PNDir->setObjectName(QStringLiteral("TreeView_PNDir"));
    TreeView_PNDir->setAccessibleName(QStringLiteral("Phone folders"));
    TreeView_PNDir->setHeaderHidden(true);
    TreeView_PNDir->setIndentation(19);
    TreeView_PNDir->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView_PNDir->setSelectionMode(QAbstractItemView::SingleSelection);
    dirLayout->addWidget(PN_FullDirName);
    dirLayout->addWidget(TreeView_PNDir);

    Panel_File_Phone = new QWidget(Splitter_Phone);
    Panel_File_Phone->setObjectName(QStringLiteral("Panel_File_Phone"));
    auto* fileLayout = new QVBoxLayout(Panel_File_Phone);
    fileLayout->setContentsMargins(0, 0, 0, 0);
    fileLayout->setSpacing(0);
    PN_FullFileName = PathLabel("PN_FullFileName", Panel_File_Phone);
    PN_FullFileName->setAccessibleName(QStringLiteral("Phone file"));
    auto* phoneList = new FileListView(Panel_File_Phone);
    phoneList->DragData = [this] { return PhoneDragData(); };
    ListView_PNFiles = phoneList;
    ListView_PNFiles->setObjectName(QStringLiteral("ListView_PNFiles"));
    ListView_PNFiles->setAccessibleName(QStringLiteral("Phone files"));
    ListView_PNFiles->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Size"), QStringLiteral("Date")});
    SetupReportView(ListView_PNFiles);
    ListView_PNFiles->header()->resizeSection(1, 40);
    ListView_PNFiles->header()->resizeSection(2, 60);
    ListView_PNFiles->header()->resizeSection(3, 120);
    for (int c = 1; c <= 3; ++c)
        ListView_PNFiles->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    fileLayout->addWidget(PN_FullFileName);
    fileLayout->addWidget(ListView_PNFiles);
    Splitter_Phone->setSizes({246, 524});
    Splitter_Phone->setStretchFactor(0, 0);
    Splitter_Phone->setStretchFactor(1, 1);

    // ---- the PC pane
    Panel_PC = new QWidget(Splitter1);
    Panel_PC->setObjectName(QStringLiteral("Panel_PC"));
    auto* pcLayout = new QVBoxLayout(Panel_PC);
    pcLayout->setContentsMargins(0, 0, 0, 0);
    pcLayout->setSpacing(0);

    ToolBar1 = new QToolBar(Panel_PC);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setAccessibleName(QStringLiteral("Tool bar"));
    ToolBar1->setWindowTitle(QStringLiteral("Tool bar"));   // names its show/hide action too
    ToolBar1->setIconSize(QSize(36, 33));
    ToolBar1->setMovable(false);
    ToolBar1->setStyleSheet(QStringLiteral(
        "QToolBar#ToolBar1 { border-bottom: 1px solid palette(mid); spacing: 0px; }"
        "QToolBar#ToolBar1 QToolButton { min-width: 39px; max-width: 39px; min-height: 35px; max-height: 35px; }"
        "QToolBar#ToolBar1::separator { width: 8px; }"));
    ToolBar1->addAction(Action_GoHome);
    ToolBar1->addSeparator();
    ToolBar1->addAction(Action_Download);
    ToolBar1->addAction(Action_Delete);
    ToolBar1->addSeparator();
    ToolBar1->addAction(Action_Reload);
    ToolBar1->addSeparator();
    ToolBar1->addAction(Action_Upload);
    ToolBar1->addAction(Action_UplodAsMelody);
    ToolBar1->addAction(Action_CopyAsMIDlet);
    ToolBar1->addSeparator();
    ToolBar1->addAction(Action_PlayMMF);
    ToolBar1->addAction(Action_StopMMF);
    pcLayout->addWidget(ToolBar1);

    Splitter2 = new QSplitter(Qt::Horizontal, Panel_PC);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setHandleWidth(4);
    Splitter2->setOpaqueResize(true);
    Splitter2->setChildrenCollapsible(false);
    pcLayout->addWidget(Splitter2);

    ShellTreeView1 = new QTreeView(Splitter2);
    ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
    ShellTreeView1->setAccessibleName(QStringLiteral("Computer folders"));
    ShellTreeView1->setHeaderHidden(true);
    ShellTreeView1->setIndentation(19);
    ShellTreeView1->setRootIsDecorated(true);
    ShellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    InstallShellModel();

    auto* pcList = new FileListView(Splitter2);
    pcList->DragData = [this] { return PCDragData(); };
    ListView_PCFiles = pcList;
    ListView_PCFiles->setObjectName(QStringLiteral("ListView_PCFiles"));
    ListView_PCFiles->setAccessibleName(QStringLiteral("Computer files"));
    ListView_PCFiles->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size (bytes)")});
    SetupReportView(ListView_PCFiles);
    // The PC list shows its files by name until the user sorts it otherwise.
    ListView_PCFiles->header()->setSortIndicator(0, Qt::AscendingOrder);
    ListView_PCFiles->header()->resizeSection(1, 80);
    ListView_PCFiles->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    Splitter2->setSizes({248, 522});
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);

    Splitter1->setSizes({289, 260});
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    setCentralWidget(central);

    connect(TreeView_PNDir, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { TreeView_PNDirChange(current); });
    connect(ListView_PNFiles, &QTreeWidget::itemSelectionChanged, this, [this] { ListView_PNFilesSelectItem(); });
    connect(ListView_PCFiles, &QTreeWidget::itemSelectionChanged, this, [this] { UpdatePCActions(); });
    connect(ListView_PCFiles, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem*, int) { ListView_PCFilesDblClick(); });
    TreeView_PNDir->installEventFilter(this);
    ListView_PNFiles->installEventFilter(this);
    ListView_PCFiles->installEventFilter(this);
    ShellTreeView1->installEventFilter(this);
    ShellTreeView1->viewport()->installEventFilter(this);
    // Scrolling the tree by its bar is taking it in hand too (see eventFilter).
    for (QScrollBar* bar : {ShellTreeView1->verticalScrollBar(), ShellTreeView1->horizontalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this, [this](int) { ShellScrollTarget.clear(); });
}

void TForm_Main::InstallShellModel()
{
    auto* model = new QFileSystemModel(this);
    model->setObjectName(QStringLiteral("ShellModel"));
    model->setOption(QFileSystemModel::DontWatchForChanges, true);
    model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot | QDir::Hidden);
    model->setRootPath(QDir::rootPath());
    QFileSystemModel* old = ShellModel;
    ShellModel = model;
    ShellTreeView1->setModel(model);
    ShellTreeView1->setRootIndex(model->index(QDir::rootPath()).parent());
    for (int c = 1; c < model->columnCount(); ++c)
        ShellTreeView1->hideColumn(c);
    connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (ShellModel->filePath(current) != ShellScrollTarget)
                    ShellScrollTarget.clear();
                ShellTreeView1Change();
            });
    // Bring the chosen folder into view as soon as the folders above it have been read.
    // (Until the user takes the tree in hand: see eventFilter.)
    // Folders read later, and the sorting that follows, move the rows below them: the chosen
    // folder is brought back into view after each.
    connect(model, &QFileSystemModel::directoryLoaded, this, [this](const QString&) { ScrollShellToCurrent(); });
    connect(model, &QFileSystemModel::layoutChanged, this, [this] { ScrollShellToCurrent(); });
    connect(model, &QFileSystemModel::rowsInserted, this, [this] { ScrollShellToCurrent(); });
    if (old)
        old->deleteLater();
}

void TForm_Main::createStatusBar()
{
    StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(true);
    const int widths[4] = {80, 45, 50, 50};
    const char* const initial[4] = {"", "COM1", "Offline", ""};
    const char* const roles[4] = {"Handset model", "Port", "Link", "Line status"};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(QString::fromUtf8(initial[i]), StatusBar1);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setAccessibleName(QString::fromUtf8(roles[i]));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setMinimumWidth(widths[i]);
        // Each panel is at least as wide as designed and grows with its text (a port may be a
        // long device path here).
        StatusBar1->addWidget(panel, i == 3 ? 1 : 0);
        StatusPanels[static_cast<std::size_t>(i)] = panel;
    }
}

void TForm_Main::createPhoneTree()
{
    std::vector<QTreeWidgetItem*> parents;
    for (const PhoneTreeNode& node : PhoneTreeNodes()) {
        QTreeWidgetItem* item = node.depth == 0
            ? new QTreeWidgetItem(TreeView_PNDir)
            : new QTreeWidgetItem(parents[static_cast<std::size_t>(node.depth - 1)]);
        item->setText(0, QLatin1String(node.caption));
        item->setIcon(0, NodeIcon(node.image, node.selectedImage));
        item->setData(0, Qt::UserRole, node.image);
        item->setData(0, Qt::UserRole + 1, node.selectedImage);
        parents.resize(static_cast<std::size_t>(node.depth));
        parents.push_back(item);
    }
}

namespace {


// A phone list item shows the record at a position of the link's PhoneRecords.
class PhoneFileItem : public FileListItem {
public:
    explicit PhoneFileItem(std::size_t index) : FileListItem(UserType + 1), Index(index) {}
    std::size_t Index;
};

} // namespace

std::optional<std::size_t> PhoneItemIndex(const QTreeWidgetItem* item)
{
    if (!item || item->type() != QTreeWidgetItem::UserType + 1 || !Form_Main)
        return std::nullopt;
    const std::size_t index = static_cast<const PhoneFileItem*>(item)->Index;
    if (index >= Form_Main->Link->PhoneRecords().size())
        return std::nullopt;
    return index;
}

const TFileInfo* PhoneItemRecord(QTreeWidgetItem* item)
{
    const std::optional<std::size_t> index = PhoneItemIndex(item);
    return index ? &Form_Main->Link->PhoneRecords()[*index] : nullptr;
}

void TForm_Main::AddPhoneFileItem(const TFileInfo& info, std::size_t index)
{
    auto* item = new PhoneFileItem(index);
    // The record keeps the whole name as the handset sent it; only the caption is cut.
    item->setText(0, QString::fromStdString(ListedName(info.Name)));
    item->setToolTip(0, QString::fromStdString(ShowableName(info.Name)));
    item->setText(1, QString::number(info.FileType));
    item->setText(2, QLocale().toString(static_cast<qlonglong>(info.Size)));
    item->setText(3, QString::fromStdString(info.Date));
    item->setData(1, kSortKeyRole, static_cast<qlonglong>(info.FileType));
    item->setData(2, kSortKeyRole, static_cast<qlonglong>(info.Size));
    item->setData(3, kSortKeyRole, DateSortKey(item->text(3)));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    ListView_PNFiles->addTopLevelItem(item);
}

void TForm_Main::EndListing()
{
    SortAsChosen(ListView_PNFiles);
    TreeView_PNDir->setEnabled(true);
    // The "Name" column stretches to fill the list, so nothing needs laying out again here.
    WaitCursor::Arrow();
}

QString TForm_Main::PanelText(int panel) const { return StatusPanels.at(static_cast<std::size_t>(panel))->text(); }

void TForm_Main::SetPanelText(int panel, const QString& text)
{
    StatusPanels.at(static_cast<std::size_t>(panel))->setText(text);
    StatusPanels.at(static_cast<std::size_t>(panel))->setToolTip(text);
}

bool TForm_Main::ActionEnabled(const QAction* action) { return action && action->isEnabled(); }

void TForm_Main::UpdateBackupAction()
{
    Action_BackupPhone->setEnabled(Link->Online() && !Link->Closing() && !Link->Busy() && !Link->QueueRunning());
}

QTreeWidgetItem* TForm_Main::PhoneRootNode() const { return TreeView_PNDir->topLevelItem(0); }

std::string TForm_Main::PhoneNodePath(QTreeWidgetItem* node)
{
    if (!node)
        return {};
    std::string path;
    for (QTreeWidgetItem* n = node; n && n->parent(); n = n->parent())
        path = "/" + n->text(0).toStdString() + path;
    return path.empty() ? std::string("/") : path;
}

void TForm_Main::ShowPhoneDir(const std::string& path)
{
    // A listing still under way adds no entries to the list cleared here: they belong to another
    // listing than the one asked for now.
    if (!Link->Online() || Link->Closing())
        return;
    WaitCursor::Hourglass();
    ListView_PNFiles->clear();
    Action_Delete->setEnabled(false);
    Action_Download->setEnabled(false);
    PN_FullFileName->setText(QStringLiteral("No file(s) selected."));
    PN_FullDirName->setText(QString::fromStdString(path));
    TreeView_PNDir->setEnabled(false);
    Link->ListFolder(path).Then({});
}

void TForm_Main::TreeView_PNDirChange(QTreeWidgetItem* node)
{
    if (!node)
        return;
    ShowPhoneDir(PhoneNodePath(node));
}

std::vector<TFileInfo> TForm_Main::SelectedPhoneRecords() const
{
    std::vector<TFileInfo> records;
    for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView_PNFiles->topLevelItem(i);
        if (item->isSelected())
            if (const TFileInfo* r = PhoneItemRecord(item))
                records.push_back(*r);
    }
    return records;
}

std::string UpperExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return ext;
}

std::string PCItemName(const QTreeWidgetItem* item)
{
    const QVariant bytes = item->data(0, Qt::UserRole);
    if (!bytes.isValid())
        return item->text(0).toStdString();
    const QByteArray name = bytes.toByteArray();
    return std::string(name.constData(), static_cast<std::size_t>(name.size()));
}

std::vector<std::string> TForm_Main::SelectedPCNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < ListView_PCFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView_PCFiles->topLevelItem(i);
        if (item->isSelected())
            names.push_back(PCItemName(item));
    }
    return names;
}

namespace {

// The first selected phone item in list order has a size above 0.
bool FirstSelectedHasData(const QTreeWidget* list)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->isSelected()) {
            const TFileInfo* r = PhoneItemRecord(item);
            return r && r->Size > 0;
        }
    }
    return false;
}

} // namespace

void TForm_Main::ListView_PNFilesSelectItem()
{
    const bool enable = FirstSelectedHasData(ListView_PNFiles);
    Action_Delete->setEnabled(enable);
    Action_Download->setEnabled(enable);
    const QList<QTreeWidgetItem*> selected = ListView_PNFiles->selectedItems();
    if (selected.isEmpty()) {
        PN_FullFileName->setText(QStringLiteral("No file(s) selected."));
    } else if (selected.size() == 1) {
        QString name = selected.front()->text(0);
        if (const TFileInfo* r = PhoneItemRecord(selected.front()))
            name = QString::fromStdString(ShowableName(r->Name));
        PN_FullFileName->setText(QString::fromStdString(Link->PhoneDir()) + QStringLiteral("/") + name);
    } else {
        PN_FullFileName->setText(QString::number(selected.size()) + QStringLiteral(" files selected."));
    }
}

void TForm_Main::ListView_PNFilesEnter()
{
    Action_Upload->setEnabled(false);
    Action_UplodAsMelody->setEnabled(false);
    Action_CopyAsMIDlet->setEnabled(false);
    const bool enable = FirstSelectedHasData(ListView_PNFiles);
    Action_Download->setEnabled(enable);
    Action_Delete->setEnabled(enable);
}

std::string TForm_Main::ShellSelectedPath() const
{
    const QModelIndex index = ShellTreeView1->currentIndex();
    if (!index.isValid())
        return {};
    return ShellModel->filePath(index).toStdString();
}

bool TForm_Main::SetShellPath(const std::string& path)
{
    if (path.empty()) {
        ShellTreeView1->setCurrentIndex(QModelIndex());
        ShellTreeView1->clearSelection();
        return true;
    }
    const QFileInfo info(QString::fromStdString(path));
    if (!info.exists() || !info.isDir())
        return false;
    const QModelIndex index = ShellModel->index(info.absoluteFilePath());
    if (!index.isValid())
        return false;
    ShellTreeView1->setCurrentIndex(index);
    ShellScrollTarget = info.absoluteFilePath();
    ScrollShellToCurrent();
    return true;
}

void TForm_Main::ScrollShellToCurrent()
{
    if (ShellScrollTarget.isEmpty())
        return;
    const QModelIndex index = ShellModel->index(ShellScrollTarget);
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        ShellTreeView1->expand(p);
    ShellTreeView1->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TForm_Main::ShellTreeView1Change()
{
    ListView_PCFiles->clear();
    // PCDir names the folder the list shows, or nothing while it shows none.
    PCDir.clear();
    const std::string path = ShellSelectedPath();
    if (path.empty())
        return;
    if (!QDir::setCurrent(QString::fromStdString(path)))
        return;
    PCDir = path;

    // Every entry that is not a folder, by the bytes of its name: a name that is not UTF-8 is
    // shown with replacement characters and its bytes are kept for opening the file.
    QList<QTreeWidgetItem*> items;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(path), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryEc;
        if (it->is_directory(entryEc))
            continue;
        const std::string name = it->path().filename().string();
        const std::uintmax_t size = it->is_regular_file(entryEc) ? it->file_size(entryEc) : 0;
        auto* item = new FileListItem;
        item->setText(0, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        item->setData(0, Qt::UserRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        item->setText(1, QLocale().toString(static_cast<qulonglong>(entryEc ? 0 : size)));
        item->setData(1, kSortKeyRole, static_cast<qulonglong>(entryEc ? 0 : size));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        items.push_back(item);
    }
    ListView_PCFiles->addTopLevelItems(items);
    SortAsChosen(ListView_PCFiles);
    // The upload actions follow the list that is shown, an empty one too.
    const bool selected = !ListView_PCFiles->selectedItems().isEmpty();
    Action_Upload->setEnabled(selected);
    Action_UplodAsMelody->setEnabled(selected);
}

void TForm_Main::UpdatePlayActions()
{
    const QList<QTreeWidgetItem*> selected = ListView_PCFiles->selectedItems();
    bool play = false;
    if (ListView_PCFiles->hasFocus() && selected.size() == 1) {
        const std::string ext = UpperExtension(PCItemName(selected.front()));
        play = ext == ".MMF" || ext == ".MEL";
    }
    Action_PlayMMF->setEnabled(play);
    Action_StopMMF->setEnabled(MMFPlaying);
}

void TForm_Main::UpdatePCActions()
{
    UpdatePlayActions();
    const std::vector<std::string> names = SelectedPCNames();
    const bool allMmf = std::all_of(names.begin(), names.end(),
                                    [](const std::string& n) { return UpperExtension(n) == ".MMF"; });
    Action_UplodAsMelody->setEnabled(Link->Online() && allMmf);
    Action_CopyAsMIDlet->setEnabled(names.size() == 1 && UpperExtension(names.front()) == ".JAD");
    Action_Upload->setEnabled(Link->Online());
}

void TForm_Main::ListView_PCFilesEnter()
{
    UpdatePCActions();
    Action_Download->setEnabled(false);
    Action_Delete->setEnabled(false);
}

void TForm_Main::ListView_PCFilesExit() { Action_PlayMMF->setEnabled(false); }

void TForm_Main::ListView_PCFilesDblClick()
{
    if (ActionEnabled(Action_PlayMMF))
        Action_PlayMMFExecute();
}

void TForm_Main::EditSelectAll1Execute()
{
    QWidget* active = focusWidget();
    if (active == ListView_PNFiles)
        ListView_PNFiles->selectAll();
    else if (active == ListView_PCFiles)
        ListView_PCFiles->selectAll();
}

bool TForm_Main::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == TreeView_PNDir || watched == ListView_PNFiles)
            ListView_PNFilesEnter();
        else if (watched == ListView_PCFiles)
            ListView_PCFilesEnter();
    } else if (event->type() == QEvent::FocusOut && watched == ListView_PCFiles) {
        ListView_PCFilesExit();
    }
    // Once the user works the PC tree, it stops bringing the chosen folder back into view.
    if ((watched == ShellTreeView1 || watched == ShellTreeView1->viewport())
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress
            || event->type() == QEvent::Wheel))
        ShellScrollTarget.clear();
    return QMainWindow::eventFilter(watched, event);
}
