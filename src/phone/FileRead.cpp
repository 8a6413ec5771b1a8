// File read: the header announces name, size and CRC; data blocks fill TransferBuffer; the
// final "OK" checks size and CRC and saves the file to the path the read was started for.
#include <algorithm>
#include <cstdint>
#include <span>

#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "platform/Files.h"
#include "protocol/CRC.h"
#include "protocol/ReadBlock.h"
#include "protocol/Text.h"

void TPhoneLink::ReadBlock(const std::uint8_t* block, std::int32_t count)
{
    // The header is told from data blocks by its arrival, not by the CRC being 0, so a file
    // whose CRC-32 is 0 reads like any other.
    if (!ReadHeaderSeen)
        ReadHeaderBlock(block, count);
    else if (!ReadFailed)
        ReadDataBlock(block, count);
    else
        DrainDataBlock(block, count);
}

void TPhoneLink::DrainDataBlock(const std::uint8_t* block, std::int32_t count)
{
    // A refused read still runs to its final "OK" (the handset waits for every
    // acknowledgement); its blocks are not stored, only shown as progress.
    const ReadData data = ExtractReadData(std::span(block, static_cast<std::size_t>(count)));
    if (data.Code == 0)
        BufPos = static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(BufPos) + data.Length, INT32_MAX));
    emit Progress(BufPos, CurrentFile.Size);
}

void TPhoneLink::ReadHeaderBlock(const std::uint8_t* block, std::int32_t count)
{
    ReadHeaderSeen = true;
    const ReadHeader header = ParseReadHeader(
        std::string_view(reinterpret_cast<const char*>(block), static_cast<std::size_t>(count)));
    const std::string requested = CurrentFile.Name;
    if (!header.Ok || !SameHandsetName(requested, header.Info.Name)) {
        // The rest of the read is acknowledged and ignored; its final "OK" ends it.
        ReadFailed = true;
        Prompts::ErrorBox("File: " + ShowableName(requested) + "\r\n"
                          + (header.Ok ? "The phone sent another file (" + ShowableName(header.Info.Name)
                                             + "); nothing is saved."
                                       : header.Error));
        // The rest of the file still comes: shown, so that a long drain does not look like a hang.
        CurrentFile.Size = header.Info.Size;
        emit TransferShown(pcFSFR, requested, CurrentFile.Size);
        emit Progress(0, CurrentFile.Size);
        return;
    }
    // The file keeps the name it was asked for under; the header gives its size and CRC.
    CurrentFile = header.Info;
    CurrentFile.Name = requested;
    if (CurrentFile.Kind == 1 && CurrentFile.Size > 0) {
        TransferBuffer = std::make_unique<std::vector<std::uint8_t>>(static_cast<std::size_t>(CurrentFile.Size));
        emit TransferShown(pcFSFR, CurrentFile.Name, CurrentFile.Size);
    }
    emit Progress(0, CurrentFile.Size);
    BufPos = 0;
}

void TPhoneLink::ReadDataBlock(const std::uint8_t* block, std::int32_t count)
{
    const ReadData data = ExtractReadData(std::span(block, static_cast<std::size_t>(count)));
    if (data.Code != 0) {
        // One message per read: the size check at its end tells what went missing.
        if (!ReadExtractReported) {
            ReadExtractReported = true;
            Prompts::ErrorBox("Extract data error code:" + std::to_string(data.Code));
        }
    } else {
        // Data past the announced size is never stored, but it is counted, so that the size
        // check at the end reports it and nothing is saved.
        if (TransferBuffer
            && static_cast<std::int64_t>(BufPos) + data.Length <= static_cast<std::int64_t>(TransferBuffer->size()))
            std::copy(block + data.Offset, block + data.Offset + data.Length, TransferBuffer->begin() + BufPos);
        BufPos = static_cast<std::int32_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(BufPos) + data.Length, INT32_MAX));
    }
    emit Progress(BufPos, CurrentFile.Size);
}

void TPhoneLink::EndRead()
{
    const TFileInfo file = CurrentFile;
    const std::string name = ShowableName(file.Name);
    const std::string target = std::move(ReadTarget);
    const bool headerSeen = ReadHeaderSeen;
    const bool failed = ReadFailed;
    std::unique_ptr<std::vector<std::uint8_t>> buffer = std::move(TransferBuffer);
    const std::int32_t received = BufPos;

    // The read is over whatever follows: buffer released, record cleared, panes enabled.
    BufPos = 0;
    CurrentFile.Clear();
    ReadHeaderSeen = false;
    ReadFailed = false;
    ReadTarget.clear();
    SetBusy(false);

    if (failed)
        return;   // the header was refused and reported
    if (!headerSeen) {
        Prompts::ErrorBox("File: " + name + "\r\nThe handset sent no file header; nothing is saved.");
        return;
    }
    if (received != file.Size) {
        // Only a whole file is saved, even if the CRC over the announced size happened to match.
        Prompts::ErrorBox("File: " + name + "\r\nSize error.\r\nFile size: " + std::to_string(file.Size)
                          + "\r\nRecv size: " + std::to_string(received));
        return;
    }
    const std::uint8_t* bytes = buffer ? buffer->data() : nullptr;
    const std::uint32_t crc = CalcCRC(std::span(bytes, bytes ? static_cast<std::size_t>(file.Size) : 0));
    if (crc != file.Crc) {
        Prompts::ErrorBox("File: " + name + "\r\nCRC error.\r\nCalc CRC: " + std::to_string(crc)
                          + "\r\nRecv CRC: " + std::to_string(file.Crc));
        return;
    }
    // The path the overwrite question was about; a read started without one saves nothing.
    const SaveResult saved = target.empty()
        ? SaveResult::AccessFail
        : SaveFileReplacing(target, bytes, bytes ? static_cast<std::size_t>(received) : 0);
    switch (saved) {
    case SaveResult::Ok:
        LastReadSaved = true;
        break;
    case SaveResult::SizeDifferent:
        Prompts::ErrorBox("File: " + name + "\r\nWrite error -> size different.");
        break;
    case SaveResult::AccessFail:
        Prompts::ErrorBox("File: " + name + "\r\nWrite error -> file access fail.");
        break;
    }
}
