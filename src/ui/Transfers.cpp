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
    if (queue.size() > kMaxDownloadQueue)
        queue.resize(kMaxDownloadQueue);
    // The PC list shows the files once they are there.
    const bool any = !queue.empty() && !PCDir.empty();
    // Cancel is offered from the queue's first file on (the queue starts inside the call).
    auto cancellable = std::make_shared<CancellableQueue>(this);
    Link->Download(std::move(queue), PCDir).Then([this, cancellable, any](auto) {
        if (!Link->Closing() && any)
            ShellTreeView1Change();
    });
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
    UploadPaths(std::move(paths), asMelody);
}

void TForm_Main::UploadPaths(std::vector<std::string> paths, bool asMelody)
{
    auto cancellable = std::make_shared<CancellableQueue>(this);
    Link->Upload(std::move(paths), asMelody, true).Then([this, cancellable](const TPhoneLink::UploadOutcome& sent) {
            if (sent.Ended == LinkError::OpenFailed && !Link->Closing())
                Dialogs::ErrorBox("PC files list creating error.");
        });
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
    InstallMidlet(*Link, JoinPath(folder, selected.front())).Then([this, folder](const MidletInstall& install) {
        if (Link->Closing())
            return;
        if (!install.Error.empty())
            Dialogs::ErrorBox(install.Error);
        // The index files fetched and the suite's files made beside the descriptor.
        if (PCDir == folder)
            ShellTreeView1Change();
    });
}

// ---- Delete ----------------------------------------------------------------------------------

void TForm_Main::Action_DeleteExecute()
{
    std::vector<std::size_t> indices;
    for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i)
        if (ListView_PNFiles->topLevelItem(i)->isSelected())
            if (const std::optional<std::size_t> index = PhoneItemIndex(ListView_PNFiles->topLevelItem(i)))
                indices.push_back(*index);
    auto cancellable = std::make_shared<CancellableQueue>(this);
    Link->Delete(std::move(indices)).Then([cancellable](auto) {});
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
    auto cancellable = std::make_shared<CancellableQueue>(this);
    Link->Backup(dir, options).Then([this, dir, shown, cancellable](const BackupSummary& summary) mutable {
            cancellable.reset();
            if (!Link->Closing())   // closing: nothing more to show
                ShowBackupSummary(dir, shown, summary);
        });
}

void TForm_Main::ShowBackupSummary(const std::string& dir, const std::string& shown, const BackupSummary& summary)
{
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
