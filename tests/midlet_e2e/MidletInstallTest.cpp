// Copy As MIDlet end to end: the window offscreen, the virtual handset serving /java, and the
// files that end up on both sides.
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "midlet/MidletFormat.h"
#include "support/WindowFixture.h"

using namespace testsupport;
using Dialogs::Answer;

namespace {

namespace fs = std::filesystem;

// Every option back to its default, the served folder kept.
void Reset(HandsetOptions& o)
{
    HandsetOptions fresh;
    fresh.Root = o.Root;
    o = fresh;
}

// An index file holding the given texts.
std::string Index(std::initializer_list<std::string_view> texts)
{
    std::string file;
    for (std::string_view t : texts) {
        file += static_cast<char>(t.size() >> 8);
        file += static_cast<char>(t.size() & 0xFF);
        file += t;
    }
    return file;
}

const std::string kUrlFile = Index({"http://127.0.0.1:888/test/getNextApp.jad"});
const std::string kUploadFail = "File: \"suites.utf upload fail.";
const std::string kCreateNew = "File \"suites.utf\" or \"suitesName.utf\" not found in phone dir.\r\nCreate new?";

class MidletInstallTest : public WindowTest {
protected:
    fs::path java;
    std::string jar = PatternBytes(5000, 7);

    void SetUp() override
    {
        WindowTest::SetUp();
        java = phone / "java";
    }

    static std::string Jad(const std::string& name, const std::string& jarName, const std::string& size)
    {
        return "MIDlet-Name: " + name + "\r\nMIDlet-Version: 1.0\r\nMIDlet-Vendor: Tarvel\r\nMIDlet-Jar-URL: " + jarName
               + "\r\nMIDlet-Jar-Size: " + size + "\r\nMIDlet-1: " + name + ", /icon.png, game.Main\r\n";
    }
    std::string GameJad(const std::string& name = "Game") const
    {
        return Jad(name, "game.jar", std::to_string(jar.size()));
    }
    static std::string Manifest(const std::string& name)
    {
        return "MIDlet-Name: " + name + "\nMIDlet-Version: 1.0\nMIDlet-Vendor: Tarvel\nMIDlet-1: " + name
               + ", /icon.png, game.Main\n";
    }

    // The suite in the PC folder, the window online with /java on display.
    void Prepare(const std::string& jad)
    {
        WriteFile(pc / "game.jad", jad);
        WriteFile(pc / "game.jar", jar);
        StartOnline();
        OpenPhoneFolder("/java");
    }

    // Runs the command on the selected JAD with scripted answers; returns the boxes shown.
    std::vector<std::string> Install(std::vector<Answer> answers = {}, const std::string& jadName = "game.jad")
    {
        RefreshPC();
        SelectPC({jadName});
        dialogs->Clear();
        dialogs->Script(std::move(answers));
        handset->ClearLog();
        win->Action_CopyAsMIDletExecute();
        EXPECT_TRUE(WaitIdle());
        return Texts();
    }

    // Commands that changed the handset's files.
    std::vector<std::string> Changes() const
    {
        std::vector<std::string> changes;
        for (const std::string& c : handset->Commands())
            if (c.rfind("AT+FSFW", 0) == 0 || c.rfind("AT+FSFE", 0) == 0)
                changes.push_back(c);
        return changes;
    }

    void ExpectSuiteOnHandset(const std::string& prefix, const std::string& name)
    {
        EXPECT_EQ(ReadFile(java / (prefix + "suite.jad")), ReadFile(pc / "game.jad"));
        EXPECT_EQ(ReadFile(java / (prefix + "suite.jar")), jar);
        EXPECT_EQ(ReadFile(java / (prefix + "jadUrl.utf")), kUrlFile);
        EXPECT_EQ(ReadFile(java / (prefix + "suite.mf")), Manifest(name));
    }
};

TEST_F(MidletInstallTest, ExtendsBothIndexFilesAndSendsTheSuite)
{
    WriteFile(java / "suites.utf", Index({"#Old_"}));
    WriteFile(java / "suitesName.utf", Index({"Old"}));
    Prepare(GameJad());

    EXPECT_EQ(Install(), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(java / "suites.utf"), Index({"#Old_", "#Game_"}));
    EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"Old", "Game"}));
    ExpectSuiteOnHandset("#Game_", "Game");
    // The six files stay in the PC folder, and the phone list shows the new files.
    for (const char* name : {"#Game_suite.jad", "#Game_suite.jar", "#Game_jadUrl.utf", "#Game_suite.mf",
                             "suites.utf", "suitesName.utf"})
        EXPECT_EQ(ReadFile(pc / name), ReadFile(java / name)) << name;
    EXPECT_NE(PhoneItem("#Game_suite.jar"), nullptr);
    EXPECT_EQ(win->PCDir, pc.string());

    // The same suite again: the name is in the fetched index, nothing goes to the handset.
    EXPECT_EQ(Install({Answer::YesToAll}), (std::vector<std::string>{"File: suites.utf\r\nexists. Owerwrite?",
                                                                     "MIDlet with name \"Game\" already exists."}));
    EXPECT_EQ(Changes(), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"Old", "Game"}));
}

TEST_F(MidletInstallTest, CreateModeWhenTheStoreIsMissing)
{
    Prepare(GameJad("Hi Go"));
    WriteFile(pc / "suites.utf", Index({"stale_"}));   // left from another handset: replaced

    EXPECT_EQ(Install({Answer::Yes}), std::vector<std::string>{kCreateNew});
    EXPECT_EQ(ReadFile(java / "suites.utf"), Index({"#Hi%0020#Go_"}));
    EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"Hi Go"}));
    ExpectSuiteOnHandset("#Hi%0020#Go_", "Hi Go");
}

TEST_F(MidletInstallTest, OneIndexFilePresentAndYesMakesBothAnew)
{
    WriteFile(java / "suitesName.utf", Index({"Old", "Other"}));
    Prepare(GameJad());

    EXPECT_EQ(Install({Answer::Yes}), std::vector<std::string>{kCreateNew});
    EXPECT_EQ(ReadFile(java / "suites.utf"), Index({"#Game_"}));
    EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"Game"}));
}

TEST_F(MidletInstallTest, OneIndexFileMissingAndNo)
{
    WriteFile(java / "suitesName.utf", Index({"Old"}));
    Prepare(GameJad());

    // Without a local copy of the missing file: nothing happens on the handset.
    EXPECT_EQ(Install({Answer::No}), (std::vector<std::string>{kCreateNew, kUploadFail}));
    EXPECT_EQ(Changes(), std::vector<std::string>{});

    // With one left from an earlier installation, that copy is extended and sent.
    WriteFile(pc / "suites.utf", Index({"#Old_"}));
    EXPECT_EQ(Install({Answer::No, Answer::Yes}),
              (std::vector<std::string>{kCreateNew, "File: suitesName.utf\r\nexists. Owerwrite?"}));
    EXPECT_EQ(ReadFile(java / "suites.utf"), Index({"#Old_", "#Game_"}));
    EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"Old", "Game"}));
}

TEST_F(MidletInstallTest, FailedFetchNeverUsesAnOldLocalCopy)
{
    WriteFile(java / "suites.utf", Index({"#Old_", "#New_"}));
    WriteFile(java / "suitesName.utf", Index({"Old", "New"}));
    WriteFile(pc / "suites.utf", Index({"#Old_"}));   // copies from an earlier installation
    WriteFile(pc / "suitesName.utf", Index({"Old"}));
    Prepare(GameJad());

    struct Fault {
        const char* what;
        std::function<void(HandsetOptions&)> set;
    } faults[] = {
        {"CRC error", [](HandsetOptions& o) { o.CorruptReadByte = true; }},
        {"size error", [](HandsetOptions& o) { o.AnnouncedSizeDelta = 3; }},
        {"+CME ERROR", [](HandsetOptions& o) { o.CmeErrorOn = "+FSFR"; }},
    };
    for (const Fault& f : faults) {
        handset->Update([](HandsetOptions& o) { Reset(o); });
        handset->Update(f.set);
        const std::vector<std::string> texts = Install({Answer::YesToAll});
        ASSERT_FALSE(texts.empty()) << f.what;
        EXPECT_EQ(texts.back(), kUploadFail) << f.what;
        EXPECT_EQ(Changes(), std::vector<std::string>{}) << f.what;
        EXPECT_EQ(ReadFile(pc / "suitesName.utf"), Index({"Old"})) << f.what;
        EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"Old", "New"})) << f.what;
    }

    // The user's own No keeps the local copy, which may be out of date: nothing is sent.
    handset->Update([](HandsetOptions& o) { Reset(o); });
    EXPECT_EQ(Install({Answer::No, Answer::Yes}),
              (std::vector<std::string>{"File: suites.utf\r\nexists. Owerwrite?",
                                        "File: suitesName.utf\r\nexists. Owerwrite?",
                                        "File: suites.utf\r\nwas not fetched from the phone; its copy on the PC may be "
                                        "out of date.\r\nNothing was installed."}));
    EXPECT_EQ(Changes(), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(java / "suites.utf"), Index({"#Old_", "#New_"}));
    EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"Old", "New"}));
}

TEST_F(MidletInstallTest, SilentHandsetDuringTheFetch)
{
    watchdogMs = 600;   // the handset leaves a command unanswered
    WriteFile(java / "suites.utf", Index({"#Old_"}));
    WriteFile(java / "suitesName.utf", Index({"Old"}));
    WriteFile(pc / "suites.utf", Index({"#Old_"}));
    WriteFile(pc / "suitesName.utf", Index({"Old"}));
    Prepare(GameJad());
    handset->Update([](HandsetOptions& o) { o.SilentOn = "+FSFR"; });

    const std::vector<std::string> texts = Install({Answer::YesToAll});
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), kUploadFail);
    EXPECT_EQ(Changes(), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(pc / "suitesName.utf"), Index({"Old"}));
}

TEST_F(MidletInstallTest, StopsBeforeTheHandsetChanges)
{
    WriteFile(java / "suites.utf", Index({"#Old_"}));
    WriteFile(java / "suitesName.utf", Index({"Old"}));
    WriteFile(pc / "suites.utf", Index({"#Old_"}));   // so that every run asks once
    WriteFile(pc / "suitesName.utf", Index({"Old"}));
    WriteFile(pc / "long.jad", Jad(std::string(256, 'n'), "game.jar", std::to_string(jar.size())));
    WriteFile(pc / "spaces.jad", Jad("a" + std::string(51, ' ') + "b", "game.jar", std::to_string(jar.size())));
    WriteFile(pc / "nojar.jad", Jad("Game", "missing.jar", "10"));
    WriteFile(pc / "size.jad", Jad("Game", "GAME.JAR", std::to_string(jar.size() + 1)));
    WriteFile(pc / "url.jad", Jad("Game", "http://example.org/game.jar", std::to_string(jar.size())));
    WriteFile(pc / "zero.jad", Jad("Game", "game.jar", "0"));
    WriteFile(pc / "bad.jad", Jad("Game", "game.jar", "12k"));
    Prepare(GameJad());

    const struct {
        const char* jad;
        std::string message;
    } cases[] = {
        {"nojar.jad", "JAR file: missing.jar not found."},
        {"size.jad", "JAR file size incorrect."},
        {"url.jad", "JAR file: http://example.org/game.jar not found."},
        {"zero.jad", "Key: MIDlet-Jar-Size: not found."},
        {"bad.jad", "Error reading value of key: MIDlet-Jar-Size:."},
        {"long.jad", "MIDlet name is too long: 256 bytes, at most 255 fit into suitesName.utf.\r\n"
                     "Nothing was installed."},
        {"spaces.jad", "MIDlet prefix \"a" + EncodeSuitePrefix(std::string(51, ' '))
                           + "b_\" is too long: 258 bytes, at most 255 fit into suites.utf.\r\nNothing was installed."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Install({Answer::YesToAll}, c.jad),
                  (std::vector<std::string>{"File: suites.utf\r\nexists. Owerwrite?", c.message}))
            << c.jad;
        EXPECT_EQ(Changes(), std::vector<std::string>{}) << c.jad;
        EXPECT_EQ(ReadFile(pc / "suitesName.utf"), Index({"Old"})) << c.jad;
    }
}

TEST_F(MidletInstallTest, DamagedIndexOnTheHandset)
{
    WriteFile(java / "suites.utf", Index({"#Old_"}));
    WriteFile(java / "suitesName.utf", std::string("\0\x32Old", 5));   // 50 bytes announced, 3 there
    Prepare(GameJad());

    const std::vector<std::string> texts = Install();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "Error while creating suitesName.utf");
    EXPECT_EQ(Changes(), std::vector<std::string>{});
}

TEST_F(MidletInstallTest, LongPrefixGivesShortenedNamesOnTheHandset)
{
    Prepare(GameJad("ABCDEFGHIJ"));   // prefix #A#B#C#D#E#F#G#H#I#J_ (21 bytes)

    EXPECT_EQ(Install({Answer::Yes}), std::vector<std::string>{kCreateNew});
    const std::string prefix = "#A#B#C#D#E#F#G#H#I#J_";
    EXPECT_EQ(ReadFile(java / "suites.utf"), Index({prefix}));
    EXPECT_EQ(ReadFile(java / (prefix + "sui.jad")), ReadFile(pc / "game.jad"));
    EXPECT_EQ(ReadFile(java / (prefix + "sui.jar")), jar);
    EXPECT_EQ(ReadFile(java / (prefix + "sui.mf")), Manifest("ABCDEFGHIJ"));
    EXPECT_EQ(ReadFile(java / (prefix + "jad.utf")), kUrlFile);
    // The PC keeps the full names.
    EXPECT_TRUE(fs::exists(pc / (prefix + "suite.jad")));
    EXPECT_TRUE(fs::exists(pc / (prefix + "jadUrl.utf")));
}

// Two suites whose file names shorten alike: the second would replace the first one's files, so
// it is refused before anything is sent, and the index files stay as they are on both sides.
TEST_F(MidletInstallTest, ASuiteWhoseShortenedNamesAreTakenIsRefused)
{
    Prepare(GameJad("Space Invaders 1"));
    WriteFile(pc / "game2.jad", Jad("Space Invaders 2", "game.jar", std::to_string(jar.size())));
    ASSERT_EQ(Install({Answer::Yes}), std::vector<std::string>{kCreateNew});
    ASSERT_TRUE(fs::exists(java / "#Space%0020#Invaders%002.jar"));

    EXPECT_EQ(Install({Answer::YesToAll}, "game2.jad"),
              (std::vector<std::string>{"File: suites.utf\r\nexists. Owerwrite?",
                                        "File: #Space%0020#Invaders%002.jad\r\nalready exists in the phone folder; "
                                        "installing would replace it.\r\nNothing was installed."}));
    EXPECT_EQ(Changes(), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(java / "#Space%0020#Invaders%002.jar"), jar);
    for (const fs::path& dir : {java, pc})
        EXPECT_EQ(ReadFile(dir / "suitesName.utf"), Index({"Space Invaders 1"})) << dir;
}

// The installer copies the JAR into the PC folder under the suite's name before sending it: on a
// full disk the copy fails whole, and no cut-off copy is left to be sent later.
TEST_F(MidletInstallTest, FullDiskLeavesNoCutOffSuiteFile)
{
    Prepare(GameJad());
    {
        const FileSizeLimit limit(1000);
        EXPECT_EQ(Install({Answer::Yes}), (std::vector<std::string>{kCreateNew, "Copy file error:\r\ngame.jar"}));
    }
    for (const auto& e : fs::directory_iterator(pc)) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name != "#Game_suite.jar" && name.rfind(".#Game_suite.jar", 0) != 0) << name;
    }
    EXPECT_EQ(ReadFile(pc / "game.jar"), jar);
    EXPECT_EQ(handset->Commands(), std::vector<std::string>{});
}

TEST_F(MidletInstallTest, TheDemoSuiteInstallsIntoJava)
{
    const fs::path demo = fs::path(TARVEL_SOURCE_DIR) / "demo" / "pc";
    if (!fs::exists(demo / "HelloPhone.jad"))
        GTEST_SKIP() << "no demo suite in " << demo;
    fs::copy_file(demo / "HelloPhone.jad", pc / "HelloPhone.jad");
    fs::copy_file(demo / "HelloPhone.jar", pc / "HelloPhone.jar");
    StartOnline();
    OpenPhoneFolder("/java");

    EXPECT_EQ(Install({Answer::Yes}, "HelloPhone.jad"), std::vector<std::string>{kCreateNew});
    const std::string prefix = "#Hello#Phone_";
    EXPECT_EQ(ReadFile(java / "suites.utf"), Index({prefix}));
    EXPECT_EQ(ReadFile(java / "suitesName.utf"), Index({"HelloPhone"}));
    EXPECT_EQ(ReadFile(java / (prefix + "suite.jad")), ReadFile(demo / "HelloPhone.jad"));
    EXPECT_EQ(ReadFile(java / (prefix + "suite.jar")), ReadFile(demo / "HelloPhone.jar"));
    EXPECT_EQ(ReadFile(java / (prefix + "jadUrl.utf")), kUrlFile);
    const std::string manifest = ReadFile(java / (prefix + "suite.mf"));
    EXPECT_EQ(manifest.find("MIDlet-Jar-"), std::string::npos);
    EXPECT_EQ(manifest.find('\r'), std::string::npos);
    EXPECT_EQ(manifest.rfind("MIDlet-1: HelloPhone, /hello.png, demo.HelloPhone\n", 0), 0u);
}

} // namespace
