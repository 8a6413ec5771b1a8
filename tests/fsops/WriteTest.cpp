// File writes seen from the window: the blocks, their log lines and the progress window. (The
// ways a write or an erase ends: tests/link.)
#include <QLabel>

#include "FsopsFixture.h"

using namespace fsops;

namespace {

class WriteTest : public FsopsTest {
protected:
    // The write-block lines of the log, in order.
    static std::vector<std::string> BlockLines()
    {
        std::vector<std::string> lines;
        const std::string text = Form_Log->Text();
        for (std::size_t at = text.find("Send block"); at != std::string::npos; at = text.find("Send block", at + 1))
            lines.push_back(text.substr(at, text.find("\r\n", at) - at));
        return lines;
    }

    std::string WriteCommand(const std::string& name, const std::string& data) const
    {
        return "AT+FSFW=-1,\"" + name + "\",0,\" \"," + std::to_string(data.size()) + "," + std::to_string(CalcCRC(data))
               + "\r\n";
    }
};

struct BlockCase {
    std::size_t size;
    std::vector<std::string> lines;
    std::vector<int> bar;
};

TEST_F(WriteTest, FileGoesInBlocksOfAtMost512WithOneLogLineEach)
{
    const BlockCase cases[] = {
        {1000,
         {"Send block size: 512 BufPos: 512 FSize: 1000", "Send block size: 488 BufPos: 1000 FSize: 1000"},
         {51, 100}},
        {512, {"Send block size: 512 BufPos: 512 FSize: 512"}, {100}},
        {513, {"Send block size: 512 BufPos: 512 FSize: 513", "Send block size: 1 BufPos: 513 FSize: 513"}, {100}},
    };
    Online();
    Form_Log->show();
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string name = "w" + std::to_string(c.size) + ".bin";
        const std::string data = PatternBytes(c.size, static_cast<unsigned>(c.size));
        handset->ClearLog();
        Form_Progress->ProgressBar_File->setValue(0);
        Form_Progress->ProgressBar_All->setValue(0);
        fileBar.clear();
        allBar.clear();
        EXPECT_TRUE(Write(name, data).Ok());

        EXPECT_EQ(handset->Commands(), std::vector<std::string>{WriteCommand(name, data)});
        EXPECT_TRUE(SameBytes(handset->Received(), WriteCommand(name, data) + data));   // raw bytes, nothing added
        EXPECT_TRUE(SameBytes(ReadFile(phone / name), data));
        std::vector<std::string> lines = BlockLines();
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(c.lines.size()));
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(fileBar, c.bar);
        EXPECT_EQ(allBar, c.bar);
        EXPECT_EQ(Form_Progress->StaticText_Size->text().toStdString(), "Size - " + std::to_string(c.size) + " byte(s)");
        EXPECT_EQ(Form_Progress->StaticText_FileName->text().toStdString(), name);
        ExpectCleanEnd();
    }
    EXPECT_EQ(BlockLines().size(), 5u);
    EXPECT_EQ(progressShows.Shows, 3);
    EXPECT_TRUE(Texts().empty());
}

TEST_F(WriteTest, PromptAfterTheLastBlockSendsNothingAndIsStillLogged)
{
    options.ExtraWritePrompts = 1;
    Online();
    Form_Log->show();
    const std::string data = PatternBytes(1000, 1);
    handset->ClearLog();
    EXPECT_TRUE(Write("x.bin", data).Ok());
    EXPECT_EQ(BlockLines(), (std::vector<std::string>{"Send block size: 512 BufPos: 512 FSize: 1000",
                                                      "Send block size: 488 BufPos: 1000 FSize: 1000",
                                                      "Send block size: 0 BufPos: 1000 FSize: 1000"}));
    EXPECT_TRUE(SameBytes(handset->Received(), WriteCommand("x.bin", data) + data));
    EXPECT_TRUE(SameBytes(ReadFile(phone / "x.bin"), data));
    EXPECT_TRUE(Texts().empty());
    ExpectCleanEnd();
}

TEST_F(WriteTest, NoLogLinesWhileTheLogIsClosed)
{
    Online();
    EXPECT_TRUE(Write("quiet.bin", PatternBytes(700, 2)).Ok());
    EXPECT_EQ(Form_Log->Text(), "");
    EXPECT_TRUE(std::filesystem::exists(phone / "quiet.bin"));
}

} // namespace
