#pragma once
// The serial devices the system has, for the port list of the COM setup dialog.
#include <string>
#include <vector>

namespace SerialPorts {

// Where the kernel lists its terminal devices.
inline constexpr const char* kTtyClassDir = "/sys/class/tty";

// The name of the link the virtual handset makes to its pseudo-terminal.
inline constexpr const char* kHandsetLinkName = "handset-port";

// Fills `names` (unsorted) with the serial devices listed in `classDir`: every entry that has a
// `device` (real hardware, USB adapters, Bluetooth links), each once, by its name under /dev
// (ttyS0, ttyUSB0, ttyACM0, rfcomm0). Standard serial ports that the kernel lists without any
// hardware behind them (type 0) are left out. When `linkDir` holds a link named
// kHandsetLinkName to a character device, its full path is listed too.
// Returns 0, or the system's error number when `classDir` cannot be read (then `names` is
// left as it was).
int ListSerialDevices(std::vector<std::string>& names, const std::string& classDir = kTtyClassDir,
                      const std::string& linkDir = {});

} // namespace SerialPorts
