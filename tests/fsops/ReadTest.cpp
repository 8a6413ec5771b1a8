// File reads seen from the window: the saved bytes and what the progress window shows. (The
// checks at the end, damaged blocks and headers: tests/link.)
#include <QLabel>

#include "FsopsFixture.h"

using namespace fsops;

namespace {

class ReadTest : public FsopsTest {};

TEST_F(ReadTest, MultiBlockFileIsSavedByteForByteOverAnOlderOne)
{
    const std::string data = PatternBytes(10000, 7);   // blocks of 2048: five blocks
    WriteFile(phone / "big.bin", data);
    WriteFile(pc / "big.bin", "older contents");
    Online();
    EXPECT_TRUE(Read("big.bin").Ok());

    EXPECT_TRUE(SameBytes(ReadFile(pc / "big.bin"), data));
    EXPECT_EQ(FilesUnder(pc), std::vector<std::string>{"big.bin"});   // no temporary file left
    EXPECT_TRUE(Texts().empty());
    ExpectCleanEnd();
    EXPECT_EQ(Form_Progress->StaticText_Size->text().toStdString(), "Size - 10,000 byte(s)");
    EXPECT_EQ(Form_Progress->StaticText_FileName->text().toStdString(), "big.bin");
    EXPECT_EQ(progressShows.Shows, 1);
    EXPECT_EQ(fileBar, (std::vector<int>{20, 41, 61, 82, 100}));
    EXPECT_EQ(allBar, fileBar);
    EXPECT_EQ(std::count(shownAtValue.begin(), shownAtValue.end(), false), 0);
}

TEST_F(ReadTest, HalfOfTheFileShowsFifty)
{
    WriteFile(phone / "half.bin", PatternBytes(4096, 3));
    Online();
    EXPECT_TRUE(Read("half.bin").Ok());
    EXPECT_EQ(fileBar, (std::vector<int>{50, 100}));
    EXPECT_EQ(allBar, fileBar);
    EXPECT_EQ(Form_Progress->StaticText_Size->text().toStdString(), "Size - 4,096 byte(s)");
}

TEST_F(ReadTest, EmptyFileIsCreatedWithoutProgressWindow)
{
    WriteFile(phone / "zero.dat", "");
    Online();
    // The list offers no size-0 file for download, but a read of one works all the same.
    EXPECT_TRUE(Read("zero.dat").Ok());
    ASSERT_TRUE(std::filesystem::exists(pc / "zero.dat"));
    EXPECT_EQ(std::filesystem::file_size(pc / "zero.dat"), 0u);
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(progressShows.Shows, 0);
    ExpectCleanEnd();
}

// A read refused at its header (here for the size it announces) still runs to its end, in view.
TEST_F(ReadTest, RefusedReadIsDrainedInView)
{
    WriteFile(phone / "big.bin", PatternBytes(6000, 14));
    options.AnnouncedSizeDelta = 600000 - 6000;
    Online();
    EXPECT_EQ(Read("big.bin").Error, LinkError::BadHeader);
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: big.bin\r\nThe file is larger than 524,289 bytes, the most a read can take."});
    EXPECT_EQ(fileBar, (std::vector<int>{1}));   // 1 % once 4,096 of the 600,000 bytes are in
    EXPECT_EQ(shownAtValue, (std::vector<bool>{true}));
    EXPECT_EQ(Form_Progress->StaticText_FileName->text().toStdString(), "big.bin");
    EXPECT_EQ(Form_Progress->StaticText_Size->text().toStdString(), "Size - 600,000 byte(s)");
    EXPECT_FALSE(std::filesystem::exists(pc / "big.bin"));
    ExpectCleanEnd();
}

TEST_F(ReadTest, HandsetFallingSilentInTheMiddleEndsInTheWatchdog)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    WriteFile(phone / "w.bin", PatternBytes(4096, 14));
    options.SplitWrites = 1000;
    options.SplitPauseMs = 600000;   // the first data block stalls for good after 1000 bytes
    Online();
    EXPECT_EQ(Read("w.bin").Error, LinkError::Silence);
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFR"});
    EXPECT_FALSE(win->Link->Online());
    EXPECT_FALSE(win->Link->Channel().Driver().Connected());
    EXPECT_FALSE(std::filesystem::exists(pc / "w.bin"));
    ExpectCleanEnd();
}

} // namespace
