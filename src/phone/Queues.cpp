// The multi-file queues: download into a given folder, upload of given files, delete of given
// records of the phone folder. Each runs one file at a time, keeps the books of its progress,
// and stops between two files when the user cancels.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <set>
#include <utility>

#include "phone/PhoneLink.h"
#include "phone/TransferMeter.h"
#include "platform/Files.h"
#include "protocol/Text.h"
#include "protocol/Upload.h"

namespace fs = std::filesystem;

namespace {

// What the user answered to an overwrite or delete question. A question closed without a button
// is no consent: it counts as No.
enum class Consent { Yes, No, YesToAll };
Consent ConsentOf(Prompts::Answer answer)
{
    switch (answer) {
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

LinkResult Named(LinkError error, const std::string& name)
{
    LinkResult result = Result(error);
    result.Name = name;
    return result;
}

} // namespace

Task<std::vector<LinkResult>> TPhoneLink::Download(std::vector<TFileInfo> queue, std::string folder)
{
    std::vector<LinkResult> results(queue.size(), Result(LinkError::Declined));
    if (queue.empty())
        co_return results;
    if (folder.empty()) {
        // Nothing would say where the files go (the PC list shows no folder).
        Report(Result(LinkError::NoFolder));
        co_return results;
    }
    const std::string from = phoneDir_;
    SetBusy(true);
    BeginQueue(pcFSFR, queue.size(), ListedBytes(queue), "downloaded");
    bool yesToAll = false;
    for (std::size_t i = 0; i < queue.size() && !closing_ && !cancelRequested_; ++i) {
        // A link given up (the handset fell silent) reads nothing more: the files left are not
        // asked about, they failed.
        if (!online_) {
            std::fill(results.begin() + static_cast<std::ptrdiff_t>(i), results.end(), Result(LinkError::Offline));
            break;
        }
        const TFileInfo entry = queue[i];
        // The file is saved under the name the handset listed, as the PC can show it; the
        // question is about the very path the read will save to.
        const std::string pcName = ShowableName(entry.Name);
        if (!IsPlainFileName(pcName)) {
            results[i] = Named(LinkError::NotPcName, pcName);
            Report(results[i]);
            QueueFileOver(ListedBytes(entry), false, false);
            continue;
        }
        const std::string target = JoinPath(folder, pcName);
        if (!yesToAll && fs::exists(target)) {
            const Consent answer = ConsentOf(co_await Ask(Prompts::Kind::YesNoYesToAll, Prompts::OverwriteQuestion(pcName)));
            if (answer == Consent::No) {
                QueueFileOver(ListedBytes(entry), false, false);
                continue;
            }
            yesToAll = answer == Consent::YesToAll;
        }
        QueueFileStarts();
        results[i] = co_await Fetch(from, entry, target);
        QueueFileOver(ListedBytes(entry), results[i].Ok(), true);
    }
    EndQueue();
    SetBusy(false);
    co_return results;
}

Task<TPhoneLink::UploadOutcome> TPhoneLink::Upload(std::vector<std::string> paths, bool asMelody, bool ask)
{
    UploadOutcome outcome;
    const std::string folder = phoneDir_;
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
    SetBusy(true);
    BeginQueue(pcFSFW, paths.size(), total, "uploaded");
    for (std::size_t p = 0; p < paths.size(); ++p) {
        const std::string path = paths[p];
        if (closing_ || cancelRequested_)
            break;
        // A listing under way would leave the phone list half filled for the check below.
        co_await Settle();
        const std::string pcName = fs::path(path).filename().string();
        const std::string name = HandsetName(pcName, asMelody);
        // The name travels inside quotes on the serial line with nothing escaped: a quote or a
        // control byte in it would inject bytes into the command stream.
        if (!IsSafeWireName(name)) {
            outcome.Files.push_back(Named(LinkError::NotWireName, pcName));
            Report(outcome.Files.back());
            QueueFileOver(sizes[p], false, false);
            continue;
        }
        std::string base, ext;
        SplitExtension(name, base, ext);
        const std::int32_t type = asMelody ? 0 : TypeCodeFor(ext);

        bool erase = written.count(name) != 0;
        for (std::size_t i = 0; i < phoneRecords_.size() && !erase; ++i)
            erase = phoneRecords_[i].Name == name;
        if (erase && ask) {
            const Consent answer = ConsentOf(co_await Ask(Prompts::Kind::YesNoYesToAll, Prompts::OverwriteQuestion(name)));
            if (answer == Consent::No) {
                outcome.Files.push_back(Named(LinkError::Declined, name));
                QueueFileOver(sizes[p], false, false);
                continue;
            }
            if (answer == Consent::YesToAll)
                ask = false;
        }

        // The PC file is read before anything happens on the handset, so a file that cannot be
        // read never costs the handset its copy.
        std::vector<std::uint8_t> buffer;
        const ReadResult read = ReadWholeFile(path, buffer, asMelody ? kMelodyHeaderSize : 0, INT32_MAX);
        if (read == ReadResult::TooLarge) {
            outcome.Files.push_back(Named(LinkError::TooLarge, pcName));
            Report(outcome.Files.back());
            QueueFileOver(sizes[p], false, false);
            continue;
        }
        if (read != ReadResult::Ok) {
            outcome.Ended = read == ReadResult::OpenFailed ? LinkError::OpenFailed : LinkError::ReadFailed;
            outcome.Files.push_back(Named(outcome.Ended, pcName));
            EndQueue();
            SetBusy(false);
            co_return outcome;
        }
        if (asMelody) {
            const auto header = MelodyHeader(pcName);
            std::copy(header.begin(), header.end(), buffer.begin());
        }

        // The erase and the write of a file are one step of the queue: a cancel never comes
        // between them. The write goes out only once the erase has ended with its final reply;
        // an erase that failed (reported already) skips this file.
        QueueFileStarts();
        if (erase) {
            const LinkResult erased = co_await Erase(folder, name);
            if (!erased.Ok()) {
                outcome.Files.push_back(erased);
                QueueFileOver(sizes[p], false, false);
                continue;
            }
        }
        written.insert(name);
        const LinkResult wrote = co_await Write(folder, name, type, std::move(buffer));
        outcome.Files.push_back(wrote);
        outcome.Files.back().Name = name;
        QueueFileOver(sizes[p], wrote.Ok(), true);
    }
    EndQueue();
    if (!closing_ && phoneDir_ == folder)
        co_await Relist();
    SetBusy(false);
    co_return outcome;
}

Task<std::vector<LinkResult>> TPhoneLink::Delete(std::vector<std::size_t> indices)
{
    // The records are taken first, and the link stays busy while the erases run: a folder
    // change meanwhile would make an erase act on another folder's file of the same name.
    std::vector<TFileInfo> records;
    std::vector<std::size_t> positions;
    for (const std::size_t index : indices)
        if (index < phoneRecords_.size()) {
            records.push_back(phoneRecords_[index]);
            positions.push_back(index);
        }
    std::vector<LinkResult> results(records.size(), Result(LinkError::Declined));
    const std::string folder = phoneDir_;
    const std::uint64_t listing = listingNumber_;

    SetBusy(true);
    BeginQueue(pcFSFE, records.size(), ListedBytes(records), "deleted");
    bool yesToAll = false;
    for (std::size_t i = 0; i < records.size() && !closing_ && !cancelRequested_; ++i) {
        // Another command (Reconnect from the menu) may have emptied or changed the list.
        if (phoneDir_ != folder || listingNumber_ != listing)
            break;
        if (!yesToAll) {
            const Consent answer = ConsentOf(
                co_await Ask(Prompts::Kind::YesNoYesToAll, "Deleting file: " + ShowableName(records[i].Name) + "\r\nA you sure?"));
            if (answer == Consent::No) {
                QueueFileOver(ListedBytes(records[i]), false, false);
                continue;
            }
            yesToAll = answer == Consent::YesToAll;
        }
        QueueFileStarts();
        if (phoneDir_ != folder || listingNumber_ != listing)
            break;
        // An erase has no data to show, but several of them take a while: the progress window
        // shows which file is going (and offers to stop after it).
        if (records.size() > 1)
            emit TransferShown(pcFSFE, records[i].Name, records[i].Size);
        results[i] = co_await Erase(folder, records[i].Name);
        QueueFileOver(ListedBytes(records[i]), results[i].Ok(), true);
        if (listingNumber_ == listing)
            emit RecordDone(positions[i]);
    }
    EndQueue();
    if (!closing_ && phoneDir_ == folder)
        co_await Relist();
    SetBusy(false);
    co_return results;
}

// ---- the books of a queue ----------------------------------------------------------------------

void TPhoneLink::BeginQueue(TPhoneCommand kind, std::size_t files, std::int64_t totalBytes, const std::string& verb)
{
    if (books_.Depth++ > 0)
        return;   // inside another queue: its books take this one's files
    books_.Verb = verb;
    books_.Files = files;
    books_.Passed = books_.Done = 0;
    books_.Total = totalBytes;
    books_.BytesPassed = 0;
    cancelRequested_ = false;
    emit QueueStarted(kind, files, totalBytes);
}

void TPhoneLink::QueueFileStarts()
{
    if (books_.Depth > 0)
        emit QueueProgress(books_.Passed + 1, books_.Files, books_.BytesPassed, books_.Total);
}

void TPhoneLink::QueueFileProgress(std::int64_t done)
{
    if (books_.Depth > 0)
        emit QueueProgress(books_.Passed + 1, books_.Files, books_.BytesPassed + std::max<std::int64_t>(done, 0),
                           books_.Total);
}

void TPhoneLink::QueueFileOver(std::int64_t bytes, bool done, bool moved)
{
    if (books_.Depth == 0)
        return;
    ++books_.Passed;
    if (done)
        ++books_.Done;
    if (moved)
        books_.BytesPassed += bytes;
    else
        books_.Total = std::max(books_.Total - bytes, books_.BytesPassed);
}

bool TPhoneLink::EndQueue(bool tellCancel)
{
    if (books_.Depth == 0)
        return false;
    const bool cancelled = cancelRequested_ && books_.Passed < books_.Files;
    if (--books_.Depth > 0)
        return cancelled;
    const QueueBooks books = std::exchange(books_, QueueBooks{});
    emit QueueEnded();
    if (cancelled && tellCancel && !closing_) {
        LinkResult result = Result(LinkError::Cancelled);
        result.Done = books.Done;
        result.Files = books.Files;
        result.Verb = books.Verb;
        Report(result);
    }
    return cancelled;
}
