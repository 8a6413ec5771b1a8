#pragma once
// What the virtual handset puts on the wire and how it reads its command lines. Pure functions:
// no I/O, no clock.
//
// Replies (after the echo of the command line, exactly as received):
//   final             "\r\nOK\r\n"
//   error             "\r\n+CME ERROR: <n>\r\n"   4 no such file or folder, 5 CRC mismatch,
//                                                 20 cannot store, 50 bad argument or name
//   unknown command   "\r\nERROR\r\n"
//   listing entry     "+FSDL: 0,\"<name>\",<type>,0,0,0,<size>,0,\"<date>\",0\r\n"
//   block end         "#OK#\r\n"                  the handset then waits for "##>\r\n"
//   read header       "\r\n+FSFR: 0,\"<name>\",<type>,0,0,<size>,0,0,\"<date>\",0,<crc>\r\n#OK#\r\n"
//   read data block   <lead-in> "+FSFR:" <length, 7 chars> "," <block number, 4 chars> ","
//                     <data> "#OK#\r\n"
//   write prompt      "\r\n##>\r\n"
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace handset {

// Type code of a file by its extension, compared in upper case (".JPG" 106 ... others 0).
std::int32_t TypeCodeFor(std::string_view fileName);

// "2026/12/08 10:15" in local time.
std::string FormatDate(std::time_t when);

// A number right-aligned in `width` characters, padded with blanks or zeros; a number wider
// than the field is written whole.
std::string PadNumber(std::int64_t value, int width, bool blanks);

std::string DirEntryLine(std::string_view name, std::int32_t type, std::int64_t size,
                         std::string_view date);
std::string ReadHeaderBlock(std::string_view name, std::int32_t type, std::int64_t size,
                            std::string_view date, std::uint32_t crc);

// One data block of a read. `announced` is the length written in the block's length field
// (normally data.size()); `leadIn` is the number of line-break bytes (CR, LF, CR, LF, ...)
// in front of "+FSFR:".
std::string ReadDataBlock(std::string_view data, std::int64_t announced, int blockNumber,
                          int leadIn, bool blanks);

// A command line split at its first "=": the verb in upper case and the argument text. The
// line's control bytes and blanks at both ends are removed first.
struct CommandLine {
    std::string verb;
    std::string args;
    bool hasArgs = false;
};
CommandLine SplitCommand(std::string_view line);

// The line without control bytes and blanks at both ends.
std::string_view TrimLine(std::string_view line);

// Arguments of AT+FSDL: one quoted folder path.
bool ParseFolderArg(std::string_view args, std::string& path);
// Arguments of AT+FSFR and AT+FSFE: a number (-1) and a quoted file name.
bool ParseNameArgs(std::string_view args, std::string& name);
// Arguments of AT+FSFW: -1,"<name>",<type>,"<anything>",<size>,<crc>.
struct WriteArgs {
    std::string name;
    std::int32_t type = 0;
    std::int64_t size = 0;
    std::uint32_t crc = 0;
};
bool ParseWriteArgs(std::string_view args, WriteArgs& out);

// A file name that stays inside the current folder: not empty, not "." or "..", no "/", no
// quote and no control byte.
bool IsPlainName(std::string_view name);

// A file name on disk as a handset with coded names shows it: each %XX (two hex digits) is that
// byte ("%2Eplan" -> ".plan", "a%0Ab" -> "a\nb"); and back, with every byte below 32, 127, "%",
// "\"", "/" and a leading "." coded, so that any name can be served.
std::string DecodeDiskName(std::string_view disk);
std::string EncodeDiskName(std::string_view name);

// "/user/sounds" -> {"user", "sounds"}; "/" -> {}. False for a path that does not start with
// "/" or has a "." or ".." part or a part with a control byte.
bool SplitFolderPath(std::string_view path, std::vector<std::string>& parts);

} // namespace handset
