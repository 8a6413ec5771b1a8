#pragma once
// Reads and writes driven as single commands of the link, against the window that shows them:
// each runs the event loop until its result is in.
#include <algorithm>
#include <QEvent>
#include <QProgressBar>

#include "phone/Channel.h"
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

    // Reads the phone file listed under `caption` into the PC folder, under its whole name.
    LinkResult Read(const std::string& caption)
    {
        const TFileInfo* record = PhoneItem(caption) ? PhoneItemRecord(PhoneItem(caption)) : nullptr;
        if (!record) {
            ADD_FAILURE() << caption << " is not listed";
            return Result(LinkError::NoHeader);
        }
        return WaitFor(win->Link->Fetch(win->Link->PhoneDir(), *record, (pc / record->Name).string()));
    }

    // Writes `bytes` as `name` into the phone folder on show.
    LinkResult Write(const std::string& name, const std::string& bytes)
    {
        return WaitFor(win->Link->Write(win->Link->PhoneDir(), name, 0, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
    }

    // A phone file in "/", listed again so that the list shows it.
    void PhoneFile(const std::string& name, const std::string& bytes)
    {
        WriteFile(phone / name, bytes);
        win->ShowPhoneDir("/");
        ASSERT_TRUE(WaitIdle());
    }

    // The transfer's end has left nothing held: nothing on the line, the link no longer busy and
    // the panels usable again, the progress window closed.
    void ExpectCleanEnd()
    {
        EXPECT_TRUE(win->Link->Channel().Idle());
        EXPECT_FALSE(win->Link->Busy());
        EXPECT_TRUE(win->Panel_PC->isEnabled());
        EXPECT_TRUE(win->Panel_Phone->isEnabled());
        EXPECT_FALSE(Form_Progress->isVisible());
    }
};

} // namespace fsops
