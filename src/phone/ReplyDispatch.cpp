// ProcessReply: the one place where a completed reply takes effect.
#include <cstring>
#include <exception>
#include <new>

#include "protocol/Reply.h"
#include "serial/CPDrv.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

void TForm_Main::ProcessReply(const std::uint8_t* reply, std::int32_t count)
{
    const TReplyClass cls = ReplyClass;

    // While the reply is handled the handset waits for the PC: the watchdog is held, and a
    // command asked for meanwhile goes out only once the handling has returned.
    BeginReplyHandling();
    struct HandlingEnd {
        TForm_Main* form;
        ~HandlingEnd() { form->EndReplyHandling(); }
    } handlingEnd{this};

    // A private copy with a NUL behind it.
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(count) + 1]);
    if (!copy) {
        Dialogs::ErrorBox("Memory Allocate Error.");
        return;
    }
    if (count > 0)
        std::memcpy(copy.get(), reply, static_cast<std::size_t>(count));
    copy[static_cast<std::size_t>(count)] = 0;
    const std::uint8_t* bytes = copy.get();

    // A full log says so, but the reply still takes effect: losing it would stall the command
    // until the watchdog closes the port.
    if (Form_Log && Form_Log->Showing()) {
        try {
            Form_Log->AppendRaw(std::string(reinterpret_cast<const char*>(bytes)));
        } catch (const std::exception& e) {
            Dialogs::ErrorBox(e.what());
        }
    }

    switch (cls) {
    case rcFinal: {
        CloseProgressIfShowing();
        ReplyDone = true;
        const TPhoneCommand kind = CurrentCommand;
        CurrentCommand = pcNone;
        LastFinished = kind;
        switch (kind) {
        case pcATZ:
        case pcCGMM:
        case pcFSIF:
            StartupReply(kind, bytes, count);
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
            Dialogs::ErrorBox("Send Error.");
        break;
    case rcPrompt:
        if (CurrentCommand == pcFSFW)
            WritePrompt();
        break;
    default:
        break;
    }
}
