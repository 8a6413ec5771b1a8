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

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;   // the range of the second byte
        if (c < 0x80)
            length = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else
            return false;
        if (s.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
                return false;
        }
        i += length;
    }
    return true;
}

// A PC file name as UTF-8: as it is when it is UTF-8 already, else its bytes read as Latin-1
// (each byte the character of that code), so that distinct names stay distinct.
std::string NameAsUtf8(std::string_view pcFileName)
{
    const std::string name = CodePage::AnsiToUtf8(pcFileName);
    if (IsUtf8(name))
        return name;
    std::string utf8;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            utf8 += ch;
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
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
    SplitExtension(NameAsUtf8(pcFileName), base, ext);
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
