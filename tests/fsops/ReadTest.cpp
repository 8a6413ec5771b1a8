// File reads against the virtual handset: the saved bytes, the checks at the end, damaged
// blocks and headers, and what the progress window shows.
#include <array>
#include <csignal>

#include <sys/resource.h>

#include <QLabel>

#include "FsopsFixture.h"
#include "serial/TraceFile.h"

using namespace fsops;

namespace {

class ReadTest : public FsopsTest {};

// Four bytes that, appended to `prefix`, make the CRC-32 of the whole 0. The CRC is affine in
// those 32 bits, so they are the solution of 32 linear equations over GF(2).
std::string ZeroCrcSuffix(const std::string& prefix)
{
    auto crcWith = [&prefix](std::uint32_t x) {
        std::string s = prefix;
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>(x >> (8 * i));
        return CalcCRC(s);
    };
    const std::uint32_t base = crcWith(0);
    std::array<std::uint32_t, 32> rows{};   // rows[r]: which input bits flip output bit r
    std::array<bool, 32> rhs{};
    for (int k = 0; k < 32; ++k) {
        const std::uint32_t effect = crcWith(1u << k) ^ base;
        for (int r = 0; r < 32; ++r)
            if ((effect >> r) & 1u)
                rows[r] |= 1u << k;
    }
    for (int r = 0; r < 32; ++r)
        rhs[r] = (base >> r) & 1u;
    std::array<int, 32> pivotOf{};
    for (int k = 0; k < 32; ++k) {
        int p = k;
        while (p < 32 && !((rows[p] >> k) & 1u))
            ++p;
        if (p == 32)
            return {};   // not solvable (never for CRC-32)
        std::swap(rows[p], rows[k]);
        std::swap(rhs[p], rhs[k]);
        for (int r = 0; r < 32; ++r)
            if (r != k && ((rows[r] >> k) & 1u)) {
                rows[r] ^= rows[k];
                rhs[r] = rhs[r] != rhs[k];
            }
        pivotOf[k] = k;
    }
    std::uint32_t x = 0;
    for (int k = 0; k < 32; ++k)
        if (rhs[pivotOf[k]])
            x |= 1u << k;
    std::string suffix;
    for (int i = 0; i < 4; ++i)
        suffix += static_cast<char>(x >> (8 * i));
    return suffix;
}

TEST_F(ReadTest, MultiBlockFileIsSavedByteForByteOverAnOlderOne)
{
    const std::string data = PatternBytes(10000, 7);   // blocks of 2048: five blocks
    WriteFile(phone / "big.bin", data);
    WriteFile(pc / "big.bin", "older contents");
    Online();
    Read("big.bin");

    EXPECT_TRUE(SameBytes(ReadFile(pc / "big.bin"), data));
    EXPECT_EQ(FilesUnder(pc), std::vector<std::string>{"big.bin"});   // no temporary file left
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(win->Link->LastReadSaved);
    ExpectCleanEnd();
    EXPECT_EQ(win->Link->BufPos, 0);
    EXPECT_EQ(win->Link->CurrentFile, TFileInfo{});
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
    Read("half.bin");
    EXPECT_EQ(fileBar, (std::vector<int>{50, 100}));
    EXPECT_EQ(allBar, fileBar);
    EXPECT_EQ(Form_Progress->StaticText_Size->text().toStdString(), "Size - 4,096 byte(s)");
}

TEST_F(ReadTest, EmptyFileIsCreatedWithoutProgressWindow)
{
    WriteFile(phone / "zero.dat", "");
    Online();
    // The list offers no size-0 file for download, but a read of one works all the same.
    Read("zero.dat");
    ASSERT_TRUE(std::filesystem::exists(pc / "zero.dat"));
    EXPECT_EQ(std::filesystem::file_size(pc / "zero.dat"), 0u);
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(progressShows.Shows, 0);
    ExpectCleanEnd();
}

TEST_F(ReadTest, CorruptedByteGivesTheCrcErrorAndLeavesTheOldFile)
{
    const std::string data = PatternBytes(3000, 11);
    std::string damaged = data;
    damaged[1500] = static_cast<char>(damaged[1500] ^ 0xFF);   // what the handset's fault does
    WriteFile(phone / "c.bin", data);
    WriteFile(pc / "c.bin", "keep me");
    options.CorruptReadByte = true;
    Online();
    Read("c.bin");
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: c.bin\r\nCRC error.\r\nCalc CRC: " + std::to_string(CalcCRC(damaged))
                                                + "\r\nRecv CRC: " + std::to_string(CalcCRC(data))});
    EXPECT_EQ(ReadFile(pc / "c.bin"), "keep me");
    EXPECT_EQ(FilesUnder(pc), std::vector<std::string>{"c.bin"});
    EXPECT_FALSE(win->Link->LastReadSaved);
    ExpectCleanEnd();
}

TEST_F(ReadTest, ShortBlockIsRefusedAndTheSizeCheckReportsIt)
{
    WriteFile(phone / "s.bin", PatternBytes(4096, 5));
    options.ShortBlock = true;   // the first of two blocks lacks its last byte
    Online();
    Read("s.bin");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Extract data error code:-2",
                                                 "File: s.bin\r\nSize error.\r\nFile size: 4096\r\nRecv size: 2048"}));
    EXPECT_FALSE(std::filesystem::exists(pc / "s.bin"));
    ExpectCleanEnd();
}

struct BlockShape {
    int leadIn;
    bool blanks;
    std::vector<std::string> texts;   // empty: saved
};

TEST_F(ReadTest, LeadInAndLengthFieldShapes)
{
    const std::string data = PatternBytes(3000, 9);   // two blocks
    const BlockShape shapes[] = {
        {0, true, {}},
        {41, true, {}},
        {41, false, {}},
        {2, false, {}},
        {42, true,
         {"Extract data error code:-1", "Extract data error code:-1",
          "File: f.bin\r\nSize error.\r\nFile size: 3000\r\nRecv size: 0"}},
    };
    WriteFile(phone / "f.bin", data);
    Online();
    for (const BlockShape& shape : shapes) {
        SCOPED_TRACE(shape.leadIn);
        std::filesystem::remove(pc / "f.bin");
        dialogs->Clear();
        handset->Update([&](HandsetOptions& o) {
            o.LeadInBreaks = shape.leadIn;
            o.BlanksInLength = shape.blanks;
        });
        Read("f.bin");
        EXPECT_EQ(Texts(), shape.texts);
        if (shape.texts.empty())
            EXPECT_TRUE(SameBytes(ReadFile(pc / "f.bin"), data));
        else
            EXPECT_FALSE(std::filesystem::exists(pc / "f.bin"));
        ExpectCleanEnd();
    }
}

TEST_F(ReadTest, ContentsThatLookLikeTheProtocolAreKept)
{
    // Line breaks at the end of a block's data and of the file, a file whose CRC-32 is 0.
    std::string crlfTail = PatternBytes(4096, 2);
    crlfTail.replace(2046, 2, "\r\n");
    crlfTail += "\r\n\r\n";
    std::string zeroCrc = PatternBytes(3000, 4);
    zeroCrc += ZeroCrcSuffix(zeroCrc);
    ASSERT_EQ(CalcCRC(zeroCrc), 0u);
    WriteFile(phone / "crlf.bin", crlfTail);
    WriteFile(phone / "zerocrc.bin", zeroCrc);
    Online();
    Read("crlf.bin");
    Read("zerocrc.bin");
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(SameBytes(ReadFile(pc / "crlf.bin"), crlfTail));
    EXPECT_TRUE(SameBytes(ReadFile(pc / "zerocrc.bin"), zeroCrc));
}

TEST_F(ReadTest, ProtocolLinesInsideTheDataSurviveABlockSplitRightAfterThem)
{
    // The handset writes every reply in pieces of 64 bytes, each arriving on its own. A data
    // block has 2 lead-in bytes and a 19-byte data header, so data byte 43 - n ends the first
    // piece: a line of n bytes put there is all the PC has of the block at that moment.
    constexpr int kPiece = 64;
    const std::vector<std::string> lines = {"OK\r\n", "#OK#\r\n", "##>\r\n", "+CME ERROR: 4\r\n"};
    std::vector<std::string> contents;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t before = kPiece - 21 - lines[i].size();
        std::string data = std::string(before - 2, static_cast<char>('a' + i)) + "\r\n" + lines[i] + "tail of the file\r\n";
        contents.push_back(data);
        WriteFile(phone / ("p" + std::to_string(i) + ".txt"), data);
    }
    options.SplitWrites = kPiece;
    watchdogMs = 4000;
    Online();
    for (std::size_t i = 0; i < lines.size(); ++i)
        Read("p" + std::to_string(i) + ".txt");
    EXPECT_TRUE(Texts().empty());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(ReadFile(pc / ("p" + std::to_string(i) + ".txt")), contents[i]) << lines[i];
    EXPECT_EQ(win->PanelText(2).toStdString(), "Online");
}

// A read header carrying `name`, with the size and CRC of `data`.
std::string HeaderNaming(const std::string& name, const std::string& data)
{
    return "\r\n+FSFR: 0,\"" + name + "\",0,0,0," + std::to_string(data.size()) + ",0,0,\"d\",0,"
           + std::to_string(CalcCRC(data)) + "\r\n#OK#\r\n";
}

TEST_F(ReadTest, TheFileIsSavedUnderTheNameAskedForNeverTheHeaders)
{
    const std::string data = PatternBytes(3000, 6);
    WriteFile(phone / "h.bin", data);
    const std::string longName = std::string(60, 'L') + ".bin";
    WriteFile(phone / longName, data);
    Online();
    const auto before = FilesUnder(root);
    for (const std::string& name : {std::string("../escape.bin"), std::string("sub/x.bin"), std::string("/tmp/abs.bin"),
                                   std::string("a\\b.bin"), std::string("."), std::string(".."), std::string(),
                                   std::string("nul\0.bin", 8), std::string("other.bin")}) {
        SCOPED_TRACE(name);
        dialogs->Clear();
        handset->Update([&](HandsetOptions& o) { o.ReadHeaderText = HeaderNaming(name, data); });
        Read("h.bin");
        EXPECT_EQ(Texts(), std::vector<std::string>{"File: h.bin\r\nThe phone sent another file (" + name
                                                    + "); nothing is saved."});
        EXPECT_EQ(FilesUnder(root), before);
        ExpectCleanEnd();
    }
    EXPECT_EQ(progressShows.Shows, 9);   // the rest of each refused file is drained in view
    // A header that gives the name cut as a list shows it names the same file: it is saved under
    // the whole name it was asked for.
    dialogs->Clear();
    handset->Update([&](HandsetOptions& o) { o.ReadHeaderText = HeaderNaming(longName.substr(0, 56), data); });
    Read(longName.substr(0, 56));
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(SameBytes(ReadFile(pc / longName), data));
    // The handset is still in step: a plain read works.
    handset->Update([](HandsetOptions& o) { o.ReadHeaderText.clear(); });
    Read("h.bin");
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(SameBytes(ReadFile(pc / "h.bin"), data));
}

struct HeaderFault {
    std::string header;
    std::string message;
};

TEST_F(ReadTest, HeaderFaultsEndTheReadCleanly)
{
    const std::string data = "12345";
    const std::string crc = std::to_string(CalcCRC(data));
    auto header = [](const std::string& type, const std::string& size, const std::string& crcText) {
        return "\r\n+FSFR: 0,\"h.bin\"," + type + ",0,0," + size + ",0,0,\"d\",0," + crcText + "\r\n#OK#\r\n";
    };
    const HeaderFault faults[] = {
        {"\r\n+FSXX: 0,\"h.bin\",0,0,0,5,0,0,\"d\",0," + crc + "\r\n#OK#\r\n",
         "The file header from the phone holds no \"+FSFR:\"."},
        {header("x1", "5", crc), "The file type in the file header from the phone is not a number."},
        {header("0", "5k", crc), "The file size in the file header from the phone is not a number."},
        {header("0", "-1", crc), "The file size in the file header from the phone is negative."},
        {header("0", "524290", crc), "The file is larger than 524,289 bytes, the most a read can take."},
        {header("0", "5", "-1"), "The CRC in the file header from the phone is not a number."},
        {header("0", "5", "4294967296"), "The CRC in the file header from the phone is not a number."},
        {header("0", "5", ""), "The CRC in the file header from the phone is not a number."},
        // The largest size a read takes is accepted; the bytes that came are too few.
        {header("0", "524289", crc), "Size error.\r\nFile size: 524289\r\nRecv size: 5"},
    };
    WriteFile(phone / "h.bin", data);
    Online();
    for (const HeaderFault& f : faults) {
        SCOPED_TRACE(f.header);
        dialogs->Clear();
        handset->Update([&](HandsetOptions& o) { o.ReadHeaderText = f.header; });
        Read("h.bin");
        EXPECT_EQ(Texts(), std::vector<std::string>{"File: h.bin\r\n" + f.message});
        EXPECT_FALSE(std::filesystem::exists(pc / "h.bin"));
        ExpectCleanEnd();
    }
    // Still in step with the handset.
    handset->Update([](HandsetOptions& o) { o.ReadHeaderText.clear(); });
    dialogs->Clear();
    Read("h.bin");
    EXPECT_TRUE(SameBytes(ReadFile(pc / "h.bin"), data));
}

// A read refused at its header (here for the size it announces) still runs to its end, in view.
TEST_F(ReadTest, RefusedReadIsDrainedInView)
{
    WriteFile(phone / "big.bin", PatternBytes(6000, 14));
    options.AnnouncedSizeDelta = 600000 - 6000;
    Online();
    Read("big.bin");
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: big.bin\r\nThe file is larger than 524,289 bytes, the most a read can take."});
    EXPECT_EQ(fileBar, (std::vector<int>{1}));   // 1 % once 4,096 of the 600,000 bytes are in
    EXPECT_EQ(shownAtValue, (std::vector<bool>{true}));
    EXPECT_EQ(Form_Progress->StaticText_FileName->text().toStdString(), "big.bin");
    EXPECT_EQ(Form_Progress->StaticText_Size->text().toStdString(), "Size - 600,000 byte(s)");
    EXPECT_FALSE(std::filesystem::exists(pc / "big.bin"));
    ExpectCleanEnd();
}

TEST_F(ReadTest, MoreDataThanAnnouncedIsCountedAndNothingSaved)
{
    // The header announces the first half, with that half's CRC; the handset sends it all.
    const std::string data = PatternBytes(4096, 12);
    const std::string half = data.substr(0, 2048);
    WriteFile(phone / "m.bin", data);
    options.ReadHeaderText = "\r\n+FSFR: 0,\"m.bin\",0,0,0,2048,0,0,\"d\",0," + std::to_string(CalcCRC(half)) + "\r\n#OK#\r\n";
    Online();
    Read("m.bin");
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: m.bin\r\nSize error.\r\nFile size: 2048\r\nRecv size: 4096"});
    EXPECT_FALSE(std::filesystem::exists(pc / "m.bin"));
    EXPECT_EQ(fileBar, (std::vector<int>{100}));
    ExpectCleanEnd();
}

TEST_F(ReadTest, ReadEndingWithoutHeaderSavesNothing)
{
    WriteFile(phone / "gone.bin", "abc");
    options.ReadHeaderText = "\r\nOK\r\n";   // the file vanished after the listing
    Online();
    Read("gone.bin");
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: gone.bin\r\nThe handset sent no file header; nothing is saved."});
    EXPECT_FALSE(std::filesystem::exists(pc / "gone.bin"));
    ExpectCleanEnd();
}

TEST_F(ReadTest, CommandErrorInTheMiddleReleasesEverything)
{
    WriteFile(phone / "e.bin", PatternBytes(6000, 13));
    options.CmeErrorOn = "AT+FSFR";
    options.CmeErrorAfterBlocks = 2;   // after the header and the first data block
    Online();
    Read("e.bin");
    ASSERT_TRUE(WaitUntil([this] { return handset->Commands().back() == "ATZ\r"; }));
    ASSERT_TRUE(WaitCommandEnd());
    EXPECT_EQ(Texts(), std::vector<std::string>{"Command error.\r\nCommand: "});
    EXPECT_FALSE(std::filesystem::exists(pc / "e.bin"));
    EXPECT_EQ(progressShows.Shows, 1);
    ExpectCleanEnd();
}

TEST_F(ReadTest, HandsetFallingSilentInTheMiddleEndsInTheWatchdog)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    WriteFile(phone / "w.bin", PatternBytes(4096, 14));
    options.SplitWrites = 1000;
    options.SplitPauseMs = 600000;   // the first data block stalls for good after 1000 bytes
    Online();
    Read("w.bin");
    EXPECT_EQ(Texts(), std::vector<std::string>{"Phone not respond.\r\nCommand: +FSFR"});
    EXPECT_FALSE(win->Link->CommPortDriver1->Connected());
    EXPECT_FALSE(std::filesystem::exists(pc / "w.bin"));
    ExpectCleanEnd();
}

TEST_F(ReadTest, SaveFailuresAreReportedAndLeaveWhatWasThere)
{
    const std::string data = PatternBytes(4096, 8);
    WriteFile(phone / "d.bin", data);
    WriteFile(phone / "e.bin", data);
    WriteFile(pc / "e.bin", "old");
    std::filesystem::create_directories(pc / "d.bin");   // a folder where the file should go
    Online();
    Read("d.bin");
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: d.bin\r\nWrite error -> file access fail."});
    EXPECT_TRUE(std::filesystem::is_directory(pc / "d.bin"));

    // A file size limit lets only part of the file be written.
    dialogs->Clear();
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Read("e.bin");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(Texts(), std::vector<std::string>{"File: e.bin\r\nWrite error -> size different."});
    EXPECT_EQ(ReadFile(pc / "e.bin"), "old");
    EXPECT_EQ(FilesUnder(pc), std::vector<std::string>{"e.bin"});
    ExpectCleanEnd();
}

} // namespace

// A trace written while Tarvel lists "/" and reads a file, replayed by the virtual handset with
// the phone's files gone, gives the same listing and the same file.
TEST_F(ReadTest, ATracedListingAndReadReplayTheSame)
{
    const std::string data = PatternBytes(5000, 11);
    WriteFile(phone / "tone.mmf", data);
    const std::filesystem::path trace = root / "trace.txt";
    ASSERT_TRUE(StartTraceFile(trace.string()));
    Online();
    const std::vector<std::string> listed = PhoneCaptions();
    Read("tone.mmf");
    StopTraceFile();
    ASSERT_TRUE(SameBytes(ReadFile(pc / "tone.mmf"), data));

    CloseWindow();
    handset->Stop();
    std::filesystem::remove_all(phone);
    std::filesystem::create_directories(phone);
    std::filesystem::remove(pc / "tone.mmf");
    options.Replay = WireTrace::ParseTrace(ReadFile(trace));
    ASSERT_FALSE(options.Replay.empty());
    Online();
    EXPECT_EQ(PhoneCaptions(), listed);
    Read("tone.mmf");
    EXPECT_TRUE(SameBytes(ReadFile(pc / "tone.mmf"), data));
    EXPECT_TRUE(Texts().empty());
}
