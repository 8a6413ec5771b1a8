// Device access over stat(), faccessat() and the user and group databases.
#include "platform/DeviceAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace DeviceAccess {

namespace {

bool ProcessHoldsGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int n = getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = getgroups(n, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Membership as the group database lists it now, which is what the next login will give.
bool UserListedInGroup(gid_t gid)
{
    const passwd* pw = getpwuid(geteuid());
    if (!pw)
        return false;
    if (pw->pw_gid == gid)
        return true;
    int count = 64;
    std::vector<gid_t> groups;
    for (int attempt = 0; attempt < 4; ++attempt) {
        groups.resize(static_cast<std::size_t>(count));
        int n = count;
        if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) >= 0) {
            groups.resize(static_cast<std::size_t>(n));
            return std::find(groups.begin(), groups.end(), gid) != groups.end();
        }
        count = std::max(n, count * 2);
    }
    return false;
}

} // namespace

Access Examine(const std::string& path)
{
    Access a;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return a;
    a.exists = true;
    a.readWrite = faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
    if (const group* gr = getgrgid(st.st_gid))
        a.group = gr->gr_name;
    a.groupReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    a.inGroupNow = ProcessHoldsGroup(st.st_gid);
    a.inGroupAtLogin = UserListedInGroup(st.st_gid);
    return a;
}

std::vector<Holder> Holders(const std::string& path, const std::string& procDir)
{
    namespace fs = std::filesystem;
    std::vector<Holder> holders;
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0)
        return holders;
    auto same = [&device](const struct stat& st) {
        return S_ISCHR(device.st_mode) ? (S_ISCHR(st.st_mode) && st.st_rdev == device.st_rdev)
                                       : (st.st_dev == device.st_dev && st.st_ino == device.st_ino);
    };
    // A pseudo-terminal's other end is no competitor: the program that made the terminal (it
    // has the multiplexer open) may keep the terminal side open too, as the virtual handset does.
    const bool pseudoTerminal = S_ISCHR(device.st_mode) && major(device.st_rdev) >= 136 && major(device.st_rdev) <= 143;
    auto multiplexer = [](const struct stat& st) {
        return S_ISCHR(st.st_mode) && major(st.st_rdev) == 5 && minor(st.st_rdev) == 2;
    };
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (fs::directory_iterator it(procDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        bool holds = false, makesTerminals = false;
        std::error_code fdEc;
        for (fs::directory_iterator fd(it->path() / "fd", fdEc); !fdEc && fd != end; fd.increment(fdEc)) {
            struct stat st {};
            if (::stat(fd->path().c_str(), &st) != 0)
                continue;
            holds = holds || same(st);
            makesTerminals = makesTerminals || multiplexer(st);
        }
        if (!holds || (pseudoTerminal && makesTerminals))
            continue;
        Holder h;
        h.pid = std::stoi(pid);
        std::ifstream comm(it->path() / "comm");
        std::getline(comm, h.name);
        holders.push_back(std::move(h));
    }
    return holders;
}

} // namespace DeviceAccess
