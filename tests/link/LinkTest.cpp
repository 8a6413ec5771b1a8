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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
