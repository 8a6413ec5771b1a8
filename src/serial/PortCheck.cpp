#include "serial/PortCheck.h"

#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <span>
#include <vector>

#include "platform/DeviceAccess.h"
#include "platform/Serial.h"
#include "platform/SerialPorts.h"
#include "protocol/Reply.h"
#include "protocol/Text.h"
#include "protocol/WireTrace.h"
#include "serial/CPDrv.h"
#include "serial/PortAdvice.h"

namespace {

// What one check found: passed or not, a note for its line, advice for below it.
struct Outcome {
    bool passed = false;
    std::string note;
    std::vector<std::string> advice;
};

// The advice lines of the port advice, without the first one (the system's reason, which the
// check's own line tells) and without their prefix.
std::vector<std::string> AdviceOf(const PortFailure& failure, AdviceReader reader)
{
    const std::string prefix = AdvicePrefix(reader);
    std::vector<std::string> lines = PortOpenFailureLines(failure, reader);
    std::vector<std::string> advice;
    for (std::size_t i = 1; i < lines.size(); ++i)
        advice.push_back(lines[i].compare(0, prefix.size(), prefix) == 0 ? lines[i].substr(prefix.size()) : lines[i]);
    return advice;
}

// Sends `command` and waits for its whole reply (a final "OK" or an error) at most `timeoutMs`.
// `reply` gets what came after the echo.
enum class Answer { Final, Error, Silent, Garbled };
Answer Exchange(TCommPortDriver& port, TPhoneCommand kind, const std::string& command, int timeoutMs, std::string& reply)
{
    std::string gathered;
    ReplyContext lines;
    lines.Command = kind;
    lines.Echo = command;
    Answer answer = Answer::Silent;
    QEventLoop loop;
    port.OnReceiveData = [&](TCommPortDriver*, const std::uint8_t* data, std::uint32_t size) {
        gathered.append(reinterpret_cast<const char*>(data), size);
        DropUnsolicited(gathered, lines);
        const std::span b(reinterpret_cast<const std::uint8_t*>(gathered.data()), gathered.size());
        const TReplyClass kind = ClassifyReply(b);
        if (kind != rcFinal && kind != rcError)
            return;
        const EchoCheck echo = CheckEcho(b, command);
        answer = !echo.Match ? Answer::Garbled : kind == rcFinal ? Answer::Final : Answer::Error;
        reply = gathered.substr(echo.Match ? static_cast<std::size_t>(echo.Strip) : 0);
        loop.quit();
    };
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (port.SendString(command))
        loop.exec();
    port.OnReceiveData = nullptr;   // it refers to this call's locals
    if (answer == Answer::Silent)
        reply = gathered;
    return answer;
}

std::string Seconds(int ms) { return std::to_string(ms / 1000) + (ms % 1000 ? "." + std::to_string(ms % 1000 / 100) : "") + " s"; }

Outcome CommandOutcome(Answer answer, const std::string& name, const std::string& reply, int timeoutMs,
                       AdviceReader reader)
{
    Outcome o;
    switch (answer) {
    case Answer::Final:
        o.passed = true;
        break;
    case Answer::Error:
        o.note = name + " was refused: " + WireTrace::Escape(TrimCtl(reply));
        break;
    case Answer::Garbled:
        o.note = name + " came back as something else: " + WireTrace::Escape(reply);
        break;
    case Answer::Silent:
        o.note = reply.empty() ? "no answer to " + name + " within " + Seconds(timeoutMs)
                               : "no whole answer to " + name + " within " + Seconds(timeoutMs) + ": "
                                     + WireTrace::Escape(reply);
        if (reader == AdviceReader::CommandLine)
            o.advice = {"Check that the phone is on and its cable in, that the rate matches the phone's "
                        "(--baud), and that this is the phone's port (--port).",
                        "A trace of the line shows what went over it: run the command again with --trace."};
        else
            o.advice = {"Check that the phone is on and its cable in, that the rate matches the phone's "
                        "(Setup > COM Port...), and that this is the phone's port.",
                        "A trace of the line shows what went over it: tarvel --trace FILE."};
        break;
    }
    return o;
}

} // namespace

bool RunPortCheck(const PortCheckSettings& s, std::ostream& out)
{
    const std::string device = SerialPlatform::DevicePath(s.Port);
    PortFailure failure;
    failure.device = device;
    failure.access = DeviceAccess::Examine(device);
    failure.noHardware = SerialPorts::NoHardwareBehind(device);

    TCommPortDriver port;
    std::string model;
    const std::string rate = std::to_string(s.BaudRate) + " bit/s";
    struct Check {
        std::string title;
        std::function<Outcome()> run;
    };
    const std::vector<Check> checks = {
        {"the port exists (" + device + ")",
         [&] {
             Outcome o;
             o.passed = failure.access.exists && !failure.noHardware;
             if (!o.passed) {
                 o.note = failure.noHardware ? "no serial hardware behind it" : "not there";
                 o.advice = AdviceOf(failure, s.Reader);
             }
             return o;
         }},
        {"you may open it",
         [&] {
             Outcome o;
             o.passed = failure.access.readWrite;
             if (!o.passed) {
                 o.note = "permission denied";
                 o.advice = AdviceOf(failure, s.Reader);
             }
             return o;
         }},
        {"no other process holds it",
         [&] {
             failure.holders = DeviceAccess::Holders(device);
             Outcome o;
             o.passed = failure.holders.empty();
             for (const DeviceAccess::Holder& h : failure.holders) {
                 o.note += (o.note.empty() ? "held by " : ", ") + h.name + " (pid " + std::to_string(h.pid) + ")";
                 for (const std::string& advice : HolderAdvice(h, s.Reader))
                     o.advice.push_back(advice);
             }
             return o;
         }},
        {"the line opens at " + rate,
         [&] {
             port.SetPortName(s.Port);
             port.SetBaudRateValue(s.BaudRate);
             port.SetHwFlow(static_cast<THwFlowControl>(s.HwFlow));
             port.SetCheckLineStatus(s.CheckLineStatus);
             Outcome o;
             o.passed = port.Connect();
             if (!o.passed)
                 o.note = SerialPlatform::LastErrorText();
             return o;
         }},
        {"the handset answers ATZ and AT+CGMM within " + Seconds(s.ReplyTimeoutMs),
         [&] {
             std::string reply;
             Outcome o = CommandOutcome(Exchange(port, pcATZ, CommandATZ(), s.ReplyTimeoutMs, reply), "ATZ", reply,
                                        s.ReplyTimeoutMs, s.Reader);
             if (!o.passed)
                 return o;
             o = CommandOutcome(Exchange(port, pcCGMM, CommandCGMM(), s.ReplyTimeoutMs, reply), "AT+CGMM", reply,
                                s.ReplyTimeoutMs, s.Reader);
             if (o.passed)
                 o.note = "model " + ExtractModel(reply);
             return o;
         }},
        {"the file-system commands are there (AT+FSIF)",
         [&] {
             std::string reply;
             Outcome o = CommandOutcome(Exchange(port, pcFSIF, CommandFSIF(), s.ReplyTimeoutMs, reply), "AT+FSIF", reply,
                                        s.ReplyTimeoutMs, s.Reader);
             if (!o.passed && o.note.find("refused") != std::string::npos)
                 o.advice = {"This handset does not know the file-system commands Tarvel uses."};
             return o;
         }},
    };

    out << "Checking the port " << s.Port << " at " << rate << ":\n";
    bool allPassed = true;
    for (const Check& check : checks) {
        if (!allPassed) {
            out << "  not run  " << check.title << "\n";
            continue;
        }
        const Outcome o = check.run();
        out << (o.passed ? "  ok       " : "  FAILED   ") << check.title << (o.note.empty() ? "" : ": " + o.note)
            << "\n";
        for (const std::string& advice : o.advice)
            out << "           " << advice << "\n";
        allPassed = o.passed;
    }
    port.Disconnect();
    out << (allPassed ? "All checks passed.\n" : "A check failed.\n");
    out.flush();
    return allPassed;
}
