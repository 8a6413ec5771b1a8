// Files on the PC that cannot be written or read. The tests run as root, for whom permissions
// mean nothing, so each failure is made real another way: a folder where the file should go,
// a file-size limit, a file removed after it was selected, and an effective user without rights.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "support/WindowFixture.h"
#include "support/AsNobody.h"

using namespace testsupport;
using Dialogs::Answer;
namespace fs = std::filesystem;

namespace {

const std::string kA = PatternBytes(3000, 11);
const std::string kOldA = "the PC's a.mmf as it was";
const std::string kPhoneUp = "the handset's copy of up1.bin";
const std::string kUp1 = PatternBytes(1500, 12);

// Limits the size of files this process may write, for as long as it lives; writing past the
// limit fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old_;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

class PcFilesTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        WriteFile(phone / "user/sounds/a.mmf", kA);
        WriteFile(phone / "user/sounds/up1.bin", kPhoneUp);
        WriteFile(pc / "up1.bin", kUp1);
        StartOnline();
        OpenPhoneFolder("/user/sounds");
        RefreshPC();
        dialogs->Clear();
    }

    std::vector<std::string> PcNames() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(pc))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void ExpectIdleAndReleased()
    {
        EXPECT_TRUE(WaitIdle());
        EXPECT_TRUE(win->Panel_PC->isEnabled());
        EXPECT_TRUE(win->Panel_Phone->isEnabled());
        EXPECT_EQ(win->Link->TransferBuffer, nullptr);
    }

    void Download(const std::string& name)
    {
        SelectPhone({name});
        dialogs->Script({Answer::Yes});
        win->Action_DownloadExecute();
        ExpectIdleAndReleased();
    }

    void Upload(const std::string& name)
    {
        SelectPC({name});
        dialogs->Script({Answer::Yes});
        win->Action_UploadExecute();
        ExpectIdleAndReleased();
    }
};

TEST_F(PcFilesTest, DownloadOntoAFolderIsRefusedAndTheFolderStays)
{
    fs::create_directories(pc / "a.mmf" / "inside");
    WriteFile(pc / "a.mmf" / "inside" / "keep.txt", "kept");
    RefreshPC();
    Download("a.mmf");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"File: a.mmf\r\nexists. Owerwrite?",
                                                 "File: a.mmf\r\nWrite error -> file access fail."}));
    EXPECT_TRUE(fs::is_directory(pc / "a.mmf"));
    EXPECT_EQ(ReadFile(pc / "a.mmf" / "inside" / "keep.txt"), "kept");
    EXPECT_EQ(PcNames(), (std::vector<std::string>{"a.mmf", "up1.bin"}));   // no temporary file left
}

TEST_F(PcFilesTest, FullDiskKeepsTheOldFileWholeAndLeavesNoTemporaryFile)
{
    WriteFile(pc / "a.mmf", kOldA);
    RefreshPC();
    {
        FileSizeLimit limit(1000);   // the 3000 bytes of a.mmf do not fit
        Download("a.mmf");
    }
    EXPECT_EQ(Texts(), (std::vector<std::string>{"File: a.mmf\r\nexists. Owerwrite?",
                                                 "File: a.mmf\r\nWrite error -> size different."}));
    EXPECT_EQ(ReadFile(pc / "a.mmf"), kOldA);
    EXPECT_EQ(PcNames(), (std::vector<std::string>{"a.mmf", "up1.bin"}));
    // With room again the same download succeeds.
    dialogs->Clear();
    Download("a.mmf");
    EXPECT_EQ(ReadFile(pc / "a.mmf"), kA);
}

TEST_F(PcFilesTest, FileRemovedAfterSelectionIsReportedAndTheHandsetKeepsItsCopy)
{
    SelectPC({"up1.bin"});
    fs::remove(pc / "up1.bin");
    dialogs->Script({Answer::Yes});
    handset->ClearLog();
    win->Action_UploadExecute();
    ExpectIdleAndReleased();
    EXPECT_EQ(Texts(), (std::vector<std::string>{"File: up1.bin\r\nexists. Owerwrite?", "PC files list creating error."}));
    // Nothing was erased or written on the handset.
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(phone / "user/sounds/up1.bin"), kPhoneUp);
}

TEST_F(PcFilesTest, UnreadableFileIsReportedAndTheHandsetKeepsItsCopy)
{
    // An ordinary user may enter the folders but not read the file.
    for (fs::path p = pc; p != root.parent_path(); p = p.parent_path())
        fs::permissions(p, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(pc / "up1.bin", fs::perms::none);
    handset->ClearLog();
    {
        AsNobody nobody;
        ASSERT_TRUE(nobody.Ok());
        ASSERT_FALSE(std::ifstream(pc / "up1.bin").is_open());
        Upload("up1.bin");
    }
    EXPECT_EQ(Texts(), (std::vector<std::string>{"File: up1.bin\r\nexists. Owerwrite?", "PC files list creating error."}));
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(phone / "user/sounds/up1.bin"), kPhoneUp);
    EXPECT_EQ(ReadFile(pc / "up1.bin"), kUp1);
}

} // namespace

namespace {

// The installer copies the JAR into the PC folder under the suite's name before sending it: on a
// full disk the copy fails whole, and no cut-off copy is left to be sent later.
TEST_F(PcFilesTest, MidletCopyOnAFullDiskLeavesNoCutOffSuiteFile)
{
    const std::string jar = PatternBytes(5000, 13);
    WriteFile(pc / "game.jad", "MIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: 5000\r\n");
    WriteFile(pc / "game.jar", jar);
    OpenPhoneFolder("/java");
    RefreshPC();
    SelectPC({"game.jad"});
    dialogs->Clear();
    dialogs->Script({Answer::Yes});   // no index files on the handset: create them
    handset->ClearLog();
    {
        FileSizeLimit limit(1000);
        win->Action_CopyAsMIDletExecute();
        ExpectIdleAndReleased();
    }
    EXPECT_EQ(Texts(), (std::vector<std::string>{
                           "File \"suites.utf\" or \"suitesName.utf\" not found in phone dir.\r\nCreate new?",
                           "Copy file error:\r\ngame.jar"}));
    for (const std::string& name : PcNames())
        EXPECT_TRUE(name != "#Game_suite.jar" && name.rfind(".#Game_suite.jar", 0) != 0) << name;
    EXPECT_EQ(ReadFile(pc / "game.jar"), jar);
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{});
}

} // namespace
