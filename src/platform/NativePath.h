#pragma once
// Paths held as 8-bit text (the settings folder, the file names the program shows) and the
// standard library's paths. The 8-bit text is in the PC's code page: UTF-8 on Linux, the ANSI
// code page on Windows, whose path class would otherwise take narrow text in another encoding.
#include <filesystem>
#include <string>

namespace NativePath {

std::filesystem::path FromText(const std::string& text);
std::string ToText(const std::filesystem::path& path);

} // namespace NativePath
