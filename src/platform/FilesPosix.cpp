#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Creates a fresh file beside `path` under a name of its own, with the permissions a new file
// gets (0666 less the umask, and a folder's default ACL, both applied by the system).
int CreateTemporary(const std::string& dir, const std::string& base, std::string& temp)
{
    static std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        temp = dir + "/." + base + suffix;
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes all of `data` at `offset`; `written` tells how far it got.
bool WriteAllAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset, std::size_t& written)
{
    written = 0;
    while (written < size) {
        const ssize_t n = ::pwrite(fd, data + written, size - written, offset + static_cast<off_t>(written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes an existing file in place without ever leaving its old contents cut short: the new
// bytes first go after the old ones, which takes the room they need and proves that the file
// takes them while the old bytes stay untouched; when that fails (a full disk, a size limit)
// the file is cut back to its old length, as it was. Only then are the new bytes written at
// the start, over room the file already holds, and the file is cut to their length.
SaveResult WriteInPlace(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return SaveResult::AccessFail;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return SaveResult::AccessFail;
    }
    const off_t oldSize = st.st_size;
    std::size_t written = 0;
    if (!WriteAllAt(fd, data, size, oldSize, written) || ::fsync(fd) != 0) {
        (void)::ftruncate(fd, oldSize);
        ::close(fd);
        return written != size ? SaveResult::SizeDifferent : SaveResult::AccessFail;
    }
    bool ok = WriteAllAt(fd, data, size, 0, written) && ::ftruncate(fd, static_cast<off_t>(size)) == 0
              && ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    return ok ? SaveResult::Ok : SaveResult::AccessFail;
}

} // namespace

SaveResult SaveFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size, bool inPlaceFallback)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp;
    const int fd = CreateTemporary(dir, base, temp);
    if (fd < 0)
        return inPlaceFallback ? WriteInPlace(path, data, size) : SaveResult::AccessFail;
    // A file that is replaced keeps its own permissions.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 0777);

    std::size_t written = 0;
    bool failed = !WriteAllAt(fd, data, size, 0, written);
    if (!failed && ::fsync(fd) != 0)
        failed = true;
    if (::close(fd) != 0)
        failed = true;
    if (failed || written != size) {
        ::unlink(temp.c_str());
        return written != size ? SaveResult::SizeDifferent : SaveResult::AccessFail;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        // A sticky folder refuses to replace a file of another owner that may still be written.
        const int error = errno;
        ::unlink(temp.c_str());
        if (inPlaceFallback && (error == EPERM || error == EACCES))
            return WriteInPlace(path, data, size);
        return SaveResult::AccessFail;
    }
    return SaveResult::Ok;
}
