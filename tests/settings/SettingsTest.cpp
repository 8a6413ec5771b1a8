// The settings unit: the INI reading and writing rules, and the file "tarvel.ini".
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/AsNobody.h"
#include "settings/Unit_Init.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

// Each test works on a settings folder of its own.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarvel-settings-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        SettingsDir = dir_.string();
        file_ = dir_ / "tarvel.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    fs::path file_;
};

} // namespace

TEST(IniParseInt, FollowsTheProfileRules)
{
    const std::int32_t def = 115200;
    const struct {
        const char* text;
        std::int32_t expected;
    } cases[] = {
        {"115200", 115200},
        {"0x1C200", 115200},
        {"0X1c200", 115200},
        {"$1C200", 115200},
        {" -5", -5},
        {"\t+7", 7},
        {"-$10", -16},
        {"0", 0},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"$FFFFFFFF", -1},
        // not a whole number: the default
        {"fast", def},
        {"", def},
        {"   ", def},
        {"12abc", def},
        {"1 ", def},
        {"1.5", def},
        {"$", def},
        {"0x", def},
        {"-", def},
        {"--1", def},
        {"$G1", def},
        {"2147483648", def},
        {"-2147483649", def},
        {"$100000000", def},
        {"99999999999999999999", def},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IniParseInt(c.text, def), c.expected) << '"' << c.text << '"';
}

TEST(IniRead, SectionsAndKeysIgnoreCaseAndBlanks)
{
    const IniText ini = ParseIni("[Other]\r\nPORT=wrong\r\n"
                                 "  [ common ]  \r\n"
                                 "; PORT=commented\r\n"
                                 "  port  =  COM3  \r\n"
                                 "HomeDir=\"/home/a b\"\r\n"
                                 "Empty=\r\n"
                                 "[COMMON]\r\nPORT=second section\r\n");
    EXPECT_EQ(IniReadString(ini, "COMMON", "PORT"), "COM3");
    EXPECT_EQ(IniReadString(ini, "common", "HOMEDIR"), "/home/a b");
    EXPECT_EQ(IniReadString(ini, "COMMON", "Empty"), "");
    EXPECT_EQ(IniReadString(ini, "COMMON", "Missing"), std::nullopt);
    EXPECT_EQ(IniReadString(ini, "Missing", "PORT"), std::nullopt);
    EXPECT_EQ(IniReadString(ini, "other", "port"), "wrong");
}

TEST(IniRead, StringsAreCutAt2047Bytes)
{
    const std::string longValue(3000, 'a');
    EXPECT_EQ(IniReadString(ParseIni("[S]\nK=" + longValue + "\n"), "S", "K")->size(), 2047u);
    // A character is never split: a two-byte character across the limit is left out whole.
    const std::string utf8 = std::string(2046, 'a') + "\xC3\xA9" + "b";
    EXPECT_EQ(*IniReadString(ParseIni("[S]\nK=" + utf8 + "\n"), "S", "K"), std::string(2046, 'a'));
}

TEST(IniWrite, ChangesOnlyTheKeyAndKeepsEverythingElse)
{
    IniText ini = ParseIni("; my notes\n[Window]\nLeft=10\n\n[common]\nport=COM1\nExtra=keep\n\n[Last]\nX=1\n");
    IniWriteString(ini, "COMMON", "PORT", "COM4");
    IniWriteString(ini, "COMMON", "HOMEDIR", "/data");
    IniWriteString(ini, "New", "Key", "v");
    EXPECT_EQ(FormatIni(ini), "; my notes\n[Window]\nLeft=10\n\n[common]\nport=COM4\nExtra=keep\n"
                              "HOMEDIR=/data\n\n[Last]\nX=1\n\n[New]\nKey=v\n");
}

TEST(IniWrite, ALineBreakCannotStartALineOfItsOwn)
{
    IniText ini;
    IniWriteString(ini, "COMMON", "HOMEDIR", "/tmp/a\n[COMMON]\nPORT=evil");
    EXPECT_EQ(FormatIni(ini), "[COMMON]\nHOMEDIR=/tmp/a\n");
}

TEST(SettingsText, ReadingRulesOfTheFiveKeys)
{
    const struct {
        const char* text;
        std::int32_t baud;
        bool checkLine;
        std::int32_t hwFlow;
    } cases[] = {
        {"[COMMON]\nCOMPortBaudRate=0x1C200\n", 115200, false, 1},
        {"[COMMON]\nCOMPortBaudRate=fast\n", 115200, false, 1},
        {"[COMMON]\nCOMPortBaudRate=$E100\nCOMHwFlow=2\n", 57600, false, 2},
        {"[COMMON]\nCOMCheckLineStatus=2\nCOMHwFlow= -5\n", 115200, true, -5},
        {"[COMMON]\nCOMCheckLineStatus=yes\nCOMHwFlow=none\n", 115200, false, 1},
        {"[COMMON]\nCOMCheckLineStatus=0x0\n", 115200, false, 1},
    };
    for (const auto& c : cases) {
        LoadSettingsFrom(ParseIni(c.text));
        EXPECT_EQ(ComBaudRate, c.baud) << c.text;
        EXPECT_EQ(ComCheckLineStatus, c.checkLine) << c.text;
        EXPECT_EQ(ComHwFlow, c.hwFlow) << c.text;
        EXPECT_EQ(ComPort, "COM1") << c.text;
        EXPECT_EQ(HomeDir, "") << c.text;
    }
}

TEST_F(SettingsFile, MissingFileGivesDefaultsAndSavingCreatesTheFiveKeysInOrder)
{
    ComPort = "junk";
    HomeDir = "junk";
    LoadSettings();
    EXPECT_EQ(ComPort, "COM1");
    EXPECT_EQ(ComBaudRate, 115200);
    EXPECT_FALSE(ComCheckLineStatus);
    EXPECT_EQ(ComHwFlow, 1);
    EXPECT_EQ(HomeDir, "");
    EXPECT_FALSE(fs::exists(file_));

    SaveSettings();
    EXPECT_EQ(ReadAll(file_), "[COMMON]\nPORT=COM1\nCOMPortBaudRate=115200\nHOMEDIR=\n"
                              "COMCheckLineStatus=0\nCOMHwFlow=1\n");
    EXPECT_EQ(fs::directory_iterator(dir_)->path(), file_);   // no temporary left behind
}

TEST_F(SettingsFile, ValuesRoundTripAndTrueIsWrittenAsOne)
{
    WriteAll(file_, "[COMMON]\r\nPORT=/dev/ttyUSB0\r\nCOMPortBaudRate=230400\r\nHOMEDIR=/home/me/ring tones\r\n"
                    "COMCheckLineStatus=2\r\nCOMHwFlow=0\r\n");
    LoadSettings();
    EXPECT_EQ(ComPort, "/dev/ttyUSB0");
    EXPECT_EQ(ComBaudRate, 230400);
    EXPECT_EQ(HomeDir, "/home/me/ring tones");
    EXPECT_TRUE(ComCheckLineStatus);
    EXPECT_EQ(ComHwFlow, 0);
    SaveSettings();
    // CR LF line ends stay CR LF.
    EXPECT_EQ(ReadAll(file_), "[COMMON]\r\nPORT=/dev/ttyUSB0\r\nCOMPortBaudRate=230400\r\nHOMEDIR=/home/me/ring tones\r\n"
                              "COMCheckLineStatus=1\r\nCOMHwFlow=0\r\n");
}

TEST_F(SettingsFile, ForeignSectionsAndKeysSurviveASave)
{
    WriteAll(file_, "[Before]\nA=1\n\n[COMMON]\nCOMHwFlow=2\nUserKey=kept\n\n[After]\nB=2\n");
    LoadSettings();
    ComPort = "COM9";
    SaveSettings();
    EXPECT_EQ(ReadAll(file_), "[Before]\nA=1\n\n[COMMON]\nCOMHwFlow=2\nUserKey=kept\nPORT=COM9\n"
                              "COMPortBaudRate=115200\nHOMEDIR=\nCOMCheckLineStatus=0\n\n[After]\nB=2\n");
}

TEST_F(SettingsFile, ASettingsPathThatIsAFolderGivesDefaultsAndRefusesTheSave)
{
    fs::create_directory(file_);
    ComPort = "junk";
    LoadSettings();
    EXPECT_EQ(ComPort, "COM1");
    try {
        SaveSettings();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + file_.string());
    }
    EXPECT_TRUE(fs::is_directory(file_));
}

TEST_F(SettingsFile, AFullDiskRefusesTheSaveAndKeepsTheOldFile)
{
    const std::string old = "[COMMON]\nPORT=COM2\n";
    WriteAll(file_, old);
    const std::string expected = "Unable to write to " + file_.string();
    ComPort = "COM5";
    // No file may grow: the limit holds for root too. Exit code 0: the right error was raised.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{0, 0};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SaveSettings();
        } catch (const std::runtime_error& e) {
            _exit(std::string(e.what()) == expected ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadAll(file_), old);
    EXPECT_EQ(fs::directory_iterator(dir_)->path(), file_);   // no temporary left behind
}

// A writable tarvel.ini in a folder that takes no new file is written in place; when that write
// fails too, the old contents stay whole. Root may write anywhere: the saves run in a child
// acting as an ordinary user. Exit code 0: both saves went as expected.
TEST_F(SettingsFile, AWritableFileInAReadOnlyFolderIsWrittenInPlace)
{
    const std::string old = "[COMMON]\nPORT=COM2\nUserKey=kept\n";
    WriteAll(file_, old);
    fs::permissions(file_, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec & ~fs::perms::others_exec);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                              | fs::perms::others_read | fs::perms::others_exec);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AsNobody nobody;
        if (!nobody.Ok() || std::ofstream(dir_ / "probe").is_open())
            _exit(3);
        ResetSettingsToDefaults();
        ComPort = "/dev/ttyUSB0";
        try {
            SaveSettings();
        } catch (const std::exception&) {
            _exit(1);
        }
        // No room to grow: the second save fails and leaves the first one's text.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(fs::file_size(file_)), static_cast<rlim_t>(fs::file_size(file_))};
        setrlimit(RLIMIT_FSIZE, &limit);
        ComPort = "COM4";
        try {
            SaveSettings();
        } catch (const std::runtime_error& e) {
            _exit(std::string(e.what()) == "Unable to write to " + file_.string() ? 0 : 4);
        }
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::permissions(dir_, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadAll(file_), "[COMMON]\nPORT=/dev/ttyUSB0\nUserKey=kept\nCOMPortBaudRate=115200\nHOMEDIR=\n"
                              "COMCheckLineStatus=0\nCOMHwFlow=1\n");
    EXPECT_EQ(fs::directory_iterator(dir_)->path(), file_);
}

TEST_F(SettingsFile, TheFolderIsCapturedOnceAtStart)
{
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    InitSettingsDir();
    fs::current_path(before);
    EXPECT_EQ(SettingsFileName(), (fs::canonical(dir_) / "tarvel.ini").string());
    ResetSettingsToDefaults();
    SaveSettings();
    EXPECT_TRUE(fs::exists(dir_ / "tarvel.ini"));
}

TEST_F(SettingsFile, ALinkedSettingsFileStaysALink)
{
    const fs::path real = dir_ / "shared.ini";
    WriteAll(real, "[COMMON]\nPORT=COM2\n");
    fs::create_symlink(real, file_);
    LoadSettings();
    EXPECT_EQ(ComPort, "COM2");
    ComPort = "COM4";
    SaveSettings();
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(ReadAll(real), "[COMMON]\nPORT=COM4\nCOMPortBaudRate=115200\nHOMEDIR=\nCOMCheckLineStatus=0\nCOMHwFlow=1\n");
}
