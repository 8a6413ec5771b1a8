// The commands that move files: Download, Upload, Uplod As Melody, Delete, Reload, and the home
// folder. Each turns the selection into a queue and hands one file at a time to the protocol,
// waiting for each command to end before the next.
#include <algorithm>
#include <climits>
#include <fstream>
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
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_Init.h"

namespace fs = std::filesystem;

// One command's records at a time: the window stays responsive while a command runs, so another
// command can start inside a wait (files dropped onto the window, the menu bar). The records a
// command works from (CurrentFile, UploadFile, TransferBuffer, BufPos) and the phone list being
// filled belong to the command under way until it has ended, so a queue waits for that before
// it looks at them or sets them up; the send follows at once, with no message handled between.

namespace {

constexpr std::size_t kMaxDownloadQueue = 200;

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty() || dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

std::string OverwriteQuestion(const std::string& name) { return "File: " + name + "\r\nexists. Owerwrite?"; }

// What the user answered to an overwrite or delete question. A box closed without a button is
// no consent: it counts as No.
enum class Consent { Yes, No, YesToAll };
Consent AskYesNoAll(const std::string& text)
{
    switch (Dialogs::YesNoYesToAll(text)) {
    case Dialogs::Answer::Yes: return Consent::Yes;
    case Dialogs::Answer::YesToAll: return Consent::YesToAll;
    default: return Consent::No;
    }
}

enum class ReadOutcome { Ok, OpenFailed, ReadFailed, TooLarge };

// Reads a whole PC file into `data` starting at `offset` (the room before it stays for a header).
ReadOutcome ReadWholeFile(const std::string& path, std::size_t offset, std::vector<std::uint8_t>& data)
{
    // Only a regular file (or a link to one) is opened: opening a named pipe would wait for a
    // writer with the window frozen, and a folder or a device has no content to send.
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return ReadOutcome::OpenFailed;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return ReadOutcome::OpenFailed;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        return ReadOutcome::ReadFailed;
    if (static_cast<std::uint64_t>(size) + offset > static_cast<std::uint64_t>(INT32_MAX))
        return ReadOutcome::TooLarge;
    in.seekg(0, std::ios::beg);
    data.assign(static_cast<std::size_t>(size) + offset, 0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(data.data() + offset), size))
        return ReadOutcome::ReadFailed;
    return ReadOutcome::Ok;
}

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
                               std::vector<FetchOutcome>* outcomes)
{
    if (outcomes)
        outcomes->assign(queue.size(), FetchOutcome::Skipped);
    if (queue.empty())
        return true;
    if (folder.empty()) {
        // Nothing would say where the files go (the PC list shows no folder).
        Dialogs::ErrorBox("Choose a folder on the PC first.");
        return true;
    }
    bool yesToAll = false;
    for (std::size_t i = 0; i < queue.size() && !Link->Closing; ++i) {
        const TFileInfo& entry = queue[i];
        // The file is saved under the name the handset listed, as the PC can show it; the
        // question is about the very path the read will save to.
        const std::string pcName = ShowableName(entry.Name);
        if (!IsPlainFileName(pcName)) {
            Dialogs::ErrorBox("File: " + pcName + "\r\nThis name cannot be a file name on the PC; the file is not downloaded.");
            if (outcomes)
                (*outcomes)[i] = FetchOutcome::Failed;
            continue;
        }
        const std::string target = JoinPath(folder, pcName);
        if (!yesToAll && fs::exists(target)) {
            const Consent answer = AskYesNoAll(OverwriteQuestion(pcName));
            if (answer == Consent::No)
                continue;
            yesToAll = answer == Consent::YesToAll;
        }
        Link->SetBusy(true);
        Link->WaitReplyDone();   // see "One command's records at a time" above
        Link->CurrentFile = entry;
        Link->BufPos = 0;
        Link->ReadTarget = target;
        Link->LastReadSaved = false;
        Link->SendFSFR();
        Link->WaitReplyDone();
        if (outcomes)
            (*outcomes)[i] = Link->LastReadSaved ? FetchOutcome::Saved : FetchOutcome::Failed;
    }
    Link->SetBusy(false);
    ShellTreeView1Change();
    return true;
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
        if (UploadFiles(paths, asMelody, true) == UploadResult::OpenFailed)
            Dialogs::ErrorBox("PC files list creating error.");
    } catch (...) {
        Dialogs::ErrorBox("PC files list creating error.");
    }
}

TForm_Main::UploadResult TForm_Main::UploadFiles(const std::vector<std::string>& paths, bool asMelody, bool ask)
{
    // The phone list is not listed again between the files: a name written earlier in this
    // list (two PC names that shorten alike) is on the handset all the same.
    std::set<std::string> written;
    for (const std::string& path : paths) {
        if (Link->Closing)
            break;
        // A listing under way would leave the phone list half filled for the check below.
        Link->WaitReplyDone();   // see "One command's records at a time" above
        const std::string pcName = fs::path(path).filename().string();
        const std::string name = HandsetName(pcName, asMelody);
        // The name travels inside quotes on the serial line with nothing escaped: a quote or a
        // control byte in it would inject bytes into the command stream.
        if (!IsSafeWireName(name)) {
            Dialogs::ErrorBox("File: " + pcName
                              + "\r\nThe name holds a double quote or a control character and cannot be sent to the phone.");
            continue;
        }
        std::string base, ext;
        SplitExtension(name, base, ext);
        const std::int32_t type = asMelody ? 0 : TypeCodeFor(ext);

        bool erase = written.count(name) != 0;
        for (int i = 0; i < ListView_PNFiles->topLevelItemCount() && !erase; ++i)
            if (const TFileInfo* r = PhoneItemRecord(ListView_PNFiles->topLevelItem(i)))
                erase = r->Name == name;
        if (erase && ask) {
            const Consent answer = AskYesNoAll(OverwriteQuestion(name));
            if (answer == Consent::No)
                continue;
            if (answer == Consent::YesToAll)
                ask = false;
        }

        Link->SetBusy(true);

        // The PC file is read before anything happens on the handset, so a file that cannot be
        // read never costs the handset its copy.
        auto buffer = std::make_unique<std::vector<std::uint8_t>>();
        const ReadOutcome read = ReadWholeFile(path, asMelody ? kMelodyHeaderSize : 0, *buffer);
        if (read == ReadOutcome::TooLarge) {
            Dialogs::ErrorBox("File: " + pcName + "\r\nThe file is too large to be sent to the phone.");
            continue;
        }
        if (read != ReadOutcome::Ok) {
            Link->TransferBuffer.reset();
            Link->SetBusy(false);
            return read == ReadOutcome::OpenFailed ? UploadResult::OpenFailed : UploadResult::ReadFailed;
        }
        if (asMelody) {
            const auto header = MelodyHeader(pcName);
            std::copy(header.begin(), header.end(), buffer->begin());
        }

        if (erase) {
            // The write goes out only once the erase has ended with its final reply; an erase
            // that failed (its message is already shown) skips this file.
            Link->CurrentFile.Clear();
            Link->CurrentFile.Name = name;
            Link->LastFinished = pcNone;
            Link->SendFSFE();
            Link->WaitReplyDone();
            if (Link->LastFinished != pcFSFE)
                continue;
        }

        Link->UploadFile.Clear();
        Link->UploadFile.Name = name;
        Link->UploadFile.FileType = type;
        Link->UploadFile.Size = static_cast<std::int32_t>(buffer->size());
        Link->UploadFile.Crc = CalcCRC(buffer->data(), buffer->size());
        Link->UploadFile.Kind = 1;
        Link->TransferBuffer = std::move(buffer);
        Link->BufPos = 0;
        Link->SendFSFW();
        written.insert(name);
        Link->WaitReplyDone();
        // The write has ended (or never went out while the port is closed).
        Link->TransferBuffer.reset();
    }
    RelistPhoneFolder();
    Link->SetBusy(false);
    return UploadResult::Done;
}

// ---- Delete ----------------------------------------------------------------------------------

void TForm_Main::Action_DeleteExecute()
{
    // The selection is taken first, and the panes stay disabled while the erases run: a folder
    // change meanwhile would make an erase act on another folder's file of the same name.
    std::vector<QTreeWidgetItem*> items;
    for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i)
        if (ListView_PNFiles->topLevelItem(i)->isSelected() && PhoneItemRecord(ListView_PNFiles->topLevelItem(i)))
            items.push_back(ListView_PNFiles->topLevelItem(i));
    std::vector<TFileInfo> records;
    for (QTreeWidgetItem* item : items)
        records.push_back(*PhoneItemRecord(item));
    const std::string folder = Link->PhoneDir;

    Link->SetBusy(true);
    bool yesToAll = false;
    for (std::size_t i = 0; i < records.size() && !Link->Closing; ++i) {
        // Another command (Reconnect from the menu) may have emptied or changed the list.
        if (Link->PhoneDir != folder || ListView_PNFiles->indexOfTopLevelItem(items[i]) < 0)
            break;
        if (!yesToAll) {
            const Consent answer = AskYesNoAll("Deleting file: " + ShowableName(records[i].Name) + "\r\nA you sure?");
            if (answer == Consent::No)
                continue;
            yesToAll = answer == Consent::YesToAll;
        }
        Link->WaitReplyDone();   // see "One command's records at a time" above
        if (Link->PhoneDir != folder || ListView_PNFiles->indexOfTopLevelItem(items[i]) < 0)
            break;
        Link->CurrentFile = records[i];
        Link->SendFSFE();
        Link->WaitReplyDone();
        if (ListView_PNFiles->indexOfTopLevelItem(items[i]) >= 0)
            items[i]->setSelected(false);
    }
    Link->SetBusy(false);
    if (Link->PhoneDir == folder)
        RelistPhoneFolder();
}

void TForm_Main::RelistPhoneFolder()
{
    // A listing started meanwhile (Reload from the menu) ends first, or its entries would land
    // in the list cleared here.
    Link->WaitReplyDone();
    ListView_PNFiles->clear();
    Link->SendFSDL();
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
