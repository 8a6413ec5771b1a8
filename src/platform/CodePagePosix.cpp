// The PC's code page is UTF-8 here.
#include "platform/CodePage.h"

namespace CodePage {

std::string AnsiToUtf8(std::string_view text) { return std::string(text); }

std::string Utf8ToAnsi(std::string_view text) { return std::string(text); }

std::string CutAnsi(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return std::string(text.substr(0, n));
}

} // namespace CodePage
