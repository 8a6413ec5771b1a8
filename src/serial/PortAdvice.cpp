#include "serial/PortAdvice.h"

#include "platform/Serial.h"
#include "platform/SerialPorts.h"

namespace {

// The words that differ between the window and the command line.
struct Words {
    const char* prefix;
    const char* tryAgain;        // what "try again" is
    const char* choosePort;      // how another port is chosen, after "choose"/"name"
};

Words WordsFor(AdviceReader reader)
{
    if (reader == AdviceReader::CommandLine)
        return {"tarvel-cli: ", "run the command again", "with --port"};
    return {"tarvel: ", "choose Action > Reconnect", "under Setup > COM Port..."};
}

// "choose ... under Setup > COM Port..." in the window, "name ... with --port" on the command line.
std::string ChoosePort(AdviceReader reader, const std::string& what)
{
    return (reader == AdviceReader::CommandLine ? "name " : "choose ") + what + " " + WordsFor(reader).choosePort;
}

} // namespace

std::string AdvicePrefix(AdviceReader reader) { return WordsFor(reader).prefix; }

std::vector<std::string> HolderAdvice(const DeviceAccess::Holder& holder, AdviceReader reader)
{
    const std::string tryAgain = WordsFor(reader).tryAgain;
    if (holder.name == "ModemManager")
        return {"ModemManager looks at every new modem port and usually lets it go after a few seconds; "
                "wait a moment, then " + tryAgain + ".",
                "To keep it away from the phone for good, give the device the udev property "
                "ID_MM_DEVICE_IGNORE=1 (a rule such as ATTRS{idVendor}==\"<vendor id>\", "
                "ENV{ID_MM_DEVICE_IGNORE}=\"1\" in /etc/udev/rules.d/), then plug the phone in again."};
    if (holder.name == "brltty")
        return {"brltty, the braille display driver, takes some USB serial adapters; if you use no braille "
                "display, remove it (`sudo apt remove brltty`) and plug the phone in again."};
    if (holder.name == "tarvel")
        return {"Another Tarvel has the port; close it first."};
    return {"Close that program (or end it with `kill " + std::to_string(holder.pid) + "`), then " + tryAgain + "."};
}

std::vector<std::string> PortOpenFailureLines(const PortFailure& f, AdviceReader reader)
{
    const std::string prefix = AdvicePrefix(reader);
    std::vector<std::string> lines;
    lines.push_back(prefix + "cannot open " + f.device + (f.reason.empty() ? std::string() : ": " + f.reason));
    if (f.device.empty() || f.device.back() == '/') {
        lines.push_back(prefix + "no serial port is chosen; " + ChoosePort(reader, "one"));
        return lines;
    }
    if (f.noHardware) {
        lines.push_back(prefix + "there is no serial hardware behind " + f.device + "; "
                        + ChoosePort(reader, "the phone's port"));
        return lines;
    }
    if (!f.access.exists) {
        lines.push_back(prefix + f.device + " is not there; plug the phone in, or " + ChoosePort(reader, "its port"));
        return lines;
    }
    for (const DeviceAccess::Holder& h : f.holders) {
        lines.push_back(prefix + f.device + " is held by " + h.name + " (pid " + std::to_string(h.pid) + ").");
        for (const std::string& advice : HolderAdvice(h, reader))
            lines.push_back(prefix + advice);
    }
    // A device the user may not open, open to a group: joining the group is the way in, and a
    // new membership takes effect only in a new login session. Joining root's group is never
    // the advice.
    const DeviceAccess::Access& access = f.access;
    if (!access.readWrite && !access.group.empty() && access.group != "root" && access.groupReadWrite) {
        if (!access.inGroupAtLogin)
            lines.push_back(prefix + f.device + " is open to the group " + access.group
                            + "; join it with `sudo usermod -aG " + access.group
                            + " $USER`, then log out and log in again.");
        else if (!access.inGroupNow)
            lines.push_back(prefix + "you are in the group " + access.group
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

std::string ReportPortOpenFailure(std::ostream& out, const std::string& portName, AdviceReader reader)
{
    const std::string prefix = AdvicePrefix(reader);
    std::string details;
    for (const std::string& line : PortOpenFailureLines(ExaminePortFailure(portName), reader)) {
        out << line << '\n';
        if (!details.empty())
            details += "\r\n";
        details += line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line;
    }
    out.flush();
    return details;
}
