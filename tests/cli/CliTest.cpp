// tarvel-cli run as a program against the virtual handset; the PC and handset files compared
// byte for byte.
#include <filesystem>
#include <fstream>
#include <memory>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "protocol/PhoneTree.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome Start(const QString& program, const QStringList& args, const QString& cwd, const QString& port = {})
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVEL_PORT"), port);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARVEL_BIN_DIR "/") + program, args);
    p.closeWriteChannel();   // no terminal and nothing to read: questions are refused
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class CliTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    fs::path phone, pc;
    std::unique_ptr<VirtualHandset> handset;

    void SetUp() override
    {
        phone = fs::path(tmp.path().toStdString()) / "phone";
        pc = fs::path(tmp.path().toStdString()) / "pc";
        for (const std::string& folder : PhoneTreeFolders())
            fs::create_directories(phone / folder.substr(1));
        fs::create_directories(pc);
        WriteFile(phone / "user/sounds/tune.mmf", "MMMD tune");
        WriteFile(phone / "images/sunrise.png", std::string(5000, 'p'));
        HandsetOptions options;
        options.Root = phone.string();
        handset = std::make_unique<VirtualHandset>(options);
        ASSERT_TRUE(handset->Open());
        handset->Start();
    }

    // Qt cannot remove names that are not UTF-8 (the backup tests make some).
    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(tmp.path().toStdString(), error);
    }

    Outcome Cli(QStringList args) { return Start(QStringLiteral("tarvel-cli"), args, QString::fromStdString(pc.string()),
                                             QString::fromStdString(handset->SlavePath())); }
    int Reads() const
    {
        int n = 0;
        for (const std::string& c : handset->Commands())
            n += c.rfind("AT+FSFR", 0) == 0;
        return n;
    }
};

TEST_F(CliTest, ListsAsTextAndAsJson)
{
    const Outcome text = Cli({"ls", "/user/sounds"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("tune.mmf    302         9  "), std::string::npos) << text.out;
    const Outcome json = Cli({"ls", "user/sounds/", "--json"});
    const QJsonObject file = QJsonDocument::fromJson(QByteArray::fromStdString(json.out))["files"][0].toObject();
    EXPECT_EQ(file["name"].toString(), "tune.mmf");
    EXPECT_EQ(file["type"].toInt(), 302);
    EXPECT_EQ(file["size"].toInt(), 9);

    // A comma in a name is listed; an entry that cannot be read (a size beyond 32 bits) is
    // reported and fails the command.
    WriteFile(phone / "user/sounds/photo 1,2.jpg", "jpg");
    WriteFile(phone / "user/sounds/huge.bin", "");
    fs::resize_file(phone / "user/sounds/huge.bin", 3000000000u);   // sparse
    const Outcome odd = Cli({"ls", "/user/sounds"});
    EXPECT_EQ(odd.status, 1);
    EXPECT_NE(odd.out.find("photo 1,2.jpg    106         3  "), std::string::npos) << odd.out;
    EXPECT_NE(odd.err.find("tarvel-cli: /user/sounds: the phone listed an entry that could not be read: +FSDL: "
                           "0,\"huge.bin\",0,0,0,0,3000000000,"),
              std::string::npos) << odd.err;
}

TEST_F(CliTest, PutGetAndRemoveKeepEveryByte)
{
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    WriteFile(pc / "up/all bytes.bin", bytes);
    const Outcome put = Cli({"put", "up/all bytes.bin", "/test"});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_EQ(ReadFile(phone / "test/all bytes.bin"), bytes);

    fs::create_directories(pc / "down");
    EXPECT_EQ(Cli({"get", "/test/all bytes.bin", "-o", "down"}).status, 0);
    EXPECT_EQ(ReadFile(pc / "down/all bytes.bin"), bytes);
    // A file that is there is not replaced without an answer; --overwrite gives it.
    const Outcome again = Cli({"get", "/test/all bytes.bin", "-o", "down"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("exists. Owerwrite?"), std::string::npos) << again.err;
    EXPECT_EQ(Cli({"get", "/test/all bytes.bin", "-o", "down", "--skip-existing"}).status, 0);

    EXPECT_EQ(Cli({"rm", "/test/all bytes.bin"}).status, 1);   // not without --yes
    EXPECT_TRUE(fs::exists(phone / "test/all bytes.bin"));
    EXPECT_EQ(Cli({"rm", "--yes", "/test/all bytes.bin"}).status, 0);
    EXPECT_FALSE(fs::exists(phone / "test/all bytes.bin"));
}

TEST_F(CliTest, BackupFetchesOnlyWhatChanged)
{
    const Outcome first = Cli({"backup", "bk"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("2 new, 0 changed, 0 unchanged, 0 failed"), std::string::npos) << first.out;
    EXPECT_EQ(ReadFile(pc / "bk/images/sunrise.png"), ReadFile(phone / "images/sunrise.png"));

    handset->ClearLog();
    EXPECT_NE(Cli({"backup", "bk"}).out.find("0 new, 0 changed, 2 unchanged"), std::string::npos);
    EXPECT_EQ(Reads(), 0);

    WriteFile(phone / "user/sounds/tune.mmf", "MMMD a longer tune");
    WriteFile(phone / "mms/inbox/new.txt", "hello");
    const Outcome third = Cli({"backup", "bk"});
    EXPECT_NE(third.out.find("changed   /user/sounds/tune.mmf\n"), std::string::npos) << third.out;
    EXPECT_NE(third.out.find("1 new, 1 changed, 1 unchanged, 0 failed"), std::string::npos) << third.out;
    EXPECT_EQ(Reads(), 2);
    EXPECT_EQ(ReadFile(pc / "bk/user/sounds/tune.mmf"), "MMMD a longer tune");
}

// Handset names that the PC would take for the manifest, show alike, hold a line break or a
// comma, and a PC file the backup did not write: each phone file gets a PC file of its own, the
// manifest keeps every line, and the PC file is replaced only with --overwrite. A link that goes
// offline leaves the files it never tried counted as such.
TEST_F(CliTest, BackupKeepsNamesApartAndPcFilesItDidNotWrite)
{
    handset->Update([](HandsetOptions& o) { o.CodedNames = true; });   // ".tarvel-backup", "a\nb\x1B[2J.mmf"
    WriteFile(phone / "%2Etarvel-backup", "phone notes");
    WriteFile(phone / "r\xFE.txt", "one");
    WriteFile(phone / "r\xFF.txt", "two");
    WriteFile(phone / "user/sounds/a%0Ab%1B[2J.mmf", "MMMD odd");
    WriteFile(phone / "images/photo 1,2.jpg", "jpeg");
    WriteFile(phone / "readme.txt", "phone readme");
    WriteFile(pc / "bk/readme.txt", "mine");
    const Outcome first = Cli({"backup", "bk"});
    EXPECT_EQ(first.status, 1);
    EXPECT_NE(first.err.find("tarvel-cli: File: readme.txt exists. Owerwrite? -- not answered without a terminal"),
              std::string::npos) << first.err;
    EXPECT_NE(first.out.find("failed    /readme.txt\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("new       /user/sounds/a\\x0Ab\\x1B[2J.mmf\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("7 new, 0 changed, 0 unchanged, 1 failed\n"), std::string::npos) << first.out;
    EXPECT_EQ(ReadFile(pc / "bk/readme.txt"), "mine");
    EXPECT_EQ(ReadFile(pc / "bk/%2Etarvel-backup"), "phone notes");
    EXPECT_EQ(ReadFile(pc / "bk/r%FE.txt"), "one");
    EXPECT_EQ(ReadFile(pc / "bk/r%FF.txt"), "two");
    EXPECT_EQ(ReadFile(pc / "bk/user/sounds/a%0Ab%1B[2J.mmf"), "MMMD odd");
    EXPECT_EQ(ReadFile(pc / "bk/images/photo 1,2.jpg"), "jpeg");
    const std::string manifest = ReadFile(pc / "bk/.tarvel-backup");
    for (const char* line : {"\t/.tarvel-backup\n", "\t/r\xFE.txt\n", "\t/r\xFF.txt\n", "\t/user/sounds/a%0Ab%1B[2J.mmf\n",
                             "\t/images/photo 1,2.jpg\n"})
        EXPECT_NE(manifest.find(line), std::string::npos) << line << manifest;
    EXPECT_EQ(manifest.find("readme"), std::string::npos) << manifest;
    EXPECT_EQ(Cli({"ls", "/user/sounds"}).out.find('\x1B'), std::string::npos);

    handset->ClearLog();
    const Outcome second = Cli({"backup", "bk"});
    EXPECT_NE(second.out.find("0 new, 0 changed, 7 unchanged, 1 failed\n"), std::string::npos) << second.out;
    EXPECT_EQ(Reads(), 0);
    const Outcome third = Cli({"backup", "--overwrite", "bk"});
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_NE(third.out.find("1 new, 0 changed, 7 unchanged, 0 failed\n"), std::string::npos) << third.out;
    EXPECT_EQ(ReadFile(pc / "bk/readme.txt"), "phone readme");

    // The first read goes unanswered: the link goes offline, the other change is never tried.
    WriteFile(phone / "r\xFE.txt", "one more");
    WriteFile(phone / "r\xFF.txt", "two more");
    handset->Update([](HandsetOptions& o) { o.SilentOn = "+FSFR"; });
    const Outcome offline = Cli({"backup", "bk"});
    EXPECT_EQ(offline.status, 1);
    EXPECT_NE(offline.out.find("0 new, 0 changed, 6 unchanged, 1 failed, 1 not tried\n"), std::string::npos) << offline.out;
}

TEST_F(CliTest, InstallMidletMakesTheStoreOnlyWithYes)
{
    WriteFile(pc / "game.jar", std::string(300, 'j'));
    WriteFile(pc / "game.jad", "MIDlet-Name: Game\r\nMIDlet-Jar-URL: game.jar\r\nMIDlet-Jar-Size: 300\r\n");
    const Outcome refused = Cli({"install-midlet", "game.jad"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("not found in phone dir."), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(phone / "java/suites.utf"));
    const Outcome installed = Cli({"install-midlet", "--yes", "game.jad", "/java"});
    EXPECT_EQ(installed.status, 0) << installed.err;
    EXPECT_EQ(ReadFile(phone / "java/#Game_suite.jar"), std::string(300, 'j'));
    EXPECT_EQ(Cli({"install-midlet", "game.jar"}).status, 2);
}

TEST_F(CliTest, ExitStatusesTellFailureFromBadUsage)
{
    const Outcome missing = Cli({"get", "/user/sounds/none.mmf", "/user/sounds/tune.mmf"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "tarvel-cli: /user/sounds/none.mmf: no such file on the phone\n");
    EXPECT_EQ(ReadFile(pc / "tune.mmf"), "MMMD tune");   // the others are still done

    for (const QStringList& bad : {QStringList{"frob"}, QStringList{"ls", "/nowhere"}, QStringList{"get"},
                                   QStringList{"ls", "--melody"}, QStringList{"model", "--baud", "4294967295"},
                                   QStringList{}})
        EXPECT_EQ(Cli(bad).status, 2) << bad.join(' ').toStdString();
    EXPECT_NE(Cli({"model", "--baud", "4294967295"}).err.find("--baud takes one of 110, 300,"), std::string::npos);

    // Advice in the command line's words; the window program's port check.
    const Outcome gone = Cli({"model", "--port", "/nonexistent-tarvel-dir/ttyUSB9"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("tarvel-cli: /nonexistent-tarvel-dir/ttyUSB9 is not there; plug the phone in, or name "
                            "its port with --port\n"),
              std::string::npos)
        << gone.err;
    const Outcome check = Cli({"check"});
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("  ok       the file-system commands are there (AT+FSIF)\nAll checks passed.\n"),
              std::string::npos)
        << check.out;

    // A start-up command the handset refuses fails only a command that needs its answer.
    handset->Update([](HandsetOptions& o) { o.ErrorOn = "+CGMM"; });
    EXPECT_EQ(Cli({"ls", "/user/sounds"}).status, 0);
    EXPECT_EQ(Cli({"model"}).status, 1);
    handset->Update([](HandsetOptions& o) { o.ErrorOn.clear(); o.Model.clear(); });
    const Outcome noModel = Cli({"model"});
    EXPECT_EQ(noModel.status, 1);
    EXPECT_EQ(noModel.out, "");

    handset->Update([](HandsetOptions& o) { o.SilentAfter = 0; });
    const Outcome dead = Cli({"model"});
    EXPECT_EQ(dead.status, 1);
    EXPECT_NE(dead.err.find("Phone not respond."), std::string::npos) << dead.err;
}

TEST(ProgramConventions, HelpAndVersionOnStandardOutputNoOptionTakenForAFile)
{
    QTemporaryDir cwd;
    for (const char* program : {"tarvel", "tarvel-cli", "tarvel-handset", "smaf2wav", "smafcompose"}) {
        const Outcome help = Start(QString::fromUtf8(program), {"--help"}, cwd.path());
        EXPECT_EQ(help.status, 0) << program;
        EXPECT_NE(help.out.find("sage"), std::string::npos) << program;
        const Outcome version = Start(QString::fromUtf8(program), {"--version"}, cwd.path());
        EXPECT_EQ(version.status, 0) << program;
        EXPECT_EQ(version.out.rfind(std::string(program) + " ", 0), 0u) << program << ": " << version.out;
        if (std::string(program) != "tarvel") {   // the window leaves options it does not know to Qt
            EXPECT_EQ(Start(QString::fromUtf8(program), {"--no-such-option", "out.mmf"}, cwd.path()).status, 2) << program;
        }
    }
    EXPECT_TRUE(QDir(cwd.path()).isEmpty());
}

} // namespace
