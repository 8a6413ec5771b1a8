// The link without a window: TPhoneLink against the virtual handset on a pseudo-terminal, its
// prompts recorded. A QCoreApplication only: no widgets anywhere in this program.
#include <filesystem>
#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "support/Wait.h"
#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "phone/TransferMeter.h"

namespace {

using testsupport::WaitUntil;

class LinkTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    std::unique_ptr<VirtualHandset> handset;
    Prompts::Recorder prompts;
    TPhoneLink link;

    void SetUp() override
    {
        HandsetOptions options;
        options.Root = tmp.path().toStdString();
        handset = std::make_unique<VirtualHandset>(options);
        std::string error;
        ASSERT_TRUE(handset->Open(&error)) << error;
        handset->Start();
        link.SetWatchdogIntervalForTests(600);
        link.Reconnect(handset->SlavePath(), 115200, false, hfRTSCTS);
        ASSERT_TRUE(WaitUntil([this] { return link.ReplyDone && link.PhoneOnline; }));
    }

    void TearDown() override
    {
        link.Closing = true;
        handset->Stop();
    }
};

TEST_F(LinkTest, SendersWithoutANameSendNothingAndDoNotWait)
{
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
    EXPECT_TRUE(prompts.Texts().empty());
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
