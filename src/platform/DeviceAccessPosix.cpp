// Device access over stat(), faccessat() and the user and group databases.
#include "platform/DeviceAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

} // namespace DeviceAccess
