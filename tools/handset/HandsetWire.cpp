#include "HandsetWire.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "protocol/Text.h"

namespace handset {

namespace {

struct TypeEntry {
    const char* ext;
    std::int32_t code;
};
constexpr TypeEntry kTypeTable[] = {
    {".JPG", 106}, {".PNG", 109}, {".GIF", 110}, {".BMP", 112},
    {".MMF", 302}, {".IMY", 303}, {".MID", 306}, {".AMR", 200},
};

std::string Upper(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return r;
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// Takes a decimal number (optional sign) from the front of s.
template <typename T> bool TakeNumber(std::string_view& s, T& out)
{
    s = TrimBlanks(s);
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+')
        ++first;
    auto [ptr, ec] = std::from_chars(first, last, out);
    if (ec != std::errc() || ptr == first)
        return false;
    s.remove_prefix(static_cast<std::size_t>(ptr - s.data()));
    return true;
}

// Takes a quoted text (no escapes: it ends at the next quote) from the front of s.
bool TakeQuoted(std::string_view& s, std::string& out)
{
    s = TrimBlanks(s);
    if (s.empty() || s.front() != '"')
        return false;
    std::size_t close = s.find('"', 1);
    if (close == std::string_view::npos)
        return false;
    out.assign(s.substr(1, close - 1));
    s.remove_prefix(close + 1);
    return true;
}

bool TakeComma(std::string_view& s)
{
    s = TrimBlanks(s);
    if (s.empty() || s.front() != ',')
        return false;
    s.remove_prefix(1);
    return true;
}

bool AtEnd(std::string_view s) { return TrimBlanks(s).empty(); }

} // namespace

std::int32_t TypeCodeFor(std::string_view fileName)
{
    std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return 0;
    std::string ext = Upper(fileName.substr(dot));
    for (const TypeEntry& e : kTypeTable)
        if (ext == e.ext)
            return e.code;
    return 0;
}

std::string FormatDate(std::time_t when)
{
    std::tm tm{};
    localtime_r(&when, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M", &tm);
    return buf;
}

std::string PadNumber(std::int64_t value, int width, bool blanks)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string sign = value < 0 ? "-" : "";
    int fill = width - static_cast<int>(digits.size() + sign.size());
    if (fill <= 0)
        return sign + digits;
    if (blanks)
        return std::string(static_cast<std::size_t>(fill), ' ') + sign + digits;
    return sign + std::string(static_cast<std::size_t>(fill), '0') + digits;
}

std::string DirEntryLine(std::string_view name, std::int32_t type, std::int64_t size,
                         std::string_view date)
{
    std::string s = "+FSDL: 0,\"";
    s += name;
    s += "\"," + std::to_string(type) + ",0,0,0," + std::to_string(size) + ",0,\"";
    s += date;
    s += "\",0\r\n";
    return s;
}

std::string ReadHeaderBlock(std::string_view name, std::int32_t type, std::int64_t size,
                            std::string_view date, std::uint32_t crc)
{
    std::string s = "\r\n+FSFR: 0,\"";
    s += name;
    s += "\"," + std::to_string(type) + ",0,0," + std::to_string(size) + ",0,0,\"";
    s += date;
    s += "\",0," + std::to_string(crc) + "\r\n#OK#\r\n";
    return s;
}

std::string ReadDataBlock(std::string_view data, std::int64_t announced, int blockNumber,
                          int leadIn, bool blanks)
{
    std::string s;
    for (int i = 0; i < leadIn; ++i)
        s += (i % 2 == 0) ? '\r' : '\n';
    s += "+FSFR:";
    s += PadNumber(announced, 7, blanks);
    s += ',';
    s += PadNumber(blockNumber % 10000, 4, blanks);
    s += ',';
    s += data;
    s += "#OK#\r\n";
    return s;
}

std::string_view TrimLine(std::string_view line)
{
    while (!line.empty() && (IsControl(line.front()) || line.front() == ' '))
        line.remove_prefix(1);
    while (!line.empty() && (IsControl(line.back()) || line.back() == ' '))
        line.remove_suffix(1);
    return line;
}

CommandLine SplitCommand(std::string_view line)
{
    CommandLine c;
    line = TrimLine(line);
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        c.verb = Upper(line);
        return c;
    }
    c.verb = Upper(TrimBlanks(line.substr(0, eq)));
    c.args.assign(line.substr(eq + 1));
    c.hasArgs = true;
    return c;
}

bool ParseFolderArg(std::string_view args, std::string& path)
{
    return TakeQuoted(args, path) && AtEnd(args);
}

bool ParseNameArgs(std::string_view args, std::string& name)
{
    std::int64_t first = 0;
    return TakeNumber(args, first) && TakeComma(args) && TakeQuoted(args, name) && AtEnd(args);
}

bool ParseWriteArgs(std::string_view args, WriteArgs& out)
{
    std::int64_t first = 0;
    std::string attr;
    std::uint64_t crc = 0;
    if (!(TakeNumber(args, first) && TakeComma(args) && TakeQuoted(args, out.name) &&
          TakeComma(args) && TakeNumber(args, out.type) && TakeComma(args) &&
          TakeQuoted(args, attr) && TakeComma(args) && TakeNumber(args, out.size) &&
          TakeComma(args) && TakeNumber(args, crc) && AtEnd(args)))
        return false;
    if (out.size < 0 || crc > 0xFFFFFFFFu)
        return false;
    out.crc = static_cast<std::uint32_t>(crc);
    return true;
}

std::string DecodeDiskName(std::string_view disk) { return PercentDecoded(disk); }

std::string EncodeDiskName(std::string_view name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string disk;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (IsControl(name[i]) || c == '%' || c == '"' || c == '/' || (c == '.' && i == 0)) {
            disk += '%';
            disk += kHex[c >> 4];
            disk += kHex[c & 0x0F];
        } else {
            disk += name[i];
        }
    }
    return disk;
}

bool IsPlainName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '/' || c == '"' || IsControl(c); });
}

bool SplitFolderPath(std::string_view path, std::vector<std::string>& parts)
{
    parts.clear();
    if (path.empty() || path.front() != '/')
        return false;
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string_view::npos)
            next = path.size();
        std::string_view part = path.substr(pos, next - pos);
        if (!part.empty()) {
            if (part == "." || part == ".." ||
                std::any_of(part.begin(), part.end(), [](char c) { return IsControl(c); }))
                return false;
            parts.emplace_back(part);
        }
        pos = next + 1;
    }
    return true;
}

} // namespace handset
