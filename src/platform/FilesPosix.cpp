#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SaveResult SaveFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = dir + "/." + base + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return SaveResult::AccessFail;
    fchmod(fd, 0644);

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
