// Windows paths are UTF-16; the program's 8-bit paths are in the ANSI code page, as the "A"
// functions take them.
#include "platform/NativePath.h"

#include <windows.h>

#include <climits>

namespace NativePath {

std::filesystem::path FromText(const std::string& text)
{
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    const int inLength = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), inLength, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), inLength, wide.data(), n);
    return std::filesystem::path(wide);
}

std::string ToText(const std::filesystem::path& path)
{
    const std::wstring& wide = path.native();
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    const int inLength = static_cast<int>(wide.size());
    // A name the code page cannot show gets its default character, not a look-alike that
    // would name another file.
    const UINT cp = GetACP();
    const DWORD flags = cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(cp, flags, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(cp, flags, wide.data(), inLength, text.data(), n, nullptr, nullptr);
    return text;
}

} // namespace NativePath
