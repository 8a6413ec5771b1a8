// File read: the header announces name, size and CRC; data blocks fill the read's buffer; the
// final "OK" checks size and CRC and saves the file to the path the read was started for.
#include <algorithm>
#include <cstdint>
#include <span>

#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "platform/Files.h"
#include "protocol/CRC.h"
#include "protocol/ReadBlock.h"
#include "protocol/Text.h"

namespace {

std::int32_t Advance(std::int32_t pos, std::int64_t length)
{
    return static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(pos) + length, INT32_MAX));
}

} // namespace

// One read under way: what was asked for, what the header announced, what has arrived.
struct TPhoneLink::ReadJob {
    std::string Requested;   // the handset name asked for
    TFileInfo File;          // as the header announced it (under the name asked for)
    bool HeaderSeen = false;
    LinkResult Refusal;      // the header was refused: the rest of the read is ignored
    bool ExtractReported = false;
    std::vector<std::uint8_t> Buffer;
    std::int32_t Received = 0;
};


Task<LinkResult> TPhoneLink::SendFSFR(std::string folder, std::shared_ptr<ReadJob> job)
{
    auto command = std::make_shared<TCommand>();
    command->Kind = pcFSFR;
    command->Text = CommandFSFR(job->Requested);
    InFolder(command, folder);
    command->OnBlock = [this, job](TCommand& read, std::span<const std::uint8_t> block) {
        ReadJob& s = *job;
        const std::string shown = ShowableName(s.Requested);
        if (!s.HeaderSeen) {
            // The header is told from data blocks by its arrival, not by the CRC being 0, so a
            // file whose CRC-32 is 0 reads like any other.
            s.HeaderSeen = true;
            read.ReadDataExpected = true;
            const ReadHeader header = ParseReadHeader(AsText(block));
            if (!header.Ok || !SameHandsetName(s.Requested, header.Info.Name)) {
                // The rest of the read is acknowledged and ignored; its final "OK" ends it.
                s.Refusal = header.Ok ? Result(LinkError::WrongFile) : Result(LinkError::BadHeader);
                s.Refusal.Name = shown;
                s.Refusal.Detail = header.Ok ? ShowableName(header.Info.Name) : header.Error;
                Report(s.Refusal);
                // The rest of the file still comes: shown, so that a long drain does not look
                // like a hang.
                s.File.Size = header.Info.Size;
                emit TransferShown(pcFSFR, s.Requested, s.File.Size);
                emit Progress(0, s.File.Size);
                return;
            }
            // The file keeps the name it was asked for under; the header gives its size and CRC.
            s.File = header.Info;
            s.File.Name = s.Requested;
            if (s.File.Kind == 1 && s.File.Size > 0) {
                s.Buffer.assign(static_cast<std::size_t>(s.File.Size), 0);
                emit TransferShown(pcFSFR, s.File.Name, s.File.Size);
            }
            s.Received = 0;
            emit Progress(0, s.File.Size);
            return;
        }
        const ReadData data = ExtractReadData(block);
        if (!s.Refusal.Ok()) {
            // A refused read still runs to its final "OK" (the handset waits for every
            // acknowledgement); its blocks are not stored, only shown as progress.
            if (data.Code == 0)
                s.Received = Advance(s.Received, data.Length);
        } else if (data.Code != 0) {
            // One message per read: the size check at its end tells what went missing.
            if (!s.ExtractReported) {
                s.ExtractReported = true;
                LinkResult bad = Result(LinkError::BadDataBlock);
                bad.Code = data.Code;
                bad.Name = shown;
                Report(bad);
            }
        } else {
            // Data past the announced size is never stored, but it is counted, so that the size
            // check at the end reports it and nothing is saved.
            if (static_cast<std::int64_t>(s.Received) + data.Length <= static_cast<std::int64_t>(s.Buffer.size()))
                std::copy(block.begin() + data.Offset, block.begin() + data.Offset + data.Length,
                          s.Buffer.begin() + s.Received);
            s.Received = Advance(s.Received, data.Length);
        }
        emit Progress(s.Received, s.File.Size);
    };
    const LinkResult result = co_await Run(command);
    co_return result;
}

Task<LinkResult> TPhoneLink::Fetch(std::string folder, TFileInfo entry, std::string target)
{
    if (entry.Name.empty())
        co_return Result(LinkError::NoName);
    SetBusy(true);
    auto job = std::make_shared<ReadJob>();
    job->Requested = entry.Name;
    job->File = entry;
    const LinkResult result = co_await SendFSFR(folder, job);
    SetBusy(false);
    if (!result.Ok())
        co_return result;

    ReadJob& s = *job;
    const TFileInfo& file = s.File;
    const std::string name = ShowableName(s.Requested);
    if (!s.Refusal.Ok())
        co_return s.Refusal;   // reported with the header
    LinkResult outcome;
    outcome.Name = name;
    if (!s.HeaderSeen) {
        outcome.Error = LinkError::NoHeader;
    } else if (s.Received != file.Size) {
        // Only a whole file is saved, even if the CRC over the announced size happened to match.
        outcome.Error = LinkError::SizeMismatch;
        outcome.Expected = file.Size;
        outcome.Actual = s.Received;
    } else {
        const std::uint32_t crc = CalcCRC(std::span(s.Buffer).first(std::min<std::size_t>(s.Buffer.size(), static_cast<std::size_t>(std::max(file.Size, 0)))));
        if (crc != file.Crc) {
            outcome.Error = LinkError::CrcMismatch;
            outcome.Expected = file.Crc;
            outcome.Actual = crc;
        } else {
            // The path the overwrite question was about; a read started without one saves nothing.
            const SaveResult saved = target.empty()
                ? SaveResult::AccessFail
                : SaveFileReplacing(target, s.Buffer.empty() ? nullptr : s.Buffer.data(), static_cast<std::size_t>(s.Received));
            if (saved == SaveResult::SizeDifferent)
                outcome.Error = LinkError::SaveSizeDifferent;
            else if (saved == SaveResult::AccessFail)
                outcome.Error = LinkError::SaveFailed;
        }
    }
    Report(outcome);
    co_return outcome;
}
