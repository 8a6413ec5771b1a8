#pragma once
// The serial ports the system has, for the port list of the COM setup dialog.
#include <string>
#include <vector>

namespace SerialPorts {

// Where the kernel lists its terminal devices.
inline constexpr const char* kTtyClassDir = "/sys/class/tty";
// Where Windows lists its serial ports: a registry key under HKEY_LOCAL_MACHINE whose values
// hold the port names ("COM1").
inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

#ifdef _WIN32
inline constexpr const char* kDefaultSource = kSerialCommKey;
#else
inline constexpr const char* kDefaultSource = kTtyClassDir;
#endif

// The name of the link the virtual handset makes to its pseudo-terminal.
inline constexpr const char* kHandsetLinkName = "handset-port";

// Fills `names` (unsorted) with the serial ports listed in `source`. Returns 0, or the
// system's error number when `source` cannot be read (then `names` is left as it was).
//
// Linux: `source` is a folder like kTtyClassDir; every entry that has a `device` (real
// hardware, USB adapters, Bluetooth links) is listed once, by its name under /dev (ttyS0,
// ttyUSB0, ttyACM0, rfcomm0). Standard serial ports that the kernel lists without any hardware
// behind them (type 0) are left out. When `linkDir` holds a link named kHandsetLinkName to a
// character device, its full path is listed too.
//
// Windows: `source` is a registry key under HKEY_LOCAL_MACHINE like kSerialCommKey; the data of
// each of its string values is one port name. `linkDir` is not used.
int ListSerialDevices(std::vector<std::string>& names, const std::string& source = kDefaultSource,
                      const std::string& linkDir = {});

// Where udev keeps a name for each USB serial device that stays the same when the device comes
// back under another number (made of its maker, model and serial number).
inline constexpr const char* kByIdDir = "/dev/serial/by-id";

// The stable names in `byIdDir` (full paths, sorted) with the device each points to now
// ("/dev/ttyACM0"). Links to nothing are left out. None on Windows.
struct StableName {
    std::string path;
    std::string device;
};
std::vector<StableName> ListStableNames(const std::string& byIdDir = kByIdDir);

// True for a standard serial port with no UART behind it (Linux: a ttyS device that `classDir`
// lists with type 0): it opens, but nothing is connected to it. Links are followed.
bool NoHardwareBehind(const std::string& devicePath, const std::string& classDir = kTtyClassDir);

// Two port names name the same device: on Linux a name under /dev, its full path and a link to
// it all do (the devices are compared once both exist, else the paths they stand for); on
// Windows the names are compared with the "\\.\" prefix and letter case ignored.
bool SameDevice(const std::string& a, const std::string& b);

} // namespace SerialPorts
