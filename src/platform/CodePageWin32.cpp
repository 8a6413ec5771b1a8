// Conversions between the system's ANSI code page and UTF-8, through UTF-16.
#include "platform/CodePage.h"

#include <windows.h>

#include <climits>

namespace CodePage {

namespace {

// `text` in code page `from` as UTF-16; empty when it is empty or cannot be converted.
std::wstring ToWide(UINT from, std::string_view text)
{
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    const int inLength = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(from, 0, text.data(), inLength, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(from, 0, text.data(), inLength, wide.data(), n);
    return wide;
}

// UTF-16 in code page `to`. For the ANSI code page a character it cannot show becomes the
// code page's own default character ("?" for most code pages), never a look-alike the system
// would otherwise pick ("e" for "é" in a Cyrillic code page, a plain quote or backslash for
// their full-width forms).
std::string FromWide(UINT to, const std::wstring& wide)
{
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    const UINT cp = to == CP_ACP ? GetACP() : to;
    const DWORD flags = cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;   // UTF-8 takes no flags
    const int inLength = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(cp, flags, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(cp, flags, wide.data(), inLength, text.data(), n, nullptr, nullptr);
    return text;
}

} // namespace

// Where the ANSI code page is UTF-8 itself, both conversions keep the bytes as they are (a
// handset name that is not valid UTF-8 then goes back to the handset unchanged).
std::string AnsiToUtf8(std::string_view text)
{
    return GetACP() == CP_UTF8 ? std::string(text) : FromWide(CP_UTF8, ToWide(CP_ACP, text));
}

std::string Utf8ToAnsi(std::string_view text)
{
    return GetACP() == CP_UTF8 ? std::string(text) : FromWide(CP_ACP, ToWide(CP_UTF8, text));
}

std::string CutAnsi(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    // In a double-byte code page a lead byte takes the byte after it along.
    std::size_t n = 0;
    while (n < maxBytes) {
        const std::size_t width = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[n])) ? 2 : 1;
        if (n + width > maxBytes)
            break;
        n += width;
    }
    return std::string(text.substr(0, n));
}

} // namespace CodePage
