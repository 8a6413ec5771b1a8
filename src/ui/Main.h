#pragma once
// TForm_Main: the program's main window. The link to the handset is TPhoneLink (phone/, QtCore
// only): it holds the command state, the listed phone folder and its records, and "busy", runs
// the exchanges and the multi-file queues, and asks through the prompts interface. The window
// drives it and maps its signals onto widgets; its member functions live in:
//   ui/Panes.cpp              layout, actions, menus, the four views, the phone list items and
//                             the enabling rules
//   ui/Connection.cpp         creation, first show, destruction, Reconnect, and the window's side
//                             of the link's signals (list, progress, log, status bar, panes)
//   ui/Transfers.cpp          Download, Upload, Uplod As Melody, Copy As MIDlet, Delete, Reload,
//                             home folder, Back up phone
//   ui/DragDrop.cpp           files dropped from other programs
//   ui/MenuCommands.cpp       COM setup, About and Log menu entries
//   ui/PhoneFolder.cpp        Show phone in file manager: the phone mounted as a folder
//   smaf/Preview.cpp          Play MMF / Stop MMF
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QMainWindow>

#include "protocol/FileInfo.h"

class QAction;
struct BackupSummary;
class QCloseEvent;
class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QFileSystemModel;
class QLabel;
class QMenu;
class QMimeData;
class QShowEvent;
class QSplitter;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class QStatusBar;
class QWidget;
class TPhoneLink;
class TPhoneMount;
class TFuseSession;

// A phone list item shows a record of the link's PhoneRecords: its position there, the record.
std::optional<std::size_t> PhoneItemIndex(const QTreeWidgetItem* item);
const TFileInfo* PhoneItemRecord(QTreeWidgetItem* item);
// A PC list item's file name as the bytes the folder holds (its caption may show replacement
// characters); the caption for an item made without them.
std::string PCItemName(const QTreeWidgetItem* item);
// The extension of a PC file name with its dot, in upper case; empty without one.
std::string UpperExtension(const std::string& name);

class TForm_Main : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm_Main(QWidget* parent = nullptr);
    ~TForm_Main() override;

    // The link to the handset; the window drives it and shows what it reports.
    TPhoneLink* Link = nullptr;
    // The window's side of the link's signals.
    void ConnectLink();
    void AddPhoneFileItem(const TFileInfo& info, std::size_t index);
    void EndListing();
    // Shows the progress window for a transfer, with the file's name and size; sets both bars.
    void ShowTransfer(TPhoneCommand kind, const std::string& name, std::int32_t size);
    void ShowProgress(std::int64_t done, std::int64_t size);
    // A queue's start, progress and end in the progress window; the attention a long one asks
    // for when it ends while the window is not active.
    void ShowQueueStart(TPhoneCommand kind, std::size_t files, std::int64_t totalBytes);
    void ShowQueueProgress(std::size_t file, std::size_t files, std::int64_t doneBytes, std::int64_t totalBytes);
    void ShowQueueEnd();
    static constexpr qint64 kAttentionAfterMs = 10000;
    QElapsedTimer QueueClock;
    // A queue the user started from the window runs (Download, Upload, Delete, a drag or a drop):
    // the progress window offers Cancel for it.
    bool QueueCancellable = false;
    struct CancellableQueue {
        explicit CancellableQueue(TForm_Main* w) : win(w), before(w->QueueCancellable) { w->QueueCancellable = true; }
        ~CancellableQueue() { win->QueueCancellable = before; }
        CancellableQueue(const CancellableQueue&) = delete;
        CancellableQueue& operator=(const CancellableQueue&) = delete;
        TForm_Main* win;
        bool before;
    };
    // Passes a line to the log window while it shows; a full log says so in an error box.
    void AppendLog(bool raw, const std::string& text);

    // ---- panes (ui/Panes.cpp) --------------------------------------------------------------
    std::string PCDir;

    QWidget* Panel_Phone = nullptr;
    QLabel* PN_FullDirName = nullptr;
    QTreeWidget* TreeView_PNDir = nullptr;
    QSplitter* Splitter_Phone = nullptr;
    QWidget* Panel_File_Phone = nullptr;
    QLabel* PN_FullFileName = nullptr;
    QTreeWidget* ListView_PNFiles = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* Panel_PC = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QTreeView* ShellTreeView1 = nullptr;
    QFileSystemModel* ShellModel = nullptr;
    QSplitter* Splitter2 = nullptr;
    QTreeWidget* ListView_PCFiles = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    std::array<QLabel*, 4> StatusPanels{};

    QAction* EditSelectAll1 = nullptr;
    QAction* Action_GoHome = nullptr;
    QAction* Action_Download = nullptr;
    QAction* Action_Delete = nullptr;
    QAction* Action_Reload = nullptr;
    QAction* Action_Upload = nullptr;
    QAction* Action_UplodAsMelody = nullptr;
    QAction* Action_PlayMMF = nullptr;
    QAction* Action_StopMMF = nullptr;
    QAction* Action_Reconnect = nullptr;
    QAction* Action_CopyAsMIDlet = nullptr;
    QAction* Action_BackupPhone = nullptr;
    QAction* Action_ShowPhoneFolder = nullptr;
    QMenu* MenuSetup = nullptr;
    QMenu* MenuAction = nullptr;
    QMenu* MenuHelp = nullptr;
    QAction* miComPortSetup = nullptr;
    QAction* miHomeDir = nullptr;
    QAction* miLog = nullptr;
    QAction* miAbout = nullptr;

    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);

    void ShowPhoneDir(const std::string& path);
    void TreeView_PNDirChange(QTreeWidgetItem* node);
    static std::string PhoneNodePath(QTreeWidgetItem* node);
    QTreeWidgetItem* PhoneRootNode() const;
    void ListView_PNFilesSelectItem();
    void ListView_PNFilesEnter();
    void ShellTreeView1Change();
    // Points the PC tree at a folder; false when it cannot be shown.
    bool SetShellPath(const std::string& path);
    std::string ShellSelectedPath() const;
    // The folder to bring into view once the tree has read its parent (the tree reads lazily).
    QString ShellScrollTarget;
    void ScrollShellToCurrent();
    // Gives the PC tree a fresh model of the file system (the tree does not watch the disk).
    void InstallShellModel();
    void UpdatePlayActions();
    // Back up phone: while the phone is online and no command or queue runs.
    void UpdateBackupAction();
    void UpdatePCActions();
    void ListView_PCFilesEnter();
    void ListView_PCFilesExit();
    void ListView_PCFilesDblClick();
    void EditSelectAll1Execute();
    // Records of the selected phone items in list order; PC captions of the selected items.
    std::vector<TFileInfo> SelectedPhoneRecords() const;
    std::vector<std::string> SelectedPCNames() const;
    // Runs an action's handler only when the action is enabled.
    static bool ActionEnabled(const QAction* action);

    // ---- connection and start-up (ui/Connection.cpp) ----------------------------------------
    void FormCreate();
    void FormShow();
    void FormDestroy();
    bool FormDestroyed = false;
    void Action_ReconnectExecute();
    // The window's side of a reconnect: the phone panes emptied, the port shown.
    void ShowReconnecting(const std::string& port);

    // ---- transfer commands (ui/Transfers.cpp) ----------------------------------------------
    void Action_DownloadExecute();
    // Download of these records into the PC folder on display (Download, a drag onto the PC list).
    void DownloadRecords(std::vector<TFileInfo> queue);
    void Action_UploadExecute();
    void Action_UplodAsMelodyExecute();
    // While the phone is offline, tells the user so (and how to reconnect) and gives false.
    bool PhoneOnlineOrSay() const;
    // Upload and Uplod As Melody: the selected PC files, asking before an overwrite.
    void UploadSelectedPCFiles(bool asMelody);
    // The upload of these PC files (the selection, a drop); a file that cannot be opened ends it
    // with a message.
    void UploadPaths(std::vector<std::string> paths, bool asMelody);
    void Action_DeleteExecute();
    void Action_ReloadExecute();
    void Action_GoHomeExecute();
    void miHomeDirClick();
    // Copy As MIDlet: the one JAD selected in the PC list, installed over the link.
    void Action_CopyAsMIDletExecute();
    // Back up phone...: every folder of the phone into a PC folder the user chooses (files
    // unchanged since the last backup there are skipped), then a summary.
    void Action_BackupPhoneExecute();
    // Once the backup into `dir` has ended: the folder `shown` on display again, and the summary.
    void ShowBackupSummary(const std::string& dir, const std::string& shown, const BackupSummary& summary);

    // ---- the phone as a folder (ui/PhoneFolder.cpp) ----------------------------------------
    // Checked: the phone is mounted (served by Link, alongside the panes) at PhoneFolderPath()
    // and shown in the desktop's file manager; unchecked: unmounted.
    void Action_ShowPhoneFolderExecute(bool checked);
    // $XDG_RUNTIME_DIR/tarvel/phone (Qt's runtime folder where the variable is not set).
    static std::string PhoneFolderPath();
    void StopPhoneFolder();
    std::unique_ptr<TPhoneMount> PhoneMount;
    std::unique_ptr<TFuseSession> PhoneFuse;   // after PhoneMount: destroyed before it

    // ---- drag and drop (ui/DragDrop.cpp) ----------------------------------------------------
    bool DropTargetRegistered = false;
    bool DragOver(const QPoint& globalPos) const;   // true: over ListView_PNFiles and online
    bool DragOverResult = false;                    // the last answer, a hint for the user
    void DropDataObject(const QMimeData* data);
    void DropFileList(const QMimeData* data);
    // A drag between the panes is taken only over the other pane's list.
    bool DropAllowedAt(const QDropEvent* event, const QPoint& globalPos) const;
    // What a drag from the phone list (the selected records, in list order) and from the PC
    // list (the selected files' paths) carries; null when nothing is selected.
    QMimeData* PhoneDragData() const;
    QMimeData* PCDragData() const;
    // Phone files dropped onto the PC list: downloaded into the PC folder.
    void DropPhoneFiles(const QMimeData* data);

    // ---- menus (ui/MenuCommands.cpp) ------------------------------------------------------
    void miComPortSetupClick();
    void miAboutClick();
    void miLogClick();

    // ---- SMAF preview (smaf/Preview.cpp) -----------------------------------------------------
    bool MMFPlaying = false;
    std::unique_ptr<std::vector<std::uint8_t>> SoundData;
    void SynthInitialize();
    void SynthShutdown();
    void Action_PlayMMFExecute();
    void Action_StopMMFExecute();
    void StopPreview();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createPanes();
    void createStatusBar();
    void createPhoneTree();
    bool FirstShowDone = false;
};

// The one main window (set by its constructor, cleared by its destructor).
extern TForm_Main* Form_Main;
