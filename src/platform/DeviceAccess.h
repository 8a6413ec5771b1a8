#pragma once
// Who may open a device file: for telling a user why a port would not open and what to do.
#include <string>
#include <vector>

namespace DeviceAccess {

struct Access {
    bool exists = false;             // the path names something
    bool readWrite = false;          // this process may open it for reading and writing
    std::string group;               // the name of the group that owns it ("" when unknown)
    bool groupReadWrite = false;     // that group may read and write it
    bool inGroupNow = false;         // this process holds that group
    bool inGroupAtLogin = false;     // the user is a member of it in the system's group list
                                     // (a new membership counts only from the next login)
};

// Looks at `path` with the effective user and groups of this process. On a system without
// owning groups (Windows) only `exists` and `readWrite` are filled.
Access Examine(const std::string& path);

// A process that has a device open.
struct Holder {
    int pid = 0;
    std::string name;   // the process's command name ("ModemManager")
};

// The other processes that have the device `path` stands for open (links followed), found in
// `procDir`'s per-process descriptor folders. Processes this user may not look into are not
// seen. Empty on a system without such a folder (Windows).
std::vector<Holder> Holders(const std::string& path, const std::string& procDir = "/proc");

} // namespace DeviceAccess
