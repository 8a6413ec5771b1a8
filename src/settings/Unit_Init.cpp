#include "settings/Unit_Init.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/NativePath.h"

std::string ComPort;
std::int32_t ComBaudRate = 0;
bool ComCheckLineStatus = false;
std::int32_t ComHwFlow = 0;
std::string HomeDir;
std::string SettingsDir;

namespace {

constexpr const char* kSection = "COMMON";
constexpr const char* kFileName = "tarvel.ini";

constexpr const char* kDefaultPort = "COM1";
constexpr std::int32_t kDefaultBaudRate = 115200;
constexpr bool kDefaultCheckLineStatus = false;
constexpr std::int32_t kDefaultHwFlow = 1;

// A string value is read into a buffer of 2048 bytes, terminating NUL included.
constexpr std::size_t kMaxValueLength = 2047;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x))
                   == std::tolower(static_cast<unsigned char>(y));
           });
}

// The name of a section line ("[name]", up to the line's last "]"), or nothing for any other
// line. A "[" without "]" starts no section: the platform skips such a line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    line.remove_prefix(1);
    const auto close = line.rfind(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(0, close));
}

bool IsComment(std::string_view line)
{
    line = Trim(line);
    return !line.empty() && line.front() == ';';
}

// Splits a key line into its trimmed key and value; a line without "=" is a key without value.
std::pair<std::string_view, std::string_view> SplitEntry(std::string_view line)
{
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return {Trim(line), {}};
    return {Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

// The range of lines [begin, end) that belongs to the first section of that name: the section
// line itself is at begin - 1. Nothing when the section is missing.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const IniText& ini, std::string_view section)
{
    const auto& lines = ini.Lines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i]);
        if (!name || !SameText(*name, Trim(section)))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end]))
            ++end;
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const IniText& ini, std::size_t begin, std::size_t end, std::string_view key)
{
    for (std::size_t i = begin; i < end; ++i) {
        const std::string_view line = ini.Lines[i];
        if (Trim(line).empty() || IsComment(line))
            continue;
        if (SameText(SplitEntry(line).first, Trim(key)))
            return i;
    }
    return std::nullopt;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ReadString(const IniText& ini, std::string_view key, const std::string& def)
{
    return IniReadString(ini, kSection, key).value_or(def);
}

std::int32_t ReadInt(const IniText& ini, std::string_view key, std::int32_t def)
{
    const auto text = IniReadString(ini, kSection, key);
    return text ? IniParseInt(*text, def) : def;
}

std::string FileErrorMessage(const std::string& file) { return "Unable to write to " + file; }

// The whole text of a file; nothing when it cannot be read (a folder, no permission).
std::optional<std::string> ReadFileText(const std::filesystem::path& file)
{
    std::string text;
    if (ReadWholeFile(file, text) != ReadResult::Ok)
        return std::nullopt;
    return text;
}

} // namespace

// ---- pure INI functions ---------------------------------------------------------------------

IniText ParseIni(std::string_view text)
{
    IniText ini;
    std::size_t start = 0;
    // A line ends with LF, CR LF or a CR alone.
    while (start < text.size()) {
        auto end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::size_t next = end + 1;
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
            ++next;
            if (ini.Lines.empty())
                ini.CrLf = true;
        }
        ini.Lines.emplace_back(text.substr(start, end - start));
        start = next;
    }
    return ini;
}

std::string FormatIni(const IniText& ini)
{
    std::string out;
    for (const auto& line : ini.Lines) {
        out += line;
        out += ini.CrLf ? "\r\n" : "\n";
    }
    return out;
}

std::optional<std::string> IniReadString(const IniText& ini, std::string_view section, std::string_view key)
{
    const auto range = FindSection(ini, section);
    if (!range)
        return std::nullopt;
    const auto at = FindKey(ini, range->first, range->second, key);
    if (!at)
        return std::nullopt;
    // A key without "=" has no value: it reads like a missing key.
    if (ini.Lines[*at].find('=') == std::string::npos)
        return std::nullopt;
    std::string_view value = SplitEntry(ini.Lines[*at]).second;
    // A value in a matching pair of quotes is read without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    // The platform's texts end at a zero byte.
    value = value.substr(0, value.find('\0'));
    return CodePage::CutAnsi(value, kMaxValueLength);
}

void IniWriteString(IniText& ini, std::string_view section, std::string_view key, std::string_view value)
{
    // One line per key: a line break would end the value and start a line of its own.
    value = value.substr(0, value.find_first_of("\r\n"));
    auto range = FindSection(ini, section);
    if (!range) {
        if (!ini.Lines.empty() && !Trim(ini.Lines.back()).empty())
            ini.Lines.emplace_back();
        ini.Lines.push_back("[" + std::string(Trim(section)) + "]");
        range = std::make_pair(ini.Lines.size(), ini.Lines.size());
    }
    if (const auto at = FindKey(ini, range->first, range->second, key)) {
        // The key keeps its spelling in the file.
        ini.Lines[*at] = std::string(SplitEntry(ini.Lines[*at]).first) + "=" + std::string(value);
        return;
    }
    // A new key goes after the section's last entry, before the blank lines that end it.
    std::size_t insertAt = range->second;
    while (insertAt > range->first && Trim(ini.Lines[insertAt - 1]).empty())
        --insertAt;
    ini.Lines.insert(ini.Lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                     std::string(Trim(key)) + "=" + std::string(value));
}

std::int32_t IniParseInt(std::string_view text, std::int32_t defaultValue)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size())
        return defaultValue;

    std::uint64_t magnitude = 0;
    if (hex) {
        // Hexadecimal gives the 32 bits as they stand: "$FFFFFFFF" is -1.
        for (; i < text.size(); ++i) {
            const int d = HexDigit(text[i]);
            if (d < 0)
                return defaultValue;
            magnitude = magnitude * 16 + static_cast<std::uint64_t>(d);
            if (magnitude > 0xFFFFFFFFull)
                return defaultValue;
        }
        const auto bits = static_cast<std::uint32_t>(magnitude);
        const auto value = static_cast<std::int32_t>(bits);
        return negative ? static_cast<std::int32_t>(0u - bits) : value;
    }
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return defaultValue;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > 0x80000000ull)
            return defaultValue;
    }
    if (!negative && magnitude > 0x7FFFFFFFull)
        return defaultValue;
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

void LoadSettingsFrom(const IniText& ini)
{
    ComPort = ReadString(ini, "PORT", kDefaultPort);
    ComBaudRate = ReadInt(ini, "COMPortBaudRate", kDefaultBaudRate);
    ComCheckLineStatus = ReadInt(ini, "COMCheckLineStatus", kDefaultCheckLineStatus ? 1 : 0) != 0;
    ComHwFlow = ReadInt(ini, "COMHwFlow", kDefaultHwFlow);
    HomeDir = ReadString(ini, "HOMEDIR", "");
}

void SaveSettingsTo(IniText& ini)
{
    IniWriteString(ini, kSection, "PORT", ComPort);
    IniWriteString(ini, kSection, "COMPortBaudRate", std::to_string(ComBaudRate));
    IniWriteString(ini, kSection, "HOMEDIR", HomeDir);
    IniWriteString(ini, kSection, "COMCheckLineStatus", ComCheckLineStatus ? "1" : "0");
    IniWriteString(ini, kSection, "COMHwFlow", std::to_string(ComHwFlow));
}

// ---- the settings file -----------------------------------------------------------------------

void InitSettingsDir()
{
    std::error_code ec;
    const auto dir = std::filesystem::current_path(ec);
    SettingsDir = ec ? std::string(".") : NativePath::ToText(dir);
}

std::string SettingsFileName()
{
    return SettingsDir + static_cast<char>(std::filesystem::path::preferred_separator) + kFileName;
}

void ResetSettingsToDefaults()
{
    ComPort = kDefaultPort;
    ComBaudRate = kDefaultBaudRate;
    ComCheckLineStatus = kDefaultCheckLineStatus;
    ComHwFlow = kDefaultHwFlow;
    HomeDir.clear();
}

void LoadSettings()
{
    try {
        const std::filesystem::path file = NativePath::FromText(SettingsFileName());
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) {
            LoadSettingsFrom(IniText{});   // every key takes its default
            return;
        }
        const auto text = ReadFileText(file);
        if (!text)
            throw std::runtime_error("unreadable");
        LoadSettingsFrom(ParseIni(*text));
    } catch (...) {
        ResetSettingsToDefaults();
    }
}

void SaveSettings()
{
    namespace fs = std::filesystem;
    const std::string file = SettingsFileName();
    std::error_code ec;

    // A link is followed, so the file it names is the one that changes.
    fs::path target = NativePath::FromText(file);
    if (fs::is_symlink(target, ec)) {
        const auto resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }

    IniText ini;
    const bool existed = fs::exists(target, ec);
    if (existed) {
        // Reading the file and opening it for writing (without changing it yet) both have to
        // work: a file the system will not let us write is refused here, as it is in place.
        const auto text = ReadFileText(target);
        if (!text)
            throw std::runtime_error(FileErrorMessage(file));
        std::ofstream probe(target, std::ios::binary | std::ios::app);
        if (!probe.is_open())
            throw std::runtime_error(FileErrorMessage(file));
        ini = ParseIni(*text);
    }
    SaveSettingsTo(ini);
    const std::string text = FormatIni(ini);

    // The new text replaces the old file only once it is complete, so a failed save leaves the
    // old file as it was; a folder that takes no new file gets the file written in place.
    if (SaveFileReplacing(NativePath::ToText(target), reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                          true)
        != SaveResult::Ok)
        throw std::runtime_error(FileErrorMessage(file));
}
