#include "platform/SerialPorts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <sys/stat.h>

#include "platform/Serial.h"

namespace fs = std::filesystem;

namespace SerialPorts {

namespace {

// The serial core reports an unused standard port as type 0 ("unknown").
bool PlaceholderPort(const fs::path& entry)
{
    std::ifstream in(entry / "type");
    int type = -1;
    return (in >> type) && type == 0;
}

} // namespace

int ListSerialDevices(std::vector<std::string>& names, const std::string& classDir, const std::string& linkDir)
{
    std::error_code ec;
    std::vector<std::string> found;
    fs::directory_iterator it(classDir, ec);
    if (ec)
        return ec.value() != 0 ? ec.value() : 5;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            return ec.value();
        const fs::path entry = it->path();
        std::error_code linkEc;
        if (!fs::exists(entry / "device", linkEc) || PlaceholderPort(entry))
            continue;
        // A kernel name with "!" stands for a device in a subfolder of /dev.
        std::string name = entry.filename().string();
        std::replace(name.begin(), name.end(), '!', '/');
        if (std::find(found.begin(), found.end(), name) == found.end())
            found.push_back(std::move(name));
    }
    if (ec)
        return ec.value();

    if (!linkDir.empty()) {
        const fs::path link = fs::absolute(fs::path(linkDir) / kHandsetLinkName, ec).lexically_normal();
        if (!ec && fs::is_symlink(link, ec) && fs::is_character_file(link, ec))
            found.push_back(link.string());
    }
    names = std::move(found);
    return 0;
}

bool SameDevice(const std::string& a, const std::string& b)
{
    const std::string pathA = SerialPlatform::DevicePath(a);
    const std::string pathB = SerialPlatform::DevicePath(b);
    struct stat stA {}, stB {};
    if (::stat(pathA.c_str(), &stA) == 0 && ::stat(pathB.c_str(), &stB) == 0)
        return (stA.st_dev == stB.st_dev && stA.st_ino == stB.st_ino)
            || (S_ISCHR(stA.st_mode) && S_ISCHR(stB.st_mode) && stA.st_rdev == stB.st_rdev);
    return fs::path(pathA).lexically_normal() == fs::path(pathB).lexically_normal();
}

} // namespace SerialPorts
