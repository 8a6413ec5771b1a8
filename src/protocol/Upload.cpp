#include "protocol/Upload.h"

#include <algorithm>

#include "platform/CodePage.h"
#include "protocol/Text.h"

namespace {

struct TypeCode {
    std::string_view extension;   // upper case, dot included
    std::int32_t code;
};

// The handset's file type codes, by extension.
constexpr std::array<TypeCode, 8> kTypeCodes{{
    {".JPG", 106},
    {".PNG", 109},
    {".GIF", 110},
    {".BMP", 112},
    {".MMF", 302},
    {".IMY", 303},
    {".MID", 306},
    {".AMR", 200},
}};

constexpr std::string_view kMelodyExtension = ".mel";
constexpr std::size_t kMelodyNameBytes = kMelodyHeaderSize - 1;

std::string ToUpperAscii(std::string_view s)
{
    std::string upper(s);
    for (char& ch : upper) {
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
    }
    return upper;
}

// Removes the last character of a UTF-8 text: its continuation bytes and its lead byte.
void DropLastChar(std::string& s)
{
    while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80)
        s.pop_back();
    if (!s.empty())
        s.pop_back();
}

} // namespace

std::int32_t TypeCodeFor(std::string_view extension)
{
    const std::string upper = ToUpperAscii(extension);
    for (const TypeCode& t : kTypeCodes) {
        if (upper == t.extension)
            return t.code;
    }
    return 0;
}

void SplitExtension(std::string_view fileName, std::string& base, std::string& ext)
{
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos) {
        base = std::string(fileName);
        ext.clear();
        return;
    }
    base = std::string(fileName.substr(0, dot));
    ext = std::string(fileName.substr(dot));
}

std::string HandsetName(std::string_view pcFileName, bool asMelody)
{
    // Measured and cut in UTF-8, the form the handset stores; held in the PC's code page.
    std::string base;
    std::string ext;
    SplitExtension(CodePage::AnsiToUtf8(pcFileName), base, ext);
    while (base.size() > kMaxBaseBytes)
        DropLastChar(base);
    if (asMelody)
        ext = std::string(kMelodyExtension);
    return CodePage::Utf8ToAnsi(CutToChars(base + ext, kMaxNameChars));
}

bool IsSafeWireName(std::string_view name)
{
    return std::none_of(name.begin(), name.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c == '"' || c < 0x20 || c == 0x7F;
    });
}

std::array<std::uint8_t, kMelodyHeaderSize> MelodyHeader(std::string_view pcFileName)
{
    std::array<std::uint8_t, kMelodyHeaderSize> header;
    header.fill(0xFF);
    const std::string name = CodePage::AnsiToUtf8(pcFileName);
    const std::size_t count = std::min(name.size(), kMelodyNameBytes);
    for (std::size_t i = 0; i < count; ++i)
        header[i] = static_cast<std::uint8_t>(name[i]);
    return header;
}
