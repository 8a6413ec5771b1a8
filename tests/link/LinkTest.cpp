// The command engine and the start-up on their own: sending, the echo check, the receive buffer,
// the watchdog. A QCoreApplication only: no widgets anywhere in this program.
#include <functional>
#include <optional>
#include <span>
#include <utility>

#include <QCoreApplication>

#include "LinkFixture.h"
#include "phone/TransferMeter.h"
#include "protocol/Reply.h"

namespace {

using namespace linktest;

TEST_F(LinkTest, OperationsWithoutANameSendNothingAndDoNotWait)
{
    StartOnline();
    handset->ClearLog();
    const auto listing = Start(link.List(""));
    const auto read = Start(link.Fetch("/", TFileInfo{}, (pc / "x").string()));
    const auto erase = Start(link.Erase("/", ""));
    EXPECT_TRUE(*listing && *read && *erase);
    EXPECT_TRUE(link.Channel().Idle());
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{});
    EXPECT_TRUE(Texts().empty());
}

// The channel's queue on its own: commands go out one at a time in the order they came, each
// completes with its own result, and one withdrawn while queued completes Cancelled unsent.
TEST_F(LinkTest, QueuedCommandsCompleteInOrderAndAWithdrawnOneIsNeverSent)
{
    StartOnline();
    handset->ClearLog();
    auto done = std::make_shared<std::vector<std::pair<TPhoneCommand, LinkError>>>();
    std::vector<std::shared_ptr<TCommand>> queued;
    for (const TPhoneCommand kind : {pcATZ, pcCGMM, pcFSIF}) {
        queued.push_back(std::make_shared<TCommand>());
        queued.back()->Kind = kind;
        queued.back()->Text = kind == pcATZ ? CommandATZ() : kind == pcCGMM ? CommandCGMM() : CommandFSIF();
        queued.back()->OnDone = [done, kind](const LinkResult& r, std::span<const std::uint8_t>) { done->emplace_back(kind, r.Error); };
        link.Channel().SendCommand(queued.back());
    }
    EXPECT_EQ(link.Channel().Current(), queued[0].get());
    EXPECT_FALSE(link.Channel().Withdraw(queued[0]));   // on the line already: it runs to its end
    EXPECT_TRUE(link.Channel().Withdraw(queued[1]));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(*done, (std::vector<std::pair<TPhoneCommand, LinkError>>{
                         {pcCGMM, LinkError::Cancelled}, {pcATZ, LinkError::None}, {pcFSIF, LinkError::None}}));
    EXPECT_EQ(handset->Commands(), (std::vector<std::string>{CommandATZ(), CommandFSIF()}));
}

// Two clients with requests under way at once: each gets the records of the folder it asked
// for, and a read in a folder other than the one listed last lists that folder first.
TEST_F(LinkTest, RequestsOfTwoClientsInterleaveWithoutMixingReplies)
{
    const std::string jar = PatternBytes(3000, 7);
    WriteFile(phone / "java" / "app.jar", jar);
    WriteFile(phone / "app.jar", "the other one");
    StartOnline();
    const auto inJava = Start(link.List("/java"));
    const auto inRoot = Start(link.List("/"));
    ASSERT_TRUE(WaitUntil([&] { return *inJava && *inRoot; }));
    ASSERT_EQ((*inJava)->Records.size(), 1u);
    EXPECT_EQ((*inJava)->Records[0].Size, 3000);
    std::vector<std::int32_t> rootJar;
    for (const TFileInfo& r : (*inRoot)->Records)
        if (r.Name == "app.jar")
            rootJar.push_back(r.Size);
    EXPECT_EQ(rootJar, std::vector<std::int32_t>{13});
    EXPECT_EQ(link.PhoneDir(), "/");

    // "/" was listed last; a listing of "/" is asked for while the read waits for its folder.
    handset->ClearLog();
    const auto read = Start(link.Fetch("/java", (*inJava)->Records[0], (pc / "app.jar").string()));
    const auto listed = Start(link.List("/"));
    ASSERT_TRUE(WaitUntil([&] { return *read && *listed; }));
    EXPECT_TRUE((*read)->Ok()) << ResultText(**read);
    EXPECT_TRUE((*listed)->Result.Ok());
    EXPECT_TRUE(SameBytes(ReadFile(pc / "app.jar"), jar)) << ::testing::PrintToString(handset->Commands());
    EXPECT_EQ(handset->Commands().front(), CommandFSDL("/java"));
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
    EXPECT_EQ(link.PhoneRecords().size(), 6u);
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
    link.Channel().Driver().SetPollingDelay(60000);
    StartOnline();
    EXPECT_EQ(link.PhoneRecords().size(), 12u);
    ASSERT_NE(Record("n3.bin"), nullptr);
    const std::vector<LinkResult> outcomes = WaitFor(link.Download({*Record("n3.bin")}, pc.string()));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].Ok());
    EXPECT_TRUE(SameBytes(ReadFile(pc / "n3.bin"), PatternBytes(5000, 3)));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(LinkTest, CmeErrorAbortsAndResetsTheHandsetButNeverResetsAFailedReset)
{
    options.CmeErrorOn = "AT+FSDL";
    StartHandset();
    Connect();
    ASSERT_TRUE(WaitUntil([this] { return link.Channel().Idle() && handset->Commands().size() >= 5; }));
    EXPECT_EQ(Texts().front(), "Command error.\r\nCommand: AT+FSDL=\"/\"\r\n");
    EXPECT_EQ(results.front().Error, LinkError::Refused);
    EXPECT_EQ(handset->Commands().back(), "ATZ\r");
    EXPECT_TRUE(link.Online());

    // A handset that refuses the reset itself: one message, and the link is given up.
    handset->Update([](HandsetOptions& o) { o.CmeErrorOn = "ATZ"; });
    handset->ClearLog();
    prompts.Clear();
    bool wentOffline = false;
    QObject::connect(&link, &TPhoneLink::WentOffline, [&wentOffline] { wentOffline = true; });
    EXPECT_EQ(Connect().Error, LinkError::Offline);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Command error.\r\nCommand: ATZ\r"});
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{"ATZ\r"});
    EXPECT_TRUE(link.Channel().Idle());
    EXPECT_FALSE(link.Online());
    EXPECT_TRUE(wentOffline);
    EXPECT_FALSE(link.Channel().Driver().Connected());
    EXPECT_FALSE(link.Closing());
}

// The start-up exchange failing: each fault gives its messages and its result, and the exchange
// ends with no command outstanding and nothing sent after it.
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
        LinkError result = LinkError::Offline;
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
             + " is not there; plug the phone in, or choose its port under Setup > COM Port...",
         LinkError::PortOpenFailed},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.what);
        f.set(options);
        StartHandset();
        prompts.Clear();
        EXPECT_EQ(Connect(f.checkLineStatus, f.port).Error, f.result);
        EXPECT_EQ(Texts(), f.texts);
        EXPECT_TRUE(link.Channel().Idle());
        EXPECT_FALSE(link.Online());
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
    EXPECT_FALSE(link.Channel().Driver().Connected());
    EXPECT_FALSE(link.Online());
    EXPECT_TRUE(link.Channel().Idle());
    EXPECT_EQ(link.Channel().Pending(), 0);
    // Later operations send nothing.
    const std::size_t before = handset->Commands().size();
    EXPECT_EQ(WaitFor(link.List("/java")).Result.Error, LinkError::Offline);
    EXPECT_EQ(handset->Commands().size(), before);
    EXPECT_TRUE(link.Channel().Idle());
}

// A delivery the buffer cannot take ends the command under way and empties the buffer; a device
// that keeps streaming is told of once per command.
TEST_F(LinkTest, ReceiveBufferTakesExactly4096BytesAndAnOverflowEndsTheCommandOnce)
{
    StartOnline();
    const std::string chunk(2048, 'x');
    Deliver(chunk);
    Deliver(chunk);
    EXPECT_EQ(link.Channel().Pending(), 4096);
    EXPECT_TRUE(Texts().empty());
    Deliver(chunk.substr(0, 1));
    EXPECT_EQ(link.Channel().Pending(), 0);
    Deliver(std::string(4097, 'y'));
    EXPECT_EQ(Texts(), std::vector<std::string>{"Error: (TempBufPos+DataSize) > maxTempBuf."});

    handset->Update([](HandsetOptions& o) { o.SilentOn = "AT+FSDL"; });
    const auto listed = Start(link.ListFolder("/java"));
    for (int i = 0; i < 3; ++i)
        Deliver(std::string(4097, 'y'));
    EXPECT_EQ(listed->value_or(LinkResult{}).Error, LinkError::Overflow);
    EXPECT_EQ(Texts().size(), 2u);
    EXPECT_EQ(Texts().back(), "Error: DataSize > maxTempBuf.");
    EXPECT_TRUE(link.Channel().Idle());
    EXPECT_EQ(link.Channel().Pending(), 0);

    // The handset has taken the command it leaves unanswered before it answers again.
    ASSERT_TRUE(WaitUntil([this] { return handset->Commands().back() == CommandFSDL("/java"); }));
    handset->Update([](HandsetOptions& o) { o.SilentOn.clear(); });
    EXPECT_TRUE(WaitFor(link.ListFolder("/")).Ok());
    EXPECT_EQ(Texts().size(), 2u);
}

TEST_F(LinkTest, WatchdogEmptiesAFullBuffer)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    StartOnline();
    Deliver(std::string(4096, 'x'));
    handset->Update([](HandsetOptions& o) { o.SilentOn = "AT+FSDL"; });
    EXPECT_EQ(WaitFor(link.ListFolder("/java")).Error, LinkError::Silence);
    EXPECT_EQ(Texts().back(), "Phone not respond.\r\nCommand: +FSDL");
    EXPECT_EQ(link.Channel().Pending(), 0);
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
