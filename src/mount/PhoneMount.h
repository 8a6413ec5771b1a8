#pragma once
// TPhoneMount: the phone as a folder, on the Qt thread. It answers the file-system requests that
// the FUSE session thread posts to it (mount/FuseSession.h), or that a test makes directly, from
// its caches and through the link, and replies through each request's callback, at once or
// when the link is done. It owns the link's use while mounted: one link operation at a time,
// listings and erases before uploads before downloads; the operation under way always ends.
//
// Folders are the handset's fixed tree; files are named as PcFileName shows the handset's names.
// A file is read whole into a private cache (keyed by its path, size and date) and served from
// there; a file written is written into a local file and uploaded when it is flushed. Errors are
// errno values.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <QObject>
#include <QTemporaryDir>

#include "mount/MountRules.h"
#include "phone/PhoneLink.h"

struct MountAttr {
    std::uint64_t Ino = 0;
    bool Folder = false;
    std::int64_t Size = 0;
    std::int64_t MTime = 0;   // seconds since the epoch
};

struct MountDirEntry {
    std::string Name;
    MountAttr Attr;
};

class TPhoneMount : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint64_t kRootIno = 1;

    // `link` is connected (or will be reconnected by `reconnect` when it is offline at the time
    // an operation needs the handset). `unsentDir`: where failed uploads keep their bytes.
    TPhoneMount(TPhoneLink& link, MountOptions options, std::string unsentDir, QObject* parent = nullptr);
    ~TPhoneMount() override;
    using Reconnect = std::function<Task<LinkResult>()>;
    void SetReconnect(Reconnect reconnect) { reconnect_ = std::move(reconnect); }

    using Done = std::function<void(int error)>;
    using AttrReply = std::function<void(int error, const MountAttr& attr)>;
    using DirReply = std::function<void(int error, std::vector<MountDirEntry> entries)>;
    using OpenReply = std::function<void(int error, std::uint64_t handle)>;
    using CreateReply = std::function<void(int error, const MountAttr& attr, std::uint64_t handle)>;
    using ReadReply = std::function<void(int error, std::vector<char> bytes)>;
    using WriteReply = std::function<void(int error, std::size_t written)>;
    using SpaceReply = std::function<void(int error, std::int64_t capacity, std::int64_t free)>;

    // ---- requests ------------------------------------------------------------------------------
    // `request` names a request that may be interrupted (Interrupt); 0 when none.
    void Lookup(std::uint64_t parent, const std::string& name, AttrReply reply);
    void GetAttr(std::uint64_t ino, AttrReply reply);
    // The folder's entries; a folder listed longer ago than the relist time is listed again.
    void OpenDir(std::uint64_t ino, DirReply reply);
    // O_ACCMODE and O_TRUNC of `flags` count.
    void Open(std::uint64_t ino, int flags, std::uint64_t request, OpenReply reply);
    void Create(std::uint64_t parent, const std::string& name, CreateReply reply);
    void Read(std::uint64_t handle, std::size_t size, std::int64_t offset, ReadReply reply);
    void Write(std::uint64_t handle, std::span<const char> bytes, std::int64_t offset, WriteReply reply);
    // truncate: through an open handle (`handle` not 0) or on the file alone.
    void SetSize(std::uint64_t ino, std::uint64_t handle, std::int64_t size, AttrReply reply);
    // A changed file is uploaded now; the reply comes when the handset has answered.
    void Flush(std::uint64_t handle, Done reply);
    void Release(std::uint64_t handle, Done reply);
    void Unlink(std::uint64_t parent, const std::string& name, Done reply);
    // `noReplace`: RENAME_NOREPLACE; `exchange`: RENAME_EXCHANGE.
    void Rename(std::uint64_t parent, const std::string& name, std::uint64_t newParent, const std::string& newName,
                bool noReplace, bool exchange, Done reply);
    void StatFs(SpaceReply reply);
    // The caller gave up the request: unless its download is under way, it is never sent.
    void Interrupt(std::uint64_t request);
    // mkdir, rmdir, link, symlink, mknod: the tree is fixed.
    static int RefuseTreeChange() { return EPERM; }

    // ---- the mount's life ----------------------------------------------------------------------
    // Nothing queued and nothing under way.
    bool Idle() const { return !running_ && queue_.empty(); }
    // Calls `then` once the queue is idle (at once when it is).
    void WhenIdle(std::function<void()> then);
    // The mount is over: files changed and never uploaded keep their bytes in the unsent folder.
    void Abandon();
    // Uploads that failed so far (each has said so on the log).
    int FailedUploads() const { return failedUploads_; }
    // The downloads and uploads sent to the handset so far (for tests and the log).
    int Downloads() const { return downloads_; }
    int Uploads() const { return uploads_; }

signals:
    // A line for the log (standard error of tarvel-cli, the log window).
    void LogLine(const std::string& line);
    // A changed file the handset did not take, and where its bytes are kept (for the user to see).
    void NotUploaded(const std::string& message);

private:
    struct Folder;
    struct LocalFile;
    struct Handle;
    struct Job;
    enum Priority { kListing = 0, kUpload = 1, kDownload = 2 };

    // paths
    std::string PathOf(std::uint64_t ino) const;
    std::uint64_t InoOf(const std::string& path);
    static std::string Join(const std::string& folder, const std::string& name);
    static bool SplitFile(const std::string& path, std::string& folder, std::string& name);

    // listings
    void WithListing(const std::string& folder, bool fresh, std::function<void(int)> then);
    const TFileInfo* Record(const std::string& folder, const std::string& name) const;
    std::optional<MountAttr> AttrOf(const std::string& path);
    std::vector<MountDirEntry> EntriesOf(const std::string& folder);

    // downloads and uploads
    void WithDownload(const std::string& path, const TFileInfo& record, std::uint64_t request,
                      std::function<void(int, std::string)> then);
    void Upload(std::shared_ptr<LocalFile> file, const std::string& folder, const std::string& name, Done then);
    void KeepUnsent(const LocalFile& file, const std::string& name, const LinkResult& why);
    std::shared_ptr<LocalFile> NewLocal(const std::string& path);
    void DropLocalIfDone(const std::string& path);
    void OpenForWrite(const std::string& path, bool truncate, std::uint64_t request, std::function<void(int, std::shared_ptr<LocalFile>)> then);

    // the queue
    void Enqueue(std::shared_ptr<Job> job);
    void Pump();
    void JobEnded(const LinkResult& result);
    void FailQueued(int error);

    TPhoneLink& link_;
    MountOptions options_;
    std::string unsentDir_;
    Reconnect reconnect_;
    QTemporaryDir store_;   // downloads and files being written
    std::uint64_t nextFile_ = 0;

    std::map<std::string, std::uint64_t> inos_;
    std::map<std::uint64_t, std::string> paths_;
    std::uint64_t nextIno_ = kRootIno + 1;
    std::map<std::string, std::unique_ptr<Folder>> folders_;
    std::map<std::string, std::shared_ptr<LocalFile>> locals_;   // by path
    std::map<std::string, std::string> cached_;                  // download key -> file
    std::map<std::uint64_t, std::unique_ptr<Handle>> handles_;
    std::uint64_t nextHandle_ = 1;
    // A handle that writes through the local file `local` of `path`.
    std::uint64_t NewWriteHandle(const std::string& path, const std::shared_ptr<LocalFile>& local);
    std::optional<std::pair<std::chrono::steady_clock::time_point, std::pair<std::int64_t, std::int64_t>>> space_;

    std::vector<std::shared_ptr<Job>> queue_;
    std::uint64_t nextSeq_ = 0;
    bool running_ = false;
    std::vector<std::function<void()>> whenIdle_;
    int failedUploads_ = 0;
    int downloads_ = 0;
    int uploads_ = 0;
    bool abandoned_ = false;
    std::int64_t started_ = 0;   // the folders' date
};
