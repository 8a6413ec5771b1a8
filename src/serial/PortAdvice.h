#pragma once
// What a user is told when the port does not open: the system's reason and, where it helps, what
// to do about it. The message box keeps its fixed text ("Error open port."); these lines go to
// standard error and, without their "tarvel: " prefix, into the box's details. The command line
// gets the same lines worded for it.
#include <ostream>
#include <string>
#include <vector>

#include "platform/DeviceAccess.h"

// Who reads the advice: the window's user (its menus and port setup) or the command line's
// (its options, running the command again). Each sees its own program's name in front.
enum class AdviceReader { Window, CommandLine };

// What is known about a port that failed to open.
struct PortFailure {
    std::string device;                         // the path that was opened
    std::string reason;                         // the system's words ("" when it gave none)
    DeviceAccess::Access access;                // who may open the device
    std::vector<DeviceAccess::Holder> holders;  // the other processes that have it open
    bool noHardware = false;                    // a standard port without a UART behind it
};

// The lines (without line ends) for a port that failed to open.
std::vector<std::string> PortOpenFailureLines(const PortFailure& failure, AdviceReader reader = AdviceReader::Window);
inline std::vector<std::string> PortOpenFailureLines(const std::string& device, const std::string& reason,
                                                     const DeviceAccess::Access& access,
                                                     AdviceReader reader = AdviceReader::Window)
{
    return PortOpenFailureLines(PortFailure{device, reason, access, {}, false}, reader);
}

// What each line of advice begins with: "tarvel: " or "tarvel-cli: ".
std::string AdvicePrefix(AdviceReader reader);

// Looks at the device of `portName` (a TCommPortDriver port name) after its Connect failed: the
// reason is the serial layer's last error, so call this straight after the failure.
PortFailure ExaminePortFailure(const std::string& portName);

// Writes the lines for `portName` after its Connect failed (see ExaminePortFailure) and returns
// them as the details of the message box: without their prefix, joined by CR LF.
std::string ReportPortOpenFailure(std::ostream& out, const std::string& portName,
                                  AdviceReader reader = AdviceReader::Window);

// The advice about a process that holds the port (lines without prefix; none for an unknown one
// but the general advice to close it).
std::vector<std::string> HolderAdvice(const DeviceAccess::Holder& holder, AdviceReader reader = AdviceReader::Window);
