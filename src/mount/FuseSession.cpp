// libfuse's low-level session. The handlers run on the session thread and only post the
// request to the Qt thread; TPhoneMount's replies call fuse_reply_* from there.
#define FUSE_USE_VERSION 34
#include "mount/FuseSession.h"

#include <cerrno>
#include <cstring>
#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <QPointer>
#include <QProcess>

#include "mount/PhoneMount.h"

struct TFuseSession::Impl {
    TPhoneMount* Mount = nullptr;
    fuse_session* Session = nullptr;
    MountOptions Options;
    std::atomic<std::uint64_t> NextRequest{1};
};

namespace {

constexpr double kAttrSeconds = 1.0;

using Impl = TFuseSession::Impl;

Impl& Of(fuse_req_t req) { return *static_cast<Impl*>(fuse_req_userdata(req)); }

// Runs `work` on the Qt thread, with the mount.
template <class F>
void Post(fuse_req_t req, F work)
{
    Impl& impl = Of(req);
    TPhoneMount* mount = impl.Mount;
    QMetaObject::invokeMethod(mount, [mount, work = std::move(work)]() { work(*mount); }, Qt::QueuedConnection);
}

struct stat StatOf(const MountAttr& a)
{
    struct stat st {};
    st.st_ino = a.Ino;
    st.st_mode = a.Folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    st.st_nlink = a.Folder ? 2 : 1;
    st.st_size = a.Size;
    st.st_blksize = 4096;
    st.st_blocks = (a.Size + 511) / 512;
    st.st_uid = ::getuid();
    st.st_gid = ::getgid();
    st.st_mtim.tv_sec = st.st_ctim.tv_sec = st.st_atim.tv_sec = a.MTime;
    return st;
}

// A name's entry for the kernel, kept by it for kAttrSeconds.
fuse_entry_param EntryOf(const MountAttr& attr)
{
    fuse_entry_param e {};
    e.ino = attr.Ino;
    e.attr = StatOf(attr);
    e.attr_timeout = kAttrSeconds;
    e.entry_timeout = kAttrSeconds;
    return e;
}

void ReplyEntry(fuse_req_t req, int error, const MountAttr& attr, int negativeSeconds)
{
    fuse_entry_param e {};
    if (error == ENOENT && negativeSeconds > 0) {
        // The name stays absent for a while without asking again.
        e.ino = 0;
        e.entry_timeout = negativeSeconds;
        fuse_reply_entry(req, &e);
        return;
    }
    if (error) {
        fuse_reply_err(req, error);
        return;
    }
    e = EntryOf(attr);
    fuse_reply_entry(req, &e);
}

void ReplyAttr(fuse_req_t req, int error, const MountAttr& attr)
{
    if (error) {
        fuse_reply_err(req, error);
        return;
    }
    const struct stat st = StatOf(attr);
    fuse_reply_attr(req, &st, kAttrSeconds);
}

void OnInterrupt(fuse_req_t req, void* data)
{
    const auto request = reinterpret_cast<std::uintptr_t>(data);
    Post(req, [request](TPhoneMount& m) { m.Interrupt(request); });
}

void DoLookup(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    const int negative = Of(req).Options.NegativeSeconds;
    Post(req, [req, parent, n = std::string(name), negative](TPhoneMount& m) {
        m.Lookup(parent, n, [req, negative](int error, const MountAttr& a) { ReplyEntry(req, error, a, negative); });
    });
}

void DoGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*)
{
    Post(req, [req, ino](TPhoneMount& m) { m.GetAttr(ino, [req](int error, const MountAttr& a) { ReplyAttr(req, error, a); }); });
}

void DoSetattr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, fuse_file_info* fi)
{
    const std::uint64_t handle = fi ? fi->fh : 0;
    const std::int64_t size = attr->st_size;
    // Modes, owners and dates are the handset's: accepted and left as they are.
    Post(req, [req, ino, handle, size, toSet](TPhoneMount& m) {
        auto reply = [req](int error, const MountAttr& a) { ReplyAttr(req, error, a); };
        if (toSet & FUSE_SET_ATTR_SIZE)
            m.SetSize(ino, handle, size, reply);
        else
            m.GetAttr(ino, reply);
    });
}

void DoOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    const fuse_file_info info = *fi;
    Post(req, [req, ino, info](TPhoneMount& m) {
        m.OpenDir(ino, [req, info](int error, std::vector<MountDirEntry> entries) {
            if (error) {
                fuse_reply_err(req, error);
                return;
            }
            auto* list = new std::vector<MountDirEntry>(std::move(entries));
            fuse_file_info opened = info;
            opened.fh = reinterpret_cast<std::uintptr_t>(list);
            if (fuse_reply_open(req, &opened) != 0)
                delete list;   // the caller has gone
        });
    });
}

// The entries of an opened folder from `offset` on, as many as fit `size`; with `plus`, each with
// its attributes, so that `ls -l` and file managers find them in the kernel's cache rather than
// asking for each name again.
void ReplyListing(fuse_req_t req, size_t size, off_t offset, fuse_file_info* fi, bool plus)
{
    const auto& entries = *reinterpret_cast<std::vector<MountDirEntry>*>(fi->fh);
    std::vector<char> buffer(size);
    std::size_t used = 0;
    for (std::size_t i = static_cast<std::size_t>(offset); i < entries.size(); ++i) {
        const fuse_entry_param e = EntryOf(entries[i].Attr);
        const auto next = static_cast<off_t>(i + 1);
        const char* name = entries[i].Name.c_str();
        const std::size_t n = plus ? fuse_add_direntry_plus(req, buffer.data() + used, size - used, name, &e, next)
                                   : fuse_add_direntry(req, buffer.data() + used, size - used, name, &e.attr, next);
        if (n > size - used)
            break;
        used += n;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void DoReaddir(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi)
{
    ReplyListing(req, size, offset, fi, false);
}

void DoReaddirPlus(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi)
{
    ReplyListing(req, size, offset, fi, true);
}

void DoReleasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    delete reinterpret_cast<std::vector<MountDirEntry>*>(fi->fh);
    fuse_reply_err(req, 0);
}

void DoOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    const fuse_file_info info = *fi;
    const std::uint64_t request = Of(req).NextRequest++;
    fuse_req_interrupt_func(req, OnInterrupt, reinterpret_cast<void*>(static_cast<std::uintptr_t>(request)));
    Post(req, [req, ino, info, request](TPhoneMount& m) {
        m.Open(ino, info.flags, request, [req, info, &m](int error, std::uint64_t handle) {
            if (error) {
                fuse_reply_err(req, error);
                return;
            }
            fuse_file_info opened = info;
            opened.fh = handle;
            opened.keep_cache = 0;
            // The caller has gone meanwhile: the kernel will not release the handle.
            if (fuse_reply_open(req, &opened) != 0)
                m.Release(handle, [](int) {});
        });
    });
}

void DoCreate(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t, fuse_file_info* fi)
{
    const fuse_file_info info = *fi;
    Post(req, [req, parent, n = std::string(name), info](TPhoneMount& m) {
        m.Create(parent, n, [req, info](int error, const MountAttr& a, std::uint64_t handle) {
            if (error) {
                fuse_reply_err(req, error);
                return;
            }
            const fuse_entry_param e = EntryOf(a);
            fuse_file_info opened = info;
            opened.fh = handle;
            fuse_reply_create(req, &e, &opened);
        });
    });
}

void DoRead(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi)
{
    const std::uint64_t handle = fi->fh;
    Post(req, [req, handle, size, offset](TPhoneMount& m) {
        m.Read(handle, size, offset, [req](int error, std::vector<char> bytes) {
            if (error)
                fuse_reply_err(req, error);
            else
                fuse_reply_buf(req, bytes.data(), bytes.size());
        });
    });
}

void DoWrite(fuse_req_t req, fuse_ino_t, const char* buf, size_t size, off_t offset, fuse_file_info* fi)
{
    const std::uint64_t handle = fi->fh;
    Post(req, [req, handle, bytes = std::vector<char>(buf, buf + size), offset](TPhoneMount& m) {
        m.Write(handle, bytes, offset, [req](int error, std::size_t written) {
            if (error)
                fuse_reply_err(req, error);
            else
                fuse_reply_write(req, written);
        });
    });
}

void DoFlush(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    const std::uint64_t handle = fi->fh;
    Post(req, [req, handle](TPhoneMount& m) { m.Flush(handle, [req](int error) { fuse_reply_err(req, error); }); });
}

void DoFsync(fuse_req_t req, fuse_ino_t ino, int, fuse_file_info* fi) { DoFlush(req, ino, fi); }

void DoRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    const std::uint64_t handle = fi->fh;
    Post(req, [req, handle](TPhoneMount& m) { m.Release(handle, [req](int error) { fuse_reply_err(req, error); }); });
}

void DoUnlink(fuse_req_t req, fuse_ino_t parent, const char* name)
{
    Post(req, [req, parent, n = std::string(name)](TPhoneMount& m) { m.Unlink(parent, n, [req](int error) { fuse_reply_err(req, error); }); });
}

void DoRename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName, unsigned int flags)
{
    Post(req, [req, parent, n = std::string(name), newParent, nn = std::string(newName), flags](TPhoneMount& m) {
        m.Rename(parent, n, newParent, nn, (flags & RENAME_NOREPLACE) != 0, (flags & RENAME_EXCHANGE) != 0,
                 [req](int error) { fuse_reply_err(req, error); });
    });
}

void DoStatfs(fuse_req_t req, fuse_ino_t)
{
    Post(req, [req](TPhoneMount& m) {
        m.StatFs([req](int error, std::int64_t capacity, std::int64_t free) {
            if (error) {
                fuse_reply_err(req, error);
                return;
            }
            struct statvfs sv {};
            sv.f_bsize = sv.f_frsize = 1024;
            sv.f_blocks = static_cast<fsblkcnt_t>(capacity / 1024);
            sv.f_bfree = sv.f_bavail = static_cast<fsblkcnt_t>(free / 1024);
            sv.f_namemax = 255;
            fuse_reply_statfs(req, &sv);
        });
    });
}

// The tree of folders is the handset's and fixed.
void DoMkdir(fuse_req_t req, fuse_ino_t, const char*, mode_t) { fuse_reply_err(req, TPhoneMount::RefuseTreeChange()); }
void DoRmdir(fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, TPhoneMount::RefuseTreeChange()); }
void DoLink(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { fuse_reply_err(req, TPhoneMount::RefuseTreeChange()); }
void DoSymlink(fuse_req_t req, const char*, fuse_ino_t, const char*) { fuse_reply_err(req, TPhoneMount::RefuseTreeChange()); }
void DoMknod(fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) { fuse_reply_err(req, TPhoneMount::RefuseTreeChange()); }

fuse_lowlevel_ops Operations()
{
    fuse_lowlevel_ops ops {};
    ops.lookup = DoLookup;
    ops.getattr = DoGetattr;
    ops.setattr = DoSetattr;
    ops.opendir = DoOpendir;
    ops.readdir = DoReaddir;
    ops.readdirplus = DoReaddirPlus;
    ops.releasedir = DoReleasedir;
    ops.open = DoOpen;
    ops.create = DoCreate;
    ops.read = DoRead;
    ops.write = DoWrite;
    ops.flush = DoFlush;
    ops.fsync = DoFsync;
    ops.release = DoRelease;
    ops.unlink = DoUnlink;
    ops.rename = DoRename;
    ops.statfs = DoStatfs;
    ops.mkdir = DoMkdir;
    ops.rmdir = DoRmdir;
    ops.link = DoLink;
    ops.symlink = DoSymlink;
    ops.mknod = DoMknod;
    return ops;
}

} // namespace

TFuseSession::TFuseSession(TPhoneMount& mount, QObject* parent) : QObject(parent), mount_(mount) {}

TFuseSession::~TFuseSession() { Stop(); }

bool TFuseSession::Available() { return true; }

bool TFuseSession::Start(const std::string& mountpoint, const std::string& port, const MountOptions& options, std::string* error)
{
    impl_ = std::make_unique<Impl>();
    impl_->Mount = &mount_;
    impl_->Options = options;
    std::string list = "fsname=tarvel:" + port + ",subtype=tarvel";
    if (options.AutoUnmount)
        list += ",auto_unmount";
    for (const std::string& o : options.Passed)
        list += "," + o;
    std::vector<std::string> words = {"tarvel", "-o", list};
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
    const fuse_lowlevel_ops ops = Operations();
    impl_->Session = fuse_session_new(&args, &ops, sizeof ops, impl_.get());
    fuse_opt_free_args(&args);
    if (!impl_->Session) {
        if (error)
            *error = "the mount options were not accepted: " + list;
        impl_.reset();
        return false;
    }
    if (fuse_session_mount(impl_->Session, mountpoint.c_str()) != 0) {
        if (error)
            *error = mountpoint + ": could not mount here (is it an empty folder, and is fuse3 installed?)";
        fuse_session_destroy(impl_->Session);
        impl_.reset();
        return false;
    }
    mountpoint_ = mountpoint;
    running_ = true;
    QPointer<TFuseSession> self(this);
    fuse_session* session = impl_->Session;
    thread_ = std::thread([this, self, session] {
        fuse_session_loop(session);
        running_ = false;
        QMetaObject::invokeMethod(this, [self] { if (self) emit self->Ended(); }, Qt::QueuedConnection);
    });
    return true;
}

void TFuseSession::Unmount()
{
    if (!impl_)
        return;
    if (running_) {
        // Unmounting ends the kernel's connection, and with it the loop's wait for requests.
        fuse_session_exit(impl_->Session);
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), QString::fromStdString(mountpoint_)});
    }
    if (thread_.joinable())
        thread_.join();
}

void TFuseSession::Stop()
{
    if (!impl_)
        return;
    Unmount();
    fuse_session_unmount(impl_->Session);
    fuse_session_destroy(impl_->Session);
    impl_.reset();
    running_ = false;
}
