// Arbitrary bytes through the whole receive path of the link: the command channel's receive
// handler, the classification, the echo check, and the operation whose command is on the line
// (a listing, a read, a write, an erase or a bare start-up command), with no window.
//
// Input: byte 0 the command on the line (pcNone..pcFSFW), byte 1 flags (1: a read's header has
// arrived already, 2: that header named another file, 4: the bytes carry the command's echo
// themselves, else it is put in front of them), byte 2 the size of the pieces the bytes arrive
// in (0: all at once), byte 3 the size of the file under way / 16; the rest is what the handset
// sends.
// The link's port is a pseudo-terminal nobody answers on: what the link sends there is read
// back and dropped. No event loop runs, so the watchdog never fires. Questions are answered No;
// files a read saves land in a temporary folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "protocol/Reply.h"
#include "serial/CPDrv.h"

namespace {

TPhoneLink* phoneLink = nullptr;
QTemporaryDir* folder = nullptr;
int master = -1;

// Drops what the link has sent (commands, acknowledgements, write blocks), so that the
// pseudo-terminal never fills up.
void Drain()
{
    char buf[4096];
    while (::read(master, buf, sizeof buf) > 0) {
    }
}

template <class T>
void Run(Task<T>&& task)
{
    std::move(task).Then({});
}

void SendCommand(TPhoneCommand kind, std::string text)
{
    auto command = std::make_shared<TCommand>();
    command->Kind = kind;
    command->Text = std::move(text);
    phoneLink->Channel().SendCommand(command);
}

} // namespace

// Qt keeps allocations until the process ends; only faults of ours count.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static int argc = 1;
    static char arg0[] = "fuzz_receive";
    static char* argv[] = {arg0, nullptr};
    new QCoreApplication(argc, argv);
    folder = new QTemporaryDir;
    // The fuzzer ends the process with exit(), which leaves heap objects alone: the folder
    // would stay behind in the temporary folder after every run.
    std::atexit([] { folder->remove(); });
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        std::abort();
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    phoneLink = new TPhoneLink;
    TCommPortDriver& driver = phoneLink->Channel().Driver();
    driver.SetPortName(std::string("\\\\.\\") + ::ptsname(master));
    driver.SetCheckLineStatus(false);   // a pseudo-terminal has no modem lines
    driver.SetHwFlow(hfNONE);
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

    // A refused reset gives the link up, which closes the port.
    TCommPortDriver& driver = phoneLink->Channel().Driver();
    if (!driver.Connected() && !driver.Connect())
        std::abort();
    TFileInfo file;
    file.Name = "a.mmf";
    file.FileType = 302;
    file.Size = fileSize;
    file.Kind = fileSize != 0 ? 1 : 2;
    // The operations name no folder, so that none lists one first.
    switch (kind) {
    case pcATZ: SendCommand(kind, CommandATZ()); break;
    case pcCGMM: SendCommand(kind, CommandCGMM()); break;
    case pcFSIF: SendCommand(kind, CommandFSIF()); break;
    case pcFSDL: Run(phoneLink->ListFolder("/user/sounds")); break;
    case pcFSFE: Run(phoneLink->Erase("", file.Name)); break;
    case pcFSFR: Run(phoneLink->Fetch("", file, folder->filePath(QStringLiteral("a.mmf")).toStdString())); break;
    case pcFSFW: Run(phoneLink->Write("", file.Name, file.FileType, std::vector<std::uint8_t>(static_cast<std::size_t>(fileSize), 0x5A))); break;
    default: break;
    }

    std::string lead;
    const TCommand* current = phoneLink->Channel().Current();
    if (current && !(flags & 4))
        lead = current->Text;
    if (current && kind == pcFSFR && (flags & 1))
        lead += "\r\n+FSFR: 0,\"" + std::string((flags & 2) ? "b.mmf" : "a.mmf") + "\",302,0,0," + std::to_string(fileSize)
                + ",0,0,\"d\",0,0\r\n#OK#\r\n";
    phoneLink->Channel().Receive(reinterpret_cast<const std::uint8_t*>(lead.data()), static_cast<std::uint32_t>(lead.size()));
    const std::size_t step = piece == 0 ? size : piece;
    for (std::size_t at = 0; at < size; at += step) {
        phoneLink->Channel().Receive(data + at, static_cast<std::uint32_t>(std::min(step, size - at)));
        Drain();
    }

    // Whatever is left outstanding is ended before the next input: every operation ends with it.
    phoneLink->Channel().EndAll(LinkError::Offline);
    Drain();
    if (!phoneLink->Channel().Idle() || phoneLink->Busy())
        std::abort();
    // The bytes still gathered go too, the way a client can make them go: a delivery larger
    // than the buffer.
    if (phoneLink->Channel().Pending() != 0) {
        const std::vector<std::uint8_t> flood(static_cast<std::size_t>(maxTempBuf) + 1, 0);
        phoneLink->Channel().Receive(flood.data(), static_cast<std::uint32_t>(flood.size()));
        if (phoneLink->Channel().Pending() != 0)
            std::abort();
    }
    return 0;
}
