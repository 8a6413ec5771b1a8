#include "mount/PhoneMount.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>

#include <QFile>
#include <QPointer>

#include "platform/Files.h"
#include "protocol/PhoneTree.h"
#include "protocol/ReadBlock.h"
#include "protocol/Text.h"
#include "protocol/Upload.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct TPhoneMount::Folder {
    bool Listed = false;
    Clock::time_point At{};
    std::vector<TFileInfo> Records;
};

// A file the PC is writing (or a temporary of an editor, which stays here).
struct TPhoneMount::LocalFile {
    std::string File;          // in the store
    bool Dirty = false;        // changed since it was last uploaded
    bool LocalOnly = false;
    int Open = 0;              // handles on it
    int Uploading = 0;
    std::int64_t MTime = 0;
};

struct TPhoneMount::Handle {
    std::string Path;
    std::shared_ptr<LocalFile> Local;   // written through this handle
    std::shared_ptr<LocalFile> Reading; // a local file read through this handle
    std::string File;                   // read from here (the download cache or the local file)
};

// One link operation of the queue. Requests that need the same listing or download wait on one
// job; each waiter has the request it came with (0: none) and hears the job's errno.
struct TPhoneMount::Job {
    int Prio = kListing;
    std::uint64_t Seq = 0;
    std::string Key;
    std::vector<std::pair<std::uint64_t, std::function<void(int)>>> Waiters;
    std::function<void(std::function<void(const LinkResult&)>)> Run;
    // The errno the waiters hear (ErrnoFor when not set).
    std::function<int(const LinkResult&)> ErrorOf;
};

namespace {

std::int64_t Now() { return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count(); }

std::string ParentOf(const std::string& folder)
{
    const std::size_t slash = folder.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : folder.substr(0, slash);
}

bool ReadAt(const std::string& file, std::size_t size, std::int64_t offset, std::vector<char>& out)
{
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return false;
    out.resize(size);
    const qint64 n = f.read(out.data(), static_cast<qint64>(size));
    if (n < 0)
        return false;
    out.resize(static_cast<std::size_t>(n));
    return true;
}

} // namespace

TPhoneMount::TPhoneMount(TPhoneLink& link, MountOptions options, std::string unsentDir, QObject* parent)
    : QObject(parent), link_(link), options_(std::move(options)), unsentDir_(std::move(unsentDir))
{
    started_ = Now();
    inos_["/"] = kRootIno;
    paths_[kRootIno] = "/";
}

TPhoneMount::~TPhoneMount()
{
    Abandon();
}

// ---- paths and inodes ---------------------------------------------------------------------------

std::string TPhoneMount::PathOf(std::uint64_t ino) const
{
    const auto it = paths_.find(ino);
    return it == paths_.end() ? std::string() : it->second;
}

std::uint64_t TPhoneMount::InoOf(const std::string& path)
{
    const auto it = inos_.find(path);
    if (it != inos_.end())
        return it->second;
    const std::uint64_t ino = nextIno_++;
    inos_[path] = ino;
    paths_[ino] = path;
    return ino;
}

std::string TPhoneMount::Join(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool TPhoneMount::SplitFile(const std::string& path, std::string& folder, std::string& name)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || IsPhoneTreeFolder(path))
        return false;
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
    return IsPhoneTreeFolder(folder) && !name.empty();
}

// ---- listings -----------------------------------------------------------------------------------

const TFileInfo* TPhoneMount::Record(const std::string& folder, const std::string& name) const
{
    const auto it = folders_.find(folder);
    if (it == folders_.end())
        return nullptr;
    for (const TFileInfo& r : it->second->Records)
        if (PcFileName(r.Name) == name)
            return &r;
    return nullptr;
}

void TPhoneMount::WithListing(const std::string& folder, bool fresh, std::function<void(int)> then)
{
    std::unique_ptr<Folder>& f = folders_[folder];
    if (!f)
        f = std::make_unique<Folder>();
    const bool young = Clock::now() - f->At < std::chrono::seconds(options_.RelistSeconds);
    // A listing at hand answers while the link is down: the next operation that needs the
    // handset reconnects.
    if (f->Listed && (!fresh || young || !link_.Online())) {
        then(0);
        return;
    }
    for (const auto& job : queue_)
        if (job->Prio == kListing && job->Key == "list:" + folder) {
            job->Waiters.emplace_back(0, std::move(then));
            return;
        }
    auto job = std::make_shared<Job>();
    job->Prio = kListing;
    job->Key = "list:" + folder;
    job->Waiters.emplace_back(0, std::move(then));
    job->Run = [this, folder](std::function<void(const LinkResult&)> ended) {
        link_.List(folder).Then([this, folder, ended](TPhoneLink::Listing listing) {
            Folder& f = *folders_[folder];
            if (listing.Result.Ok()) {
                f.Records = std::move(listing.Records);
                f.Listed = true;
                f.At = Clock::now();
            }
            ended(listing.Result);
        });
    };
    // A listing that failed still leaves the one before it to answer from.
    job->ErrorOf = [this, folder](const LinkResult& r) { return folders_[folder]->Listed ? 0 : ErrnoFor(r); };
    Enqueue(job);
}

std::optional<MountAttr> TPhoneMount::AttrOf(const std::string& path)
{
    MountAttr attr;
    if (IsPhoneTreeFolder(path)) {
        attr.Ino = InoOf(path);
        attr.Folder = true;
        attr.MTime = started_;
        return attr;
    }
    std::string folder, name;
    if (!SplitFile(path, folder, name))
        return std::nullopt;
    if (const auto local = locals_.find(path); local != locals_.end()) {
        std::error_code error;
        attr.Ino = InoOf(path);
        attr.Size = static_cast<std::int64_t>(fs::file_size(local->second->File, error));
        attr.MTime = local->second->MTime;
        return attr;
    }
    if (const TFileInfo* r = Record(folder, name)) {
        attr.Ino = InoOf(path);
        attr.Size = r->Size;
        attr.MTime = HandsetDateSeconds(r->Date).value_or(0);
        return attr;
    }
    return std::nullopt;
}

std::vector<MountDirEntry> TPhoneMount::EntriesOf(const std::string& folder)
{
    std::vector<MountDirEntry> entries;
    for (const std::string& sub : PhoneTreeFolders())
        if (sub != "/" && ParentOf(sub) == folder)
            entries.push_back({sub.substr(sub.rfind('/') + 1), *AttrOf(sub)});
    if (const auto it = folders_.find(folder); it != folders_.end())
        for (const TFileInfo& r : it->second->Records) {
            const std::string path = Join(folder, PcFileName(r.Name));
            if (!locals_.count(path))
                entries.push_back({PcFileName(r.Name), *AttrOf(path)});
        }
    for (const auto& [path, local] : locals_) {
        std::string f, name;
        if (SplitFile(path, f, name) && f == folder)
            entries.push_back({name, *AttrOf(path)});
    }
    return entries;
}

// ---- requests -----------------------------------------------------------------------------------

void TPhoneMount::Lookup(std::uint64_t parent, const std::string& name, AttrReply reply)
{
    const std::string folder = PathOf(parent);
    if (!IsPhoneTreeFolder(folder)) {
        reply(folder.empty() ? ENOENT : ENOTDIR, {});
        return;
    }
    const std::string path = Join(folder, name);
    if (IsPhoneTreeFolder(path) || locals_.count(path) || Record(folder, name)) {
        reply(0, *AttrOf(path));
        return;
    }
    // Not known: the folder is listed unless its listing is young.
    WithListing(folder, true, [this, path, reply](int error) {
        const std::optional<MountAttr> attr = error ? std::nullopt : AttrOf(path);
        reply(error ? error : attr ? 0 : ENOENT, attr.value_or(MountAttr{}));
    });
}

void TPhoneMount::GetAttr(std::uint64_t ino, AttrReply reply)
{
    const std::optional<MountAttr> attr = AttrOf(PathOf(ino));
    reply(attr ? 0 : ENOENT, attr.value_or(MountAttr{}));
}

void TPhoneMount::OpenDir(std::uint64_t ino, DirReply reply)
{
    const std::string folder = PathOf(ino);
    if (!IsPhoneTreeFolder(folder)) {
        reply(folder.empty() ? ENOENT : ENOTDIR, {});
        return;
    }
    WithListing(folder, true, [this, folder, reply](int error) { reply(error, error ? std::vector<MountDirEntry>{} : EntriesOf(folder)); });
}

void TPhoneMount::Open(std::uint64_t ino, int flags, std::uint64_t request, OpenReply reply)
{
    const std::string path = PathOf(ino);
    std::string folder, name;
    if (IsPhoneTreeFolder(path)) {
        reply(EISDIR, 0);
        return;
    }
    if (!SplitFile(path, folder, name)) {
        reply(ENOENT, 0);
        return;
    }
    if ((flags & O_ACCMODE) != O_RDONLY) {
        OpenForWrite(path, (flags & O_TRUNC) != 0, request, [this, path, reply](int error, std::shared_ptr<LocalFile> local) {
            if (error) {
                reply(error, 0);
                return;
            }
            reply(0, NewWriteHandle(path, local));
        });
        return;
    }
    auto opened = [this, path, reply](const std::string& file, std::shared_ptr<LocalFile> local) {
        auto h = std::make_unique<Handle>();
        h->Path = path;
        h->File = file;
        if (local)
            ++local->Open;   // read from the local file: it stays while open
        h->Reading = local;
        const std::uint64_t id = nextHandle_++;
        handles_[id] = std::move(h);
        reply(0, id);
    };
    if (const auto local = locals_.find(path); local != locals_.end()) {
        opened(local->second->File, local->second);
        return;
    }
    WithListing(folder, false, [this, path, folder, name, request, reply, opened](int error) {
        const TFileInfo* record = error ? nullptr : Record(folder, name);
        if (!record) {
            reply(error ? error : ENOENT, 0);
            return;
        }
        if (record->Size > kMaxReadSize) {
            reply(EFBIG, 0);
            return;
        }
        WithDownload(path, *record, request, [reply, opened](int error, std::string file) {
            if (error)
                reply(error, 0);
            else
                opened(file, nullptr);
        });
    });
}

std::shared_ptr<TPhoneMount::LocalFile> TPhoneMount::NewLocal(const std::string& path)
{
    auto local = std::make_shared<LocalFile>();
    local->File = (fs::path(store_.path().toStdString()) / ("w" + std::to_string(nextFile_++))).string();
    local->MTime = Now();
    std::string folder, name;
    SplitFile(path, folder, name);
    local->LocalOnly = IsLocalOnlyName(name);
    QFile f(QString::fromStdString(local->File));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return nullptr;
    locals_[path] = local;
    return local;
}

void TPhoneMount::OpenForWrite(const std::string& path, bool truncate, std::uint64_t request,
                               std::function<void(int, std::shared_ptr<LocalFile>)> then)
{
    if (const auto it = locals_.find(path); it != locals_.end()) {
        std::shared_ptr<LocalFile> local = it->second;
        if (truncate) {
            std::error_code error;
            fs::resize_file(local->File, 0, error);
            local->Dirty = true;
            local->MTime = Now();
        }
        then(0, local);
        return;
    }
    std::string folder, name;
    SplitFile(path, folder, name);
    WithListing(folder, false, [this, path, folder, name, truncate, request, then](int error) {
        const TFileInfo* record = error ? nullptr : Record(folder, name);
        if (!record) {
            then(error ? error : ENOENT, nullptr);
            return;
        }
        if (truncate || record->Size == 0) {
            std::shared_ptr<LocalFile> local = NewLocal(path);
            if (local)
                local->Dirty = truncate;
            then(local ? 0 : EIO, local);
            return;
        }
        if (record->Size > kMaxReadSize) {
            then(EFBIG, nullptr);
            return;
        }
        // The file is changed where it stands: its bytes first.
        WithDownload(path, *record, request, [this, path, then](int error, std::string file) {
            if (error) {
                then(error, nullptr);
                return;
            }
            if (const auto it = locals_.find(path); it != locals_.end()) {
                then(0, it->second);   // another open made it meanwhile
                return;
            }
            std::shared_ptr<LocalFile> local = NewLocal(path);
            std::error_code copyError;
            if (!local || !fs::copy_file(file, local->File, fs::copy_options::overwrite_existing, copyError)) {
                if (local)
                    locals_.erase(path);
                then(EIO, nullptr);
                return;
            }
            then(0, local);
        });
    });
}

void TPhoneMount::Create(std::uint64_t parent, const std::string& name, CreateReply reply)
{
    const std::string folder = PathOf(parent);
    if (!IsPhoneTreeFolder(folder)) {
        reply(ENOENT, {}, 0);
        return;
    }
    const std::string path = Join(folder, name);
    if (IsPhoneTreeFolder(path)) {
        reply(EEXIST, {}, 0);
        return;
    }
    if (!IsLocalOnlyName(name)) {
        if (const int error = CheckNewName(name)) {
            reply(error, {}, 0);
            return;
        }
    }
    std::shared_ptr<LocalFile> local;
    if (const auto it = locals_.find(path); it != locals_.end()) {
        local = it->second;
        std::error_code error;
        fs::resize_file(local->File, 0, error);
    } else {
        local = NewLocal(path);
    }
    if (!local) {
        reply(EIO, {}, 0);
        return;
    }
    // A new file reaches the handset when it is flushed, even empty; an editor's temporary never.
    local->Dirty = !local->LocalOnly;
    const std::uint64_t id = NewWriteHandle(path, local);
    reply(0, *AttrOf(path), id);
}

std::uint64_t TPhoneMount::NewWriteHandle(const std::string& path, const std::shared_ptr<LocalFile>& local)
{
    auto h = std::make_unique<Handle>();
    h->Path = path;
    h->Local = local;
    h->File = local->File;
    ++local->Open;
    const std::uint64_t id = nextHandle_++;
    handles_[id] = std::move(h);
    return id;
}

void TPhoneMount::Read(std::uint64_t handle, std::size_t size, std::int64_t offset, ReadReply reply)
{
    const auto it = handles_.find(handle);
    std::vector<char> bytes;
    if (it == handles_.end()) {
        reply(EBADF, {});
        return;
    }
    const bool read = ReadAt(it->second->File, size, offset, bytes);
    reply(read ? 0 : EIO, std::move(bytes));
}

void TPhoneMount::Write(std::uint64_t handle, std::span<const char> bytes, std::int64_t offset, WriteReply reply)
{
    const auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second->Local) {
        reply(EBADF, 0);
        return;
    }
    LocalFile& local = *it->second->Local;
    QFile f(QString::fromStdString(local.File));
    if (!f.open(QIODevice::ReadWrite) || !f.seek(offset) || f.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        reply(EIO, 0);
        return;
    }
    local.Dirty = true;
    local.MTime = Now();
    reply(0, bytes.size());
}

void TPhoneMount::SetSize(std::uint64_t ino, std::uint64_t handle, std::int64_t size, AttrReply reply)
{
    const std::string path = PathOf(ino);
    if (IsPhoneTreeFolder(path)) {
        reply(EISDIR, {});
        return;
    }
    auto resize = [size](const std::shared_ptr<LocalFile>& local) {
        std::error_code error;
        fs::resize_file(local->File, static_cast<std::uintmax_t>(size), error);
        local->Dirty = true;
        local->MTime = Now();
        return error ? EIO : 0;
    };
    if (const auto h = handles_.find(handle); h != handles_.end() && h->second->Local) {
        const int error = resize(h->second->Local);
        reply(error, AttrOf(path).value_or(MountAttr{}));
        return;
    }
    // truncate(2) without an open file: changed and uploaded at once.
    OpenForWrite(path, size == 0, 0, [this, path, resize, reply](int error, std::shared_ptr<LocalFile> local) {
        if (!error)
            error = resize(local);
        if (error || local->Open > 0 || local->LocalOnly) {
            reply(error, AttrOf(path).value_or(MountAttr{}));
            return;
        }
        std::string folder, name;
        SplitFile(path, folder, name);
        Upload(local, folder, name, [this, path, reply](int error) {
            const std::optional<MountAttr> attr = AttrOf(path);
            DropLocalIfDone(path);
            reply(error, attr.value_or(MountAttr{}));
        });
    });
}

void TPhoneMount::Flush(std::uint64_t handle, Done reply)
{
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        reply(EBADF);
        return;
    }
    const std::shared_ptr<LocalFile> local = it->second->Local;
    const auto current = locals_.find(it->second->Path);
    if (!local || !local->Dirty || local->LocalOnly || current == locals_.end() || current->second != local) {
        reply(0);
        return;
    }
    std::string folder, name;
    SplitFile(it->second->Path, folder, name);
    Upload(local, folder, name, reply);
}

void TPhoneMount::Release(std::uint64_t handle, Done reply)
{
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        reply(EBADF);
        return;
    }
    const std::string path = it->second->Path;
    const std::shared_ptr<LocalFile> local = it->second->Local;
    if (it->second->Reading)
        --it->second->Reading->Open;
    handles_.erase(it);
    if (local) {
        --local->Open;
        // Changed after its last flush (through a mapping): sent now, its errors on the log.
        const auto current = locals_.find(path);
        if (local->Dirty && !local->LocalOnly && local->Open == 0 && current != locals_.end() && current->second == local) {
            std::string folder, name;
            SplitFile(path, folder, name);
            Upload(local, folder, name, [this, path](int) { DropLocalIfDone(path); });
        }
    }
    DropLocalIfDone(path);
    reply(0);
}

void TPhoneMount::DropLocalIfDone(const std::string& path)
{
    const auto it = locals_.find(path);
    if (it == locals_.end())
        return;
    const LocalFile& local = *it->second;
    if (local.Open > 0 || local.Dirty || local.LocalOnly || local.Uploading > 0)
        return;
    std::error_code error;
    fs::remove(local.File, error);
    locals_.erase(it);
}

void TPhoneMount::Unlink(std::uint64_t parent, const std::string& name, Done reply)
{
    const std::string folder = PathOf(parent);
    const std::string path = Join(folder, name);
    if (!IsPhoneTreeFolder(folder) || IsPhoneTreeFolder(path)) {
        reply(IsPhoneTreeFolder(path) ? EISDIR : ENOENT);
        return;
    }
    bool wasLocal = false;
    if (const auto it = locals_.find(path); it != locals_.end()) {
        wasLocal = true;
        if (it->second->Open == 0) {
            std::error_code error;
            fs::remove(it->second->File, error);
        }
        it->second->Dirty = false;
        locals_.erase(it);
    }
    WithListing(folder, false, [this, folder, name, wasLocal, reply](int error) {
        const TFileInfo* record = error ? nullptr : Record(folder, name);
        if (!record) {
            reply(wasLocal ? 0 : error ? error : ENOENT);
            return;
        }
        const std::string handsetName = record->Name;
        auto job = std::make_shared<Job>();
        job->Prio = kListing;
        job->Waiters.emplace_back(0, reply);
        job->Run = [this, folder, handsetName](std::function<void(const LinkResult&)> ended) {
            link_.Erase(folder, handsetName).Then([this, folder, handsetName, ended](LinkResult r) {
                if (r.Ok()) {
                    auto& records = folders_[folder]->Records;
                    records.erase(std::remove_if(records.begin(), records.end(), [&](const TFileInfo& f) { return f.Name == handsetName; }),
                                  records.end());
                }
                ended(r);
            });
        };
        Enqueue(job);
    });
}

void TPhoneMount::Rename(std::uint64_t parent, const std::string& name, std::uint64_t newParent, const std::string& newName,
                         bool noReplace, bool exchange, Done reply)
{
    const std::string folder = PathOf(parent), newFolder = PathOf(newParent);
    if (!IsPhoneTreeFolder(folder) || !IsPhoneTreeFolder(newFolder)) {
        reply(ENOENT);
        return;
    }
    const std::string from = Join(folder, name), to = Join(newFolder, newName);
    if (IsPhoneTreeFolder(from) || IsPhoneTreeFolder(to)) {
        reply(EPERM);   // the tree is fixed
        return;
    }
    if (exchange) {
        reply(EINVAL);
        return;
    }
    const auto it = locals_.find(from);
    const bool onHandset = Record(folder, name) != nullptr;
    if (it == locals_.end() || onHandset) {
        // A file on the handset cannot be renamed there: the caller copies and erases instead.
        reply(it == locals_.end() && !onHandset ? ENOENT : EXDEV);
        return;
    }
    if (from == to) {
        reply(0);
        return;
    }
    if (noReplace && (locals_.count(to) || Record(newFolder, newName))) {
        reply(EEXIST);
        return;
    }
    std::shared_ptr<LocalFile> local = it->second;
    auto move = [this, from, to, local] {
        if (const auto old = locals_.find(to); old != locals_.end() && old->second != local) {
            std::error_code error;
            if (old->second->Open == 0)
                fs::remove(old->second->File, error);
        }
        locals_.erase(from);
        locals_[to] = local;
        // The inode follows the file.
        if (const auto ino = inos_.find(from); ino != inos_.end()) {
            const std::uint64_t number = ino->second;
            inos_.erase(ino);
            if (const auto stale = inos_.find(to); stale != inos_.end())
                paths_.erase(stale->second);
            inos_[to] = number;
            paths_[number] = to;
        }
        for (auto& [id, h] : handles_)
            if (h->Path == from)
                h->Path = to;
    };
    if (IsLocalOnlyName(newName)) {
        move();
        local->LocalOnly = true;
        reply(0);
        return;
    }
    if (const int error = CheckNewName(newName)) {
        reply(error);
        return;
    }
    // The editor's temporary becomes the file: uploaded under its final name.
    Upload(local, newFolder, newName, [this, move, local, to, reply](int error) {
        if (!error) {
            move();
            local->LocalOnly = false;
            DropLocalIfDone(to);
        }
        reply(error);
    });
}

void TPhoneMount::StatFs(SpaceReply reply)
{
    if (space_ && (Clock::now() - space_->first < std::chrono::seconds(options_.RelistSeconds) || !link_.Online())) {
        reply(0, space_->second.first, space_->second.second);
        return;
    }
    auto job = std::make_shared<Job>();
    job->Prio = kListing;
    job->Waiters.emplace_back(0, [this, reply](int error) {
        if (!error && !space_)
            error = EIO;
        reply(error, space_ ? space_->second.first : 0, space_ ? space_->second.second : 0);
    });
    job->Run = [this](std::function<void(const LinkResult&)> ended) {
        link_.FileSpace().Then([this, ended](TPhoneLink::Space space) {
            if (space.Known)
                space_ = {Clock::now(), {space.Capacity, space.Free}};
            ended(space.Result);
        });
    };
    Enqueue(job);
}

void TPhoneMount::Interrupt(std::uint64_t request)
{
    if (request == 0)
        return;
    for (auto job = queue_.begin(); job != queue_.end(); ++job) {
        auto& waiters = (*job)->Waiters;
        const auto w = std::find_if(waiters.begin(), waiters.end(), [&](const auto& p) { return p.first == request; });
        if (w == waiters.end())
            continue;
        const std::function<void(int)> told = std::move(w->second);
        waiters.erase(w);
        if (waiters.empty())
            queue_.erase(job);
        told(EINTR);
        if (Idle())
            Pump();
        return;
    }
}

// ---- downloads and uploads ----------------------------------------------------------------------

void TPhoneMount::WithDownload(const std::string& path, const TFileInfo& record, std::uint64_t request,
                               std::function<void(int, std::string)> then)
{
    const std::string key = path + "\n" + std::to_string(record.Size) + "\n" + record.Date;
    if (const auto it = cached_.find(key); it != cached_.end()) {
        then(0, it->second);
        return;
    }
    auto waiter = [this, key, then](int error) { then(error, error ? std::string() : cached_[key]); };
    for (const auto& job : queue_)
        if (job->Key == "get:" + key) {
            job->Waiters.emplace_back(request, waiter);
            return;
        }
    auto job = std::make_shared<Job>();
    job->Prio = kDownload;
    job->Key = "get:" + key;
    job->Waiters.emplace_back(request, waiter);
    std::string folder, name;
    SplitFile(path, folder, name);
    job->Run = [this, folder, record, key, path](std::function<void(const LinkResult&)> ended) {
        // Done meanwhile by a job that started earlier under the same key.
        if (cached_.count(key)) {
            ended(LinkResult{});
            return;
        }
        const std::string target = (fs::path(store_.path().toStdString()) / ("r" + std::to_string(nextFile_++))).string();
        ++downloads_;
        link_.Fetch(folder, record, target).Then([this, key, path, target, ended](LinkResult r) {
            if (r.Ok()) {
                // An older copy of the same file is of no more use.
                for (auto it = cached_.begin(); it != cached_.end();) {
                    if (it->first.rfind(path + "\n", 0) == 0) {
                        std::error_code error;
                        fs::remove(it->second, error);
                        it = cached_.erase(it);
                    } else {
                        ++it;
                    }
                }
                cached_[key] = target;
            }
            ended(r);
        });
    };
    Enqueue(job);
}

void TPhoneMount::Upload(std::shared_ptr<LocalFile> file, const std::string& folder, const std::string& name, Done then)
{
    ++file->Uploading;
    auto job = std::make_shared<Job>();
    job->Prio = kUpload;
    job->Waiters.emplace_back(0, [file, then](int error) {
        --file->Uploading;
        then(error);
    });
    job->Run = [this, file, folder, name](std::function<void(const LinkResult&)> ended) {
        std::vector<std::uint8_t> bytes;
        if (ReadWholeFile(file->File, bytes) != ReadResult::Ok) {
            LinkResult failed = Result(LinkError::ReadFailed);
            failed.Name = name;
            KeepUnsent(*file, name, failed);
            ended(failed);
            return;
        }
        file->Dirty = false;
        ++uploads_;
        const std::string handsetName = PercentDecoded(name);
        std::string base, ext;
        SplitExtension(handsetName, base, ext);
        const std::int32_t type = TypeCodeFor(ext);
        auto finish = [this, file, folder, name, ended](LinkResult r) {
            if (!r.Ok()) {
                KeepUnsent(*file, name, r);
                ended(r);
                return;
            }
            // The folder as the handset now has it (size and date of the new file).
            link_.List(folder).Then([this, folder, ended, r](TPhoneLink::Listing listing) {
                Folder& f = *folders_[folder];
                if (listing.Result.Ok()) {
                    f.Records = std::move(listing.Records);
                    f.Listed = true;
                    f.At = Clock::now();
                } else {
                    f.At = {};
                }
                ended(r);
            });
        };
        auto write = [this, folder, handsetName, type, bytes, finish]() mutable {
            link_.Write(folder, handsetName, type, std::move(bytes)).Then(finish);
        };
        // Over an existing file: the handset takes a write only under a free name.
        auto upload = [this, folder, name, handsetName, write, finish]() mutable {
            if (!Record(folder, name)) {
                write();
                return;
            }
            link_.Erase(folder, handsetName).Then([write, finish](LinkResult r) mutable {
                if (r.Ok())
                    write();
                else
                    finish(r);
            });
        };
        std::unique_ptr<Folder>& f = folders_[folder];
        if (!f)
            f = std::make_unique<Folder>();
        if (f->Listed) {
            upload();
            return;
        }
        // Whether the name is taken is known once the folder is listed.
        link_.List(folder).Then([this, folder, upload, finish](TPhoneLink::Listing listing) mutable {
            if (!listing.Result.Ok()) {
                finish(listing.Result);
                return;
            }
            Folder& f = *folders_[folder];
            f.Records = std::move(listing.Records);
            f.Listed = true;
            f.At = Clock::now();
            upload();
        });
    };
    Enqueue(job);
}

void TPhoneMount::KeepUnsent(const LocalFile& file, const std::string& name, const LinkResult& why)
{
    ++failedUploads_;
    std::string reason = ResultText(why);
    if (reason.empty())
        reason = "the link is closed";
    // One line in the log: each run of the message's own line breaks becomes a space.
    std::string line;
    for (const char c : reason) {
        const bool lineBreak = c == '\r' || c == '\n';
        if (!lineBreak)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    reason = line;
    std::error_code error;
    std::string kept;
    if (!unsentDir_.empty() && (fs::create_directories(unsentDir_, error), !error)) {
        fs::path target = fs::path(unsentDir_) / name;
        for (int n = 2; fs::exists(target, error); ++n)
            target = fs::path(unsentDir_) / (name + "." + std::to_string(n));
        if (fs::copy_file(file.File, target, error))
            kept = target.string();
    }
    emit NotUploaded(PrintableName(name) + ": not uploaded (" + reason + "); "
                     + (kept.empty() ? std::string("its bytes could not be kept") : "its bytes are kept in " + kept));
}

void TPhoneMount::Abandon()
{
    if (abandoned_)
        return;
    abandoned_ = true;
    FailQueued(EIO);
    for (const auto& [path, local] : locals_)
        if (local->Dirty && !local->LocalOnly) {
            std::string folder, name;
            SplitFile(path, folder, name);
            KeepUnsent(*local, name, Result(LinkError::Closed));
            local->Dirty = false;
        }
}

// ---- the queue ----------------------------------------------------------------------------------

void TPhoneMount::Enqueue(std::shared_ptr<Job> job)
{
    if (abandoned_) {
        for (auto& w : job->Waiters)
            w.second(EIO);
        return;
    }
    job->Seq = nextSeq_++;
    queue_.push_back(std::move(job));
    Pump();
}

void TPhoneMount::Pump()
{
    if (running_)
        return;
    if (queue_.empty()) {
        for (auto& then : std::exchange(whenIdle_, {}))
            then();
        return;
    }
    // The window shares the link: a transfer of its own goes on undisturbed.
    if (link_.Busy()) {
        QPointer<TPhoneMount> self(this);
        connect(&link_, &TPhoneLink::BusyChanged, this, [self] { if (self) self->Pump(); }, Qt::SingleShotConnection);
        return;
    }
    const auto next = std::min_element(queue_.begin(), queue_.end(), [](const auto& a, const auto& b) {
        return a->Prio != b->Prio ? a->Prio < b->Prio : a->Seq < b->Seq;
    });
    std::shared_ptr<Job> job = *next;
    queue_.erase(next);
    running_ = true;
    QPointer<TPhoneMount> self(this);
    auto ended = [self, job](const LinkResult& r) {
        if (!self)
            return;
        const int error = job->ErrorOf ? job->ErrorOf(r) : ErrnoFor(r);
        for (auto& w : job->Waiters)
            w.second(error);
        self->JobEnded(r);
    };
    if (link_.Online() || !reconnect_) {
        if (!link_.Online()) {
            ended(Result(LinkError::Offline));
            return;
        }
        job->Run(ended);
        return;
    }
    // The link went down: this operation reconnects first.
    emit LogLine("reconnecting to the phone");
    reconnect_().Then([self, job, ended](LinkResult r) {
        if (!self)
            return;
        if (self->link_.Online())
            job->Run(ended);
        else
            ended(r.Ok() ? Result(LinkError::Offline) : r);
    });
}

void TPhoneMount::JobEnded(const LinkResult& result)
{
    running_ = false;
    // Silence or a lost port ends everything that was waiting for the handset.
    if (!link_.Online() || result.Error == LinkError::Silence || result.Error == LinkError::Offline)
        FailQueued(EIO);
    QPointer<TPhoneMount> self(this);
    QMetaObject::invokeMethod(this, [self] { if (self) self->Pump(); }, Qt::QueuedConnection);
}

void TPhoneMount::FailQueued(int error)
{
    for (auto& job : std::exchange(queue_, {}))
        for (auto& w : job->Waiters)
            w.second(error);
}

void TPhoneMount::WhenIdle(std::function<void()> then)
{
    if (Idle())
        then();
    else
        whenIdle_.push_back(std::move(then));
}
