#pragma once
// The list of the system's serial ports, and EComPort, the error the port list raises.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// An error of the serial port layer: ErrorCode is the driver's error number (1..23),
// PlatformCode the system's own error number. The message is the text of ErrorCode followed by
// " (win error code: N)" with the platform code.
class EComPort : public std::runtime_error {
public:
    EComPort(std::int32_t errorCode, std::int32_t platformCode);
    std::int32_t PlatformCode;
    std::int32_t ErrorCode;
};

// The text of a driver error number ("" outside 1..23).
std::string ComErrorText(std::int32_t errorCode);
// "<text> (win error code: <platformCode>)".
std::string ComErrorMessage(std::int32_t errorCode, std::int32_t platformCode);

// Sorts port names alphabetically with letter case ignored (COM1, COM10, COM2).
void SortPortNames(std::vector<std::string>& names);

// Replaces `list` with the system's serial ports (see platform/SerialPorts.h), sorted with
// SortPortNames, from `source` (the folder or registry key the system lists them in). The
// virtual handset's link in `linkDir` is offered too (Linux). Raises EComPort 23
// with the system's error number when the ports cannot be listed; `list` is then unchanged.
void ListSerialPorts(std::vector<std::string>& list, const std::string& source, const std::string& linkDir);
// The same over the system's device list, with the handset link of the settings folder.
void ListSerialPorts(std::vector<std::string>& list);
