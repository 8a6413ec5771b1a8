#pragma once
// Text helpers shared by the protocol and the window: UTF-8 names, trimming, numbers.
#include <cstdint>
#include <string>
#include <string_view>

// True when s is valid UTF-8 made of one-, two- and three-byte sequences (the characters of the
// Basic Multilingual Plane; no surrogates, no overlong forms).
bool IsValidBmpUtf8(std::string_view s);

// The first `maxChars` characters (code points) of a UTF-8 text; never splits a character.
std::string CutToChars(std::string_view s, std::size_t maxChars);

// A handset name from the wire, whole, held in the PC's code page. Where that code page is UTF-8
// (here) the bytes stay exactly as the handset sent them, valid UTF-8 or not, so that the name
// goes back to the handset unchanged.
std::string NameFromWire(std::string_view s);

// Handset names are shown cut to this many characters.
constexpr std::size_t kMaxShownNameChars = 56;

// A name as it can be shown and held by the PC: every byte that is not part of valid UTF-8 of the
// Basic Multilingual Plane becomes U+FFFD (the replacement character); the rest stays.
std::string ShowableName(std::string_view s);

// A handset name for text output (a terminal, a log file): showable, and every control
// character (bytes 0..31 and 127, and U+0080..U+009F) written as \xHH, so that nothing in a name
// can break the line, move the cursor or start an escape sequence. Other names are shown as
// ShowableName shows them. Also used for whole message lines.
std::string PrintableName(std::string_view name);

// A handset name as a PC file name, one to one: every byte that is not part of valid UTF-8 of the
// Basic Multilingual Plane, every control byte (0..31, 127), "/" and "\\" become %XX (two
// upper-case hex digits), and so does a "%" followed by two hex digits (so that a "%XX" of the
// result is always such a code; a "%" before anything else stays). "." and ".." become "%2E" and
// "%2E%2E". Other names stay as they are; "" stays "". PercentDecoded gives the name back.
std::string PcFileName(std::string_view name);

// Each %XX (two hex digits, either case) of `s` as the byte it codes; the rest as it is.
std::string PercentDecoded(std::string_view s);
// The bytes of `s` for which `needsCode` holds as %XX (PercentDecoded reads them back).
std::string PercentEncoded(std::string_view s, bool (*needsCode)(unsigned char));

// A handset name as the phone list shows it: showable and cut to kMaxShownNameChars characters.
std::string ListedName(std::string_view name);

// The name in a read's header names the file that was asked for: the same bytes, or one of the two
// is the other cut to kMaxShownNameChars characters.
bool SameHandsetName(std::string_view requested, std::string_view given);

// A name that can stand as a file name on its own in a PC folder: not empty, not "." or "..",
// and without a path delimiter ("/" or "\\") or a NUL.
bool IsPlainFileName(std::string_view name);

// Removes every character of code 32 or below from both ends.
std::string_view TrimCtl(std::string_view s);

// The whole text as a decimal integer (optional sign, nothing else). Returns false when it is
// not a valid number or does not fit.
bool ParseInt32(std::string_view s, std::int32_t& out);
bool ParseUInt32(std::string_view s, std::uint32_t& out);

// The handset model from the AT+CGMM reply, or "Extract Err".
std::string ExtractModel(std::string_view reply);

// A number with `separator` between groups of three digits ("2,048").
std::string FormatGrouped(std::int64_t value, std::string_view separator);

// done * 100 / total rounded to the nearest integer, a half to the even neighbour. A total of 0
// counts as complete (100); the result is kept within 0..100 (more than announced shows 100).
int ProgressPercent(std::int64_t done, std::int64_t total);
