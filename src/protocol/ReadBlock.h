#pragma once
// The blocks of a file read (AT+FSFR).
//
// Header block:  [line breaks] "+FSFR:" ' ' <fields, as a listing entry> [line breaks] "#OK#" ...
//   fields: 1 ignored, 2 "name", 3 type, 4-5 ignored, 6 size, 7-8 ignored, 9 "date",
//           10 ignored, after the tenth comma the CRC-32 in unsigned decimal.
//
// Data block:
//   offset  length  content
//   0       0..41   lead-in: bytes below 20
//   n       6       "+FSFR:"
//   n+6     7       data length, decimal, leading blanks allowed
//   n+13    1       separator
//   n+14    4       second number, decimal, leading blanks allowed (checked, not used)
//   n+18    1       separator
//   n+19    length  raw data
//   ...     4       "#OK#", then any bytes below 20
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/FileInfo.h"

constexpr std::int32_t kMaxLeadIn = 41;
constexpr std::int32_t kDataHeaderSize = 19;
constexpr std::int32_t kMaxReadSize = 524289;   // largest file a read accepts

// The header of a read. On failure, `Error` says why (no "+FSFR:", a field that is not a
// number, a negative size, a size above kMaxReadSize) and Info is not to be used, except the
// name and size of a file refused for its size.
struct ReadHeader {
    bool Ok = false;
    TFileInfo Info;
    std::string Error;
};
ReadHeader ParseReadHeader(std::string_view reply);

// Where the data of one data block lie: Code 0 and Offset/Length into the block, or a negative
// code: -1 not framed as a data block, -2 data count differs from the length, -3 length not a
// number, -4 second number not a number.
struct ReadData {
    int Code = 0;
    std::int32_t Offset = 0;
    std::int32_t Length = 0;
};
ReadData ExtractReadData(std::span<const std::uint8_t> block);

// Parses the data length of a data block whose header has arrived: the lead-in is skipped, then
// "+FSFR:" and the length field must be valid. Returns the total byte count up to and including
// the "#OK#" behind the data (lead-in included), or -1 when the bytes do not start a data block (also
// while fewer than lead-in + 19 bytes are in, and for a negative length).
std::int32_t DataBlockExtent(std::span<const std::uint8_t> bytes);
