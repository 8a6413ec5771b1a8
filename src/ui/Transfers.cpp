// The commands that move files: Download, Upload, Uplod As Melody, Copy As MIDlet, Delete,
// Reload, the home folder, and Back up phone. Each turns the selection into what the link's
// queues take.
#include <QAction>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QTreeView>
#include <QTreeWidget>

#include "midlet/Installer.h"
#include "phone/Backup.h"
#include "phone/PhoneLink.h"
#include "platform/Files.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "settings/Unit_Init.h"

namespace {

constexpr std::size_t kMaxDownloadQueue = 200;

} // namespace


// ---- Download --------------------------------------------------------------------------------

void TForm_Main::Action_DownloadExecute() { DownloadRecords(SelectedPhoneRecords()); }

void TForm_Main::DownloadRecords(std::vector<TFileInfo> queue)
{
    const CancellableQueue cancellable(this);
    try {
        if (queue.size() > kMaxDownloadQueue)
            queue.resize(kMaxDownloadQueue);
        WaitFor(Link->Download(queue, PCDir));
        if (!Link->Closing() && !queue.empty() && !PCDir.empty())
            ShellTreeView1Change();
    } catch (...) {
        Dialogs::ErrorBox("Phone files list creating error.");
    }
}

// ---- Upload ----------------------------------------------------------------------------------

void TForm_Main::Action_UploadExecute() { UploadSelectedPCFiles(false); }

void TForm_Main::Action_UplodAsMelodyExecute() { UploadSelectedPCFiles(true); }

bool TForm_Main::PhoneOnlineOrSay() const
{
    if (!Link->Online())
        Dialogs::ErrorBox("The phone is offline.\r\nConnect it, then choose Action > Reconnect.");
    return Link->Online();
}

void TForm_Main::UploadSelectedPCFiles(bool asMelody)
{
    if (!PhoneOnlineOrSay())
        return;
    std::vector<std::string> paths;
    for (const std::string& name : SelectedPCNames())
        paths.push_back(JoinPath(PCDir, name));
    const CancellableQueue cancellable(this);
    try {
        if (WaitFor(Link->Upload(paths, asMelody, true)).Ended == LinkError::OpenFailed)
            Dialogs::ErrorBox("PC files list creating error.");
    } catch (...) {
        Dialogs::ErrorBox("PC files list creating error.");
    }
}

// ---- Copy As MIDlet -----------------------------------------------------------------------

void TForm_Main::Action_CopyAsMIDletExecute()
{
    const std::vector<std::string> selected = SelectedPCNames();
    if (selected.size() != 1 || UpperExtension(selected.front()) != ".JAD")
        return;
    // Offline nothing could reach the handset: nothing is prepared on the PC either.
    if (!PhoneOnlineOrSay())
        return;
    const std::string folder = PCDir;
    const MidletInstall install = WaitFor(InstallMidlet(*Link, JoinPath(folder, selected.front())));
    if (!install.Error.empty())
        Dialogs::ErrorBox(install.Error);
    // The index files fetched and the suite's files made beside the descriptor.
    if (!Link->Closing() && PCDir == folder)
        ShellTreeView1Change();
}

// ---- Delete ----------------------------------------------------------------------------------

void TForm_Main::Action_DeleteExecute()
{
    std::vector<std::size_t> indices;
    for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i)
        if (ListView_PNFiles->topLevelItem(i)->isSelected())
            if (const std::optional<std::size_t> index = PhoneItemIndex(ListView_PNFiles->topLevelItem(i)))
                indices.push_back(*index);
    const CancellableQueue cancellable(this);
    WaitFor(Link->Delete(indices));
}

// ---- Reload and the home folder --------------------------------------------------------------

void TForm_Main::Action_ReloadExecute()
{
    ShowPhoneDir(Link->PhoneDir());
    ShellTreeView1Change();
    if (ShellModel->rowCount(ShellTreeView1->rootIndex()) == 0)
        return;
    // The folder tree does not watch the disk: read it again, keeping the selected folder.
    const std::string selected = ShellSelectedPath();
    ShellTreeView1->blockSignals(true);
    InstallShellModel();
    ShellTreeView1->blockSignals(false);
    if (!selected.empty()) {
        const QModelIndex index = ShellModel->index(QString::fromStdString(selected));
        if (index.isValid()) {
            ShellTreeView1->selectionModel()->blockSignals(true);
            ShellTreeView1->setCurrentIndex(index);
            ShellTreeView1->selectionModel()->blockSignals(false);
            ShellScrollTarget = QString::fromStdString(selected);
            ScrollShellToCurrent();
        }
    }
}

void TForm_Main::Action_GoHomeExecute()
{
    if (HomeDir.empty())
        return;
    if (!SetShellPath(HomeDir)) {
        HomeDir.clear();
        SetShellPath(std::string());
    }
}

void TForm_Main::miHomeDirClick()
{
    const std::string chosen = Dialogs::ChooseFolder("Please select a folder");
    if (!chosen.empty())
        HomeDir = chosen;
}

// ---- Back up phone -----------------------------------------------------------------------------

void TForm_Main::Action_BackupPhoneExecute()
{
    if (!PhoneOnlineOrSay())
        return;
    const std::string dir = Dialogs::ChooseFolder("Please select a folder for the backup");
    if (dir.empty() || !Link->Online() || Link->Busy())
        return;
    // The backup lists every folder; the phone list shows each as it is listed, and the folder
    // on display is listed again at the end.
    const std::string shown = Link->PhoneDir();
    BackupOptions options;
    options.FolderStarted = [this](const std::string& folder) {
        ListView_PNFiles->clear();
        PN_FullDirName->setText(QString::fromStdString(folder));
        PN_FullFileName->clear();
    };
    BackupSummary summary;
    {
        const CancellableQueue cancellable(this);
        summary = WaitFor(Link->Backup(dir, options));
    }
    if (Link->Closing())
        return;   // the window is closing: nothing more to show
    ListView_PNFiles->clear();
    PN_FullDirName->setText(QString::fromStdString(shown));
    if (!shown.empty())
        ShowPhoneDir(shown);
    ShellTreeView1Change();

    std::string text = "Backup of the phone into " + dir + ":\r\n" + BackupCounts(summary)
                       + (summary.Cancelled ? "; cancelled." : ".");
    if (!summary.FailedFolders.empty()) {
        text += "\r\nFolders the phone did not list:";
        for (std::size_t i = 0; i < summary.FailedFolders.size(); ++i)
            text += (i ? ", " : " ") + summary.FailedFolders[i];
        text += ".";
    }
    if (!summary.Error.empty())
        text += "\r\n" + summary.Error;
    if (summary.Failed.empty() && summary.FailedFolders.empty() && summary.Error.empty())
        Dialogs::InfoBox(text);
    else
        Dialogs::ErrorBox(text);
}
