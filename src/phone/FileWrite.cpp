// File write: each prompt of the handset is answered with the next block of at most 512 raw
// bytes; the final "OK" ends the write.
#include <algorithm>

#include "phone/PhoneLink.h"
#include "protocol/Text.h"
#include "serial/CPDrv.h"

namespace {
constexpr std::int32_t kWriteBlockSize = 512;
}

void TPhoneLink::WritePrompt()
{
    if (BufPos == 0)
        emit TransferShown(pcFSFW, UploadFile.Name, UploadFile.Size);   // painted once the prompt has been handled
    SendWriteBlock();
    emit Progress(BufPos, UploadFile.Size);
}

void TPhoneLink::SendWriteBlock()
{
    const std::int32_t available = TransferBuffer ? static_cast<std::int32_t>(TransferBuffer->size()) : 0;
    std::int32_t length = std::min(UploadFile.Size, available) - BufPos;
    length = std::clamp(length, 0, kWriteBlockSize);
    if (length > 0)
        CommPortDriver1->SendData(TransferBuffer->data() + BufPos, static_cast<std::uint32_t>(length));
    BufPos += length;
    // The log may be full: that is the log's to say, and never stops the write.
    emit LogLine("Send block size: " + std::to_string(length) + " BufPos: " + std::to_string(BufPos)
                 + " FSize: " + std::to_string(UploadFile.Size));
}

void TPhoneLink::EndWrite() { TransferBuffer.reset(); }
