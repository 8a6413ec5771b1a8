#pragma once
// The trace of the serial line: every batch of bytes with a time stamp and the side that sent
// it, one per line, readable and exact. Tarvel (--trace) and the virtual handset (--trace) write
// it; the virtual handset plays the handset's side of one back (--replay).
//
//   14:57:24.123 PC->HS AT+CGMM<CR>
//   14:57:24.131 HS->PC AT+CGMM<CR><CR><LF>TV-1<CR><LF><CR><LF>OK<CR><LF>
//
// Printable ASCII stands as it is, CR and LF as <CR> and <LF>, every other byte (and "<"
// itself) as two hex digits in angle brackets (<1A>). Pure functions: no I/O, no clock.
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace WireTrace {

enum class Side { Pc, Handset };   // who sent the bytes

std::string Escape(std::string_view bytes);
// The bytes an escaped text stands for; false when it is not one Escape could have written.
bool Unescape(std::string_view text, std::string& bytes);

// One line of the trace, line feed included. The time stamp is the local time of day.
std::string FormatLine(std::chrono::system_clock::time_point when, Side from, std::string_view bytes);

struct Record {
    std::string stamp;   // "14:57:24.123"
    Side from = Side::Pc;
    std::string bytes;
};
// A line of the trace (without or with its line end); false for any other line, which a
// reader passes over (a program may put remarks of its own between the records).
bool ParseLine(std::string_view line, Record& record);
// The records of a whole trace, in order.
std::vector<Record> ParseTrace(std::string_view text);

} // namespace WireTrace
