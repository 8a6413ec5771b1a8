#pragma once
// Reads and writes driven the way the transfer commands drive them: the record set, the
// panels disabled, the command sent, and the event loop pumped until the command has ended.
#include <algorithm>
#include <QEvent>
#include <QProgressBar>

#include "protocol/CRC.h"
#include "serial/CPDrv.h"
#include "support/WindowFixture.h"

namespace fsops {

using namespace testsupport;

// Counts the times a widget is shown.
class ShowCounter : public QObject {
public:
    int Shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++Shows;
        return QObject::eventFilter(watched, event);
    }
};

class FsopsTest : public WindowTest {
protected:
    std::vector<int> fileBar;        // every value ProgressBar_File took
    std::vector<int> allBar;         // and ProgressBar_All
    std::vector<bool> shownAtValue;  // the progress window showing when ProgressBar_File moved
    ShowCounter progressShows;

    // Starts online with the progress window watched.
    void Online()
    {
        StartOnline();
        Form_Progress->installEventFilter(&progressShows);
        QObject::connect(Form_Progress->ProgressBar_File, &QProgressBar::valueChanged, Form_Progress, [this](int v) {
            fileBar.push_back(v);
            shownAtValue.push_back(Form_Progress->isVisible());
        });
        QObject::connect(Form_Progress->ProgressBar_All, &QProgressBar::valueChanged, Form_Progress,
                         [this](int v) { allBar.push_back(v); });
    }

    bool WaitCommandEnd(int timeoutMs = 10000)
    {
        return WaitUntil([this] { return win->Link->ReplyDone && win->Link->CurrentCommand == pcNone; }, timeoutMs);
    }

    // Reads the phone file listed under `caption` into the PC folder, under its whole name.
    void Read(const std::string& caption)
    {
        QTreeWidgetItem* item = PhoneItem(caption);
        ASSERT_NE(item, nullptr) << caption;
        ASSERT_NE(PhoneItemRecord(item), nullptr);
        win->Panel_PC->setEnabled(false);
        win->Panel_Phone->setEnabled(false);
        win->Link->CurrentFile = *PhoneItemRecord(item);
        win->Link->ReadTarget = (pc / win->Link->CurrentFile.Name).string();
        win->Link->BufPos = 0;
        win->Link->SendFSFR();
        ASSERT_TRUE(WaitCommandEnd()) << "the read of " << caption << " did not end";
    }

    // Writes `bytes` as `name` into the handset folder listed last.
    void Write(const std::string& name, const std::string& bytes)
    {
        win->Link->UploadFile.Clear();
        win->Link->UploadFile.Name = name;
        win->Link->UploadFile.Size = static_cast<std::int32_t>(bytes.size());
        win->Link->UploadFile.Crc = CalcCRC(bytes);
        win->Link->UploadFile.Kind = 1;
        win->Link->TransferBuffer = std::make_unique<std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
        win->Link->BufPos = 0;
        win->Panel_PC->setEnabled(false);
        win->Panel_Phone->setEnabled(false);
        win->Link->SendFSFW();
    }

    // A phone file in "/", listed again so that the list shows it.
    void PhoneFile(const std::string& name, const std::string& bytes)
    {
        WriteFile(phone / name, bytes);
        win->ShowPhoneDir("/");
        ASSERT_TRUE(WaitIdle());
    }

    // The command's end has left nothing held. The end of a read and every failure enable the
    // panels again; after a write or an erase that is the transfer loop's business.
    void ExpectCleanEnd(bool panelsEnabled = true)
    {
        EXPECT_TRUE(win->Link->ReplyDone);
        EXPECT_EQ(win->Link->CurrentCommand, pcNone);
        EXPECT_EQ(win->Panel_PC->isEnabled(), panelsEnabled);
        EXPECT_EQ(win->Panel_Phone->isEnabled(), panelsEnabled);
        EXPECT_EQ(win->Link->TransferBuffer, nullptr);
        EXPECT_FALSE(Form_Progress->isVisible());
    }
};

} // namespace fsops
