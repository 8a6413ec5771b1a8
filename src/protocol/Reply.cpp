#include "protocol/Reply.h"

#include <algorithm>
#include <array>

#include "platform/CodePage.h"
#include "protocol/ReadBlock.h"
#include "protocol/Text.h"

namespace {

// The error answers: "+CME ERROR" (a code follows) at the start of a line, and the plain final
// result "ERROR" of a handset that does not know the command, as a line of its own.
struct ErrorText {
    std::string_view text;
    bool wholeLine;
};
constexpr std::array<ErrorText, 2> kErrors{{
    {"+CME ERROR", false},
    {"ERROR", true},
}};

// What a handset announces on its own. A code that ends with ':' starts its line; the others
// are the whole line. The message indications carry the message on one more line.
struct UnsolicitedCode {
    std::string_view text;
    int lines;
};
constexpr std::array<UnsolicitedCode, 20> kUnsolicited{{
    {"RING", 1},     {"NO CARRIER", 1}, {"+CRING:", 1}, {"+CLIP:", 1},  {"+CCWA:", 1},
    {"+CMTI:", 1},   {"+CDSI:", 1},     {"+CBMI:", 1},  {"+CMT:", 2},   {"+CDS:", 2},
    {"+CBM:", 2},    {"+CREG:", 1},     {"+CGREG:", 1}, {"+CEREG:", 1}, {"+CIEV:", 1},
    {"+CUSD:", 1},   {"+CGEV:", 1},     {"+CSSU:", 1},  {"+CTZV:", 1},  {"+CALA:", 1},
}};

// The lines of a command's answer between its echo and its ending: those that start with the
// command's own tag, and for the commands that answer in free text (the model, the file-system
// information) also every line that does not look like a result code of another kind ("+CSQ:",
// "^RSSI:"). Commands not listed answer with their ending alone.
struct AnswerLines {
    TPhoneCommand kind;
    std::string_view tag;
    bool freeText;
};
constexpr std::array<AnswerLines, 4> kAnswerLines{{
    {pcCGMM, "+CGMM:", true},
    {pcFSIF, "+FSIF:", true},
    {pcFSDL, "+FSDL:", false},
    {pcFSFR, "+FSFR:", false},
}};

struct CommandEntry {
    TPhoneCommand kind;
    std::string_view watchdogName;
};

// The commands the engine sends and the name the watchdog message gives each.
constexpr std::array<CommandEntry, 7> kCommands{{
    {pcATZ, "ATZ"},
    {pcCGMM, "+CGMM"},
    {pcFSIF, "+FSIF"},
    {pcFSDL, "+FSDL"},
    {pcFSFE, "+FSFE"},
    {pcFSFR, "+FSFR"},
    {pcFSFW, "+FSFW"},
}};

// The endings of a complete reply, tested in this order; a later hit replaces an earlier one.
struct Ending {
    std::string_view text;
    TReplyClass cls;
};
constexpr std::array<Ending, 3> kEndings{{
    {"OK", rcFinal},
    {"##>", rcPrompt},
    {"#OK#", rcBlock},
}};

bool EndsWithCrLf(std::string_view s)
{
    return s.size() >= 2 && s[s.size() - 2] == '\r' && s.back() == '\n';
}

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// An error answer at the start of a line of s, looking at hits that begin at `from` or later.
bool HasLineStartError(std::string_view s, std::size_t from)
{
    for (const ErrorText& e : kErrors) {
        for (auto pos = s.find(e.text, from); pos != std::string_view::npos;
             pos = s.find(e.text, pos + 1)) {
            const std::size_t end = pos + e.text.size();
            if ((pos == 0 || IsLineBreak(s[pos - 1]))
                && (!e.wholeLine || end == s.size() || IsLineBreak(s[end])))
                return true;
        }
    }
    return false;
}

// Classification by the tail of the bytes; "+CME ERROR" is looked for from errorFrom on.
TReplyClass ClassifyTail(std::string_view s, std::size_t errorFrom)
{
    if (s.empty())
        return rcEmpty;
    if (s.size() > 1 && !EndsWithCrLf(s))
        return rcIncomplete;
    while (!s.empty() && IsControlByte(static_cast<std::uint8_t>(s.back())))
        s.remove_suffix(1);
    TReplyClass cls = rcIncomplete;
    for (const Ending& e : kEndings) {
        if (s.ends_with(e.text))
            cls = e.cls;
    }
    if (errorFrom < s.size() && HasLineStartError(s, errorFrom))
        cls = rcError;
    return cls;
}

// A line (trimmed) that ends a reply or a block: "OK", "#OK#", "##>".
bool IsEndingLine(std::string_view t)
{
    return std::any_of(kEndings.begin(), kEndings.end(), [t](const Ending& e) { return t.ends_with(e.text); });
}

// A line (trimmed) in the form of a result code: '+' or '^', a name, ':'.
bool LooksLikeResultCode(std::string_view t)
{
    if (t.size() < 2 || (t.front() != '+' && t.front() != '^'))
        return false;
    const auto colon = t.find(':');
    return colon != std::string_view::npos && colon > 1
        && t.substr(1, colon - 1).find_first_of(" \",") == std::string_view::npos;
}

} // namespace

TReplyClass ClassifyReply(std::span<const std::uint8_t> reply, const ReplyContext& ctx)
{
    const std::string_view s = AsText(reply);
    if (s.empty())
        return rcEmpty;
    if (ctx.ReadDataExpected) {
        const std::int32_t extent = DataBlockExtent(reply);
        // A length whose block could never fit the receive buffer is no data block we can
        // gather; such bytes are classified by their ending like any other reply.
        if (extent >= 0 && extent <= maxTempBuf) {
            if (s.size() < static_cast<std::size_t>(extent))
                return rcIncomplete;
            const std::string_view after = s.substr(static_cast<std::size_t>(extent));
            const bool framed = s.substr(static_cast<std::size_t>(extent) - 4, 4) == "#OK#";
            bool onlyControl = true;
            for (char ch : after)
                onlyControl = onlyControl && IsControlByte(static_cast<std::uint8_t>(ch));
            if (framed && onlyControl)
                return EndsWithCrLf(after) ? rcBlock : rcIncomplete;
            // The frame is broken (more data than announced, or something behind "#OK#"):
            // judge by the ending, but never by text inside the announced data.
            return ClassifyTail(s, static_cast<std::size_t>(extent) - 4);
        }
    }
    return ClassifyTail(s, 0);
}

int UnsolicitedLines(std::string_view line)
{
    for (const UnsolicitedCode& u : kUnsolicited) {
        if (u.text.back() == ':' ? line.starts_with(u.text) : line == u.text)
            return u.lines;
    }
    return 0;
}

bool IsReplyLine(std::string_view line, const ReplyContext& ctx, bool afterEcho, bool afterEnd)
{
    const std::string_view t = TrimCtl(line);
    if (t.empty() || IsEndingLine(t) || HasLineStartError(t, 0))
        return true;
    if (ctx.Command == pcNone || afterEnd)
        return false;
    if (!afterEcho)
        return !ctx.Echo.empty() && t == TrimCtl(ctx.Echo);
    for (const AnswerLines& a : kAnswerLines) {
        if (a.kind == ctx.Command)
            return t.starts_with(a.tag) || (a.freeText && !LooksLikeResultCode(t));
    }
    return false;
}

std::vector<std::string> DropUnsolicited(std::string& bytes, const ReplyContext& ctx)
{
    std::vector<std::string> dropped;
    bool afterEcho = ctx.Echo.empty();
    bool afterEnd = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (ctx.ReadDataExpected) {
            // The announced bytes of a data block are data, whatever they hold.
            std::size_t lead = pos;
            while (lead < bytes.size() && IsControlByte(static_cast<std::uint8_t>(bytes[lead])))
                ++lead;
            const std::int32_t extent = DataBlockExtent(
                std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()).subspan(lead));
            if (extent >= 0) {
                pos = lead + static_cast<std::size_t>(extent);
                continue;
            }
        }
        // A line starts at the front or behind a line break (not between CR and LF).
        if (pos > 0 && (!IsLineBreak(bytes[pos - 1]) || bytes[pos] == '\n')) {
            pos = bytes.find_first_of("\r\n", pos);
            if (pos == std::string::npos)
                break;
            ++pos;
            continue;
        }
        auto lineEnd = [&bytes](std::size_t from) { return bytes.find("\r\n", from); };
        const std::size_t end = lineEnd(pos);
        if (end == std::string::npos)
            break;
        const std::string_view line = std::string_view(bytes).substr(pos, end - pos);
        const int lines = UnsolicitedLines(line);
        if (lines == 0) {
            const std::string_view t = TrimCtl(line);
            // A data block whose length field cannot be read: the rest is its data.
            if (ctx.ReadDataExpected && t.starts_with("+FSFR:"))
                break;
            if (IsReplyLine(line, ctx, afterEcho, afterEnd)) {
                if (!afterEcho && !t.empty() && t == TrimCtl(ctx.Echo))
                    afterEcho = true;
                afterEnd = afterEnd || IsEndingLine(t);
                pos = end + 2;
                continue;
            }
            dropped.push_back(bytes.substr(pos, end + 2 - pos));
            bytes.erase(pos, end + 2 - pos);
            continue;
        }
        std::size_t last = end;
        for (int i = 1; i < lines && last != std::string::npos; ++i)
            last = lineEnd(last + 2);
        if (last == std::string::npos)
            break;   // its message line is still to come
        dropped.push_back(bytes.substr(pos, last + 2 - pos));
        bytes.erase(pos, last + 2 - pos);
    }
    return dropped;
}

UnsolicitedScan ScannedUpTo(std::size_t seen, const ReplyContext& ctx)
{
    return {seen, ctx.Command, std::string(ctx.Echo), ctx.ReadDataExpected};
}

bool UnsolicitedPassDue(std::span<const std::uint8_t> bytes, const ReplyContext& ctx, const UnsolicitedScan& last)
{
    if (ctx.ReadDataExpected) {
        // As DropUnsolicited starts: a data block behind the lead-in covers everything gathered.
        std::size_t lead = 0;
        while (lead < bytes.size() && IsControlByte(bytes[lead]))
            ++lead;
        const std::int32_t extent = DataBlockExtent(bytes.subspan(lead));
        if (extent >= 0 && lead + static_cast<std::size_t>(extent) >= bytes.size())
            return false;
    }
    const bool sameContext = last.Command == ctx.Command && last.Echo == ctx.Echo
                             && last.ReadDataExpected == ctx.ReadDataExpected;
    const std::size_t from = sameContext && last.Seen <= bytes.size() ? last.Seen : 0;
    const std::string_view fresh = AsText(bytes.subspan(from));
    return fresh.find('\n') != std::string_view::npos;
}

EchoCheck CheckEcho(std::span<const std::uint8_t> reply, std::string_view echo)
{
    const std::string_view s = AsText(reply);
    std::size_t pos = 0;
    while (pos < s.size() && IsControlByte(static_cast<std::uint8_t>(s[pos])))
        ++pos;
    if (s.substr(pos, echo.size()) != echo)   // also when the bytes end before the echo does
        return {};
    pos += echo.size();
    while (pos < s.size() && IsControlByte(static_cast<std::uint8_t>(s[pos])))
        ++pos;
    return {true, static_cast<std::int32_t>(pos)};
}

std::string_view WatchdogName(TPhoneCommand kind)
{
    for (const CommandEntry& c : kCommands) {
        if (c.kind == kind)
            return c.watchdogName;
    }
    return {};
}

std::string BuildWriteArgs(const TFileInfo& r)
{
    if (r.Name.empty())
        return {};
    std::string args = "-1,\"";
    args += CodePage::AnsiToUtf8(r.Name);
    args += "\",";
    args += std::to_string(r.FileType);
    args += ",\" \",";
    args += std::to_string(r.Size);
    args += ',';
    args += std::to_string(r.Crc);
    return args;
}

std::string CommandATZ() { return "ATZ\r"; }
std::string CommandCGMM() { return "AT+CGMM\r"; }
std::string CommandFSIF() { return "AT+FSIF\r"; }

std::string CommandFSDL(std::string_view dirPath)
{
    return "AT+FSDL=\"" + std::string(dirPath) + "\"\r\n";
}

std::string CommandFSFE(std::string_view name)
{
    return "AT+FSFE= -1,\"" + CodePage::AnsiToUtf8(name) + "\"\r\n";
}

std::string CommandFSFR(std::string_view name)
{
    return "AT+FSFR= -1,\"" + CodePage::AnsiToUtf8(name) + "\"\r\n";
}

std::string CommandFSFW(const TFileInfo& r)
{
    return "AT+FSFW=" + BuildWriteArgs(r) + "\r\n";
}

FileSystemInfo ParseFileSystemInfo(std::string_view reply)
{
    FileSystemInfo info;
    const std::size_t at = reply.find("+FSIF:");
    if (at == std::string_view::npos)
        return info;
    std::string_view rest = reply.substr(at + 6);
    rest = rest.substr(0, rest.find_first_of("\r\n"));
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos)
        return info;
    auto number = [](std::string_view s, std::int64_t& out) {
        s = TrimCtl(s);
        if (s.empty() || s.size() > 18 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        out = 0;
        for (const char c : s)
            out = out * 10 + (c - '0');
        return true;
    };
    if (number(rest.substr(0, comma), info.Capacity) && number(rest.substr(comma + 1), info.Free) && info.Free <= info.Capacity)
        info.Ok = true;
    return info;
}
