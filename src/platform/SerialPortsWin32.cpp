// The serial ports Windows lists in the registry: each string value of the key holds one port
// name ("COM1"); the value names (the drivers' device names) are not used.
#include "platform/SerialPorts.h"

#include <windows.h>

namespace SerialPorts {

namespace {

// Closes the key on every way out.
struct KeyCloser {
    HKEY key;
    ~KeyCloser() { RegCloseKey(key); }
};

} // namespace

int ListSerialDevices(std::vector<std::string>& names, const std::string& source, const std::string& /*linkDir*/)
{
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, source.c_str(), 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS)
        return static_cast<int>(opened);
    const KeyCloser closer{key};

    std::vector<std::string> found;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        BYTE data[256];
        DWORD nameLength = sizeof valueName;
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            return static_cast<int>(result);
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        // The data length counts the terminating zero when the value was stored with one.
        std::string name(reinterpret_cast<const char*>(data), dataLength);
        while (!name.empty() && name.back() == '\0')
            name.pop_back();
        found.push_back(std::move(name));
    }
    names = std::move(found);
    return 0;
}

std::vector<StableName> ListStableNames(const std::string&) { return {}; }

bool NoHardwareBehind(const std::string&, const std::string&) { return false; }

bool SameDevice(const std::string& a, const std::string& b)
{
    const auto bare = [](const std::string& name) {
        return name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
    };
    return lstrcmpiA(bare(a).c_str(), bare(b).c_str()) == 0;
}

} // namespace SerialPorts
