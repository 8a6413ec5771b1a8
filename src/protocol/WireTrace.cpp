#include "protocol/WireTrace.h"

#include <cstdio>
#include <ctime>

namespace WireTrace {

namespace {

constexpr std::string_view kPcSide = "PC->HS";
constexpr std::string_view kHandsetSide = "HS->PC";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string Escape(std::string_view bytes)
{
    std::string s;
    s.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            s += "<CR>";
        else if (c == '\n')
            s += "<LF>";
        else if (c >= 0x20 && c < 0x7F && c != '<')
            s += ch;
        else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02X>", c);
            s += buf;
        }
    }
    return s;
}

bool Unescape(std::string_view text, std::string& bytes)
{
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '<') {
            bytes += text[i];
            continue;
        }
        const std::string_view rest = text.substr(i);
        if (rest.substr(0, 4) == "<CR>")
            bytes += '\r';
        else if (rest.substr(0, 4) == "<LF>")
            bytes += '\n';
        else if (rest.size() >= 4 && rest[3] == '>' && HexDigit(rest[1]) >= 0 && HexDigit(rest[2]) >= 0)
            bytes += static_cast<char>(HexDigit(rest[1]) * 16 + HexDigit(rest[2]));
        else
            return false;
        i += 3;
    }
    return true;
}

std::string FormatLine(std::chrono::system_clock::time_point when, Side from, std::string_view bytes)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local {};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms < 0 ? ms + 1000 : ms));
    std::string line = stamp;
    line += from == Side::Pc ? kPcSide : kHandsetSide;
    line += ' ';
    line += Escape(bytes);
    line += '\n';
    return line;
}

bool ParseLine(std::string_view line, Record& record)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || blank == 0)
        return false;
    const std::string_view side = line.substr(blank + 1, kPcSide.size());
    if ((side != kPcSide && side != kHandsetSide) || line.size() < blank + 1 + kPcSide.size() + 1
        || line[blank + 1 + kPcSide.size()] != ' ')
        return false;
    Record r;
    r.stamp = std::string(line.substr(0, blank));
    r.from = side == kPcSide ? Side::Pc : Side::Handset;
    if (!Unescape(line.substr(blank + 1 + kPcSide.size() + 1), r.bytes))
        return false;
    record = std::move(r);
    return true;
}

std::vector<Record> ParseTrace(std::string_view text)
{
    std::vector<Record> records;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        Record r;
        if (ParseLine(text.substr(0, end), r))
            records.push_back(std::move(r));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return records;
}

} // namespace WireTrace
