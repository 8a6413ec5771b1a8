#include "phone/PortCheck.h"

#include <coroutine>

#include <QCoreApplication>

#include <functional>
#include <span>
#include <vector>

#include "phone/Channel.h"
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

// What became of one command, and what came after its echo (everything that came, when the echo
// was not there).
enum class Answer { Final, Error, Silent, Garbled };
struct Exchanged {
    Answer answer = Answer::Silent;
    std::string reply;
};

// Sends a command through the channel and completes once it has ended (at most `timeoutMs` of
// silence).
struct Exchange {
    TCommandChannel& channel;
    TPhoneCommand kind;
    std::string text;
    int timeoutMs;
    std::shared_ptr<Exchanged> got = std::make_shared<Exchanged>();
    std::shared_ptr<std::coroutine_handle<>> waiting = std::make_shared<std::coroutine_handle<>>();

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> h)
    {
        auto command = std::make_shared<TCommand>();
        command->Kind = kind;
        command->Text = text;
        command->TimeoutMs = timeoutMs;
        bool done = false;
        command->OnDone = [got = got, waiting = waiting, &done](const LinkResult& r, std::span<const std::uint8_t> reply) {
            switch (r.Error) {
            case LinkError::None: got->answer = Answer::Final; got->reply = std::string(AsText(reply)); break;
            case LinkError::Refused: got->answer = Answer::Error; got->reply = r.Detail; break;
            case LinkError::WrongEcho: got->answer = Answer::Garbled; got->reply = r.Detail; break;
            default: got->answer = Answer::Silent; got->reply = r.Detail; break;
            }
            // The check goes on from the event loop, not from inside the channel's call: the
            // channel is the check's own and ends with it.
            if (*waiting)
                QMetaObject::invokeMethod(QCoreApplication::instance(), [h = std::exchange(*waiting, {})] { h.resume(); },
                                          Qt::QueuedConnection);
            else
                done = true;
        };
        channel.SendCommand(command);
        if (done)
            return false;
        *waiting = h;
        return true;
    }
    Exchanged await_resume() const { return *got; }
};

std::string Seconds(int ms) { return std::to_string(ms / 1000) + (ms % 1000 ? "." + std::to_string(ms % 1000 / 100) : "") + " s"; }

Outcome CommandOutcome(const Exchanged& exchanged, const std::string& name, int timeoutMs, AdviceReader reader)
{
    const Answer answer = exchanged.answer;
    const std::string& reply = exchanged.reply;
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

Task<bool> RunPortCheck(PortCheckSettings s, std::ostream* output)
{
    std::ostream& out = *output;
    const std::string device = SerialPlatform::DevicePath(s.Port);
    PortFailure failure;
    failure.device = device;
    failure.access = DeviceAccess::Examine(device);
    failure.noHardware = SerialPorts::NoHardwareBehind(device);
    const std::string rate = std::to_string(s.BaudRate) + " bit/s";

    out << "Checking the port " << s.Port << " at " << rate << ":\n";
    // Each check prints its line (and advice below a failure); those behind a failed one are
    // listed as not run.
    bool allPassed = true;
    const auto report = [&](const std::string& title, const Outcome& o) {
        out << (o.passed ? "  ok       " : "  FAILED   ") << title << (o.note.empty() ? "" : ": " + o.note) << "\n";
        for (const std::string& advice : o.advice)
            out << "           " << advice << "\n";
        allPassed = o.passed;
    };
    const auto notRun = [&](const std::string& title) { out << "  not run  " << title << "\n"; };
    const std::string exists = "the port exists (" + device + ")", mayOpen = "you may open it",
                      free = "no other process holds it", opens = "the line opens at " + rate,
                      answers = "the handset answers ATZ and AT+CGMM within " + Seconds(s.ReplyTimeoutMs),
                      fileSystem = "the file-system commands are there (AT+FSIF)";

    {
        Outcome o;
        o.passed = failure.access.exists && !failure.noHardware;
        if (!o.passed) {
            o.note = failure.noHardware ? "no serial hardware behind it" : "not there";
            o.advice = AdviceOf(failure, s.Reader);
        }
        report(exists, o);
    }
    if (allPassed) {
        Outcome o;
        o.passed = failure.access.readWrite;
        if (!o.passed) {
            o.note = "permission denied";
            o.advice = AdviceOf(failure, s.Reader);
        }
        report(mayOpen, o);
    } else {
        notRun(mayOpen);
    }
    if (allPassed) {
        failure.holders = DeviceAccess::Holders(device);
        Outcome o;
        o.passed = failure.holders.empty();
        for (const DeviceAccess::Holder& h : failure.holders) {
            o.note += (o.note.empty() ? "held by " : ", ") + h.name + " (pid " + std::to_string(h.pid) + ")";
            for (const std::string& advice : HolderAdvice(h, s.Reader))
                o.advice.push_back(advice);
        }
        report(free, o);
    } else {
        notRun(free);
    }
    TCommandChannel channel;
    TCommPortDriver& port = channel.Driver();
    if (allPassed) {
        port.SetPortName(s.Port);
        port.SetBaudRateValue(s.BaudRate);
        port.SetHwFlow(static_cast<THwFlowControl>(s.HwFlow));
        port.SetCheckLineStatus(s.CheckLineStatus);
        Outcome o;
        o.passed = port.Connect();
        if (!o.passed)
            o.note = SerialPlatform::LastErrorText();
        report(opens, o);
    } else {
        notRun(opens);
    }
    if (allPassed) {
        Exchange reset{channel, pcATZ, CommandATZ(), s.ReplyTimeoutMs};
        const Exchanged reply = co_await reset;
        Outcome o = CommandOutcome(reply, "ATZ", s.ReplyTimeoutMs, s.Reader);
        if (o.passed) {
            Exchange askModel{channel, pcCGMM, CommandCGMM(), s.ReplyTimeoutMs};
            const Exchanged model = co_await askModel;
            o = CommandOutcome(model, "AT+CGMM", s.ReplyTimeoutMs, s.Reader);
            if (o.passed)
                o.note = "model " + ExtractModel(model.reply);
        }
        report(answers, o);
    } else {
        notRun(answers);
    }
    if (allPassed) {
        Exchange askInfo{channel, pcFSIF, CommandFSIF(), s.ReplyTimeoutMs};
        const Exchanged info = co_await askInfo;
        Outcome o = CommandOutcome(info, "AT+FSIF", s.ReplyTimeoutMs, s.Reader);
        if (!o.passed && o.note.find("refused") != std::string::npos)
            o.advice = {"This handset does not know the file-system commands Tarvel uses."};
        report(fileSystem, o);
    } else {
        notRun(fileSystem);
    }
    port.Disconnect();
    out << (allPassed ? "All checks passed.\n" : "A check failed.\n");
    out.flush();
    co_return allPassed;
}
