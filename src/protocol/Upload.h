#pragma once
// Preparing an upload: the handset name, the type code, the melody header.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

constexpr std::size_t kMaxNameChars = 56;
constexpr std::size_t kMaxBaseBytes = 24;

// The type code for an extension (".jpg" -> 106; compared in upper case; unknown -> 0).
std::int32_t TypeCodeFor(std::string_view extension);

// Splits a file name into base and extension (from the last "." on, dot included; may be empty).
void SplitExtension(std::string_view fileName, std::string& base, std::string& ext);

// The name a PC file gets on the handset: the base shortened from its end while its UTF-8 form
// is over 24 bytes (never splitting a character), ".mel" as extension for a melody, the whole
// cut to 56 characters. A PC name that is not UTF-8 (a file named in an older 8-bit encoding)
// has its bytes read as Latin-1 first, so the handset always gets UTF-8.
std::string HandsetName(std::string_view pcFileName, bool asMelody);

// A name is safe on the wire when it holds no double quote and no control byte (below 0x20 or
// 0x7F): it travels inside quotes on the serial line with nothing escaped.
bool IsSafeWireName(std::string_view name);

// Melody header:
//   offset 0, 31 bytes: the PC file name in UTF-8, its first 31 bytes, 0xFF past its end
//   offset 31, 1 byte: 0xFF
constexpr std::size_t kMelodyHeaderSize = 32;
std::array<std::uint8_t, kMelodyHeaderSize> MelodyHeader(std::string_view pcFileName);
