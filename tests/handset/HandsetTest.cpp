// The virtual handset, driven through its pseudo-terminal with plain reads and writes, as the PC
// side sees it.
#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "protocol/CRC.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kOk = "\r\nOK\r\n";
constexpr const char* kAck = "##>\r\n";
constexpr const char* kDate = "\"[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}\"";

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    unsigned x = 7;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

void Put(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string Get(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool EndsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

class HandsetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/handset-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root = tmpl;
        Put(root / "pic.png", Pattern(5000));
        Put(root / "note.txt", "hello");
        Put(root / "song.MMF", "mmf");
        Put(root / ".hidden", "x");
        Put(root / "user/sounds/tune.mmf", "tune");
        fs::create_directories(root / "empty");
        options.Root = root.string();
    }
    void TearDown() override
    {
        if (fd >= 0)
            ::close(fd);
        handset.reset();
        fs::remove_all(root);
    }

    void StartHandset()
    {
        handset = std::make_unique<VirtualHandset>(options);
        std::string error;
        ASSERT_TRUE(handset->Open(&error)) << error;
        handset->Start();
        OpenPort();
    }
    void OpenPort()
    {
        fd = ::open(handset->SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }

    void Send(const std::string& bytes)
    {
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until the bytes end with `end`; the guard only keeps a broken handset from hanging
    // the test. `maxRead` limits each read call.
    std::string ReadUntil(const std::string& end, std::size_t maxRead = 4096)
    {
        std::string got;
        while (!EndsWith(got, end)) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) {
                ADD_FAILURE() << "no more bytes; got so far: " << got;
                break;
            }
            char buf[4096];
            ssize_t n = ::read(fd, buf, std::min(sizeof buf, maxRead));
            if (n <= 0)
                break;
            reads.push_back(static_cast<std::size_t>(n));
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string Exchange(const std::string& command, const std::string& end = kOk)
    {
        Send(command);
        return ReadUntil(end);
    }
    // Sends a command and reads its whole expected reply (a wrong reply fails after the guard).
    void Expect(const std::string& command, const std::string& reply)
    {
        EXPECT_EQ(Exchange(command, reply), reply) << command;
    }

    fs::path root;
    HandsetOptions options;
    std::unique_ptr<VirtualHandset> handset;
    int fd = -1;
    std::vector<std::size_t> reads;
};

struct ReadFrame {
    std::string leadIn;
    std::string length;
    std::string number;
    std::string data;
};

// Splits a read data block into its parts, checking the fixed ones.
ReadFrame ParseDataBlock(const std::string& block)
{
    ReadFrame f;
    std::size_t at = block.find("+FSFR:");
    EXPECT_NE(at, std::string::npos);
    EXPECT_TRUE(EndsWith(block, "#OK#\r\n"));
    f.leadIn = block.substr(0, at);
    f.length = block.substr(at + 6, 7);
    EXPECT_EQ(block[at + 13], ',');
    f.number = block.substr(at + 14, 4);
    EXPECT_EQ(block[at + 18], ',');
    f.data = block.substr(at + 19, block.size() - at - 19 - 6);
    return f;
}

TEST_F(HandsetTest, StartUpCommandsAreEchoedAndAnswered)
{
    StartHandset();
    struct Case {
        const char* command;
        const char* reply;
    } cases[] = {
        {"ATZ\r", "ATZ\r\r\nOK\r\n"},
        {"AT+CGMM\r", "AT+CGMM\r\r\nTV-1 Virtual\r\n\r\nOK\r\n"},
        {"AT+NOPE\r", "AT+NOPE\r\r\nERROR\r\n"},
    };
    for (const Case& c : cases)
        Expect(c.command, c.reply);
    EXPECT_TRUE(std::regex_match(Exchange("AT+FSIF\r"),
                                 std::regex("AT\\+FSIF\r\r\n\\+FSIF: [0-9]+,[0-9]+\r\n\r\nOK\r\n")));
    EXPECT_EQ(handset->Commands(),
              (std::vector<std::string>{"ATZ\r", "AT+CGMM\r", "AT+NOPE\r", "AT+FSIF\r"}));
    handset->Update([](HandsetOptions& o) { o.Model.clear(); });
    Expect("AT+CGMM\r", "AT+CGMM\r\r\nOK\r\n");
}

TEST_F(HandsetTest, ListingComesInBlocksEachWaitingForItsAcknowledgement)
{
    options.EntriesPerBlock = 2;
    StartHandset();
    std::string first = Exchange("AT+FSDL=\"/\"\r\n", "#OK#\r\n");
    EXPECT_TRUE(std::regex_match(
        first, std::regex(std::string("AT\\+FSDL=\"/\"\r\n") +
                          "\\+FSDL: 0,\"note.txt\",0,0,0,0,5,0," + kDate + ",0\r\n" +
                          "\\+FSDL: 0,\"pic.png\",109,0,0,0,5000,0," + kDate + ",0\r\n#OK#\r\n")))
        << first;
    std::string second = Exchange(kAck, "#OK#\r\n");
    EXPECT_TRUE(std::regex_match(
        second, std::regex(std::string("\\+FSDL: 0,\"song.MMF\",302,0,0,0,3,0,") + kDate +
                           ",0\r\n#OK#\r\n")))
        << second;
    EXPECT_EQ(Exchange(kAck), kOk);
    // The acknowledgements are not commands.
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{"AT+FSDL=\"/\"\r\n"});

    struct Case {
        const char* command;
        const char* reply;
    } cases[] = {
        {"AT+FSDL=\"/empty\"\r\n", "AT+FSDL=\"/empty\"\r\n\r\nOK\r\n"},
        {"AT+FSDL=\"/missing\"\r\n", "AT+FSDL=\"/missing\"\r\n\r\n+CME ERROR: 4\r\n"},
        {"AT+FSDL=\"/note.txt\"\r\n", "AT+FSDL=\"/note.txt\"\r\n\r\n+CME ERROR: 4\r\n"},
        {"AT+FSDL=\"/user/../..\"\r\n", "AT+FSDL=\"/user/../..\"\r\n\r\n+CME ERROR: 50\r\n"},
        {"AT+FSDL=user\r\n", "AT+FSDL=user\r\n\r\n+CME ERROR: 50\r\n"},
    };
    for (const Case& c : cases)
        Expect(c.command, c.reply);
}

TEST_F(HandsetTest, AnythingButTheAcknowledgementAbandonsTheReply)
{
    options.EntriesPerBlock = 1;
    StartHandset();
    Exchange("AT+FSDL=\"/\"\r\n", "#OK#\r\n");
    // The PC gave up and resets the handset: no further block, the reset is answered.
    EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
}

TEST_F(HandsetTest, FileCommandsActInTheFolderListedLast)
{
    StartHandset();
    Exchange("AT+FSDL=\"/user/sounds\"\r\n", "#OK#\r\n");
    Exchange(kAck);
    Expect("AT+FSFR= -1,\"note.txt\"\r\n", "AT+FSFR= -1,\"note.txt\"\r\n\r\n+CME ERROR: 4\r\n");
    std::string header = Exchange("AT+FSFR= -1,\"tune.mmf\"\r\n", "#OK#\r\n");
    EXPECT_NE(header.find("\"tune.mmf\",302,0,0,4,"), std::string::npos) << header;
    Exchange(kAck, "#OK#\r\n");
    Exchange(kAck);
    EXPECT_EQ(Exchange("AT+FSFE= -1,\"tune.mmf\"\r\n"), "AT+FSFE= -1,\"tune.mmf\"\r\n\r\nOK\r\n");
    EXPECT_FALSE(fs::exists(root / "user/sounds/tune.mmf"));
    Expect("AT+FSFE= -1,\"tune.mmf\"\r\n", "AT+FSFE= -1,\"tune.mmf\"\r\n\r\n+CME ERROR: 4\r\n");
    for (const char* bad : {"AT+FSFE= -1,\"../../note.txt\"\r\n", "AT+FSFR= -1,\"..\"\r\n",
                            "AT+FSFE= -1,\"\"\r\n", "AT+FSFR= -1\r\n"})
        Expect(bad, bad + std::string("\r\n+CME ERROR: 50\r\n"));
    EXPECT_TRUE(fs::exists(root / "note.txt"));
}

TEST_F(HandsetTest, ReadSendsHeaderThenFramedDataBlocks)
{
    struct Case {
        int blockSize;
        int leadIn;
        bool blanks;
        int lineRate;
        std::vector<std::string> lengths;
    } cases[] = {
        {2048, 2, true, 0, {"   2048", "   2048", "    904"}},
        {4073, 0, false, 0, {"0004073", "0000927"}},
        {1000, 41, true, 100000, {"   1000", "   1000", "   1000", "   1000", "   1000"}},
    };
    const std::string content = Get(root / "pic.png");
    for (const Case& c : cases) {
        options.ReadBlockSize = c.blockSize;
        options.LeadInBreaks = c.leadIn;
        options.BlanksInLength = c.blanks;
        options.LineRate = c.lineRate;
        StartHandset();
        std::string header = Exchange("AT+FSFR= -1,\"pic.png\"\r\n", "#OK#\r\n");
        EXPECT_TRUE(std::regex_match(
            header, std::regex(std::string("AT\\+FSFR= -1,\"pic.png\"\r\n\r\n") +
                               "\\+FSFR: 0,\"pic.png\",109,0,0,5000,0,0," + kDate + ",0," +
                               std::to_string(CalcCRC(content)) + "\r\n#OK#\r\n")))
            << header;
        std::string data;
        for (std::size_t i = 0; i < c.lengths.size(); ++i) {
            ReadFrame f = ParseDataBlock(Exchange(kAck, "#OK#\r\n"));
            EXPECT_EQ(f.leadIn, std::string("\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"
                                            "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n")
                                    .substr(0, static_cast<std::size_t>(c.leadIn)));
            EXPECT_EQ(f.length, c.lengths[i]);
            EXPECT_EQ(f.number, c.blanks ? "   " + std::to_string(i + 1)
                                         : "000" + std::to_string(i + 1));
            data += f.data;
        }
        EXPECT_EQ(Exchange(kAck), kOk);
        EXPECT_EQ(data, content);
        ::close(fd);
        fd = -1;
        handset.reset();
    }
}

TEST_F(HandsetTest, EmptyFileHasHeaderOnly)
{
    Put(root / "zero.bin", "");
    StartHandset();
    std::string header = Exchange("AT+FSFR= -1,\"zero.bin\"\r\n", "#OK#\r\n");
    EXPECT_NE(header.find("\"zero.bin\",0,0,0,0,0,0,"), std::string::npos) << header;
    EXPECT_TRUE(EndsWith(header, ",0,0\r\n#OK#\r\n")) << header;
    EXPECT_EQ(Exchange(kAck), kOk);
}

TEST_F(HandsetTest, WritePromptsForBlocksAndChecksTheCrc)
{
    StartHandset();
    Exchange("AT+FSDL=\"/empty\"\r\n");
    const std::string data = Pattern(1000);
    const std::string cmd =
        "AT+FSFW=-1,\"new.bin\",0,\" \",1000," + std::to_string(CalcCRC(data)) + "\r\n";
    EXPECT_EQ(Exchange(cmd, "##>\r\n"), cmd + "\r\n##>\r\n");
    EXPECT_EQ(Exchange(data.substr(0, 512), "##>\r\n"), "\r\n##>\r\n");
    EXPECT_EQ(Exchange(data.substr(512)), kOk);
    EXPECT_EQ(Get(root / "empty/new.bin"), data);
    EXPECT_EQ(handset->ProtocolViolations(), 0);

    // Data sent along with the command, before its prompt, is a fault of the PC: counted, and
    // still taken.
    const std::string early = "AT+FSFW=-1,\"early.bin\",0,\" \",3," + std::to_string(CalcCRC("abc")) + "\r\n";
    EXPECT_EQ(Exchange(early + "abc"), early + "\r\n##>\r\n" + kOk);
    EXPECT_EQ(handset->ProtocolViolations(), 1);

    // A damaged transfer stores nothing.
    const std::string bad = "AT+FSFW=-1,\"bad.bin\",0,\" \",3,12345\r\n";
    Exchange(bad, "##>\r\n");
    Expect("abc", "\r\n+CME ERROR: 5\r\n");
    EXPECT_FALSE(fs::exists(root / "empty/bad.bin"));

    // An empty file is taken at once (the CRC of no bytes is 0).
    const std::string empty = "AT+FSFW=-1,\"zero.txt\",0,\" \",0,0\r\n";
    EXPECT_EQ(Exchange(empty), empty + kOk);
    EXPECT_TRUE(fs::exists(root / "empty/zero.txt"));
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "empty"), fs::directory_iterator()), 3);

    for (const char* badArgs : {"AT+FSFW=\r\n", "AT+FSFW=-1,\"a/b\",0,\" \",1,0\r\n",
                                "AT+FSFW=-1,\"a\",0,\" \",-5,0\r\n"})
        Expect(badArgs, badArgs + std::string("\r\n+CME ERROR: 50\r\n"));
}

TEST_F(HandsetTest, EchoFaults)
{
    struct Case {
        std::function<void(HandsetOptions&)> set;
        std::string command;
        std::string reply;
    } cases[] = {
        {[](HandsetOptions& o) { o.Echo = false; }, "ATZ\r", "\r\nOK\r\n"},
        {[](HandsetOptions& o) { o.WrongEcho = true; }, "ATZ\r", "AT+WRONG\r\r\nOK\r\n"},
        {[](HandsetOptions& o) { o.EchoCrOnly = true; }, "AT+FSDL=\"/empty\"\r\n",
         "AT+FSDL=\"/empty\"\r\r\nOK\r\n"},
        {[](HandsetOptions& o) { o.CmeErrorOn = "+CGMM"; }, "AT+CGMM\r",
         "AT+CGMM\r\r\n+CME ERROR: 4\r\n"},
    };
    StartHandset();
    for (const Case& c : cases) {
        handset->Update([&](HandsetOptions& o) {
            o = options;
            c.set(o);
        });
        Expect(c.command, c.reply);
    }
}

TEST_F(HandsetTest, SilenceLeavesNothingOnTheLine)
{
    options.SilentOn = "AT+CGMM";
    StartHandset();
    Send("AT+CGMM\r");
    // Bytes keep their order on the line: anything said to AT+CGMM would come before this.
    EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");

    handset->Update([](HandsetOptions& o) {
        o.SilentOn.clear();
        o.SilentAfter = 0;
    });
    Send("ATZ\r");
    Send("AT+FSIF\r");
    // Once the handset has taken both lines (unanswered), answering is switched on again.
    while (handset->Commands().size() < 4)
        ::usleep(1000);
    handset->Update([](HandsetOptions& o) { o.SilentAfter = -1; });
    Expect("AT\r", "AT\r\r\nOK\r\n");
}

TEST_F(HandsetTest, ErrorAfterSomeBlocks)
{
    options.EntriesPerBlock = 1;
    options.CmeErrorOn = "+FSDL";
    options.CmeErrorAfterBlocks = 1;
    StartHandset();
    Exchange("AT+FSDL=\"/\"\r\n", "#OK#\r\n");
    Expect(kAck, "\r\n+CME ERROR: 4\r\n");
}

TEST_F(HandsetTest, ReadFaults)
{
    const std::string content = Get(root / "pic.png");
    options.ReadBlockSize = 4000;
    struct Case {
        std::function<void(HandsetOptions&)> set;
        std::string size;
        std::string firstLength;
        std::size_t firstData;
        bool crcMatches;
    } cases[] = {
        {[](HandsetOptions& o) { o.CorruptReadByte = true; }, "5000", "   4000", 4000, false},
        {[](HandsetOptions& o) { o.AnnouncedSizeDelta = 3; }, "5003", "   4000", 4000, true},
        {[](HandsetOptions& o) { o.ShortBlock = true; }, "5000", "   4000", 3999, false},
    };
    StartHandset();
    for (const Case& c : cases) {
        handset->Update([&](HandsetOptions& o) {
            o = options;
            c.set(o);
        });
        std::string header = Exchange("AT+FSFR= -1,\"pic.png\"\r\n", "#OK#\r\n");
        EXPECT_NE(header.find(",109,0,0," + c.size + ",0,0,"), std::string::npos) << header;
        EXPECT_NE(header.find("," + std::to_string(CalcCRC(content)) + "\r\n"), std::string::npos);
        ReadFrame first = ParseDataBlock(Exchange(kAck, "#OK#\r\n"));
        ReadFrame second = ParseDataBlock(Exchange(kAck, "#OK#\r\n"));
        EXPECT_EQ(Exchange(kAck), kOk);
        EXPECT_EQ(first.length, c.firstLength);
        EXPECT_EQ(first.data.size(), c.firstData);
        EXPECT_EQ(CalcCRC(first.data + second.data) == CalcCRC(content), c.crcMatches);
    }
}

TEST_F(HandsetTest, SplitWritesArriveInPiecesAndStrayRepliesAndUnsolicitedLinesAtTheirMoments)
{
    options.SplitWrites = 3;
    StartHandset();
    EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
    EXPECT_GE(reads.size(), 4u);
    for (std::size_t n : reads)
        EXPECT_LE(n, 3u);

    handset->Update([](HandsetOptions& o) {
        o.SplitWrites = 0;
        o.UnsolicitedBlock = true;
        o.UnsolicitedPrompt = true;
    });
    EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
    EXPECT_EQ(ReadUntil("#OK#\r\n"), "\r\n#OK#\r\n");
    EXPECT_EQ(ReadUntil("##>\r\n"), "\r\n##>\r\n");
    // Acknowledging the stray block is not a command; the flags were used up.
    Send(kAck);
    EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
    EXPECT_FALSE(handset->Options().UnsolicitedBlock);
    EXPECT_EQ(handset->Commands().size(), 3u);

    // An unsolicited line at each of its moments: before the echo, between the blocks (and
    // before the final reply behind them), behind the final reply, and once that has been read.
    handset->Update([](HandsetOptions& o) {
        o.Unsolicited = "RING";
        o.UnsolicitedBeforeEcho = o.UnsolicitedBetweenBlocks = o.UnsolicitedWithFinal = o.UnsolicitedAfterFinal = true;
    });
    const std::string block = Exchange("AT+FSDL=\"/user/sounds\"\r\n", "#OK#\r\n");
    EXPECT_EQ(block.rfind("\r\nRING\r\nAT+FSDL=\"/user/sounds\"\r\n+FSDL: 0,\"tune.mmf\"", 0), 0u) << block;
    EXPECT_EQ(block.find("RING", 3), std::string::npos) << block;
    const std::string final = std::string("\r\nRING\r\n") + kOk + "\r\nRING\r\n";
    EXPECT_EQ(Exchange(kAck, final), final);
    EXPECT_EQ(ReadUntil("\r\nRING\r\n"), "\r\nRING\r\n");
}

TEST_F(HandsetTest, PortCanBeReopenedUntilTheHandsetVanishes)
{
    StartHandset();
    EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
    ::close(fd);
    OpenPort();
    EXPECT_EQ(Exchange("ATZ\r"), "ATZ\r\r\nOK\r\n");
    EXPECT_NE(handset->Received().find("ATZ\rATZ\r"), std::string::npos);
    handset->ClearLog();
    EXPECT_TRUE(handset->Received().empty());

    handset->Vanish();
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    char c;
    EXPECT_LE(::read(fd, &c, 1), 0);
}

} // namespace
