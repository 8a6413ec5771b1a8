// Arbitrary bytes through the whole receive path of the main window: the receive handler, the
// classification, the echo check and ProcessReply, with any command outstanding.
//
// Input: byte 0 the outstanding command (pcNone..pcFSFW), byte 1 flags (1: the read's header has
// arrived, 2: the read was refused, 4: the command line is known, so the echo is checked),
// byte 2 the size of the pieces the bytes arrive in (0: all at once), byte 3 the announced size
// of the file under way / 16; the rest is what the handset sends.
// The serial driver is never connected, so nothing goes out; message boxes are answered
// silently; files a read saves land in a temporary folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include "protocol/Reply.h"
#include "ui/Dialogs.h"
#include "phone/PhoneLink.h"
#include "ui/Main.h"
#include "settings/Unit_Init.h"
#include "ui/Unit_Progress.h"

namespace {

TForm_Main* win = nullptr;
QTemporaryDir* folder = nullptr;

std::string CommandText(TPhoneCommand kind, const TFileInfo& file)
{
    switch (kind) {
    case pcATZ: return CommandATZ();
    case pcCGMM: return CommandCGMM();
    case pcFSIF: return CommandFSIF();
    case pcFSDL: return CommandFSDL("/user/sounds");
    case pcFSFE: return CommandFSFE(file.Name);
    case pcFSFR: return CommandFSFR(file.Name);
    case pcFSFW: return CommandFSFW(file);
    default: return {};
    }
}

} // namespace

// Qt and the font library keep allocations until the process ends; only faults of ours count.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char arg0[] = "fuzz_receive";
    static char* argv[] = {arg0, nullptr};
    new QApplication(argc, argv);
    Dialogs::SetHandler([](Dialogs::Kind, const std::string&) { return Dialogs::Answer::Yes; });
    folder = new QTemporaryDir;
    // The fuzzer ends the process with exit(), which leaves heap objects alone: the folder
    // would stay behind in the temporary folder after every run.
    std::atexit([] { folder->remove(); });
    SettingsDir = folder->path().toStdString();   // no settings file there: the defaults
    win = new TForm_Main;
    win->PCDir = folder->path().toStdString();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4 || size > 3 * 4096)
        return 0;
    const auto kind = static_cast<TPhoneCommand>(data[0] % 9);
    const std::uint8_t flags = data[1];
    const std::size_t piece = data[2];
    const std::int32_t fileSize = data[3] * 16;
    data += 4;
    size -= 4;

    // The state a sender leaves behind.
    win->Link->TempBufPos = 0;
    win->Link->ReplyClass = rcEmpty;
    win->Link->PhoneOnline = true;
    win->ListView_PNFiles->clear();
    TFileInfo file;
    file.Name = "a.mmf";
    file.FileType = 302;
    file.Size = fileSize;
    file.Kind = fileSize != 0 ? 1 : 2;
    win->Link->CurrentFile = file;
    win->Link->UploadFile = file;
    win->Link->BufPos = 0;
    win->Link->TransferBuffer.reset();
    win->Link->ReadHeaderSeen = kind == pcFSFR && (flags & 1);
    win->Link->ReadFailed = win->Link->ReadHeaderSeen && (flags & 2);
    if ((kind == pcFSFR && win->Link->ReadHeaderSeen && !win->Link->ReadFailed && fileSize > 0) || kind == pcFSFW)
        win->Link->TransferBuffer = std::make_unique<std::vector<std::uint8_t>>(static_cast<std::size_t>(fileSize));
    win->Link->CurrentCommand = kind;
    win->Link->LastCommand = (flags & 4) ? CommandText(kind, file) : std::string();
    win->Link->ReplyDone = kind == pcNone;

    const std::size_t step = piece == 0 ? size : piece;
    for (std::size_t at = 0; at < size; at += step) {
        const std::size_t n = std::min(step, size - at);
        win->Link->CommPortDriver1ReceiveData(data + at, static_cast<std::uint32_t>(n));
    }

    // Whatever is left outstanding is abandoned before the next input.
    win->Link->WDTimer->stop();
    win->Link->AbortCommand();
    win->Link->LastCommand.clear();
    win->Link->TempBufPos = 0;
    if (win->Link->TransferBuffer)
        std::abort();   // AbortCommand releases the buffer
    return 0;
}
