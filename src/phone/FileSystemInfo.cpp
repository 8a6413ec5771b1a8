// The handset's capacity and free space: AT+FSIF, whose final reply names both.
#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "protocol/Reply.h"
#include "protocol/Text.h"

Task<TPhoneLink::Space> TPhoneLink::FileSpace()
{
    auto info = std::make_shared<FileSystemInfo>();
    auto command = std::make_shared<TCommand>();
    command->Kind = pcFSIF;
    command->Text = CommandFSIF();
    command->OnDone = [info](const LinkResult& r, std::span<const std::uint8_t> reply) {
        if (r.Ok())
            *info = ParseFileSystemInfo(AsText(reply));
    };
    Space space;
    space.Result = co_await Run(command);
    space.Known = space.Result.Ok() && info->Ok;
    space.Capacity = info->Capacity;
    space.Free = info->Free;
    co_return space;
}
