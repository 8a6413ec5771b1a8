#include "protocol/Text.h"

#include <limits>

#include "platform/CodePage.h"

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Parses an unsigned run of decimal digits into `out`, refusing anything above `limit`.
bool ParseDigits(std::string_view s, std::uint64_t limit, std::uint64_t& out)
{
    if (s.empty())
        return false;
    std::uint64_t value = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(ch - '0');
        if (value > limit)
            return false;
    }
    out = value;
    return true;
}

} // namespace

namespace {

// The length of the valid one-, two- or three-byte sequence at s[i], or 0 when none starts there.
std::size_t BmpSequenceLength(std::string_view s, std::size_t i)
{
    const std::size_t n = s.size();
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)   // two bytes; C0 and C1 would be overlong
        return i + 1 < n && IsContinuation(static_cast<unsigned char>(s[i + 1])) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {   // three bytes
        if (i + 2 >= n)
            return 0;
        const auto c1 = static_cast<unsigned char>(s[i + 1]);
        const auto c2 = static_cast<unsigned char>(s[i + 2]);
        if (!IsContinuation(c1) || !IsContinuation(c2))
            return 0;
        if (c == 0xE0 && c1 < 0xA0)   // overlong
            return 0;
        if (c == 0xED && c1 >= 0xA0)  // UTF-16 surrogates
            return 0;
        return 3;
    }
    return 0;   // stray continuation byte, four-byte lead or invalid lead
}

} // namespace

bool IsValidBmpUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t length = BmpSequenceLength(s, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string ShowableName(std::string_view s)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";   // U+FFFD
    std::string shown;
    shown.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t length = BmpSequenceLength(s, i);
        if (length == 0) {
            shown += kReplacement;
            ++i;
        } else {
            shown += s.substr(i, length);
            i += length;
        }
    }
    return shown;
}

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

void AppendCode(std::string& out, char lead, unsigned char byte)
{
    out += lead;
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

} // namespace

std::string PrintableName(std::string_view name)
{
    const std::string shown = ShowableName(name);
    std::string out;
    out.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '\\';
            AppendCode(out, 'x', c);
        } else if (c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) <= 0x9F) {
            out += "\\u00";   // a C1 control character, U+0080..U+009F
            out += kHex[static_cast<unsigned char>(shown[++i]) >> 4];
            out += kHex[static_cast<unsigned char>(shown[i]) & 0x0F];
        } else {
            out += shown[i];
        }
    }
    return out;
}

std::string PercentDecoded(std::string_view s)
{
    const auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && IsHexDigit(s[i + 1]) && IsHexDigit(s[i + 2])) {
            out += static_cast<char>(value(s[i + 1]) * 16 + value(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string PercentEncoded(std::string_view s, bool (*needsCode)(unsigned char))
{
    std::string out;
    out.reserve(s.size());
    for (const char ch : s) {
        if (needsCode(static_cast<unsigned char>(ch)))
            AppendCode(out, '%', static_cast<unsigned char>(ch));
        else
            out += ch;
    }
    return out;
}

std::string PcFileName(std::string_view name)
{
    if (name == "." || name == "..")
        return name == "." ? "%2E" : "%2E%2E";
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = BmpSequenceLength(name, i);
        const auto c = static_cast<unsigned char>(name[i]);
        const bool code = c == '%' && i + 2 < name.size() && IsHexDigit(name[i + 1]) && IsHexDigit(name[i + 2]);
        if (length == 0 || c < 0x20 || c == 0x7F || c == '/' || c == '\\' || code) {
            AppendCode(out, '%', c);
            ++i;
        } else {
            out.append(name.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string CutToChars(std::string_view s, std::size_t maxChars)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (IsContinuation(static_cast<unsigned char>(s[i])))
            continue;
        if (chars == maxChars)
            return std::string(s.substr(0, i));
        ++chars;
    }
    return std::string(s);
}

std::string NameFromWire(std::string_view s) { return CodePage::Utf8ToAnsi(s); }

std::string ListedName(std::string_view name) { return CutToChars(ShowableName(name), kMaxShownNameChars); }

bool SameHandsetName(std::string_view requested, std::string_view given)
{
    if (requested == given)
        return true;
    // A handset that cuts names for showing may give the cut in place of the whole name.
    const std::string_view shorter = requested.size() < given.size() ? requested : given;
    const std::string_view longer = requested.size() < given.size() ? given : requested;
    return CutToChars(longer, kMaxShownNameChars) == shorter;
}

bool IsPlainFileName(std::string_view name)
{
    static constexpr std::string_view kNotInName("/\\\0", 3);
    return !name.empty() && name != "." && name != ".." && name.find_first_of(kNotInName) == std::string_view::npos;
}

std::string_view TrimCtl(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return s;
}

bool ParseInt32(std::string_view s, std::int32_t& out)
{
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    std::uint64_t magnitude = 0;
    if (!ParseDigits(s, limit, magnitude))
        return false;
    out = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                   : static_cast<std::int32_t>(magnitude);
    return true;
}

bool ParseUInt32(std::string_view s, std::uint32_t& out)
{
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    std::uint64_t value = 0;
    if (!ParseDigits(s, std::numeric_limits<std::uint32_t>::max(), value))
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

std::string ExtractModel(std::string_view reply)
{
    const std::string_view text = TrimCtl(reply);
    const auto cr = text.find('\r');
    if (cr == std::string_view::npos)
        return "Extract Err";
    const std::string_view model = TrimCtl(text.substr(0, cr));
    if (model.empty())
        return "Extract Err";
    return std::string(model);
}

std::string FormatGrouped(std::int64_t value, std::string_view separator)
{
    // The magnitude as unsigned, so that the most negative value has one as well.
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                        : static_cast<std::uint64_t>(value);
    const std::string digits = std::to_string(magnitude);
    std::string result;
    if (value < 0)
        result += '-';
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0)
            result += separator;
        result += digits[i];
    }
    return result;
}

int ProgressPercent(std::int64_t done, std::int64_t total)
{
    // A total of 0 has nothing left to move; the result stays within the bars' 0..100.
    if (total <= 0 || done >= total)
        return 100;
    if (done <= 0)
        return 0;
    __extension__ typedef __int128 Wide;   // done * 100 without overflow for any int64
    const Wide scaled = static_cast<Wide>(done) * 100;
    auto q = static_cast<std::int64_t>(scaled / total);
    const auto r = static_cast<std::int64_t>(scaled % total);
    // Round to nearest, a half to the even neighbour: compare 2r with total.
    const Wide twice = static_cast<Wide>(r) * 2;
    if (twice > total || (twice == total && (q % 2) != 0))
        ++q;
    return static_cast<int>(q);
}
