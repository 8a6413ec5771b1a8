#pragma once
// Framing of the handset's replies: classification, the echo check, command texts.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/FileInfo.h"

constexpr std::int32_t maxTempBuf = 4096;

// The acknowledgement of a block: '#', '#', '>', CR, LF.
inline constexpr std::string_view kBlockAck = "##>\r\n";

// A control byte, as the engine counts them: any byte below 20 (0x14).
constexpr bool IsControlByte(std::uint8_t b) { return b < 20; }

// Received bytes seen as text (the replies are parsed as text).
inline std::string_view AsText(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// What the receive handler knows about the reply it gathers.
struct ReplyContext {
    // The outstanding command (pcNone: none, every line is the handset's own), and its echo while
    // that is still to come (empty once it has been checked).
    TPhoneCommand Command = pcNone;
    std::string_view Echo;
    // A read's header has arrived, so the blocks now due are data blocks: "+FSFR:", a 19-byte
    // data header announcing the length, raw data, "#OK#". Such a block is complete only when all
    // its announced data and the "#OK#" behind them are in, whatever the data hold.
    // Bytes without a valid data header (the final "OK", an error) are classified as usual; a
    // block whose "#OK#" is not where its length puts it is judged by its ending, with
    // "+CME ERROR" looked for only behind the announced data; a length whose block could not
    // fit maxTempBuf is not waited for.
    bool ReadDataExpected = false;
};

// Classifies the gathered bytes of a reply.
//  - no bytes: rcEmpty; otherwise the bytes must end in CR LF (else rcIncomplete; one byte never
//    completes a reply);
//  - trailing control bytes are ignored, then "OK" -> rcFinal, "##>" -> rcPrompt,
//    "#OK#" -> rcBlock;
//  - "+CME ERROR" at the start of a line (start of the bytes, or after CR or LF), or a line
//    that is just "ERROR" (a handset that does not know the command) -> rcError, outranking
//    every ending.
//  - with ctx.ReadDataExpected and a valid data header, see ReplyContext.
TReplyClass ClassifyReply(std::span<const std::uint8_t> reply, const ReplyContext& ctx = {});

// Unsolicited result codes: what a handset announces on its own ("RING", "+CMTI: ...", "NO
// CARRIER", ...), each a whole line ended by CR LF. UnsolicitedLines gives how many lines the
// code takes (2 for the message indications, whose message follows on the next line), or 0 for
// a line that is none of these known codes.
int UnsolicitedLines(std::string_view line);
// Whether a whole line (without its CR LF) can belong to the reply gathered in `ctx`: a blank
// line, a reply's ending or error line, the echo while it is due, and after the echo the lines
// of the command's answer (entries of a listing, the header of a read, the model, the
// file-system information). Nothing follows an ending line. `afterEcho` and `afterEnd` say where
// in the reply the line stands.
bool IsReplyLine(std::string_view line, const ReplyContext& ctx, bool afterEcho, bool afterEnd);
// Removes from the gathered bytes every whole line that is not part of the reply (a known
// unsolicited code, or any other line IsReplyLine refuses, such as "+CSQ: 20,99" or a vendor's
// status line) and returns them (each with its CR LF). With ctx.ReadDataExpected the announced
// bytes of a data block are left alone: they are data whatever they hold. A line that is not
// complete yet stays.
std::vector<std::string> DropUnsolicited(std::string& bytes, const ReplyContext& ctx);

// What the last pass of DropUnsolicited (or the last UnsolicitedPassDue that found none due) left
// in the gathered bytes: their first Seen bytes hold no line that the pass drops, judged for this
// command, echo and read state. Bytes gathered since are appended behind them.
struct UnsolicitedScan {
    std::size_t Seen = 0;
    TPhoneCommand Command = pcNone;
    std::string Echo;
    bool ReadDataExpected = false;
};
UnsolicitedScan ScannedUpTo(std::size_t seen, const ReplyContext& ctx);
// Whether DropUnsolicited could drop anything from `bytes`, whose first last.Seen bytes it left
// as they are: only when a line break arrived behind them (a line ends only with one). Under
// another context, or when the bytes are fewer than that, they are looked at from their start.
// Never while every byte gathered belongs to one read data block whose data are still coming.
bool UnsolicitedPassDue(std::span<const std::uint8_t> bytes, const ReplyContext& ctx, const UnsolicitedScan& last);

// The echo check. Skips leading control bytes, compares `echo` byte by byte from there.
// On a match, Strip is the number of leading bytes to remove: the control bytes, the echo and
// the control bytes that follow it.
struct EchoCheck {
    bool Match = false;
    std::int32_t Strip = 0;
};
EchoCheck CheckEcho(std::span<const std::uint8_t> reply, std::string_view echo);

// The command name the watchdog message shows ("ATZ", "+CGMM", ... ; empty for pcNone/pcFSCD).
std::string_view WatchdogName(TPhoneCommand kind);

// The write command's arguments (the name in UTF-8): -1,"<name>",<type>," ",<size>,<crc unsigned>; empty when the
// record has no name.
std::string BuildWriteArgs(const TFileInfo& r);

// Command texts, exactly as they go out on the line. They are built whatever the argument; the
// senders decide whether an empty path or name is sent at all.
std::string CommandATZ();                            // "ATZ\r"
std::string CommandCGMM();                           // "AT+CGMM\r"
std::string CommandFSIF();                           // "AT+FSIF\r"
std::string CommandFSDL(std::string_view dirPath);   // AT+FSDL="<path>"\r\n
// The names are held in the PC's code page and go out in UTF-8.
std::string CommandFSFE(std::string_view name);      // AT+FSFE= -1,"<name>"\r\n
std::string CommandFSFR(std::string_view name);      // AT+FSFR= -1,"<name>"\r\n
std::string CommandFSFW(const TFileInfo& r);         // AT+FSFW=<BuildWriteArgs>\r\n

// The file-system information of the AT+FSIF reply: "+FSIF: <capacity>,<free>" (bytes). Ok is
// false when the reply holds no such line or its numbers cannot be read (negative, free above
// capacity, not numbers).
struct FileSystemInfo {
    bool Ok = false;
    std::int64_t Capacity = 0;
    std::int64_t Free = 0;
};
FileSystemInfo ParseFileSystemInfo(std::string_view reply);
