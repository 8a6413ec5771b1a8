#include "ui/PortAdvice.h"

#include "platform/Serial.h"
#include "serial/CPDrv.h"

std::vector<std::string> PortOpenFailureLines(const std::string& device, const std::string& reason,
                                              const DeviceAccess::Access& access)
{
    std::vector<std::string> lines;
    lines.push_back("tarvel: cannot open " + device + (reason.empty() ? std::string() : ": " + reason));
    if (device.empty() || device.back() == '/') {
        lines.push_back("tarvel: no serial port is chosen; choose one under Setup > COM Port...");
        return lines;
    }
    if (!access.exists) {
        lines.push_back("tarvel: " + device
                        + " is not there; plug the phone in, or choose its port under Setup > COM Port...");
        return lines;
    }
    // A device the user may not open, open to a group: joining the group is the way in, and a
    // new membership takes effect only in a new login session. Joining root's group is never
    // the advice.
    if (!access.readWrite && !access.group.empty() && access.group != "root" && access.groupReadWrite) {
        if (!access.inGroupAtLogin)
            lines.push_back("tarvel: " + device + " is open to the group " + access.group + "; join it with `sudo usermod -aG "
                            + access.group + " $USER`, then log out and log in again.");
        else if (!access.inGroupNow)
            lines.push_back("tarvel: you are in the group " + access.group
                            + " now, but this session began before you joined it; log out and log in again.");
    }
    return lines;
}

void ReportPortOpenFailure(std::ostream& out, const std::string& portName)
{
    const std::string reason = SerialPlatform::LastErrorText();
    const std::string device = TCommPortDriver::DevicePathFor(portName);
    for (const std::string& line : PortOpenFailureLines(device, reason, DeviceAccess::Examine(device)))
        out << line << '\n';
    out.flush();
}
