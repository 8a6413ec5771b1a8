// The commands that move files: Download, Upload, Uplod As Melody, Delete, Reload, and the home
// folder. Each turns the selection into a queue and hands one file at a time to the protocol,
// waiting for each command to end before the next.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <set>

#include <QAction>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QTreeView>
#include <QTreeWidget>

#include "protocol/CRC.h"
#include "protocol/Text.h"
#include "protocol/Upload.h"
#include "phone/PhoneLink.h"
#include "platform/Files.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "settings/Unit_Init.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxDownloadQueue = 200;

} // namespace


// ---- Download --------------------------------------------------------------------------------

void TForm_Main::Action_DownloadExecute()
{
    try {
        std::vector<TFileInfo> queue = SelectedPhoneRecords();
        if (queue.size() > kMaxDownloadQueue)
            queue.resize(kMaxDownloadQueue);
        if (!DownloadFiles(queue, PCDir))
            Dialogs::ErrorBox("Phone files list creating error.");
    } catch (...) {
        Dialogs::ErrorBox("Phone files list creating error.");
    }
}

bool TForm_Main::DownloadFiles(const std::vector<TFileInfo>& queue, const std::string& folder,
                               std::vector<TPhoneLink::FetchOutcome>* outcomes)
{
    const bool done = Link->DownloadFiles(queue, folder, outcomes);
    if (!queue.empty() && !folder.empty())
        ShellTreeView1Change();
    return done;
}

// ---- Upload ----------------------------------------------------------------------------------

void TForm_Main::Action_UploadExecute() { UploadSelectedPCFiles(false); }

void TForm_Main::Action_UplodAsMelodyExecute() { UploadSelectedPCFiles(true); }

bool TForm_Main::PhoneOnlineOrSay() const
{
    if (!Link->PhoneOnline)
        Dialogs::ErrorBox("The phone is offline.\r\nConnect it, then choose Action > Reconnect.");
    return Link->PhoneOnline;
}

void TForm_Main::UploadSelectedPCFiles(bool asMelody)
{
    if (!PhoneOnlineOrSay())
        return;
    std::vector<std::string> paths;
    for (const std::string& name : SelectedPCNames())
        paths.push_back(JoinPath(PCDir, name));
    try {
        if (Link->UploadFiles(paths, asMelody, true) == TPhoneLink::UploadResult::OpenFailed)
            Dialogs::ErrorBox("PC files list creating error.");
    } catch (...) {
        Dialogs::ErrorBox("PC files list creating error.");
    }
}

// ---- Delete ----------------------------------------------------------------------------------

void TForm_Main::Action_DeleteExecute()
{
    std::vector<std::size_t> indices;
    for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i)
        if (ListView_PNFiles->topLevelItem(i)->isSelected())
            if (const std::optional<std::size_t> index = PhoneItemIndex(ListView_PNFiles->topLevelItem(i)))
                indices.push_back(*index);
    Link->DeleteRecords(indices);
}

// ---- Reload and the home folder --------------------------------------------------------------

void TForm_Main::Action_ReloadExecute()
{
    ShowPhoneDir(Link->PhoneDir);
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
