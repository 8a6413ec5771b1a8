#include "midlet/MidletFormat.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "platform/Files.h"

namespace {

constexpr std::string_view kJarSizeKey = "MIDlet-Jar-Size:";
constexpr std::string_view kNameKey = "MIDlet-Name:";
constexpr std::string_view kJarUrlKey = "MIDlet-Jar-URL:";

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The line begins with the key, letters compared without regard to case.
bool StartsWithKey(std::string_view line, std::string_view key)
{
    if (line.size() < key.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (AsciiUpper(line[i]) != AsciiUpper(key[i]))
            return false;
    return true;
}

// Drops blanks and control characters (codes 0 to 32) from both ends.
std::string_view Trim(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
        s.remove_suffix(1);
    return s;
}

// A signed 32-bit decimal number (optional sign) making up the whole text; -1 otherwise.
std::int32_t ParseJarSize(std::string_view s)
{
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty() || s.front() == '+')
        return -1;
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size())
        return -1;
    return value;
}

std::uint16_t EntryLength(const std::vector<std::uint8_t>& file, std::size_t offset)
{
    return static_cast<std::uint16_t>((file[offset] << 8) | file[offset + 1]);
}

} // namespace

std::vector<std::string_view> SplitJadLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '\n' && c != '\r') {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

TJadValues ParseJad(std::string_view text)
{
    TJadValues values;
    for (std::string_view line : SplitJadLines(text)) {
        // Each key shortens the line before the next one is looked for.
        if (StartsWithKey(line, kJarSizeKey)) {
            line = Trim(line.substr(kJarSizeKey.size()));
            values.JarSize = ParseJarSize(line);
        }
        if (StartsWithKey(line, kNameKey)) {
            line = Trim(line.substr(kNameKey.size()));
            values.Name = std::string(line);
        }
        if (StartsWithKey(line, kJarUrlKey)) {
            line = Trim(line.substr(kJarUrlKey.size()));
            values.JarUrl = std::string(line);
        }
    }
    return values;
}

std::string JadValuesError(const TJadValues& values)
{
    if (values.JarSize == 0)
        return "Key: MIDlet-Jar-Size: not found.";
    if (values.JarUrl.empty())
        return "Key: MIDlet-Jar-URL: not found.";
    if (values.Name.empty())
        return "Key: MIDlet-Name: not found.";
    if (values.JarSize == -1)
        return "Error reading value of key: MIDlet-Jar-Size:.";
    return {};
}

std::string StoreTextLengthError(std::string_view name, std::string_view prefix)
{
    const std::string limit = std::to_string(kMaxStoreText);
    if (name.size() > kMaxStoreText)
        return "MIDlet name is too long: " + std::to_string(name.size()) + " bytes, at most " + limit
               + " fit into suitesName.utf.\r\nNothing was installed.";
    if (prefix.size() > kMaxStoreText)
        return "MIDlet prefix \"" + std::string(prefix) + "\" is too long: " + std::to_string(prefix.size())
               + " bytes, at most " + limit + " fit into suites.utf.\r\nNothing was installed.";
    return {};
}

std::string EncodeSuitePrefix(std::string_view name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string prefix;
    prefix.reserve(name.size() * 2);
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 'A' && b <= 'Z') {
            prefix += '#';
            prefix += c;
        } else if (b < 0x30) {
            prefix += "%00";
            prefix += kHex[b >> 4];
            prefix += kHex[b & 0x0F];
        } else {
            prefix += c;
        }
    }
    return prefix;
}

std::string StoreEntry(std::string_view text)
{
    if (text.size() > kMaxStoreText)
        return {};
    std::string entry;
    entry += '\0';
    entry += static_cast<char>(text.size());
    entry += text;
    return entry;
}

int AppendStoreEntryBytes(std::vector<std::uint8_t>& file, bool create, std::string_view text)
{
    if (text.size() > kMaxStoreText)
        return kStoreError;
    if (create) {
        file.clear();
    } else {
        if (file.size() > kMaxStoreFileSize)
            return kStoreError;
        std::size_t offset = 0;
        while (offset < file.size()) {
            if (file.size() - offset < kStoreEntryHeaderSize)
                return kStoreError;   // a length cut off by the end of the file
            const std::size_t n = EntryLength(file, offset);
            offset += kStoreEntryHeaderSize;
            if (n > file.size() - offset)
                return kStoreError;   // the entry runs past the end of the file
            // Compared as bytes: a text byte of 0x80 or above is a negative char.
            if (n == text.size()
                && std::equal(text.begin(), text.end(), file.begin() + static_cast<std::ptrdiff_t>(offset),
                              [](char t, std::uint8_t f) { return static_cast<std::uint8_t>(t) == f; }))
                return kStorePresent;
            offset += n;
        }
    }
    const std::string entry = StoreEntry(text);
    file.insert(file.end(), entry.begin(), entry.end());
    return kStoreAppended;
}

bool ReadStoreFile(const std::string& path, bool create, std::vector<std::uint8_t>& file)
{
    file.clear();
    if (create)
        return true;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    // One byte more than the limit is enough to know that the file is too long.
    file.resize(kMaxStoreFileSize + 1);
    in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (in.bad())
        return false;
    file.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

int AppendStoreEntry(const std::string& path, bool create, std::string_view text)
{
    std::vector<std::uint8_t> file;
    if (!ReadStoreFile(path, create, file))
        return kStoreError;
    const int result = AppendStoreEntryBytes(file, create, text);
    if (result != kStoreAppended)
        return result;
    if (SaveFileReplacing(path, file.data(), file.size()) != SaveResult::Ok)
        return kStoreError;
    return kStoreAppended;
}

std::string SuiteManifest(std::string_view jad)
{
    std::string manifest;
    manifest.reserve(jad.size());
    for (const std::string_view line : SplitJadLines(jad)) {
        if (StartsWithKey(line, kJarSizeKey) || StartsWithKey(line, kJarUrlKey))
            continue;
        manifest += line;
        manifest += '\n';
    }
    return manifest;
}

std::string SuiteJadUrlContent() { return StoreEntry(kSuiteJadUrl); }
