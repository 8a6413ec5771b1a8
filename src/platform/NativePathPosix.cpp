// Paths are bytes here; the program's 8-bit text is used as it is.
#include "platform/NativePath.h"

namespace NativePath {

std::filesystem::path FromText(const std::string& text) { return std::filesystem::path(text); }

std::string ToText(const std::filesystem::path& path) { return path.string(); }

} // namespace NativePath
