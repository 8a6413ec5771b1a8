// The command engine: one AT command at a time, its reply gathered, classified, checked against
// the echo and handed to ProcessReply; the watchdog ends a command the handset leaves unanswered.
#include <algorithm>
#include <chrono>
#include <cstring>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "protocol/Reply.h"
#include "serial/CPDrv.h"

TPhoneLink::TPhoneLink(QObject* parent) : QObject(parent)
{
    CommPortDriver1 = new TCommPortDriver(this);
    CommPortDriver1->setObjectName(QStringLiteral("CommPortDriver1"));
    // The configuration in effect until the first reconnect.
    CommPortDriver1->SetPort(pnCustom);
    CommPortDriver1->SetPortName("\\\\.\\COM1");
    CommPortDriver1->SetBaudRate(brCustom);
    CommPortDriver1->SetBaudRateValue(115200);
    CommPortDriver1->SetCheckLineStatus(true);
    CommPortDriver1->OnReceiveData = [this](TCommPortDriver*, const std::uint8_t* data, std::uint32_t size) {
        CommPortDriver1ReceiveData(data, size);
    };

    WDTimer = new QTimer(this);
    WDTimer->setObjectName(QStringLiteral("WDTimer"));
    WDTimer->setInterval(15000);
    connect(WDTimer, &QTimer::timeout, this, [this] { WDTimerTimer(); });
    // A file's progress is also the progress of the queue it belongs to.
    connect(this, &TPhoneLink::Progress, this, [this](std::int64_t done, std::int64_t) { QueueFileProgress(done); });
}

TPhoneLink::~TPhoneLink() = default;

void TPhoneLink::SetBusy(bool busy)
{
    Busy = busy;
    emit BusyChanged(busy);
}

void TPhoneLink::WaitReplyDone()
{
    // Sleeps in the event loop until something happens (received bytes, the watchdog, input),
    // so the window stays responsive and the CPU idle while the handset works. (The overload of
    // processEvents with a time limit ignores WaitForMoreEvents and would spin.)
    while (!ReplyDone && !Closing)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
}

void TPhoneLink::SendCommand(TPhoneCommand kind, const std::string& text)
{
    WaitReplyDone();
    if (Closing || !CommPortDriver1->Connected())
        return;
    CurrentCommand = kind;
    LastCommand = text;
    ReplyDone = false;
    // Nothing goes out while a reply is being handled: the command is outstanding from now on,
    // and it is sent once that handling has returned.
    if (HandlingReply > 0)
        PendingCommand = text;
    else
        WriteCommand(text);
}

void TPhoneLink::WriteCommand(const std::string& text)
{
    if (!Closing && CommPortDriver1->Connected() && CommPortDriver1->SendString(text)) {
        OverflowReported = false;
        ArmWatchdog();
        return;
    }
    CurrentCommand = pcNone;
    LastCommand.clear();
    ReplyDone = true;
    if (!Closing)
        Prompts::ErrorBox("Send Error.");
}

void TPhoneLink::ArmWatchdog()
{
    // It runs exactly while the handset owes an answer: a command is outstanding and the PC is
    // not itself busy with the last reply.
    if (!ReplyDone && HandlingReply == 0 && PendingCommand.empty()) {
        WatchdogFrom = std::chrono::steady_clock::now();
        WDTimer->setInterval(WatchdogInterval);
        WDTimer->start();
    } else {
        WDTimer->stop();
    }
}

void TPhoneLink::BeginReplyHandling()
{
    ++HandlingReply;
    WDTimer->stop();
}

void TPhoneLink::EndReplyHandling()
{
    if (--HandlingReply > 0)
        return;
    if (!PendingCommand.empty()) {
        const std::string text = std::move(PendingCommand);
        PendingCommand.clear();
        WriteCommand(text);
    }
    ArmWatchdog();
}

void TPhoneLink::SendATZ() { SendCommand(pcATZ, CommandATZ()); }
void TPhoneLink::SendCGMM() { SendCommand(pcCGMM, CommandCGMM()); }
void TPhoneLink::SendFSIF() { SendCommand(pcFSIF, CommandFSIF()); }

void TPhoneLink::SendFSDL()
{
    if (PhoneDir.empty())
        return;
    SendCommand(pcFSDL, CommandFSDL(PhoneDir));
}

void TPhoneLink::SendFSFE()
{
    if (CurrentFile.Name.empty())
        return;
    SendCommand(pcFSFE, CommandFSFE(CurrentFile.Name));
}

void TPhoneLink::SendFSFR()
{
    if (CurrentFile.Name.empty())
        return;
    // A new read: its first block is the header.
    ReadHeaderSeen = false;
    ReadFailed = false;
    ReadExtractReported = false;
    LastReadSaved = false;
    SendCommand(pcFSFR, CommandFSFR(CurrentFile.Name));
}

void TPhoneLink::SendFSFW() { SendCommand(pcFSFW, CommandFSFW(UploadFile)); }

void TPhoneLink::CommPortDriver1ReceiveData(const std::uint8_t* DataPtr, std::uint32_t DataSize)
{
    if (DataSize == 0)
        return;
    // Bytes still arriving keep the command alive (the watchdog counts silence from here).
    LastDelivery = std::chrono::steady_clock::now();
    if (DataSize > static_cast<std::uint32_t>(maxTempBuf)) {
        Overflow("Error: DataSize > maxTempBuf.");
        return;
    }
    if (static_cast<std::uint32_t>(TempBufPos) + DataSize > static_cast<std::uint32_t>(maxTempBuf)) {
        Overflow("Error: (TempBufPos+DataSize) > maxTempBuf.");
        return;
    }
    // The bytes the last delivery left are those the unsolicited-line pass has seen, unless the
    // buffer was emptied since.
    if (static_cast<std::size_t>(TempBufPos) != UnsolicitedSeen.Seen)
        UnsolicitedSeen = {};
    std::memcpy(TempBuf.data() + TempBufPos, DataPtr, DataSize);
    TempBufPos += static_cast<std::int32_t>(DataSize);

    ReplyContext ctx;
    ctx.Command = ReplyDone ? pcNone : CurrentCommand;
    ctx.Echo = LastCommand;
    ctx.ReadDataExpected = CurrentCommand == pcFSFR && ReadHeaderSeen;
    // The pass runs when it can find something: a line completed since the last one (or, while
    // idle, always: the line breaks left there are dropped too).
    if (ReplyDone
        || UnsolicitedPassDue(std::span(TempBuf).first(static_cast<std::size_t>(TempBufPos)), ctx, UnsolicitedSeen))
        DropUnsolicitedLines(ctx);
    UnsolicitedSeen = ScannedUpTo(static_cast<std::size_t>(TempBufPos), ctx);
    ReplyClass = ClassifyReply(std::span(TempBuf).first(static_cast<std::size_t>(TempBufPos)), ctx);

    if (ReplyClass == rcError) {
        const bool resetFailed = CurrentCommand == pcATZ;
        AbortCommand();
        const std::string command = LastCommand;
        LastCommand.clear();
        TempBufPos = 0;
        ReplyClass = rcEmpty;
        // The handset is reset, unless the reset itself failed: that would only fail again,
        // so the link is given up instead.
        if (resetFailed)
            GoOffline();
        Prompts::ErrorBox("Command error.\r\nCommand: " + command);
        if (!resetFailed)
            SendATZ();
        return;
    }
    if (ReplyClass == rcFinal || ReplyClass == rcBlock || ReplyClass == rcPrompt) {
        if (!LastCommand.empty()) {
            const EchoCheck echo = CheckEcho(std::span(TempBuf).first(static_cast<std::size_t>(TempBufPos)), LastCommand);
            if (!echo.Match) {
                AbortCommand();
                TempBufPos = 0;
                ReplyClass = rcEmpty;
                const std::string command = LastCommand;
                LastCommand.clear();
                Prompts::ErrorBox("Respond incorrect.\r\nCommand: " + command);
                return;
            }
            std::memmove(TempBuf.data(), TempBuf.data() + echo.Strip,
                         static_cast<std::size_t>(TempBufPos - echo.Strip));
            TempBufPos -= echo.Strip;
        }
        LastCommand.clear();
        // The reply is handed over and the buffer emptied before anything can run a nested
        // event loop (a message box, the progress window) and deliver the next bytes.
        const std::vector<std::uint8_t> reply(TempBuf.begin(), TempBuf.begin() + TempBufPos);
        TempBufPos = 0;
        ProcessReply(reply.data(), static_cast<std::int32_t>(reply.size()));
        ReplyClass = rcEmpty;
    }
}

void TPhoneLink::Overflow(const std::string& message)
{
    // What overflows the buffer is no reply this link can take: the command under way ends and
    // the buffer is emptied before the message, so that bytes arriving while it is shown start
    // afresh. A device that keeps streaming is told of once per command.
    if (!ReplyDone) {
        AbortCommand();
        LastCommand.clear();
    }
    TempBufPos = 0;
    ReplyClass = rcEmpty;
    if (OverflowReported)
        return;
    OverflowReported = true;
    Prompts::ErrorBox(message);
}

void TPhoneLink::DropUnsolicitedLines(const ReplyContext& ctx)
{
    std::string gathered(TempBuf.begin(), TempBuf.begin() + TempBufPos);
    const std::vector<std::string> lines = DropUnsolicited(gathered, ctx);
    // While no command is outstanding, the line breaks left around such lines are dropped
    // too, so that they cannot pile up in the buffer.
    if (ReplyDone && std::all_of(gathered.begin(), gathered.end(), [](char c) { return IsControlByte(static_cast<std::uint8_t>(c)); }))
        gathered.clear();
    std::copy(gathered.begin(), gathered.end(), TempBuf.begin());
    TempBufPos = static_cast<std::int32_t>(gathered.size());
    for (const std::string& line : lines)
        emit LogRaw(line);
}

void TPhoneLink::AbortCommand()
{
    emit WaitEnded();
    WDTimer->stop();
    SetBusy(false);
    CurrentCommand = pcNone;
    ReplyDone = true;
    PendingCommand.clear();
    emit ProgressClosed();
    TransferBuffer.reset();
}

void TPhoneLink::WDTimerTimer()
{
    // Bytes that came since the watchdog was armed restart its count: it fires only after a
    // whole interval of silence. (Noted per delivery and looked at here, rather than restarting
    // the timer for every delivery.)
    if (LastDelivery > WatchdogFrom) {
        WatchdogFrom = LastDelivery;
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - LastDelivery);
        if (silent.count() < WatchdogInterval) {
            WDTimer->setInterval(WatchdogInterval - static_cast<int>(silent.count()));
            WDTimer->start();
            return;
        }
    }
    emit WaitEnded();
    WDTimer->stop();
    SetBusy(false);
    const std::string name(WatchdogName(CurrentCommand));
    CurrentCommand = pcNone;
    // The gathered bytes of the unanswered command are dropped too, so they can neither stand
    // in front of the next answer nor keep a full buffer refusing every later delivery.
    TempBufPos = 0;
    ReplyClass = rcEmpty;
    LastCommand.clear();
    GoOffline();
    ReplyDone = true;
    emit ProgressClosed();
    TransferBuffer.reset();
    Prompts::ErrorBox("Phone not respond.\r\nCommand: " + name);
}

void TPhoneLink::GoOffline()
{
    PhoneOnline = false;
    CommPortDriver1->Disconnect();
    emit WentOffline();
}
