#pragma once
// TPhoneLink: the link to the handset, with no widgets (QtCore only). It owns the serial driver
// and the command state, gathers and dispatches the replies, runs listings, reads, writes and
// erases, and reports through signals; its messages and questions go through the prompts
// interface (phone/Prompts.h). Its member functions live in this folder, one file per concern:
//   CommandEngine.cpp   sending, receiving, the echo check, the watchdog, the waiting loop
//   ReplyDispatch.cpp   ProcessReply and the start-up replies
//   Listing.cpp         folder listing into PhoneRecords
//   FileRead.cpp        file read: header, data blocks, the end of a read
//   FileWrite.cpp       file write blocks, the end of a write
//   Queues.cpp          download, upload and delete of several files
// Copy As MIDlet drives the link from outside it: midlet/Installer.h (built into the same library).
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QObject>

#include "protocol/FileInfo.h"
#include "protocol/Reply.h"
#include "serial/CPDrvTypes.h"
#include "serial/PortAdvice.h"

class QTimer;
struct ReplyContext;
class TCommPortDriver;

class TPhoneLink : public QObject {
    Q_OBJECT
public:
    explicit TPhoneLink(QObject* parent = nullptr);
    ~TPhoneLink() override;

    TCommPortDriver* CommPortDriver1 = nullptr;

    // ---- command state (CommandEngine.cpp) --------------------------------------------------
    bool ReplyDone = true;
    TPhoneCommand CurrentCommand = pcNone;
    std::string LastCommand;
    std::array<std::uint8_t, 4096> TempBuf{};
    std::int32_t TempBufPos = 0;
    TReplyClass ReplyClass = rcEmpty;
    QTimer* WDTimer = nullptr;

    void SendCommand(TPhoneCommand kind, const std::string& text);
    void SendATZ();
    void SendCGMM();
    void SendFSIF();
    void SendFSDL();
    void SendFSFE();
    void SendFSFR();
    void SendFSFW();
    void CommPortDriver1ReceiveData(const std::uint8_t* DataPtr, std::uint32_t DataSize);
    void AbortCommand();
    void WDTimerTimer();
    // The link given up: PhoneOnline false, the port closed, Offline reported.
    void GoOffline();
    // Drops the handset's unsolicited lines from the gathered bytes (into the log).
    void DropUnsolicitedLines(const ReplyContext& ctx);
    // What that pass has seen of the gathered bytes, so a delivery that cannot complete a line
    // costs no pass.
    UnsolicitedScan UnsolicitedSeen;
    // A delivery the buffer cannot take: the command under way ends, the buffer is emptied, and
    // the message is shown once per command.
    void Overflow(const std::string& message);
    bool OverflowReported = false;
    // When bytes last arrived, and when the watchdog's count of silence began.
    std::chrono::steady_clock::time_point LastDelivery{};
    std::chrono::steady_clock::time_point WatchdogFrom{};
    // Reply handling (ProcessReply) under way; nested handlings count. A command asked for
    // meanwhile waits in PendingCommand until the outermost handling has returned.
    int HandlingReply = 0;
    std::string PendingCommand;
    void BeginReplyHandling();
    void EndReplyHandling();
    // Writes a command that is already outstanding; a failed write ends it with "Send Error.".
    void WriteCommand(const std::string& text);
    // Runs the watchdog exactly while the handset owes an answer, stops it otherwise.
    void ArmWatchdog();
    // Keeps the event loop running until no command is outstanding (or the link is closing).
    void WaitReplyDone();
    // True once whoever drives the link is ending: waits end at once and nothing more is sent.
    bool Closing = false;

    // Test-only: the watchdog interval (4000 ms in the program).
    void SetWatchdogIntervalForTests(int ms) { WatchdogInterval = ms; }
    int WatchdogInterval = 4000;

    // ---- link state ---------------------------------------------------------------------------
    bool PhoneOnline = false;
    // The phone folder listed last (SendFSDL lists it); empty: none.
    std::string PhoneDir;
    // The records of the phone folder listed last, in the order the handset sent them; the
    // number of the listing they belong to (counts up whenever they are cleared).
    std::vector<TFileInfo> PhoneRecords;
    std::uint64_t ListingNumber = 0;
    void ClearPhoneRecords();
    // Lists a phone folder: it becomes PhoneDir, its records arrive as ListingEntry.
    void ListFolder(const std::string& path);
    // Lists PhoneDir again, once the command under way has ended.
    void RelistPhoneFolder();
    // A transfer queue is running: whoever drives the link starts no second one meanwhile.
    bool Busy = false;
    void SetBusy(bool busy);
    // The user asked the queue under way to stop: it ends after the file in progress (a file is
    // never stopped halfway: the handset could not be told). A queue clears it when it starts;
    // it stays set after the queue, so that whoever ran the queue can tell.
    bool CancelRequested = false;
    void Cancel() { CancelRequested = true; }

    // Closes the port, opens it again with these settings and starts the handset: reset, model,
    // file system (the start-up exchange). A port that does not open is reported on standard
    // error with advice for PortAdviceFor.
    void Reconnect(const std::string& port, std::uint32_t baudRate, bool checkLineStatus, THwFlowControl hwFlow);
    AdviceReader PortAdviceFor = AdviceReader::Window;

    // ---- reply dispatch (ReplyDispatch.cpp) -------------------------------------------------
    void ProcessReply(const std::uint8_t* reply, std::int32_t count);
    void StartupReply(TPhoneCommand kind, std::span<const std::uint8_t> reply);

    // ---- listing (Listing.cpp) --------------------------------------------------------------
    void ListingBlock(const std::uint8_t* block, std::int32_t count);
    void EndListing();

    // ---- file read (FileRead.cpp) -----------------------------------------------------------
    TFileInfo CurrentFile;
    std::unique_ptr<std::vector<std::uint8_t>> TransferBuffer;   // null: none
    std::int32_t BufPos = 0;
    bool ReadHeaderSeen = false;   // the header of the read under way has arrived
    bool ReadFailed = false;       // the header was refused; the rest of the read is ignored
    bool ReadExtractReported = false;   // a data block of the read under way could not be taken
                                        // and the user was told (once per read)
    std::string ReadTarget;        // the PC path the read under way saves to (set by its sender)
    void ReadBlock(const std::uint8_t* block, std::int32_t count);
    void ReadHeaderBlock(const std::uint8_t* block, std::int32_t count);
    void ReadDataBlock(const std::uint8_t* block, std::int32_t count);
    void DrainDataBlock(const std::uint8_t* block, std::int32_t count);
    void EndRead();

    // ---- file write (FileWrite.cpp) ---------------------------------------------------------
    TFileInfo UploadFile;
    void WritePrompt();
    void SendWriteBlock();
    void EndWrite();

    // ---- the multi-file queues (Queues.cpp) ---------------------------------------------------
    // What became of each queued file of a download.
    enum class FetchOutcome { Saved, Skipped, Failed };
    // Runs the reads one after another into `folder` (none: nothing is read); `outcomes`
    // (optional) gets one entry per queued file.
    bool DownloadFiles(const std::vector<TFileInfo>& queue, const std::string& folder,
                       std::vector<FetchOutcome>* outcomes = nullptr);
    enum class UploadResult { Done, OpenFailed, ReadFailed };
    // Writes the PC files to PhoneDir, asking (when `ask`) before one on the handset is
    // replaced. OpenFailed: a PC file could not be opened (the caller words the message);
    // ReadFailed: one opened but could not be read (no message). Either ends the list.
    UploadResult UploadFiles(const std::vector<std::string>& paths, bool asMelody, bool ask);
    // Erases these records of PhoneRecords (by position), asking first; lists the folder again.
    void DeleteRecords(const std::vector<std::size_t>& indices);

    // ---- the progress of a queue and its cancel (Queues.cpp) ---------------------------------
    // A queue's books: its files and bytes, the files passed (done, skipped or failed) and done,
    // the bytes of the files passed. A queue run inside another (a backup downloading folder by
    // folder) books into the outer one: only the outermost starts, counts and ends the books.
    struct QueueBooks {
        int Depth = 0;
        std::string Verb;                  // "downloaded", "uploaded", "deleted"
        std::size_t Files = 0, Passed = 0, Done = 0;
        std::int64_t Total = 0, BytesPassed = 0;
    };
    QueueBooks Queue;
    // A queue of `files` files of `totalBytes` bytes begins (clears CancelRequested).
    void BeginQueue(TPhoneCommand kind, std::size_t files, std::int64_t totalBytes, const std::string& verb);
    // The next file of the queue is under way.
    void QueueFileStarts();
    // The file under way is over: moved (done) or not; a file of which nothing was moved
    // leaves the queue's total.
    void QueueFileOver(std::int64_t bytes, bool done, bool moved);
    // The queue ends; when it was cancelled with files left, the user is told what was done
    // (unless `tellCancel` is false: the caller words it). True when it was so cancelled.
    bool EndQueue(bool tellCancel = true);
    // Progress of the file under way, as bytes of the whole queue.
    void QueueFileProgress(std::int64_t done);

    // The kind of the command whose final reply was handled last, and whether the last read
    // saved its file.
    TPhoneCommand LastFinished = pcNone;
    bool LastReadSaved = false;

signals:
    // A listing's entry as it arrives (its position in PhoneRecords), the end of the listing;
    // the records cleared for a new listing of the same folder.
    void ListingEntry(const TFileInfo& info, std::size_t index);
    // An entry line of the listing under way that could not be read (it is not listed; the
    // log has it too).
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
    // opened (the error message follows); the port's CTS and DSR lines.
    void Reconnecting(const std::string& port);
    void PortOpenFailed(const std::string& portName);
    void LineStatusKnown(bool cts, bool dsr);
    void BusyChanged(bool busy);
};
