// File write: each prompt of the handset is answered with the next block of at most 512 raw
// bytes; the final "OK" ends the write. File erase.
#include <algorithm>

#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "protocol/CRC.h"
#include "protocol/Text.h"

namespace {
constexpr std::int32_t kWriteBlockSize = 512;
}

Task<LinkResult> TPhoneLink::SendFSFW(std::string folder, TFileInfo file, std::shared_ptr<std::vector<std::uint8_t>> data)
{
    auto sent = std::make_shared<std::int32_t>(0);
    auto command = std::make_shared<TCommand>();
    command->Kind = pcFSFW;
    command->Text = CommandFSFW(file);
    InFolder(command, folder);
    command->OnPrompt = [this, file, data, sent](TCommand&) {
        std::int32_t& pos = *sent;
        if (pos == 0)
            emit TransferShown(pcFSFW, file.Name, file.Size);   // painted once the prompt has been handled
        const std::int32_t length = std::clamp(file.Size - pos, 0, kWriteBlockSize);
        if (length > 0)
            channel_->WriteData(std::span(*data).subspan(static_cast<std::size_t>(pos), static_cast<std::size_t>(length)));
        pos += length;
        // The log may be full: that is the log's to say, and never stops the write.
        emit LogLine("Send block size: " + std::to_string(length) + " BufPos: " + std::to_string(pos)
                     + " FSize: " + std::to_string(file.Size));
        emit Progress(pos, file.Size);
    };
    const LinkResult result = co_await Run(command);
    co_return result;
}

Task<LinkResult> TPhoneLink::Write(std::string folder, std::string name, std::int32_t type, std::vector<std::uint8_t> bytes)
{
    if (name.empty())
        co_return Result(LinkError::NoName);
    SetBusy(true);
    TFileInfo file;
    file.Name = name;
    file.FileType = type;
    file.Size = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX));
    file.Crc = CalcCRC(bytes);
    file.Kind = 1;
    auto data = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
    const LinkResult result = co_await SendFSFW(folder, file, data);
    SetBusy(false);
    co_return result;
}

Task<LinkResult> TPhoneLink::SendFSFE(std::string folder, std::string name)
{
    auto command = std::make_shared<TCommand>();
    command->Kind = pcFSFE;
    command->Text = CommandFSFE(name);
    InFolder(command, folder);
    const LinkResult result = co_await Run(command);
    co_return result;
}

Task<LinkResult> TPhoneLink::Erase(std::string folder, std::string name)
{
    if (name.empty())
        co_return Result(LinkError::NoName);
    const LinkResult result = co_await SendFSFE(folder, name);
    co_return result;
}
