#pragma once
// What a user who starts Tarvel from a terminal is told when the port does not open: the
// system's reason and, where it helps, what to do about it. The message box keeps its fixed text
// ("Error open port."); these lines go to standard error.
#include <ostream>
#include <string>
#include <vector>

#include "platform/DeviceAccess.h"

// The lines (without line ends) for a port that failed to open. `device` is the path that was
// opened, `reason` the system's words for the failure ("" when it gave none), `access` what the
// system says about who may open the device.
std::vector<std::string> PortOpenFailureLines(const std::string& device, const std::string& reason,
                                              const DeviceAccess::Access& access);

// Writes the lines for `portName` (a TCommPortDriver port name) after its Connect failed: the
// reason is the serial layer's last error, so call this straight after the failure.
void ReportPortOpenFailure(std::ostream& out, const std::string& portName);
