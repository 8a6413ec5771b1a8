// File write: each prompt of the handset is answered with the next block of at most 512 raw
// bytes; the final "OK" ends the write.
#include <algorithm>
#include <exception>

#include <QLabel>

#include "protocol/Text.h"
#include "serial/CPDrv.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/Unit_Log.h"
#include "ui/Unit_Progress.h"

namespace {
constexpr std::int32_t kWriteBlockSize = 512;
}

void TForm_Main::WritePrompt()
{
    if (BufPos == 0 && Form_Progress) {
        Form_Progress->StaticText_Size->setText(QStringLiteral("Size - %1 byte(s)").arg(UploadFile.Size));
        Form_Progress->StaticText_FileName->setText(QString::fromStdString(UploadFile.Name));
        Form_Progress->ShowCentred();   // painted once the prompt has been handled
    }
    SendWriteBlock();
    ShowProgress(ProgressPercent(BufPos, UploadFile.Size));
}

void TForm_Main::SendWriteBlock()
{
    const std::int32_t available = TransferBuffer ? static_cast<std::int32_t>(TransferBuffer->size()) : 0;
    std::int32_t length = std::min(UploadFile.Size, available) - BufPos;
    length = std::clamp(length, 0, kWriteBlockSize);
    if (length > 0)
        CommPortDriver1->SendData(TransferBuffer->data() + BufPos, static_cast<std::uint32_t>(length));
    BufPos += length;
    if (Form_Log && Form_Log->Showing()) {
        try {
            Form_Log->AppendLine("Send block size: " + std::to_string(length) + " BufPos: " + std::to_string(BufPos)
                                 + " FSize: " + std::to_string(UploadFile.Size));
        } catch (const std::exception& e) {
            Dialogs::ErrorBox(e.what());   // a full log never stops the write
        }
    }
}

void TForm_Main::EndWrite() { TransferBuffer.reset(); }
