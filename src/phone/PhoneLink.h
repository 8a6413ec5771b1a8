#pragma once
// TPhoneLink: the link to the handset, with no widgets (QtCore only). It runs its commands
// through the command channel (phone/Channel.h) and offers operations (connect, list, download,
// upload, delete, back up, and the single commands under them), each a Task that completes with
// typed results (phone/LinkResult.h). It reports through signals and asks its questions through
// the asker it is given; it never shows anything itself. Its member functions live in this
// folder, one file per concern:
//   CommandEngine.cpp   running commands, what a failed command does to the link, connect/close
//   Listing.cpp         folder listings
//   FileRead.cpp        file read: header, data blocks, the end of a read
//   FileWrite.cpp       file write and erase
//   Queues.cpp          download, upload and delete of several files, and their books
//   Backup.cpp          the incremental backup
//   FileSystemInfo.cpp  the handset's capacity and free space
// Copy As MIDlet drives the link through this surface: midlet/Installer.h.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QObject>

#include "phone/Backup.h"
#include "phone/LinkResult.h"
#include "phone/Prompts.h"
#include "phone/Task.h"
#include "protocol/FileInfo.h"
#include "serial/CPDrvTypes.h"
#include "serial/PortAdvice.h"

class TCommandChannel;
struct TCommand;

class TPhoneLink : public QObject {
    Q_OBJECT
public:
    explicit TPhoneLink(QObject* parent = nullptr);
    ~TPhoneLink() override;

    // ---- questions ------------------------------------------------------------------------------
    // Whoever drives the link answers its questions (overwrite, delete), at once or later, by
    // calling `answer`. Without an asker every question is answered No.
    using Answer = std::function<void(Prompts::Answer)>;
    using Asker = std::function<void(Prompts::Kind kind, const std::string& text, Answer answer)>;
    void SetAsker(Asker asker) { asker_ = std::move(asker); }
    // Asks through the asker (for operations built on the link, such as Copy As MIDlet).
    Task<Prompts::Answer> Ask(Prompts::Kind kind, std::string text);

    // ---- connection -----------------------------------------------------------------------------
    // Closes the port, opens it again with these settings and starts the handset: reset, model,
    // file system. A port that does not open is reported (its reason and advice, for
    // SetPortAdvice's reader, also on standard error).
    Task<LinkResult> Connect(std::string port, std::uint32_t baudRate, bool checkLineStatus, THwFlowControl hwFlow);
    void SetPortAdvice(AdviceReader reader) { portAdvice_ = reader; }
    // Whoever drives the link is ending: the operations under way end (Closed), nothing more is
    // sent, the port is closed.
    void Close();
    bool Closing() const { return closing_; }
    bool Online() const { return online_; }
    const std::string& Model() const { return model_; }

    // ---- the phone folder on show ---------------------------------------------------------------
    // Lists a folder: it becomes PhoneDir, its records arrive as ListingEntry.
    Task<LinkResult> ListFolder(std::string path);
    // Lists PhoneDir again (after the commands already queued).
    Task<LinkResult> Relist();
    const std::string& PhoneDir() const { return phoneDir_; }
    // The records of PhoneDir in the order the handset sent them, and the number of the listing
    // they belong to (counts up whenever they are cleared).
    const std::vector<TFileInfo>& PhoneRecords() const { return phoneRecords_; }
    std::uint64_t ListingNumber() const { return listingNumber_; }

    // ---- single commands ------------------------------------------------------------------------
    // Each names its folder; the handset's folder is changed first (by listing it) when another
    // one was listed last, right before the command goes out.
    struct Listing {
        LinkResult Result;
        std::vector<TFileInfo> Records;
    };
    // Lists a folder without showing it (PhoneDir stays).
    Task<Listing> List(std::string folder);
    // Reads a file into `target`, replacing what is there (atomically: a failed read leaves the
    // old file whole). An empty target saves nothing (SaveFailed).
    Task<LinkResult> Fetch(std::string folder, TFileInfo entry, std::string target);
    Task<LinkResult> Erase(std::string folder, std::string name);
    // The handset's capacity and free bytes (AT+FSIF; FileSystemInfo.cpp). Known is false when
    // the handset answered without them.
    struct Space {
        LinkResult Result;
        bool Known = false;
        std::int64_t Capacity = 0, Free = 0;
    };
    Task<Space> FileSpace();
    // Writes `bytes` as the file `name` (the handset's file type `type`); the name must be free.
    Task<LinkResult> Write(std::string folder, std::string name, std::int32_t type, std::vector<std::uint8_t> bytes);

    // ---- queues ---------------------------------------------------------------------------------
    // Reads the records (of PhoneDir) into the PC folder `folder`, asking before a PC file is
    // replaced: one result per record (Declined: the user kept the PC file).
    Task<std::vector<LinkResult>> Download(std::vector<TFileInfo> queue, std::string folder);
    // Writes the PC files to PhoneDir, asking (when `ask`) before one on the handset is replaced.
    // Ended: OpenFailed or ReadFailed when a PC file could not be opened or read (the list ends
    // there; the caller words it), else None.
    struct UploadOutcome {
        LinkError Ended = LinkError::None;
        std::vector<LinkResult> Files;
    };
    Task<UploadOutcome> Upload(std::vector<std::string> paths, bool asMelody, bool ask);
    // Erases these records of PhoneRecords (by position), asking first; lists the folder again.
    Task<std::vector<LinkResult>> Delete(std::vector<std::size_t> indices);
    // The backup into `dir` (phone/Backup.h).
    Task<BackupSummary> Backup(std::string dir, BackupOptions options);

    // The user asks the queue under way to stop: it ends after the file in progress (a file is
    // never stopped halfway: the handset could not be told). It stays set after the queue, so
    // that whoever ran the queue can tell; the next queue clears it.
    void Cancel() { cancelRequested_ = true; }
    bool CancelRequested() const { return cancelRequested_; }
    // A transfer or queue is under way: whoever drives the link starts no second one meanwhile.
    bool Busy() const { return busy_ > 0; }
    bool QueueRunning() const { return books_.Depth > 0; }

    // For tests: the channel (its queue, unsolicited-line handlers) and the watchdog's interval
    // (4000 ms in the program).
    TCommandChannel& Channel() { return *channel_; }
    void SetWatchdogIntervalForTests(int ms);

signals:
    // Every failure, refusal and cancel as it happens, in order: whoever drives the link shows
    // it (ResultText words it; `details`, when not empty, is more for whoever wants it).
    void Reported(const LinkResult& result, const std::string& details);
    // A listing's entry as it arrives (its position in PhoneRecords), the end of the listing;
    // the records cleared for a new listing of the same folder.
    void ListingEntry(const TFileInfo& info, std::size_t index);
    // An entry line of a listing that could not be read (it is not listed; the log has it too).
    void ListingEntryRefused(const std::string& folder, const std::string& line);
    void ListingEnded();
    void ListingCleared();
    // A queue has done with this record (by position in PhoneRecords).
    void RecordDone(std::size_t index);
    // A transfer's file (pcFSFR: a read, pcFSFW: a write, pcFSFE: an erase of a delete queue)
    // with its size; its progress (bytes done of `size`); the progress is over.
    void TransferShown(TPhoneCommand kind, const std::string& name, std::int32_t size);
    void Progress(std::int64_t done, std::int64_t size);
    void ProgressClosed();
    // A queue of `files` files, `totalBytes` in all, has begun; its file `file` (from 1) is under
    // way with `doneBytes` of `totalBytes` moved (the total shrinks by the files passed over);
    // the queue has ended.
    void QueueStarted(TPhoneCommand kind, std::size_t files, std::int64_t totalBytes);
    void QueueProgress(std::size_t file, std::size_t files, std::int64_t doneBytes, std::int64_t totalBytes);
    void QueueEnded();
    // A command has ended without its reply (aborted, timed out): any wait shown is over.
    void WaitEnded();
    // Lines for the log: raw replies as received, and one line per write block. A full log is
    // the receiver's to report; it never stops the link.
    void LogRaw(const std::string& text);
    void LogLine(const std::string& line);
    // The link's status: online after the reset, the handset's model, its file system ready
    // (the root may be listed), offline.
    void WentOnline();
    void ModelKnown(const std::string& model);
    void FileSystemReady();
    void WentOffline();
    // A reconnect has begun on this port (the listed folder is forgotten); the port could not be
    // opened (the error is reported); the port's CTS and DSR lines.
    void Reconnecting(const std::string& port);
    void PortOpenFailed(const std::string& portName);
    void LineStatusKnown(bool cts, bool dsr);
    void BusyChanged(bool busy);

private:
    struct ReadJob;

    // ---- commands (CommandEngine.cpp) ----
    // Runs a command and completes with its result; a refusal resets the handset, silence gives
    // the link up, and both are reported.
    Task<LinkResult> Run(std::shared_ptr<TCommand> command, bool first = false);
    void CommandFailed(TPhoneCommand kind, const LinkResult& result);
    void Report(const LinkResult& result, const std::string& details = {});
    void GoOffline();
    void ResetHandset();
    // The commands, each sent (after those queued; `first`: ahead of them) and awaited; what a
    // success means to the link happens inside (online, the model, the file system ready).
    Task<LinkResult> SendATZ(bool first = false);
    Task<LinkResult> SendCGMM();
    Task<LinkResult> SendFSIF();
    Task<LinkResult> SendFSDL(std::string folder, std::function<void(std::span<const std::uint8_t>)> onBlock);
    Task<LinkResult> SendFSFR(std::string folder, std::shared_ptr<ReadJob> job);
    Task<LinkResult> SendFSFW(std::string folder, TFileInfo file, std::shared_ptr<std::vector<std::uint8_t>> data);
    Task<LinkResult> SendFSFE(std::string folder, std::string name);
    // Makes `command` one on a file of `folder`: as it is about to go out, the handset lists
    // that folder first unless it was the one listed last (a failed listing ends the command).
    void InFolder(const std::shared_ptr<TCommand>& command, const std::string& folder);
    void SetBusy(bool busy);
    // Completes once the commands queued so far are done (a listing under way has all its entries).
    Task<LinkResult> Settle();

    // ---- listing (Listing.cpp) ----
    Task<Listing> RunListing(std::string folder, bool shown);

    // ---- books of a queue (Queues.cpp) ----
    struct QueueBooks {
        int Depth = 0;
        std::string Verb;   // "downloaded", "uploaded", "deleted", "backed up"
        std::size_t Files = 0, Passed = 0, Done = 0;
        std::int64_t Total = 0, BytesPassed = 0;
    };
    void BeginQueue(TPhoneCommand kind, std::size_t files, std::int64_t totalBytes, const std::string& verb);
    void QueueFileStarts();
    void QueueFileOver(std::int64_t bytes, bool done, bool moved);
    // Ends the books; when the queue was cancelled with files left, that is reported (unless
    // `tellCancel` is false: the caller words it). True when it was so cancelled.
    bool EndQueue(bool tellCancel = true);
    void QueueFileProgress(std::int64_t done);

    TCommandChannel* channel_ = nullptr;
    Asker asker_;
    AdviceReader portAdvice_ = AdviceReader::Window;
    bool online_ = false;
    bool closing_ = false;
    std::string model_;
    std::string handsetFolder_;   // the folder the handset listed last (reads and writes name its files)
    std::string phoneDir_;
    std::vector<TFileInfo> phoneRecords_;
    std::uint64_t listingNumber_ = 0;
    int busy_ = 0;
    bool cancelRequested_ = false;
    QueueBooks books_;
};
