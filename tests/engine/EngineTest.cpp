// The command engine seen from the window, against the virtual handset on a pseudo-terminal (the
// engine on its own: tests/link).
#include <algorithm>

#include <QThread>
#include <QTimer>

#include "protocol/Reply.h"
#include "serial/CPDrv.h"
#include "support/WindowFixture.h"

using namespace testsupport;

namespace {

class EngineTest : public WindowTest {};

TEST_F(EngineTest, StartUpSendsTheFourCommandsAndGoesOnline)
{
    for (int i = 0; i < 3; ++i)
        WriteFile(phone / ("f" + std::to_string(i) + ".txt"), "abc");
    StartOnline();
    const std::vector<std::string> expected = {"ATZ\r", "AT+CGMM\r", "AT+FSIF\r", "AT+FSDL=\"/\"\r\n"};
    std::vector<std::string> commands = handset->Commands();
    ASSERT_GE(commands.size(), expected.size());
    commands.resize(expected.size());
    EXPECT_EQ(commands, expected);
    EXPECT_EQ(win->PanelText(0).toStdString(), options.Model);
    EXPECT_EQ(win->PanelText(1).toStdString(), handset->SlavePath());
    EXPECT_EQ(win->PanelText(3).toStdString(), "CTS: Off, DSR: Off");
    // The file system ready, the window lists the root.
    EXPECT_EQ(win->TreeView_PNDir->currentItem(), win->PhoneRootNode());
    EXPECT_EQ(win->PN_FullDirName->text().toStdString(), "/");
    EXPECT_EQ(PhoneCaptions().size(), 3u);
    EXPECT_TRUE(Texts().empty());
}

// What arrives while no command is outstanding: a stray block or prompt is answered as the
// handset expects, an unsolicited line is only logged, and none of them starts the watchdog.
TEST_F(EngineTest, WhatArrivesWhileIdleNeitherStartsTheWatchdogNorSpoilsTheNextReply)
{
    StartOnline();
    Form_Log->show();
    for (int stray = 0; stray < 3; ++stray) {
        handset->Update([stray](HandsetOptions& o) {
            o.UnsolicitedBlock = stray == 0;
            o.UnsolicitedPrompt = stray == 1;
            o.Unsolicited = stray == 2 ? "RING" : "";
            o.UnsolicitedAfterFinal = stray == 2;
        });
        handset->ClearLog();
        win->ShowPhoneDir("/java");
        ASSERT_TRUE(WaitIdle());
        // Until the PC has read what came (and answered a block).
        if (stray == 2) {
            ASSERT_TRUE(WaitUntil([this] { return Form_Log->Text().find("\r\nRING\r\n") != std::string::npos; }));
        }
        ASSERT_TRUE(WaitUntil([this] { return !handset->StrayPending(); }));
        if (stray == 0) {
            ASSERT_TRUE(WaitUntil([this] { return handset->Received() == CommandFSDL("/java") + "##>\r\n"; }));
        }
        EXPECT_FALSE(win->Link->WDTimer->isActive()) << stray;
        EXPECT_EQ(win->Link->TempBufPos, 0) << stray;
    }
    handset->Update([](HandsetOptions& o) { o.UnsolicitedAfterFinal = false; });
    OpenPhoneFolder("/user/sounds");
    EXPECT_EQ(Texts(), std::vector<std::string>{});
    EXPECT_EQ(win->PanelText(2).toStdString(), "Online");
}

// Reply handling runs no command and no timer of its own: a Reconnect chosen while a read's
// header is handled waits for the read, whose watchdog keeps running; a watchdog already due
// when a write's first prompt comes fires once, after the prompt has been answered.
TEST_F(EngineTest, NothingIsSentOrTimedOutInsideTheHandlingOfAReply)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    StartOnline();
    auto deliver = [this](const std::string& bytes) {
        win->Link->CommPortDriver1ReceiveData(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        static_cast<std::uint32_t>(bytes.size()));
    };
    const WaitBreaker breaker(win->Link->Closing, 5000);

    handset->Update([](HandsetOptions& o) { o.SilentOn = "+FSFR"; });
    win->Link->CurrentFile.Name = "a.bin";
    win->Link->SendFSFR();
    ASSERT_TRUE(WaitUntil([this] { return handset->Commands().back() == CommandFSFR("a.bin"); }));
    handset->ClearLog();
    QTimer::singleShot(0, win, [this] { win->Action_ReconnectExecute(); });
    deliver(CommandFSFR("a.bin") + "\r\n+FSFR: 0,\"a.bin\",0,0,0,10,0,0,\"d\",0,1\r\n#OK#\r\n");
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty() && win->Link->ReplyDone; }));
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFR"});
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{});   // the acknowledgement, no ATZ
    EXPECT_EQ(handset->Received(), "##>\r\n");
    EXPECT_FALSE(win->Link->Closing);

    handset->Update([](HandsetOptions& o) { o.SilentOn = "+FSFW"; });
    win->Action_ReconnectExecute();
    ASSERT_TRUE(WaitIdle());
    dialogs->Clear();
    win->Link->UploadFile.Name = "u.bin";
    win->Link->UploadFile.Size = 3;
    win->Link->TransferBuffer = std::make_unique<std::vector<std::uint8_t>>(3, 'u');
    win->Link->BufPos = 0;
    win->Link->SendFSFW();
    QThread::msleep(static_cast<unsigned long>(watchdogMs) + 100);   // the watchdog is due
    deliver(CommandFSFW(win->Link->UploadFile) + "\r\n##>\r\n");
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(win->Link->WDTimer->isActive());
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty(); }));
    Pump(watchdogMs + 300);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFW"});
}

} // namespace
