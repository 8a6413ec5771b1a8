// ProcessReply: the one place where a completed reply takes effect; the start-up exchange.
#include <chrono>
#include <thread>
#include <cstring>
#include <iostream>
#include <new>

#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "protocol/Reply.h"
#include "protocol/Text.h"
#include "serial/CPDrv.h"
#include "serial/PortAdvice.h"

void TPhoneLink::ProcessReply(const std::uint8_t* reply, std::int32_t count)
{
    const TReplyClass cls = ReplyClass;

    // While the reply is handled the handset waits for the PC: the watchdog is held, and a
    // command asked for meanwhile goes out only once the handling has returned.
    BeginReplyHandling();
    struct HandlingEnd {
        TPhoneLink* link;
        ~HandlingEnd() { link->EndReplyHandling(); }
    } handlingEnd{this};

    // A private copy with a NUL behind it.
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(count) + 1]);
    if (!copy) {
        Prompts::ErrorBox("Memory Allocate Error.");
        return;
    }
    if (count > 0)
        std::memcpy(copy.get(), reply, static_cast<std::size_t>(count));
    copy[static_cast<std::size_t>(count)] = 0;
    const std::uint8_t* bytes = copy.get();

    // A full log says so, but the reply still takes effect: losing it would stall the command
    // until the watchdog closes the port.
    emit LogRaw(std::string(reinterpret_cast<const char*>(bytes)));

    switch (cls) {
    case rcFinal: {
        emit ProgressClosed();
        ReplyDone = true;
        const TPhoneCommand kind = CurrentCommand;
        CurrentCommand = pcNone;
        LastFinished = kind;
        switch (kind) {
        case pcATZ:
        case pcCGMM:
        case pcFSIF:
            StartupReply(kind, std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(count)));
            break;
        case pcFSDL:
            EndListing();
            break;
        case pcFSFR:
            EndRead();
            break;
        case pcFSFW:
            EndWrite();
            break;
        case pcFSFE:
        case pcFSCD:
        case pcNone:
            break;
        }
        break;
    }
    case rcBlock:
        if (CurrentCommand == pcFSDL)
            ListingBlock(bytes, count);
        else if (CurrentCommand == pcFSFR)
            ReadBlock(bytes, count);
        if (!Closing && !CommPortDriver1->SendString(std::string(kBlockAck)))
            Prompts::ErrorBox("Send Error.");
        break;
    case rcPrompt:
        if (CurrentCommand == pcFSFW)
            WritePrompt();
        break;
    default:
        break;
    }
}

void TPhoneLink::Reconnect(const std::string& port, std::uint32_t baudRate, bool checkLineStatus, THwFlowControl hwFlow)
{
    CommPortDriver1->Disconnect();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    PhoneDir.clear();
    ClearPhoneRecords();
    emit Reconnecting(port);

    CommPortDriver1->SetPortName("\\\\.\\" + port);
    CommPortDriver1->SetBaudRateValue(baudRate);
    CommPortDriver1->SetCheckLineStatus(checkLineStatus);
    CommPortDriver1->SetHwFlow(hwFlow);
    if (!CommPortDriver1->Connect()) {
        emit PortOpenFailed(CommPortDriver1->PortName());
        // The box keeps its fixed text; the reason and what to do go to standard error and into
        // the box's details.
        Prompts::ErrorBox("Error open port.", ReportPortOpenFailure(std::cerr, CommPortDriver1->PortName(), PortAdviceFor));
    }

    const TLineStatusSet lines = CommPortDriver1->LineStatus();
    emit LineStatusKnown(lines.Has(lsCTS), lines.Has(lsDSR));
    emit WentOffline();
    PhoneOnline = false;

    SendATZ();
    SendCGMM();
    SendFSIF();
}

void TPhoneLink::StartupReply(TPhoneCommand kind, std::span<const std::uint8_t> reply)
{
    switch (kind) {
    case pcATZ:
        PhoneOnline = true;
        emit WentOnline();
        break;
    case pcCGMM:
        emit ModelKnown(ExtractModel(std::string_view(reinterpret_cast<const char*>(reply.data()), reply.size())));
        break;
    case pcFSIF:
        emit FileSystemReady();
        break;
    default:
        break;
    }
}
