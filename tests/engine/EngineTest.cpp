// The command engine against the virtual handset on a pseudo-terminal.
#include <algorithm>

#include <QThread>
#include <QTimer>

#include "protocol/Reply.h"
#include "serial/CPDrv.h"
#include "support/WindowFixture.h"

using namespace testsupport;

namespace {

class EngineTest : public WindowTest {};

// Ends every wait of the window after `ms`, so that a wait that could never end fails the test
// instead of hanging it.
class WaitBreaker {
public:
    WaitBreaker(TForm_Main* win, int ms)
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, win, [win] { win->Link->Closing = true; });
        timer_.start(ms);
    }

private:
    QTimer timer_;
};

int Count(const std::string& haystack, const std::string& needle)
{
    int n = 0;
    for (std::size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1))
        ++n;
    return n;
}

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
    EXPECT_EQ(PhoneCaptions().size(), 3u);
    EXPECT_TRUE(Texts().empty());
}

TEST_F(EngineTest, RepliesInPiecesAreHandledOnceAndBlocksAcknowledged)
{
    for (int i = 0; i < 6; ++i)
        WriteFile(phone / ("n" + std::to_string(i) + ".bin"), "x");
    // Every reply arrives in pieces of 7 bytes, each seen by its own receive event.
    options.SplitWrites = 7;
    options.EntriesPerBlock = 2;
    watchdogMs = 4000;
    StartOnline();
    EXPECT_EQ(PhoneCaptions().size(), 6u);
    // Three blocks, each acknowledged with exactly "##>\r\n".
    EXPECT_EQ(Count(handset->Received(), "##>\r\n"), 3);
    EXPECT_TRUE(Texts().empty());
}

TEST_F(EngineTest, RepliesAreTakenAsTheyArriveWithoutAPollingTick)
{
    // The driver's timer would not tick within the test, and the watchdog would end a command
    // that waited for it: every block, acknowledgement and final reply goes on arrival.
    for (int i = 0; i < 12; ++i)
        WriteFile(phone / ("n" + std::to_string(i) + ".bin"), PatternBytes(5000, static_cast<unsigned>(i)));
    options.EntriesPerBlock = 2;
    StartHandset();
    WriteSettings();
    CreateWindow(false);
    win->Link->CommPortDriver1->SetPollingDelay(60000);
    win->show();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(PhoneCaptions().size(), 12u);
    SelectPhone({"n3.bin"});
    win->Action_DownloadExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(SameBytes(ReadFile(pc / "n3.bin"), PatternBytes(5000, 3)));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(EngineTest, CmeErrorAbortsAndResetsTheHandsetButNeverResetsAFailedReset)
{
    options.CmeErrorOn = "AT+FSDL";
    StartHandset();
    WriteSettings();
    CreateWindow();
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty() && win->Link->ReplyDone; }));
    EXPECT_EQ(Texts().front(), "Command error.\r\nCommand: AT+FSDL=\"/\"\r\n");
    ASSERT_TRUE(WaitUntil([this] { return win->Link->ReplyDone && handset->Commands().size() >= 5; }));
    EXPECT_EQ(handset->Commands().back(), "ATZ\r");
    EXPECT_EQ(win->PanelText(2).toStdString(), "Online");

    // A handset that refuses the reset itself: one message, and the link is given up.
    const WaitBreaker breaker(win, 3000);
    handset->Update([](HandsetOptions& o) { o.CmeErrorOn = "ATZ"; });
    handset->ClearLog();
    dialogs->Clear();
    win->Action_ReconnectExecute();
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty() && win->Link->ReplyDone; }));
    EXPECT_EQ(Texts(), std::vector<std::string>{"Command error.\r\nCommand: ATZ\r"});
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{"ATZ\r"});
    EXPECT_TRUE(win->Link->ReplyDone);
    EXPECT_FALSE(win->Link->PhoneOnline);
    EXPECT_FALSE(win->Link->CommPortDriver1->Connected());
    EXPECT_EQ(win->PanelText(2).toStdString(), "Offline");
    EXPECT_FALSE(win->Link->Closing);
}

TEST_F(EngineTest, WrongEchoIsRefused)
{
    options.WrongEcho = true;
    StartHandset();
    WriteSettings();
    CreateWindow();
    ASSERT_TRUE(WaitUntil([this] { return Texts().size() >= 1 && win->Link->ReplyDone; }));
    EXPECT_EQ(Texts().front(), "Respond incorrect.\r\nCommand: ATZ\r");
    EXPECT_EQ(win->Link->CurrentCommand, pcNone);
}

TEST_F(EngineTest, EchoOffFailsEveryFirstReply)
{
    options.Echo = false;
    StartHandset();
    WriteSettings();
    CreateWindow();
    ASSERT_TRUE(WaitUntil([this] { return Texts().size() >= 3 && win->Link->ReplyDone; }));
    EXPECT_EQ(Texts()[0], "Respond incorrect.\r\nCommand: ATZ\r");
    EXPECT_EQ(Texts()[1], "Respond incorrect.\r\nCommand: AT+CGMM\r");
    EXPECT_EQ(Texts()[2], "Respond incorrect.\r\nCommand: AT+FSIF\r");
}

TEST_F(EngineTest, SilentHandsetClosesThePortAfterTheRealWatchdogInterval)
{
    options.SilentOn = "AT+FSDL";
    watchdogMs = 4000;
    StartHandset();
    WriteSettings();
    CreateWindow();
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty(); }, 9000));
    EXPECT_EQ(Texts().front(), "Phone not respond.\r\nCommand: +FSDL");
    EXPECT_FALSE(win->Link->CommPortDriver1->Connected());
    EXPECT_EQ(win->PanelText(2).toStdString(), "Offline");
    EXPECT_FALSE(win->Link->PhoneOnline);
    EXPECT_TRUE(win->Link->ReplyDone);
    EXPECT_EQ(win->Link->TempBufPos, 0);
    // Later senders do nothing.
    const std::size_t before = handset->Commands().size();
    win->Link->SendATZ();
    Pump(100);
    EXPECT_EQ(handset->Commands().size(), before);
    EXPECT_TRUE(win->Link->ReplyDone);
}

TEST_F(EngineTest, SilenceAtTheResetNamesATZ)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    options.SilentAfter = 0;
    StartHandset();
    WriteSettings();
    CreateWindow();
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty(); }));
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: ATZ"});
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{"ATZ\r"});
}

TEST_F(EngineTest, ReceiveBufferTakesExactly4096Bytes)
{
    StartOnline();
    const std::string chunk(2048, 'x');
    win->Link->CommPortDriver1ReceiveData(reinterpret_cast<const std::uint8_t*>(chunk.data()), 2048);
    win->Link->CommPortDriver1ReceiveData(reinterpret_cast<const std::uint8_t*>(chunk.data()), 2048);
    EXPECT_EQ(win->Link->TempBufPos, 4096);
    EXPECT_TRUE(Texts().empty());
    win->Link->CommPortDriver1ReceiveData(reinterpret_cast<const std::uint8_t*>(chunk.data()), 1);
    EXPECT_EQ(win->Link->TempBufPos, 4096);
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(Texts()[0], "Error: (TempBufPos+DataSize) > maxTempBuf.");
    const std::string big(4097, 'y');
    win->Link->CommPortDriver1ReceiveData(reinterpret_cast<const std::uint8_t*>(big.data()), 4097);
    EXPECT_EQ(Texts().back(), "Error: DataSize > maxTempBuf.");
    EXPECT_EQ(win->Link->TempBufPos, 4096);
}

TEST_F(EngineTest, WatchdogEmptiesAFullBuffer)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    StartOnline();
    const std::string chunk(4096, 'x');
    win->Link->CommPortDriver1ReceiveData(reinterpret_cast<const std::uint8_t*>(chunk.data()), 4096);
    handset->Update([](HandsetOptions& o) { o.SilentOn = "AT+FSDL"; });
    win->ShowPhoneDir("/java");
    ASSERT_TRUE(WaitUntil([this] { return Texts().size() >= 1 && win->Link->ReplyDone; }));
    EXPECT_EQ(Texts().back(), "Phone not respond.\r\nCommand: +FSDL");
    EXPECT_EQ(win->Link->TempBufPos, 0);
    EXPECT_EQ(win->Link->ReplyClass, rcEmpty);
}

TEST_F(EngineTest, LineStatusCheckWithoutModemLinesFailsEverySend)
{
    StartHandset();
    WriteSettings({}, true);
    CreateWindow();
    ASSERT_TRUE(WaitUntil([this] { return Texts().size() >= 3; }));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Send Error.", "Send Error.", "Send Error."}));
    EXPECT_TRUE(win->Link->ReplyDone);
    EXPECT_EQ(win->Link->CurrentCommand, pcNone);
    EXPECT_TRUE(win->Link->LastCommand.empty());
    EXPECT_TRUE(handset->Commands().empty());
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
    const WaitBreaker breaker(win, 5000);

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
