#include "protocol/Reply.h"

#include <array>

#include "platform/CodePage.h"
#include "protocol/ReadBlock.h"

namespace {

constexpr std::string_view kCmeError = "+CME ERROR";

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

std::string_view View(const std::uint8_t* b, std::int32_t n)
{
    return n > 0 ? std::string_view(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n))
                 : std::string_view();
}

bool EndsWithCrLf(std::string_view s)
{
    return s.size() >= 2 && s[s.size() - 2] == '\r' && s.back() == '\n';
}

// "+CME ERROR" at the start of a line of s, looking at hits that begin at `from` or later.
bool HasLineStartError(std::string_view s, std::size_t from)
{
    for (auto pos = s.find(kCmeError, from); pos != std::string_view::npos;
         pos = s.find(kCmeError, pos + 1)) {
        if (pos == 0 || s[pos - 1] == '\r' || s[pos - 1] == '\n')
            return true;
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

} // namespace

TReplyClass ClassifyReply(const std::uint8_t* b, std::int32_t n, const ReplyContext& ctx)
{
    const std::string_view s = View(b, n);
    if (s.empty())
        return rcEmpty;
    if (ctx.ReadDataExpected) {
        const std::int32_t extent = DataBlockExtent(b, n);
        // A length whose block could never fit the receive buffer is no data block we can
        // gather; such bytes are classified by their ending like any other reply.
        if (extent >= 0 && extent <= maxTempBuf) {
            if (n < extent)
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

EchoCheck CheckEcho(const std::uint8_t* b, std::int32_t n, std::string_view echo)
{
    const std::string_view s = View(b, n);
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
