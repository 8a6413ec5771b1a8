// Device access on Windows: ports have no owning group; whether the name exists is all there is.
#include "platform/DeviceAccess.h"

#include <windows.h>

namespace DeviceAccess {

Access Examine(const std::string& path)
{
    Access a;
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        a.exists = true;
        a.readWrite = true;
        return a;
    }
    const DWORD error = GetLastError();
    a.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    return a;
}

std::vector<Holder> Holders(const std::string&, const std::string&) { return {}; }

} // namespace DeviceAccess
