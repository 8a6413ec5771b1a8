// The command engine seen from the window, against the virtual handset on a pseudo-terminal (the
// engine on its own: tests/link).
#include <algorithm>
#include <optional>

#include <QThread>
#include <QTimer>

#include "phone/Channel.h"
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
// handset expects, an unsolicited line is only logged, and none of them is left gathered in
// front of the next reply.
TEST_F(EngineTest, WhatArrivesWhileIdleLeavesNothingBehindNorSpoilsTheNextReply)
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
        EXPECT_TRUE(win->Link->Channel().Idle()) << stray;
        EXPECT_EQ(win->Link->Channel().Pending(), 0) << stray;
    }
    handset->Update([](HandsetOptions& o) { o.UnsolicitedAfterFinal = false; });
    OpenPhoneFolder("/user/sounds");
    EXPECT_EQ(Texts(), std::vector<std::string>{});
    EXPECT_EQ(win->PanelText(2).toStdString(), "Online");
}

// Reply handling sends nothing and times nothing out: a Reconnect chosen while a read's header is
// handled ends the read at once, but its reset goes out only once the handling has returned; a
// watchdog already due when a write's first prompt comes fires once, after the prompt has been
// answered.
TEST_F(EngineTest, NothingIsSentOrTimedOutInsideTheHandlingOfAReply)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    StartOnline();
    auto deliver = [this](const std::string& bytes) {
        win->Link->Channel().Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()));
    };
    std::optional<LinkResult> result;
    auto keep = [&result](LinkResult r) { result = std::move(r); };

    handset->Update([](HandsetOptions& o) { o.SilentOn = "+FSFR"; });
    TFileInfo entry;
    entry.Name = "a.bin";
    win->Link->Fetch(win->Link->PhoneDir(), entry, (pc / "a.bin").string()).Then(keep);
    ASSERT_TRUE(WaitUntil([this] { return handset->Commands().back() == CommandFSFR("a.bin"); }));
    handset->ClearLog();
    bool sentInside = false;
    QObject::connect(win->Link, &TPhoneLink::TransferShown, win, [this, &sentInside] {
        win->Action_ReconnectExecute();
        sentInside = win->Link->Channel().Current() != nullptr;
    }, Qt::SingleShotConnection);
    deliver(CommandFSFR("a.bin") + "\r\n+FSFR: 0,\"a.bin\",0,0,0,10,0,0,\"d\",0,1\r\n#OK#\r\n");
    ASSERT_TRUE(result.has_value());   // ended inside the handling, as the port closed
    EXPECT_EQ(result->Error, LinkError::Offline);
    EXPECT_FALSE(sentInside);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(win->PanelText(2).toStdString(), "Online");
    const std::vector<std::string> commands = handset->Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), "ATZ\r");
    EXPECT_FALSE(std::filesystem::exists(pc / "a.bin"));
    EXPECT_EQ(Texts(), std::vector<std::string>{});

    handset->Update([](HandsetOptions& o) { o.SilentOn = "+FSFW"; });
    result.reset();
    win->Link->Write(win->Link->PhoneDir(), "u.bin", 0, std::vector<std::uint8_t>(3, 'u')).Then(keep);
    ASSERT_TRUE(WaitUntil([this] { return handset->Commands().back().starts_with("AT+FSFW=-1,\"u.bin\""); }));
    const std::string command = handset->Commands().back();
    QThread::msleep(static_cast<unsigned long>(watchdogMs) + 100);   // the watchdog is due
    deliver(command + "\r\n##>\r\n");
    EXPECT_TRUE(Texts().empty());
    EXPECT_NE(win->Link->Channel().Current(), nullptr);   // still waiting for the handset
    ASSERT_TRUE(WaitUntil([&result] { return result.has_value(); }));
    Pump(watchdogMs + 300);
    EXPECT_EQ(result->Error, LinkError::Silence);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFW"});
}

} // namespace
