#include "settings/Unit_COMPorts.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/SerialPorts.h"
#include "settings/Unit_Init.h"

// ---- EComPort ------------------------------------------------------------------------------

namespace {

constexpr std::array<const char*, 23> kComErrorTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

// The port list's error number.
constexpr std::int32_t kPortListError = 23;

} // namespace

std::string ComErrorText(std::int32_t errorCode)
{
    if (errorCode < 1 || errorCode > static_cast<std::int32_t>(kComErrorTexts.size()))
        return {};
    return kComErrorTexts[static_cast<std::size_t>(errorCode - 1)];
}

std::string ComErrorMessage(std::int32_t errorCode, std::int32_t platformCode)
{
    return ComErrorText(errorCode) + " (win error code: " + std::to_string(platformCode) + ")";
}

EComPort::EComPort(std::int32_t errorCode, std::int32_t platformCode)
    : std::runtime_error(ComErrorMessage(errorCode, platformCode)), PlatformCode(platformCode), ErrorCode(errorCode)
{
}

// ---- the port list -------------------------------------------------------------------------

void SortPortNames(std::vector<std::string>& names)
{
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
        });
    });
}

void ListSerialPorts(std::vector<std::string>& list, const std::string& source, const std::string& linkDir)
{
    std::vector<std::string> names;
    if (const int error = SerialPorts::ListSerialDevices(names, source, linkDir))
        throw EComPort(kPortListError, error);
    SortPortNames(names);
    list = std::move(names);
}

void ListSerialPorts(std::vector<std::string>& list)
{
    ListSerialPorts(list, SerialPorts::kDefaultSource, SettingsDir);
}
