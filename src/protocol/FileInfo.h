#pragma once
// The record that describes one handset file, and the small enumerations of the command engine.
#include <cstdint>
#include <string>

// One handset file. The name is whole, held in the PC's code page (UTF-8 here, where its bytes
// are exactly what the handset sent, valid UTF-8 or not); only what is shown of it is cut. The
// date is the handset's text without its quotes.
struct TFileInfo {
    std::string Name;
    std::int32_t FileType = 0;
    std::int32_t Size = 0;
    std::string Date;
    std::uint8_t Kind = 0;   // 1: Size != 0, 2: Size == 0, 0: cleared record
    std::uint32_t Crc = 0;

    void Clear() { *this = TFileInfo{}; }
    bool operator==(const TFileInfo&) const = default;
};

// The kind of the one outstanding command.
enum TPhoneCommand : std::uint8_t {
    pcNone = 0,
    pcATZ = 1,
    pcCGMM = 2,
    pcFSIF = 3,
    pcFSDL = 4,
    pcFSCD = 5,   // reserved, never sent
    pcFSFE = 6,
    pcFSFR = 7,
    pcFSFW = 8,
};

// The class of the reply bytes gathered so far.
enum TReplyClass : std::uint8_t {
    rcIncomplete = 0,
    rcEmpty = 1,
    rcFinal = 2,
    rcBlock = 3,
    rcPrompt = 4,
    rcError = 5,
};
