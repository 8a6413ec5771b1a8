// The Windows side of the platform layer under the real system calls: the port list from the
// registry, the ANSI code page in the wire names, loading the synthesizer library, replacing a
// file and the settings file in a folder whose name is not ASCII.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Win32TestUtil.h"
#include "platform/CodePage.h"
#include "platform/DynLib.h"
#include "platform/Files.h"
#include "platform/SerialPorts.h"
#include "protocol/Reply.h"
#include "protocol/Text.h"
#include "protocol/Upload.h"
#include "smaf/MA3_Drv.h"
#include "settings/Unit_COMPorts.h"
#include "settings/Unit_Init.h"

namespace {

// ---- the port list -------------------------------------------------------------------------

constexpr const char* kTestKey = "SOFTWARE\\TarvelTest\\SERIALCOMM";

struct TestPortKey : ::testing::Test {
    void SetUp() override
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(key);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\TarvelTest");
    }
    void Add(const char* valueName, const std::string& data, bool withZero = true)
    {
        ASSERT_EQ(RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + (withZero ? 1 : 0))),
                  ERROR_SUCCESS);
    }
    HKEY key = nullptr;
};

TEST_F(TestPortKey, ListsTheDataOfEveryValueSortedWithoutRegardToCase)
{
    Add("\\Device\\Serial0", "COM2");
    Add("\\Device\\Serial1", "COM10");
    Add("\\Device\\VCP0", "com1");
    Add("\\Device\\NoZero", "COM3", false);   // stored without its terminating zero
    const DWORD number = 5;
    RegSetValueExA(key, "NotAName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);

    std::vector<std::string> list{"stale"};
    ListSerialPorts(list, kTestKey, {});
    EXPECT_EQ(list, (std::vector<std::string>{"com1", "COM10", "COM2", "COM3"}));
}

TEST_F(TestPortKey, AnEmptyKeyGivesAnEmptyList)
{
    std::vector<std::string> list{"stale"};
    ListSerialPorts(list, kTestKey, {});
    EXPECT_TRUE(list.empty());
}

TEST(PortList, MissingKeyRaisesRegistryErrorWithTheSystemCode)
{
    std::vector<std::string> list{"kept"};
    try {
        ListSerialPorts(list, "SOFTWARE\\TarvelTest\\NoSuchKey", {});
        FAIL() << "no error raised";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 23);
        EXPECT_EQ(e.PlatformCode, 2);
        EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
    }
    EXPECT_EQ(ComErrorText(23), "Registry error");
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

TEST(PortList, SystemKeyListsWhatTheSystemHas)
{
    // Wine lists the serial devices it maps (COM1 for /dev/ttyS0); a system without serial
    // ports has no key at all, which is the registry error of the port list.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SerialPorts::kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::vector<std::string> list;
        EXPECT_THROW(ListSerialPorts(list), EComPort);
        return;
    }
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    std::vector<std::string> list;
    ListSerialPorts(list);
    EXPECT_EQ(list.size(), values);
    for (const auto& name : list)
        EXPECT_EQ(name.rfind("COM", 0), 0u) << name;
}

// ---- code pages ----------------------------------------------------------------------------

const std::string kCyrillicUtf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";   // "Привет"
const std::string kCyrillic1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
const std::string kCjkUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC";                                  // two CJK ideographs
const std::string kEAcuteUtf8 = "\xC3\xA9";

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(CodePage1252, WireNamesInAWesternCodePage)
{
    REQUIRE_ANSI_CODE_PAGE(1252);
    struct Row {
        std::string wire;
        std::string ansi;
    };
    const Row rows[] = {
        {kCyrillicUtf8 + ".mmf", "??????.mmf"},     // not in the code page: its default character
        {kCjkUtf8 + ".jpg", "??.jpg"},
        {"caf" + kEAcuteUtf8 + ".mid", "caf\xE9.mid"},
        {"\xE2\x82\xAC" "5.txt", "\x80" "5.txt"},   // the euro sign has a place in 1252
        {Repeat(kEAcuteUtf8, 60), std::string(60, '\xE9')},   // whole: only what is shown is cut
        {"bad\xC3", "bad?"},                        // not UTF-8: the code page's default character
        // No look-alikes: full-width quote and backslash would change the wire text and paths.
        {"a\xEF\xBC\x82" "b\xEF\xBC\xBC" "c", "a?b?c"},
        {"\xC4\x89", "?"},                          // c with circumflex is not "c"
    };
    for (const Row& r : rows)
        EXPECT_EQ(NameFromWire(r.wire), r.ansi) << r.wire;

    EXPECT_EQ(CodePage::AnsiToUtf8("caf\xE9"), "caf" + kEAcuteUtf8);
    EXPECT_EQ(CodePage::Utf8ToAnsi(CodePage::AnsiToUtf8("\xE9\x80\xFF")), "\xE9\x80\xFF");
    EXPECT_EQ(CommandFSFR("caf\xE9.mid"), "AT+FSFR= -1,\"caf" + kEAcuteUtf8 + ".mid\"\r\n");
    EXPECT_EQ(CommandFSFE("caf\xE9.mid"), "AT+FSFE= -1,\"caf" + kEAcuteUtf8 + ".mid\"\r\n");
}

TEST(CodePage1252, HandsetNameMeasuresTheBaseInUtf8)
{
    REQUIRE_ANSI_CODE_PAGE(1252);
    // 30 accented letters: 30 bytes here, 60 in UTF-8, so 12 of them stay.
    EXPECT_EQ(HandsetName(std::string(30, '\xE9') + ".mmf", false), std::string(12, '\xE9') + ".mmf");
    EXPECT_EQ(HandsetName(std::string(30, '\xE9') + ".mmf", true), std::string(12, '\xE9') + ".mel");

    const auto header = MelodyHeader("\xE9t\xE9.mmf");
    const std::string utf8 = kEAcuteUtf8 + "t" + kEAcuteUtf8 + ".mmf";
    EXPECT_EQ(std::string(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(utf8.size())), utf8);
    for (std::size_t i = utf8.size(); i < header.size(); ++i)
        EXPECT_EQ(header[i], 0xFF) << i;
}

TEST(CodePage1251, CyrillicNames)
{
    REQUIRE_ANSI_CODE_PAGE(1251);
    EXPECT_EQ(NameFromWire(kCyrillicUtf8 + ".mmf"), kCyrillic1251 + ".mmf");
    EXPECT_EQ(NameFromWire("caf" + kEAcuteUtf8), "caf?");   // no accented e in 1251
    EXPECT_EQ(CommandFSFR(kCyrillic1251 + ".mmf"), "AT+FSFR= -1,\"" + kCyrillicUtf8 + ".mmf\"\r\n");

    // A base of 30 Cyrillic letters (30 bytes here, 60 in UTF-8) keeps 12; the extension stays.
    const std::string base30 = Repeat("\xE6", 30);   // "ж"
    EXPECT_EQ(HandsetName(base30 + ".jpeg", false), Repeat("\xE6", 12) + ".jpeg");
    EXPECT_EQ(HandsetName(kCyrillic1251 + ".mmf", true), kCyrillic1251 + ".mel");

    TFileInfo r;
    r.Name = kCyrillic1251 + ".mmf";
    r.FileType = 0;
    r.Size = 10;
    r.Crc = 1;
    EXPECT_EQ(BuildWriteArgs(r), "-1,\"" + kCyrillicUtf8 + ".mmf\",0,\" \",10,1");
}

TEST(CodePage932, DoubleByteCharactersAreNeverSplit)
{
    REQUIRE_ANSI_CODE_PAGE(932);
    const std::string nichi = "\x93\xFA";   // one ideograph, two bytes here, three in UTF-8
    EXPECT_EQ(NameFromWire(kCjkUtf8 + ".mmf"), nichi + "\x96\x7B.mmf");
    EXPECT_EQ(CodePage::CutAnsi("ab" + nichi, 3), "ab");
    EXPECT_EQ(CodePage::CutAnsi("ab" + nichi, 4), "ab" + nichi);

    // An INI value with a double-byte character across the 2047-byte limit loses it whole.
    const std::string value = std::string(2046, 'a') + nichi + "b";
    EXPECT_EQ(IniReadString(ParseIni("[S]\nK=" + value + "\n"), "S", "K"), std::string(2046, 'a'));
    // Eleven ideographs: 22 bytes here, 33 in UTF-8; the base keeps 8 of them.
    EXPECT_EQ(HandsetName(Repeat(nichi, 11) + ".jpg", false), Repeat(nichi, 8) + ".jpg");
}

// ---- library loading -----------------------------------------------------------------------

TEST(Loader, FindsTheLibraryBesideTheProgram)
{
    EXPECT_EQ(DynLib::LibraryFileName(kSynthLibraryStem), "ma3smwemu_gsm.dll");
    const std::string dir = DynLib::ProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(GetFileAttributesA((dir + "\\test_win32_platform.exe").c_str()), INVALID_FILE_ATTRIBUTES) << dir;

    ASSERT_TRUE(LoadSynthLibrary()) << DynLib::LastError();
    EXPECT_TRUE(SynthAvailable);
    const void* entryPoints[] = {
        reinterpret_cast<void*>(MA3_Drv::pMaSound_Initialize), reinterpret_cast<void*>(MA3_Drv::pMaSound_Create),
        reinterpret_cast<void*>(MA3_Drv::pMaSound_Load),       reinterpret_cast<void*>(MA3_Drv::pMaSound_Open),
        reinterpret_cast<void*>(MA3_Drv::pMaSound_Standby),    reinterpret_cast<void*>(MA3_Drv::pMaSound_Start),
        reinterpret_cast<void*>(MA3_Drv::pMaSound_Seek),       reinterpret_cast<void*>(MA3_Drv::pMaSound_Control),
        reinterpret_cast<void*>(MA3_Drv::pMaSound_Stop),       reinterpret_cast<void*>(MA3_Drv::pMaSound_Close),
        reinterpret_cast<void*>(MA3_Drv::pMaSound_Unload),     reinterpret_cast<void*>(MA3_Drv::pMaSound_End),
    };
    for (std::size_t i = 0; i < std::size(entryPoints); ++i)
        EXPECT_NE(entryPoints[i], nullptr) << i;

    // The calls reach the library, and its callback thread reaches ours.
    const auto calls = reinterpret_cast<const char* (*)()>(DynLib::Symbol(SynthLibrary, "Double_Calls"));
    const auto fire = reinterpret_cast<int32_t (*)(uint8_t)>(DynLib::Symbol(SynthLibrary, "Double_FireEvent"));
    ASSERT_TRUE(calls && fire);
    static int events = 0;
    std::uint8_t data[4] = {1, 2, 3, 4};
    MA3_Drv::MaSound_Initialize();
    EXPECT_EQ(MA3_Drv::MaSound_Load(1, data, 4, 1, [](std::uint8_t e) { events += e; }, nullptr), 7);
    EXPECT_EQ(std::string(calls()), "Initialize()\nLoad(1,data,4,1,callback,0)\n");
    EXPECT_EQ(fire(127), 1);
    EXPECT_EQ(events, 127);
}

TEST(Loader, PlainNameGoesThroughTheSystemSearch)
{
    // Without a folder of our own the system's search finds it in the program's folder too.
    DynLib::Handle h = DynLib::OpenLibrary("ma3smwemu_gsm.dll", "");
    ASSERT_NE(h, nullptr) << DynLib::LastError();
    EXPECT_NE(DynLib::Symbol(h, "MaSound_End"), nullptr);
    EXPECT_EQ(DynLib::Symbol(h, "MaSound_Nothing"), nullptr);
}

TEST(Loader, AWithheldEntryPointStaysEmpty)
{
    const std::string dir = DynLib::ProgramDir() + "\\synth-doubles\\";
    ASSERT_TRUE(LoadSynthLibraryFile(dir + "ma3double_no_open.dll")) << DynLib::LastError();
    EXPECT_EQ(MA3_Drv::pMaSound_Open, nullptr);
    EXPECT_NE(MA3_Drv::pMaSound_Start, nullptr);
    EXPECT_NE(MA3_Drv::pMaSound_End, nullptr);

    ASSERT_TRUE(LoadSynthLibraryFile(dir + "ma3double_no_end.dll"));
    EXPECT_EQ(MA3_Drv::pMaSound_End, nullptr);
    EXPECT_EQ(MA3_Drv::MaSound_End(), 0);
    EXPECT_NE(MA3_Drv::pMaSound_Open, nullptr);
}

TEST(Loader, AMissingFileIsReportedWithTheSystemsReason)
{
    EXPECT_FALSE(LoadSynthLibraryFile(DynLib::ProgramDir() + "\\no-such-library.dll"));
    EXPECT_FALSE(SynthAvailable);
    EXPECT_EQ(MA3_Drv::pMaSound_Load, nullptr);
    EXPECT_NE(DynLib::LastError().find("error 126"), std::string::npos) << DynLib::LastError();
}

// ---- saving files --------------------------------------------------------------------------


std::vector<std::string> FolderEntries(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

SaveResult Save(const std::string& path, const std::string& bytes)
{
    return SaveFileReplacing(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(SaveFile, ReplacesInOneStepAndLeavesNoTemporaryFile)
{
    const ScratchDir dir;
    const std::string file = dir.path + "\\tune.mmf";
    EXPECT_EQ(Save(file, std::string("first")), SaveResult::Ok);
    EXPECT_EQ(Save(file, std::string("second\0x", 8)), SaveResult::Ok);
    EXPECT_EQ(ReadWholeFile(file, "<missing>"), std::string("second\0x", 8));
    EXPECT_EQ(Save(dir.path + "\\empty.bin", ""), SaveResult::Ok);
    EXPECT_EQ(ReadWholeFile(dir.path + "\\empty.bin", "<missing>"), "");
    EXPECT_EQ(FolderEntries(dir.path).size(), 2u);

    EXPECT_EQ(Save(dir.path + "\\no-such-folder\\x.bin", "x"), SaveResult::AccessFail);

    // What cannot be replaced (a folder of that name) stays, and no temporary file is left.
    // (Windows also refuses to replace a read-only file; Wine replaces it, as Linux does.)
    ASSERT_TRUE(CreateDirectoryA((dir.path + "\\taken").c_str(), nullptr));
    EXPECT_EQ(Save(dir.path + "\\taken", "third"), SaveResult::AccessFail);
    EXPECT_EQ(GetFileAttributesA((dir.path + "\\taken").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(FolderEntries(dir.path).size(), 3u);
}

// ---- the settings file ---------------------------------------------------------------------

TEST(SettingsFile, FoundAndWrittenInAFolderWithAnAnsiName)
{
    // A letter of the code page in use that is not ASCII: é in 1252, ж in 1251.
    const std::string letter = GetACP() == 1251 ? "\xE6" : "\xE9";
    ASSERT_EQ(CodePage::Utf8ToAnsi(CodePage::AnsiToUtf8(letter)), letter);
    const ScratchDir parent;
    const std::string dir = parent.path + "\\settings-" + letter;
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));

    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    InitSettingsDir();
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(SettingsDir, dir);
    EXPECT_EQ(SettingsFileName(), dir + "\\tarvel.ini");

    LoadSettings();   // no file: the defaults
    EXPECT_EQ(ComPort, "COM1");
    EXPECT_EQ(ComBaudRate, 115200);
    ComPort = "COM7";
    HomeDir = "C:\\" + letter + " dir";
    ComHwFlow = 2;
    SaveSettings();

    // The system's own reader finds our file under the same 8-bit name.
    char value[2048];
    GetPrivateProfileStringA("COMMON", "PORT", "", value, sizeof value, SettingsFileName().c_str());
    EXPECT_STREQ(value, "COM7");
    GetPrivateProfileStringA("COMMON", "HOMEDIR", "", value, sizeof value, SettingsFileName().c_str());
    EXPECT_EQ(std::string(value), "C:\\" + letter + " dir");
    EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"tarvel.ini"});

    ResetSettingsToDefaults();
    LoadSettings();
    EXPECT_EQ(ComPort, "COM7");
    EXPECT_EQ(HomeDir, "C:\\" + letter + " dir");
    EXPECT_EQ(ComHwFlow, 2);

    // Saving over the file replaces it.
    ComPort = "COM8";
    SaveSettings();
    GetPrivateProfileStringA("COMMON", "PORT", "", value, sizeof value, SettingsFileName().c_str());
    EXPECT_STREQ(value, "COM8");
    EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"tarvel.ini"});
}

} // namespace
