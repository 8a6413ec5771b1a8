// The command engine and the start-up on their own: sending, the echo check, the receive buffer,
// the watchdog. A QCoreApplication only: no widgets anywhere in this program.
#include <functional>
#include <optional>

#include <QCoreApplication>

#include "LinkFixture.h"
#include "phone/TransferMeter.h"
#include "protocol/Reply.h"

namespace {

using namespace linktest;

TEST_F(LinkTest, SendersWithoutANameSendNothingAndDoNotWait)
{
    StartOnline();
    const std::size_t before = handset->Commands().size();
    link.CurrentFile.Clear();
    link.SendFSFR();
    link.SendFSFE();
    link.PhoneDir.clear();
    link.SendFSDL();
    EXPECT_TRUE(link.ReplyDone);
    // Nothing goes out: a command would come back before this reply.
    link.SendFSIF();
    ASSERT_TRUE(WaitUntil([this] { return link.ReplyDone; }));
    EXPECT_EQ(handset->Commands().size(), before + 1);
    // An unnamed write still goes out as the bare command.
    link.UploadFile.Clear();
    link.SendFSFW();
    ASSERT_TRUE(WaitUntil([this, before] { return handset->Commands().size() > before + 1; }));
    EXPECT_EQ(handset->Commands().back(), "AT+FSFW=\r\n");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(LinkTest, RepliesInPiecesAreHandledOnceAndBlocksAcknowledged)
{
    for (int i = 0; i < 6; ++i)
        WriteFile(phone / ("n" + std::to_string(i) + ".bin"), "x");
    // Every reply arrives in pieces of 7 bytes, each seen by its own receive event.
    options.SplitWrites = 7;
    options.EntriesPerBlock = 2;
    StartOnline();
    EXPECT_EQ(link.PhoneRecords.size(), 6u);
    // Three blocks, each acknowledged with exactly "##>\r\n".
    EXPECT_EQ(Count(handset->Received(), "##>\r\n"), 3);
    EXPECT_TRUE(Texts().empty());
}

TEST_F(LinkTest, RepliesAreTakenAsTheyArriveWithoutAPollingTick)
{
    // The driver's timer would not tick within the test, and the watchdog would end a command
    // that waited for it: every block, acknowledgement and final reply goes on arrival.
    for (int i = 0; i < 12; ++i)
        WriteFile(phone / ("n" + std::to_string(i) + ".bin"), PatternBytes(5000, static_cast<unsigned>(i)));
    options.EntriesPerBlock = 2;
    link.CommPortDriver1->SetPollingDelay(60000);
    StartOnline();
    EXPECT_EQ(link.PhoneRecords.size(), 12u);
    ASSERT_NE(Record("n3.bin"), nullptr);
    std::vector<TPhoneLink::FetchOutcome> outcomes;
    link.DownloadFiles({*Record("n3.bin")}, pc.string(), &outcomes);
    EXPECT_EQ(outcomes, std::vector<TPhoneLink::FetchOutcome>{TPhoneLink::FetchOutcome::Saved});
    EXPECT_TRUE(SameBytes(ReadFile(pc / "n3.bin"), PatternBytes(5000, 3)));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(LinkTest, CmeErrorAbortsAndResetsTheHandsetButNeverResetsAFailedReset)
{
    options.CmeErrorOn = "AT+FSDL";
    StartHandset();
    Connect();
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty() && link.ReplyDone; }));
    EXPECT_EQ(Texts().front(), "Command error.\r\nCommand: AT+FSDL=\"/\"\r\n");
    ASSERT_TRUE(WaitUntil([this] { return link.ReplyDone && handset->Commands().size() >= 5; }));
    EXPECT_EQ(handset->Commands().back(), "ATZ\r");
    EXPECT_TRUE(link.PhoneOnline);

    // A handset that refuses the reset itself: one message, and the link is given up.
    const WaitBreaker breaker(link.Closing, 3000);
    handset->Update([](HandsetOptions& o) { o.CmeErrorOn = "ATZ"; });
    handset->ClearLog();
    prompts.Clear();
    bool wentOffline = false;
    QObject::connect(&link, &TPhoneLink::WentOffline, [&wentOffline] { wentOffline = true; });
    Connect();
    Pump(300);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Command error.\r\nCommand: ATZ\r"});
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{"ATZ\r"});
    EXPECT_TRUE(link.ReplyDone);
    EXPECT_FALSE(link.PhoneOnline);
    EXPECT_TRUE(wentOffline);
    EXPECT_FALSE(link.CommPortDriver1->Connected());
    EXPECT_FALSE(link.Closing);
}

// The start-up exchange failing: each fault gives its messages, and the exchange ends with no
// command outstanding and nothing sent after it.
TEST_F(LinkTest, StartUpFaults)
{
    watchdogMs = 600;   // two rows leave a command unanswered
    const std::string noPort = (root / "no-such-port").string();
    const std::vector<std::string> noEcho = {"Respond incorrect.\r\nCommand: ATZ\r", "Respond incorrect.\r\nCommand: AT+CGMM\r",
                                             "Respond incorrect.\r\nCommand: AT+FSIF\r"};
    const struct {
        const char* what;
        std::function<void(HandsetOptions&)> set;
        std::string port;                 // empty: the handset's
        bool checkLineStatus;
        std::vector<std::string> texts;
        std::optional<std::vector<std::string>> sent;   // what reached the handset, when checked
        std::string details;              // of the first message, when checked
    } faults[] = {
        {"wrong echo", [](HandsetOptions& o) { o.WrongEcho = true; }, {}, false, noEcho, std::nullopt, {}},
        {"no echo", [](HandsetOptions& o) { o.Echo = false; }, {}, false, noEcho, std::nullopt, {}},
        {"silent at the reset", [](HandsetOptions& o) { o.SilentAfter = 0; }, {}, false,
         {"Phone not respond.\r\nCommand: ATZ"}, std::vector<std::string>{"ATZ\r"}, {}},
        // Silent after the reset: the file system is never asked about.
        {"silent at the model", [](HandsetOptions& o) { o.SilentOn = "AT+CGMM"; }, {}, false,
         {"Phone not respond.\r\nCommand: +CGMM"}, std::vector<std::string>{"ATZ\r", "AT+CGMM\r"}, {}},
        // A line-status check on a port without modem lines fails every send.
        {"no modem lines", [](HandsetOptions&) {}, {}, true, {"Send Error.", "Send Error.", "Send Error."},
         std::vector<std::string>{}, {}},
        {"no such port", [](HandsetOptions&) {}, noPort, false, {"Error open port."}, std::vector<std::string>{},
         "cannot open " + noPort + ": No such file or directory\r\n" + noPort
             + " is not there; plug the phone in, or choose its port under Setup > COM Port..."},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.what);
        f.set(options);
        StartHandset();
        prompts.Clear();
        Connect(f.checkLineStatus, f.port);
        ASSERT_TRUE(WaitUntil([&] { return Texts().size() >= f.texts.size() && link.ReplyDone; }));
        EXPECT_EQ(Texts(), f.texts);
        EXPECT_EQ(link.CurrentCommand, pcNone);
        EXPECT_TRUE(link.LastCommand.empty());
        EXPECT_FALSE(link.PhoneOnline);
        if (f.sent) {
            EXPECT_EQ(handset->Commands(), *f.sent);
        }
        if (!f.details.empty()) {
            EXPECT_EQ(prompts.Shown().at(0).details, f.details);
        }
        handset->Stop();
        options = HandsetOptions{};
        options.Root = phone.string();
    }
}

TEST_F(LinkTest, SilentHandsetClosesThePortAfterTheRealWatchdogInterval)
{
    options.SilentOn = "AT+FSDL";
    StartHandset();
    Connect();
    ASSERT_TRUE(WaitUntil([this] { return !Texts().empty(); }, 9000));
    EXPECT_EQ(Texts().front(), "Phone not respond.\r\nCommand: +FSDL");
    EXPECT_FALSE(link.CommPortDriver1->Connected());
    EXPECT_FALSE(link.PhoneOnline);
    EXPECT_TRUE(link.ReplyDone);
    EXPECT_EQ(link.TempBufPos, 0);
    // Later senders do nothing.
    const std::size_t before = handset->Commands().size();
    link.SendATZ();
    Pump(100);
    EXPECT_EQ(handset->Commands().size(), before);
    EXPECT_TRUE(link.ReplyDone);
}

// A delivery the buffer cannot take ends the command under way and empties the buffer; a device
// that keeps streaming is told of once per command.
TEST_F(LinkTest, ReceiveBufferTakesExactly4096BytesAndAnOverflowEndsTheCommandOnce)
{
    StartOnline();
    const std::string chunk(2048, 'x');
    Deliver(chunk);
    Deliver(chunk);
    EXPECT_EQ(link.TempBufPos, 4096);
    EXPECT_TRUE(Texts().empty());
    Deliver(chunk.substr(0, 1));
    EXPECT_EQ(link.TempBufPos, 0);
    Deliver(std::string(4097, 'y'));
    EXPECT_EQ(Texts(), std::vector<std::string>{"Error: (TempBufPos+DataSize) > maxTempBuf."});

    handset->Update([](HandsetOptions& o) { o.SilentOn = "AT+FSDL"; });
    link.ListFolder("/java");
    for (int i = 0; i < 3; ++i)
        Deliver(std::string(4097, 'y'));
    EXPECT_EQ(Texts().size(), 2u);
    EXPECT_EQ(Texts().back(), "Error: DataSize > maxTempBuf.");
    EXPECT_TRUE(link.ReplyDone);
    EXPECT_EQ(link.CurrentCommand, pcNone);
    EXPECT_FALSE(link.WDTimer->isActive());
    EXPECT_EQ(link.TempBufPos, 0);

    // The handset has taken the command it leaves unanswered before it answers again.
    ASSERT_TRUE(WaitUntil([this] { return handset->Commands().back() == CommandFSDL("/java"); }));
    handset->Update([](HandsetOptions& o) { o.SilentOn.clear(); });
    link.ListFolder("/");
    ASSERT_TRUE(WaitCommandEnd());
    EXPECT_EQ(link.LastFinished, pcFSDL);
    EXPECT_EQ(Texts().size(), 2u);
}

TEST_F(LinkTest, WatchdogEmptiesAFullBuffer)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    StartOnline();
    Deliver(std::string(4096, 'x'));
    handset->Update([](HandsetOptions& o) { o.SilentOn = "AT+FSDL"; });
    link.ListFolder("/java");
    ASSERT_TRUE(WaitUntil([this] { return Texts().size() >= 1 && link.ReplyDone; }));
    EXPECT_EQ(Texts().back(), "Phone not respond.\r\nCommand: +FSDL");
    EXPECT_EQ(link.TempBufPos, 0);
    EXPECT_EQ(link.ReplyClass, rcEmpty);
}

TEST(TransferMeterTest, RateAndTimeLeftFollowTheRecentPast)
{
    TransferMeter meter;
    meter.Start(100 * 1024, 0);
    EXPECT_EQ(FormatTransferStatus(meter), "0 B of 100.0 KB");   // no rate before a second sample
    meter.Update(10 * 1024, 1000);
    EXPECT_EQ(FormatTransferStatus(meter), "10.0 KB of 100.0 KB, 10.0 KB/s, 0:09 left");
    // A link that slows down: after the window has passed, only the slow part counts.
    meter.Update(20 * 1024, 2000);
    for (int t = 3; t <= 8; ++t)
        meter.Update((20 + (t - 2)) * 1024, t * 1000);
    EXPECT_EQ(FormatRate(meter.Rate()), "1.0 KB/s");
    EXPECT_EQ(meter.SecondsLeft(), 74);
    // A clock that goes back stands still; a stall keeps the last rate known.
    meter.Update(26 * 1024, 7000);
    EXPECT_GT(meter.Rate(), 0);
    EXPECT_EQ(FormatTimeLeft(3 * 3600 + 62), "3:01:02 left");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(5ull << 30), "5.0 GB");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
