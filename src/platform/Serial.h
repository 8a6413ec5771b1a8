#pragma once
// The serial port as the operating system offers it (termios on Linux). Handles are plain
// integers; kInvalidHandle marks a closed port. Nothing here raises: every call reports by result.
#include <cstdint>
#include <string>

namespace SerialPlatform {

constexpr int kInvalidHandle = -1;

struct LineSettings {
    std::uint32_t BaudRate = 9600;
    int DataBits = 8;        // 5..8
    int Parity = 0;          // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int StopBits = 0;        // 0 one, 1 one and a half (taken as two), 2 two
    bool RtsCtsFlow = false; // hardware handshake
    bool XonXoff = false;    // software flow control in both directions
    char XonChar = 0x11;
    char XoffChar = 0x13;
    bool Dtr = true;         // DTR raised
    bool Rts = true;         // RTS raised (when not under handshake)
};

// Opens a device for exclusive use (another holder makes this fail). kInvalidHandle on failure.
int Open(const std::string& path);
void Close(int handle);
bool Apply(int handle, const LineSettings& settings);
bool Flush(int handle, bool input, bool output);
bool InputCount(int handle, std::uint32_t& count);
bool OutputQueued(int handle, std::uint32_t& count);
// The modem status lines as bits: CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80 (a pty has none).
bool ModemStatus(int handle, std::uint32_t& bits);
// Bytes read or written, or -1 on an error (0 when nothing could be done right now).
int Read(int handle, void* buffer, std::uint32_t count);
int Write(int handle, const void* data, std::uint32_t count);
// Rests while nothing can be written: at most `ms` milliseconds until the device takes bytes
// again when `byDevice` (the write itself made no progress), else a millisecond (the queue is
// fuller than the caller allows).
void WaitWritable(int handle, bool byDevice, int ms);

// A millisecond tick that wraps at 2^32.
std::uint32_t TickMs();

// The Windows platform and version the original ran on; this platform has none.
std::string WinPlatform();
std::uint32_t WinVersion();

} // namespace SerialPlatform
