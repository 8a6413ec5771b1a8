#include "serial/PortAdvice.h"

#include "platform/Serial.h"
#include "platform/SerialPorts.h"

namespace {

constexpr const char* kPrefix = "tarvel: ";

} // namespace

std::vector<std::string> HolderAdvice(const DeviceAccess::Holder& holder)
{
    if (holder.name == "ModemManager")
        return {"ModemManager looks at every new modem port and usually lets it go after a few seconds; "
                "wait a moment, then choose Action > Reconnect.",
                "To keep it away from the phone for good, give the device the udev property "
                "ID_MM_DEVICE_IGNORE=1 (a rule such as ATTRS{idVendor}==\"<vendor id>\", "
                "ENV{ID_MM_DEVICE_IGNORE}=\"1\" in /etc/udev/rules.d/), then plug the phone in again."};
    if (holder.name == "brltty")
        return {"brltty, the braille display driver, takes some USB serial adapters; if you use no braille "
                "display, remove it (`sudo apt remove brltty`) and plug the phone in again."};
    if (holder.name == "tarvel")
        return {"Another Tarvel has the port; close it first."};
    return {"Close that program (or end it with `kill " + std::to_string(holder.pid)
            + "`), then choose Action > Reconnect."};
}

std::vector<std::string> PortOpenFailureLines(const PortFailure& f)
{
    std::vector<std::string> lines;
    lines.push_back(kPrefix + std::string("cannot open ") + f.device + (f.reason.empty() ? std::string() : ": " + f.reason));
    if (f.device.empty() || f.device.back() == '/') {
        lines.push_back("tarvel: no serial port is chosen; choose one under Setup > COM Port...");
        return lines;
    }
    if (f.noHardware) {
        lines.push_back("tarvel: there is no serial hardware behind " + f.device
                        + "; choose the phone's port under Setup > COM Port...");
        return lines;
    }
    if (!f.access.exists) {
        lines.push_back("tarvel: " + f.device
                        + " is not there; plug the phone in, or choose its port under Setup > COM Port...");
        return lines;
    }
    for (const DeviceAccess::Holder& h : f.holders) {
        lines.push_back(kPrefix + f.device + " is held by " + h.name + " (pid " + std::to_string(h.pid) + ").");
        for (const std::string& advice : HolderAdvice(h))
            lines.push_back(kPrefix + advice);
    }
    // A device the user may not open, open to a group: joining the group is the way in, and a
    // new membership takes effect only in a new login session. Joining root's group is never
    // the advice.
    const DeviceAccess::Access& access = f.access;
    if (!access.readWrite && !access.group.empty() && access.group != "root" && access.groupReadWrite) {
        if (!access.inGroupAtLogin)
            lines.push_back("tarvel: " + f.device + " is open to the group " + access.group
                            + "; join it with `sudo usermod -aG " + access.group
                            + " $USER`, then log out and log in again.");
        else if (!access.inGroupNow)
            lines.push_back("tarvel: you are in the group " + access.group
                            + " now, but this session began before you joined it; log out and log in again.");
    }
    return lines;
}

PortFailure ExaminePortFailure(const std::string& portName)
{
    PortFailure f;
    f.reason = SerialPlatform::LastErrorText();
    f.device = SerialPlatform::DevicePath(portName);
    f.access = DeviceAccess::Examine(f.device);
    f.noHardware = SerialPorts::NoHardwareBehind(f.device);
    if (f.access.exists && !f.noHardware)
        f.holders = DeviceAccess::Holders(f.device);
    return f;
}

std::string ReportPortOpenFailure(std::ostream& out, const std::string& portName)
{
    std::string details;
    for (const std::string& line : PortOpenFailureLines(ExaminePortFailure(portName))) {
        out << line << '\n';
        if (!details.empty())
            details += "\r\n";
        details += line.compare(0, std::char_traits<char>::length(kPrefix), kPrefix) == 0
                       ? line.substr(std::char_traits<char>::length(kPrefix))
                       : line;
    }
    out.flush();
    return details;
}
