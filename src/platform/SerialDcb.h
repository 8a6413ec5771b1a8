#pragma once
// The device control block of a serial port: the line settings as one record, in the layout of
// the Win32 DCB (28 bytes):
//   0 DCBlength (4)  4 BaudRate (4)  8 flags (4)  12 reserved (2)  14 XonLim (2)  16 XoffLim (2)
//   18 ByteSize  19 Parity  20 StopBits  21 XonChar  22 XoffChar  23 ErrorChar  24 EofChar
//   25 EvtChar  26 reserved (2)
// The serial component computes it with a pure function; each platform applies it to a port.
#include <cstdint>

struct TDeviceControlBlock {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;     // see the DCB_* constants
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;   // 0 one, 1 one and a half, 2 two
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

// Bits of the flags word.
constexpr std::uint32_t DCB_fBinary = 0x1;
constexpr std::uint32_t DCB_fOutxCtsFlow = 0x4;
constexpr std::uint32_t DCB_fDtrControlEnable = 0x10;
constexpr std::uint32_t DCB_fOutX = 0x100;
constexpr std::uint32_t DCB_fInX = 0x200;
constexpr std::uint32_t DCB_fRtsControlEnable = 0x1000;
constexpr std::uint32_t DCB_fRtsControlHandshake = 0x2000;
