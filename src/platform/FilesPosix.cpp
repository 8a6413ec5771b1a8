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

} // namespace

SaveResult SaveFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp;
    const int fd = CreateTemporary(dir, base, temp);
    if (fd < 0)
        return SaveResult::AccessFail;
    // A file that is replaced keeps its own permissions.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 0777);

    std::size_t written = 0;
    bool failed = false;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed = true;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (!failed && ::fsync(fd) != 0)
        failed = true;
    if (::close(fd) != 0)
        failed = true;
    if (failed || written != size) {
        ::unlink(temp.c_str());
        return written != size ? SaveResult::SizeDifferent : SaveResult::AccessFail;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return SaveResult::AccessFail;
    }
    return SaveResult::Ok;
}
