#pragma once
// The serial port as the operating system offers it: termios on Linux, the Win32 communications
// functions on Windows. kInvalidHandle marks a closed port (it is also the value of Win32's
// INVALID_HANDLE_VALUE). Nothing here raises: every call reports by result.
#include <cstdint>
#include <string>

#include "platform/SerialDcb.h"

namespace SerialPlatform {

using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

// The device that a port name stands for. Linux: the name without a leading "\\.\"; an absolute
// path stays, COMn means /dev/ttyS<n-1>, anything else is a name under /dev. Windows: the
// name as it is ("\\.\COM5").
std::string DevicePath(const std::string& portName);

// Opens a device for exclusive use (another holder makes this fail). kInvalidHandle on failure.
Handle Open(const std::string& path);
void Close(Handle handle);
// Writes the line settings of `dcb` to the port.
bool SetState(Handle handle, const TDeviceControlBlock& dcb);
// Sizes the driver's receive and transmit queues (the kernel's own on Linux: nothing to do).
bool SetupQueues(Handle handle, std::uint32_t inQueue, std::uint32_t outQueue);
// Reads return at once with what is there; a write waits at most 10 ms in the driver.
void SetTimeouts(Handle handle);
bool Flush(Handle handle, bool input, bool output);
bool InputCount(Handle handle, std::uint32_t& count);
bool OutputQueued(Handle handle, std::uint32_t& count);
// The modem status lines as bits: CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80.
bool ModemStatus(Handle handle, std::uint32_t& bits);
// Bytes read or written, or -1 on an error (0 when nothing could be done right now).
int Read(Handle handle, void* buffer, std::uint32_t count);
int Write(Handle handle, const void* data, std::uint32_t count);
// Rests while nothing can be written: at most `ms` milliseconds until the device takes bytes
// again when `byDevice` (the write itself made no progress), else a millisecond (the queue is
// fuller than the caller allows).
void WaitWritable(Handle handle, bool byDevice, int ms);

// What wakes the driver when received bytes wait, for the event loop to watch. Linux: the
// port's own descriptor, readable while bytes wait (or once the line is gone). Windows gives
// none here and the driver polls on its timer; an event-driven build would open the port
// overlapped, keep a WaitCommEvent(EV_RXCHAR) armed and hand out its event handle as a third
// kind, watched by a QWinEventNotifier.
enum class ReadableKind { None, Descriptor };
struct ReadableEvent {
    ReadableKind Kind = ReadableKind::None;
    std::intptr_t Value = -1;
};
ReadableEvent ReceiveEvent(Handle handle);
// Has the event of ReceiveEvent wait until `bytes` (1 to 255) are there rather than one, so a
// reply of known length arriving in small pieces wakes the driver fewer times (Linux: the
// terminal's VMIN with no VTIME; reads still return at once with what is there). Windows:
// nothing to do (the driver polls).
bool SetReadThreshold(Handle handle, std::uint8_t bytes);
// True when the line is gone under an open handle (the device vanished, the other end of a
// pseudo-terminal closed): nothing will arrive any more, yet the descriptor stays "readable".
bool HungUp(Handle handle);

// A millisecond tick that wraps at 2^32.
std::uint32_t TickMs();

// The Windows platform ("W32S", "W95", "WNT", "??" when unknown) and version (major << 16 |
// minor). On Linux there is none: "" and 0.
std::string WinPlatform();
std::uint32_t WinVersion();

// The system's reason for the last failed call of this unit on this thread, in words
// ("Permission denied"); for whoever runs the program from a terminal.
std::string LastErrorText();

} // namespace SerialPlatform
