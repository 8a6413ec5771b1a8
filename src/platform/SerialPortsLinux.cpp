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

std::vector<StableName> ListStableNames(const std::string& byIdDir)
{
    std::vector<StableName> names;
    std::error_code ec;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkEc;
        const fs::path device = fs::canonical(it->path(), linkEc);
        if (!linkEc && fs::is_character_file(device, linkEc))
            names.push_back({fs::absolute(it->path(), linkEc).lexically_normal().string(), device.string()});
    }
    std::sort(names.begin(), names.end(), [](const StableName& a, const StableName& b) { return a.path < b.path; });
    return names;
}

bool NoHardwareBehind(const std::string& devicePath, const std::string& classDir)
{
    std::error_code ec;
    const std::string name = fs::canonical(devicePath, ec).filename().string();
    if (ec || name.size() < 5 || name.compare(0, 4, "ttyS") != 0
        || name.find_first_not_of("0123456789", 4) != std::string::npos)
        return false;
    return PlaceholderPort(fs::path(classDir) / name);
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
