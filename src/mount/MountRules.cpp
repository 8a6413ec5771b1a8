#include "mount/MountRules.h"

#include <cerrno>
#include <ctime>

#include "protocol/Text.h"
#include "protocol/Upload.h"

namespace {
constexpr int kCmeMemoryFull = 20;

bool EndsWith(std::string_view s, std::string_view end)
{
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool ParseSmall(std::string_view s, int& out)
{
    if (s.empty() || s.size() > 6)
        return false;
    out = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    return true;
}
} // namespace

int ErrnoFor(const LinkResult& result)
{
    if (result.Ok())
        return 0;
    if (result.Error == LinkError::Refused && result.Code == kCmeMemoryFull)
        return ENOSPC;
    if (result.Error == LinkError::Cancelled)
        return EINTR;
    return EIO;
}

int CheckNewName(std::string_view name)
{
    const std::string handset = PercentDecoded(name);
    if (!IsValidBmpUtf8(handset) || !IsSafeWireName(handset) || !IsPlainFileName(handset))
        return EINVAL;
    if (HandsetName(handset, false) != handset)
        return ENAMETOOLONG;
    return 0;
}

bool IsLocalOnlyName(std::string_view name)
{
    if (name.rfind(".goutputstream-", 0) == 0 || name == "4913" || EndsWith(name, "~"))
        return true;
    for (const char* swap : {".swp", ".swo", ".swx"})
        if (EndsWith(name, swap))
            return true;
    // rsync: "." + the file's name + "." + six letters or digits.
    if (name.size() >= 10 && name[0] == '.' && name[name.size() - 7] == '.') {
        const std::string_view tail = name.substr(name.size() - 6);
        bool letters = true;
        for (const char c : tail)
            letters = letters && IsAlnum(c);
        return letters;
    }
    return false;
}

std::string UnsentFolder(const char* xdgStateHome, const char* home)
{
    if (xdgStateHome && xdgStateHome[0] == '/')
        return std::string(xdgStateHome) + "/tarvel/unsent";
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/tarvel/unsent";
    return {};
}

std::optional<std::int64_t> HandsetDateSeconds(std::string_view date)
{
    // "YYYY/MM/DD HH:MM"
    if (date.size() != 16 || date[4] != '/' || date[7] != '/' || date[10] != ' ' || date[13] != ':')
        return std::nullopt;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (!ParseSmall(date.substr(0, 4), year) || !ParseSmall(date.substr(5, 2), month) || !ParseSmall(date.substr(8, 2), day)
        || !ParseSmall(date.substr(11, 2), hour) || !ParseSmall(date.substr(14, 2), minute))
        return std::nullopt;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

MountOptions ParseMountOptions(std::string_view text)
{
    MountOptions o;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.empty())
            continue;
        const std::size_t eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        int* number = key == "relist" ? &o.RelistSeconds : key == "negative_timeout" ? &o.NegativeSeconds : nullptr;
        if (number) {
            if (!ParseSmall(value, *number)) {
                o.Error = std::string(key) + " takes a number of seconds";
                return o;
            }
        } else if (key == "auto_unmount") {
            o.AutoUnmount = true;
        } else if (key == "noauto_unmount") {
            o.AutoUnmount = false;
        } else if (key == "fsname" || key == "subtype") {
            o.Error = std::string(key) + " is set by tarvel-cli";
            return o;
        } else {
            o.Passed.emplace_back(item);
        }
    }
    return o;
}
