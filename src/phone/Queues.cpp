// The multi-file queues: download into a given folder, upload of given files, delete of given
// records of the phone folder. Each hands one file at a time to the protocol, waiting for each
// command to end before the next.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <set>

#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "platform/Files.h"
#include "protocol/CRC.h"
#include "protocol/Text.h"
#include "protocol/Upload.h"

namespace fs = std::filesystem;

// One command's records at a time: the window stays responsive while a command runs, so another
// command can start inside a wait (files dropped onto the window, the menu bar). The records a
// command works from (CurrentFile, UploadFile, TransferBuffer, BufPos) and the phone list being
// filled belong to the command under way until it has ended, so a queue waits for that before
// it looks at them or sets them up; the send follows at once, with no message handled between.

namespace {

std::string OverwriteQuestion(const std::string& name) { return "File: " + name + "\r\nexists. Owerwrite?"; }

// What the user answered to an overwrite or delete question. A box closed without a button is
// no consent: it counts as No.
enum class Consent { Yes, No, YesToAll };
Consent AskYesNoAll(const std::string& text)
{
    switch (Prompts::YesNoYesToAll(text)) {
    case Prompts::Answer::Yes: return Consent::Yes;
    case Prompts::Answer::YesToAll: return Consent::YesToAll;
    default: return Consent::No;
    }
}

} // namespace

bool TPhoneLink::DownloadFiles(const std::vector<TFileInfo>& queue, const std::string& folder,
                               std::vector<FetchOutcome>* outcomes)
{
    if (outcomes)
        outcomes->assign(queue.size(), FetchOutcome::Skipped);
    if (queue.empty())
        return true;
    if (folder.empty()) {
        // Nothing would say where the files go (the PC list shows no folder).
        Prompts::ErrorBox("Choose a folder on the PC first.");
        return true;
    }
    bool yesToAll = false;
    for (std::size_t i = 0; i < queue.size() && !Closing; ++i) {
        const TFileInfo& entry = queue[i];
        // The file is saved under the name the handset listed, as the PC can show it; the
        // question is about the very path the read will save to.
        const std::string pcName = ShowableName(entry.Name);
        if (!IsPlainFileName(pcName)) {
            Prompts::ErrorBox("File: " + pcName + "\r\nThis name cannot be a file name on the PC; the file is not downloaded.");
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
        SetBusy(true);
        WaitReplyDone();   // see "One command's records at a time" above
        CurrentFile = entry;
        BufPos = 0;
        ReadTarget = target;
        LastReadSaved = false;
        SendFSFR();
        WaitReplyDone();
        if (outcomes)
            (*outcomes)[i] = LastReadSaved ? FetchOutcome::Saved : FetchOutcome::Failed;
    }
    SetBusy(false);
    return true;
}

TPhoneLink::UploadResult TPhoneLink::UploadFiles(const std::vector<std::string>& paths, bool asMelody, bool ask)
{
    // The phone list is not listed again between the files: a name written earlier in this
    // list (two PC names that shorten alike) is on the handset all the same.
    std::set<std::string> written;
    for (const std::string& path : paths) {
        if (Closing)
            break;
        // A listing under way would leave the phone list half filled for the check below.
        WaitReplyDone();   // see "One command's records at a time" above
        const std::string pcName = fs::path(path).filename().string();
        const std::string name = HandsetName(pcName, asMelody);
        // The name travels inside quotes on the serial line with nothing escaped: a quote or a
        // control byte in it would inject bytes into the command stream.
        if (!IsSafeWireName(name)) {
            Prompts::ErrorBox("File: " + pcName
                              + "\r\nThe name holds a double quote or a control character and cannot be sent to the phone.");
            continue;
        }
        std::string base, ext;
        SplitExtension(name, base, ext);
        const std::int32_t type = asMelody ? 0 : TypeCodeFor(ext);

        bool erase = written.count(name) != 0;
        for (std::size_t i = 0; i < PhoneRecords.size() && !erase; ++i)
            erase = PhoneRecords[i].Name == name;
        if (erase && ask) {
            const Consent answer = AskYesNoAll(OverwriteQuestion(name));
            if (answer == Consent::No)
                continue;
            if (answer == Consent::YesToAll)
                ask = false;
        }

        SetBusy(true);

        // The PC file is read before anything happens on the handset, so a file that cannot be
        // read never costs the handset its copy.
        auto buffer = std::make_unique<std::vector<std::uint8_t>>();
        const ReadResult read = ReadWholeFile(path, *buffer, asMelody ? kMelodyHeaderSize : 0, INT32_MAX);
        if (read == ReadResult::TooLarge) {
            Prompts::ErrorBox("File: " + pcName + "\r\nThe file is too large to be sent to the phone.");
            continue;
        }
        if (read != ReadResult::Ok) {
            TransferBuffer.reset();
            SetBusy(false);
            return read == ReadResult::OpenFailed ? UploadResult::OpenFailed : UploadResult::ReadFailed;
        }
        if (asMelody) {
            const auto header = MelodyHeader(pcName);
            std::copy(header.begin(), header.end(), buffer->begin());
        }

        if (erase) {
            // The write goes out only once the erase has ended with its final reply; an erase
            // that failed (its message is already shown) skips this file.
            CurrentFile.Clear();
            CurrentFile.Name = name;
            LastFinished = pcNone;
            SendFSFE();
            WaitReplyDone();
            if (LastFinished != pcFSFE)
                continue;
        }

        UploadFile.Clear();
        UploadFile.Name = name;
        UploadFile.FileType = type;
        UploadFile.Size = static_cast<std::int32_t>(buffer->size());
        UploadFile.Crc = CalcCRC(*buffer);
        UploadFile.Kind = 1;
        TransferBuffer = std::move(buffer);
        BufPos = 0;
        SendFSFW();
        written.insert(name);
        WaitReplyDone();
        // The write has ended (or never went out while the port is closed).
        TransferBuffer.reset();
    }
    RelistPhoneFolder();
    SetBusy(false);
    return UploadResult::Done;
}

void TPhoneLink::DeleteRecords(const std::vector<std::size_t>& indices)
{
    // The records are taken first, and the link stays busy while the erases run: a folder
    // change meanwhile would make an erase act on another folder's file of the same name.
    std::vector<TFileInfo> records;
    for (const std::size_t index : indices)
        if (index < PhoneRecords.size())
            records.push_back(PhoneRecords[index]);
    const std::string folder = PhoneDir;
    const std::uint64_t listing = ListingNumber;

    SetBusy(true);
    bool yesToAll = false;
    for (std::size_t i = 0; i < records.size() && !Closing; ++i) {
        // Another command (Reconnect from the menu) may have emptied or changed the list.
        if (PhoneDir != folder || ListingNumber != listing)
            break;
        if (!yesToAll) {
            const Consent answer = AskYesNoAll("Deleting file: " + ShowableName(records[i].Name) + "\r\nA you sure?");
            if (answer == Consent::No)
                continue;
            yesToAll = answer == Consent::YesToAll;
        }
        WaitReplyDone();   // see "One command's records at a time" above
        if (PhoneDir != folder || ListingNumber != listing)
            break;
        CurrentFile = records[i];
        SendFSFE();
        WaitReplyDone();
        if (ListingNumber == listing)
            emit RecordDone(indices[i]);
    }
    SetBusy(false);
    if (PhoneDir == folder)
        RelistPhoneFolder();
}

void TPhoneLink::ListFolder(const std::string& path)
{
    PhoneDir = path;
    ClearPhoneRecords();
    SendFSDL();
}

void TPhoneLink::ClearPhoneRecords()
{
    PhoneRecords.clear();
    ++ListingNumber;
}

void TPhoneLink::RelistPhoneFolder()
{
    // A listing started meanwhile (Reload from the menu) ends first, or its entries would land
    // in the list cleared here.
    WaitReplyDone();
    ClearPhoneRecords();
    emit ListingCleared();
    SendFSDL();
}
