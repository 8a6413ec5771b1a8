#pragma once
// Names of handset files are held in the PC's 8-bit ("ANSI") code page and travel over the
// serial line in UTF-8. On Linux the PC's code page is UTF-8, so both conversions leave the
// text as it is; on Windows they go through the system's ANSI code page.
#include <cstddef>
#include <string>
#include <string_view>

namespace CodePage {

// The PC's code page to UTF-8.
std::string AnsiToUtf8(std::string_view text);

// UTF-8 to the PC's code page; a character that the code page cannot show becomes the code
// page's default character. Bytes that are not valid UTF-8 stay as they are where the PC's code
// page is UTF-8 (Linux); elsewhere they become the code page's default character.
std::string Utf8ToAnsi(std::string_view text);

// The longest start of `text` of at most `maxBytes` bytes that does not split a character of
// the PC's code page (a UTF-8 sequence on Linux, a double-byte character on Windows).
std::string CutAnsi(std::string_view text, std::size_t maxBytes);

} // namespace CodePage
