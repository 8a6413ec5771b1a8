// The multi-file queues: download into a given folder, upload of given files, delete of given
// records of the phone folder. Each hands one file at a time to the protocol, waiting for each
// command to end before the next, keeps the books of its progress, and stops between two files
// when the user cancels.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <set>
#include <utility>

#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "phone/TransferMeter.h"
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

// The bytes a listed record counts for in a queue's books.
std::int64_t ListedBytes(const TFileInfo& record) { return std::max<std::int32_t>(record.Size, 0); }
std::int64_t ListedBytes(const std::vector<TFileInfo>& records)
{
    std::int64_t total = 0;
    for (const TFileInfo& record : records)
        total += ListedBytes(record);
    return total;
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
    BeginQueue(pcFSFR, queue.size(), ListedBytes(queue), "downloaded");
    bool yesToAll = false;
    for (std::size_t i = 0; i < queue.size() && !Closing && !CancelRequested; ++i) {
        // A link given up (the handset fell silent) reads nothing more: the files left are not
        // asked about, they failed.
        if (!PhoneOnline) {
            if (outcomes)
                std::fill(outcomes->begin() + static_cast<std::ptrdiff_t>(i), outcomes->end(), FetchOutcome::Failed);
            break;
        }
        const TFileInfo& entry = queue[i];
        // The file is saved under the name the handset listed, as the PC can show it; the
        // question is about the very path the read will save to.
        const std::string pcName = ShowableName(entry.Name);
        if (!IsPlainFileName(pcName)) {
            Prompts::ErrorBox("File: " + pcName + "\r\nThis name cannot be a file name on the PC; the file is not downloaded.");
            if (outcomes)
                (*outcomes)[i] = FetchOutcome::Failed;
            QueueFileOver(ListedBytes(entry), false, false);
            continue;
        }
        const std::string target = JoinPath(folder, pcName);
        if (!yesToAll && fs::exists(target)) {
            const Consent answer = AskYesNoAll(Prompts::OverwriteQuestion(pcName));
            if (answer == Consent::No) {
                QueueFileOver(ListedBytes(entry), false, false);
                continue;
            }
            yesToAll = answer == Consent::YesToAll;
        }
        QueueFileStarts();
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
        QueueFileOver(ListedBytes(entry), LastReadSaved, true);
    }
    EndQueue();
    SetBusy(false);
    return true;
}

TPhoneLink::UploadResult TPhoneLink::UploadFiles(const std::vector<std::string>& paths, bool asMelody, bool ask)
{
    // The phone list is not listed again between the files: a name written earlier in this
    // list (two PC names that shorten alike) is on the handset all the same.
    std::set<std::string> written;
    // The queue's bytes: the PC files' sizes (with the melody header each gets).
    std::vector<std::int64_t> sizes;
    std::int64_t total = 0;
    for (const std::string& path : paths) {
        std::error_code error;
        const std::uintmax_t size = fs::is_regular_file(path, error) ? fs::file_size(path, error) : 0;
        sizes.push_back(error ? 0 : static_cast<std::int64_t>(std::min<std::uintmax_t>(size, INT32_MAX))
                                        + static_cast<std::int64_t>(asMelody ? kMelodyHeaderSize : 0));
        total += sizes.back();
    }
    BeginQueue(pcFSFW, paths.size(), total, "uploaded");
    for (std::size_t p = 0; p < paths.size(); ++p) {
        const std::string& path = paths[p];
        if (Closing || CancelRequested)
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
            QueueFileOver(sizes[p], false, false);
            continue;
        }
        std::string base, ext;
        SplitExtension(name, base, ext);
        const std::int32_t type = asMelody ? 0 : TypeCodeFor(ext);

        bool erase = written.count(name) != 0;
        for (std::size_t i = 0; i < PhoneRecords.size() && !erase; ++i)
            erase = PhoneRecords[i].Name == name;
        if (erase && ask) {
            const Consent answer = AskYesNoAll(Prompts::OverwriteQuestion(name));
            if (answer == Consent::No) {
                QueueFileOver(sizes[p], false, false);
                continue;
            }
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
            QueueFileOver(sizes[p], false, false);
            continue;
        }
        if (read != ReadResult::Ok) {
            TransferBuffer.reset();
            EndQueue();
            SetBusy(false);
            return read == ReadResult::OpenFailed ? UploadResult::OpenFailed : UploadResult::ReadFailed;
        }
        if (asMelody) {
            const auto header = MelodyHeader(pcName);
            std::copy(header.begin(), header.end(), buffer->begin());
        }

        // The erase and the write of a file are one step of the queue: a cancel never comes
        // between them.
        QueueFileStarts();
        if (erase) {
            // The write goes out only once the erase has ended with its final reply; an erase
            // that failed (its message is already shown) skips this file.
            CurrentFile.Clear();
            CurrentFile.Name = name;
            LastFinished = pcNone;
            SendFSFE();
            WaitReplyDone();
            if (LastFinished != pcFSFE) {
                QueueFileOver(sizes[p], false, false);
                continue;
            }
        }

        UploadFile.Clear();
        UploadFile.Name = name;
        UploadFile.FileType = type;
        UploadFile.Size = static_cast<std::int32_t>(buffer->size());
        UploadFile.Crc = CalcCRC(*buffer);
        UploadFile.Kind = 1;
        TransferBuffer = std::move(buffer);
        BufPos = 0;
        LastFinished = pcNone;
        SendFSFW();
        written.insert(name);
        WaitReplyDone();
        // The write has ended (or never went out while the port is closed).
        TransferBuffer.reset();
        QueueFileOver(sizes[p], LastFinished == pcFSFW, true);
    }
    EndQueue();
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
    BeginQueue(pcFSFE, records.size(), ListedBytes(records), "deleted");
    bool yesToAll = false;
    for (std::size_t i = 0; i < records.size() && !Closing && !CancelRequested; ++i) {
        // Another command (Reconnect from the menu) may have emptied or changed the list.
        if (PhoneDir != folder || ListingNumber != listing)
            break;
        if (!yesToAll) {
            const Consent answer = AskYesNoAll("Deleting file: " + ShowableName(records[i].Name) + "\r\nA you sure?");
            if (answer == Consent::No) {
                QueueFileOver(ListedBytes(records[i]), false, false);
                continue;
            }
            yesToAll = answer == Consent::YesToAll;
        }
        QueueFileStarts();
        WaitReplyDone();   // see "One command's records at a time" above
        if (PhoneDir != folder || ListingNumber != listing)
            break;
        CurrentFile = records[i];
        LastFinished = pcNone;
        // An erase has no data to show, but several of them take a while: the progress window
        // shows which file is going (and offers to stop after it).
        if (records.size() > 1)
            emit TransferShown(pcFSFE, records[i].Name, records[i].Size);
        SendFSFE();
        WaitReplyDone();
        QueueFileOver(ListedBytes(records[i]), LastFinished == pcFSFE, true);
        if (ListingNumber == listing)
            emit RecordDone(indices[i]);
    }
    EndQueue();
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

// ---- the books of a queue ----------------------------------------------------------------------

void TPhoneLink::BeginQueue(TPhoneCommand kind, std::size_t files, std::int64_t totalBytes, const std::string& verb)
{
    if (Queue.Depth++ > 0)
        return;   // inside another queue: its books take this one's files
    Queue.Verb = verb;
    Queue.Files = files;
    Queue.Passed = Queue.Done = 0;
    Queue.Total = totalBytes;
    Queue.BytesPassed = 0;
    CancelRequested = false;
    emit QueueStarted(kind, files, totalBytes);
}

void TPhoneLink::QueueFileStarts()
{
    if (Queue.Depth > 0)
        emit QueueProgress(Queue.Passed + 1, Queue.Files, Queue.BytesPassed, Queue.Total);
}

void TPhoneLink::QueueFileProgress(std::int64_t done)
{
    if (Queue.Depth > 0)
        emit QueueProgress(Queue.Passed + 1, Queue.Files, Queue.BytesPassed + std::max<std::int64_t>(done, 0),
                           Queue.Total);
}

void TPhoneLink::QueueFileOver(std::int64_t bytes, bool done, bool moved)
{
    if (Queue.Depth == 0)
        return;
    ++Queue.Passed;
    if (done)
        ++Queue.Done;
    if (moved)
        Queue.BytesPassed += bytes;
    else
        Queue.Total = std::max(Queue.Total - bytes, Queue.BytesPassed);
}

bool TPhoneLink::EndQueue(bool tellCancel)
{
    if (Queue.Depth == 0)
        return false;
    const bool cancelled = CancelRequested && Queue.Passed < Queue.Files;
    if (--Queue.Depth > 0)
        return cancelled;
    const QueueBooks books = std::exchange(Queue, QueueBooks{});
    emit QueueEnded();
    if (cancelled && tellCancel && !Closing)
        Prompts::InfoBox(FormatCancelledQueue(books.Done, books.Files, books.Verb));
    return cancelled;
}
