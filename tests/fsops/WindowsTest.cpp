// The progress and log windows: their make-up, what the log takes and when, its capacity, and
// the menu entry that opens it.
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "FsopsFixture.h"

using namespace fsops;

namespace {

// Without settings the window opens the default port, which may be a serial device with
// nothing behind it: its start-up ends in the watchdog.
class AuxWindowsTest : public FsopsTest {
protected:
    AuxWindowsTest() { watchdogMs = 600; }
};

TEST_F(AuxWindowsTest, ProgressAndLogWindowsAreMadeAsDescribed)
{
    CreateWindow(false);
    EXPECT_EQ(Form_Progress->windowTitle().toStdString(), "Progress");
    EXPECT_EQ(Form_Progress->size(), QSize(281, 173));
    EXPECT_EQ(Form_Progress->minimumSize(), Form_Progress->maximumSize());
    EXPECT_TRUE(Form_Progress->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(Form_Progress->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(Form_Progress->isModal());
    for (QProgressBar* bar : {Form_Progress->ProgressBar_File, Form_Progress->ProgressBar_All}) {
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
    }
    EXPECT_EQ(Form_Progress->ProgressBar_File->geometry(), QRect(8, 44, 265, 16));
    EXPECT_EQ(Form_Progress->ProgressBar_All->geometry(), QRect(8, 102, 265, 16));
    EXPECT_FALSE(Form_Progress->Button_Cancel->isEnabled());   // offered while a queue can stop

    EXPECT_EQ(Form_Log->windowTitle().toStdString(), "Log");
    EXPECT_EQ(Form_Log->size(), QSize(783, 363));
    EXPECT_TRUE(Form_Log->Log_View->isReadOnly());
    EXPECT_EQ(Form_Log->Log_View->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(Form_Log->Log_View->toPlainText().isEmpty());
    EXPECT_FALSE(Form_Log->isVisible());
}

TEST_F(AuxWindowsTest, ProgressWindowIsCentredOnTheMainWindowAndUserCannotCloseIt)
{
    CreateWindow();
    Form_Progress->ShowCentred();
    EXPECT_TRUE(Form_Progress->isVisible());
    EXPECT_LE((Form_Progress->frameGeometry().center() - win->frameGeometry().center()).manhattanLength(), 8);
    QCloseEvent byUser;
    QApplication::sendEvent(Form_Progress, &byUser);   // a spontaneous close is ignored; this one is not
    CloseProgressIfShowing();
    EXPECT_FALSE(Form_Progress->isVisible());
}

TEST_F(AuxWindowsTest, RepliesAreLoggedOnlyWhileTheLogShows)
{
    WriteFile(phone / "java" / "j.jar", "x");
    Online();
    EXPECT_EQ(Form_Log->Text(), "");   // the start-up ran with the log closed
    Form_Log->show();
    OpenPhoneFolder("/java");
    const std::string shown = Form_Log->Text();
    // The listing's block, without the echo, and its final reply; CR LF kept as they came.
    EXPECT_EQ(shown.rfind("+FSDL: 0,\"j.jar\",0,0,0,0,1,0,\"", 0), 0u) << shown;
    EXPECT_TRUE(shown.ends_with("\",0\r\n#OK#\r\n\r\nOK\r\n")) << shown;
    EXPECT_EQ(Form_Log->Log_View->toPlainText().toStdString().find('\r'), std::string::npos);

    Form_Log->hide();
    OpenPhoneFolder("/");
    Form_Log->show();
    EXPECT_EQ(Form_Log->Text(), shown);
}

TEST_F(AuxWindowsTest, LoneLineBreaksBecomeCrLf)
{
    CreateWindow(false);
    Form_Log->AppendRaw("a\rb\nc\r\nd");
    EXPECT_EQ(Form_Log->Text(), "a\r\nb\r\nc\r\nd");
    Form_Log->AppendRaw("\ne\r");
    EXPECT_EQ(Form_Log->Text(), "a\r\nb\r\nc\r\nd\r\ne\r\n");
    Form_Log->AppendLine("line");
    EXPECT_EQ(Form_Log->Text(), "a\r\nb\r\nc\r\nd\r\ne\r\nline\r\n");
    EXPECT_EQ(Form_Log->Log_View->toPlainText().toStdString(), "a\nb\nc\nd\ne\nline\n");
    // Save As... (the view's context menu) writes the text as it is, CR LF line ends included.
    Dialogs::SetSaveFileHandler([this](const std::string&) { return (root / "log.txt").string(); });
    Form_Log->SaveAs();
    Dialogs::SetSaveFileHandler({});
    EXPECT_EQ(ReadFile(root / "log.txt"), Form_Log->Text());
    // A reply is taken as text up to its first NUL byte.
    Form_Log->show();
    const std::string reply("x\0y##>\r\n", 8);
    win->Link->Channel().Receive(reinterpret_cast<const std::uint8_t*>(reply.data()), 8);
    EXPECT_TRUE(Form_Log->Text().ends_with("line\r\nx"));
}

TEST_F(AuxWindowsTest, FullLogSaysSoAndTheCommandStillEnds)
{
    for (int i = 0; i < 12; ++i)
        WriteFile(phone / "images" / ("i" + std::to_string(i) + ".png"), "png");
    Online();
    Form_Log->Capacity = 500;   // the first block (8 entries) fits, the second (4 more) does not
    Form_Log->show();
    OpenPhoneFolder("/images");
    EXPECT_EQ(PhoneCaptions().size(), 12u);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Text exceeds memo capacity"});
    EXPECT_LE(Form_Log->Text().size(), 500u);
    EXPECT_EQ(Count(Form_Log->Text(), "+FSDL:"), 8);   // the text that fitted stays
    EXPECT_TRUE(Form_Log->Text().ends_with("#OK#\r\n\r\nOK\r\n"));   // the short final reply still fits
    EXPECT_EQ(win->PanelText(2).toStdString(), "Online");

    // A write's block lines meet the same limit without stopping the write.
    dialogs->Clear();
    Form_Log->Capacity = static_cast<qsizetype>(Form_Log->Text().size()) + 10;
    EXPECT_TRUE(Write("w.bin", PatternBytes(600, 1)).Ok());
    EXPECT_TRUE(std::filesystem::exists(phone / "images" / "w.bin"));
    ASSERT_FALSE(Texts().empty());
    EXPECT_EQ(Texts().front(), "Text exceeds memo capacity");
}

struct LogMenuStep {
    const char* what;
    bool checked;
    bool showing;
};

TEST_F(AuxWindowsTest, LogMenuEntryTogglesTheWindow)
{
    CreateWindow();
    const LogMenuStep steps[] = {
        {"click", true, true},
        {"close button", true, false},
        {"click", false, false},
        {"click", true, true},
        {"click", false, false},
    };
    for (const LogMenuStep& s : steps) {
        SCOPED_TRACE(s.what);
        if (std::string(s.what) == "click")
            win->miLog->trigger();
        else
            Form_Log->close();
        EXPECT_EQ(win->miLog->isChecked(), s.checked);
        EXPECT_EQ(Form_Log->isVisible(), s.showing);
        EXPECT_EQ(Form_Log->Showing(), s.showing);
    }
}

} // namespace
