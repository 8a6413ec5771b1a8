// The PC's code page is UTF-8 here.
#include "platform/CodePage.h"

namespace CodePage {

std::string AnsiToUtf8(std::string_view text) { return std::string(text); }

std::string Utf8ToAnsi(std::string_view text) { return std::string(text); }

} // namespace CodePage
