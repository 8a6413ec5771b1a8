#include "platform/SerialPorts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

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

} // namespace SerialPorts
