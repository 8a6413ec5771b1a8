// tarvel-cli mount through the kernel: the ordinary tools on the mounted phone, against the
// virtual handset in this process. Skipped where FUSE cannot run, unless TARVEL_REQUIRE_FUSE is
// set (CI sets it: there a skip is a failure).
#include <csignal>
#include <cstdlib>
#include <memory>

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "protocol/PhoneTree.h"
#include "support/Files.h"
#include "support/Wait.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct Shell {
    int status = -1;
    std::string out;
};

class FuseMountTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    fs::path phone, mp, pc, state;
    HandsetOptions options;
    std::unique_ptr<VirtualHandset> handset;
    QProcess cli;

    void SetUp() override
    {
        const bool fuse = fs::exists("/dev/fuse") && QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("command -v fusermount3 >/dev/null")}) == 0;
        if (!fuse) {
            if (std::getenv("TARVEL_REQUIRE_FUSE"))
                FAIL() << "FUSE is required here (TARVEL_REQUIRE_FUSE) but /dev/fuse or fusermount3 is missing";
            GTEST_SKIP() << "no /dev/fuse or no fusermount3 (package fuse3): the mount cannot be tried here";
        }
        const fs::path root = tmp.path().toStdString();
        phone = root / "phone", mp = root / "mp", pc = root / "pc", state = root / "state";
        for (const std::string& folder : PhoneTreeFolders())
            fs::create_directories(phone / folder.substr(1));
        fs::create_directories(mp);
        fs::create_directories(pc);
        fs::create_directories(state);
        WriteFile(phone / "user/sounds/tune.mmf", PatternBytes(3000, 7));
        WriteFile(phone / "user/sounds/ring.mmf", "ring");
        options.Root = phone.string();
    }

    void TearDown() override
    {
        if (Mounted())
            QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), QString::fromStdString(mp.string())});
        if (cli.state() != QProcess::NotRunning && !cli.waitForFinished(20000))
            cli.kill();
        if (handset)
            handset->Stop();
    }

    bool Mounted() const
    {
        return ReadFile("/proc/self/mountinfo").find(" " + mp.string() + " ") != std::string::npos;
    }

    void Mount()
    {
        handset = std::make_unique<VirtualHandset>(options);
        ASSERT_TRUE(handset->Open());
        handset->Start();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), QString::fromStdString(state.string()));
        // The mount's private store goes inside the test's folder: a mount killed outright
        // leaves it behind.
        env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(state.string()));
        cli.setProcessEnvironment(env);
        cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        cli.start(QStringLiteral(TARVEL_BIN_DIR "/tarvel-cli"),
                  {QStringLiteral("mount"), QString::fromStdString(mp.string()), QStringLiteral("--foreground"), QStringLiteral("--port"),
                   QString::fromStdString(handset->SlavePath())});
        ASSERT_TRUE(WaitUntil([this] { return Mounted() || cli.state() == QProcess::NotRunning; }, 20000));
        ASSERT_TRUE(Mounted());
    }

    // A shell command in the PC folder, with MP naming the mounted phone's /user/sounds.
    Shell Sh(const std::string& command)
    {
        QProcess p;
        p.setWorkingDirectory(QString::fromStdString(pc.string()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MP"), QString::fromStdString((mp / "user/sounds").string()));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromStdString(command)});
        // Waited for with the event loop running: the mount's program answers meanwhile.
        EXPECT_TRUE(WaitUntil([&p] { return p.state() == QProcess::NotRunning; }, 30000)) << command;
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString()};
    }

    int Sent(const std::string& start) const
    {
        int n = 0;
        for (const std::string& c : handset->Commands())
            n += c.rfind(start, 0) == 0;
        return n;
    }

    bool Ended()
    {
        return WaitUntil([this] { return cli.state() == QProcess::NotRunning; }, 20000);
    }
};

TEST_F(FuseMountTest, TheOrdinaryToolsWork)
{
    Mount();
    // Names, sizes and dates (the handset's are to the minute).
    const std::string list = "find . -type f -printf '%f %s %TY-%Tm-%Td %TH:%TM\\n' | sort";
    const std::string listed = Sh("cd \"$MP\" && " + list).out;
    EXPECT_EQ(listed, Sh("cd '" + (phone / "user/sounds").string() + "' && " + list).out);
    EXPECT_NE(listed.find("tune.mmf 3000 "), std::string::npos) << listed;
    EXPECT_EQ(Sh("ls \"$MP/..\"").out, "sounds\n");

    WriteFile(pc / "in.bin", PatternBytes(20000, 3));
    EXPECT_EQ(Sh("cp in.bin \"$MP/\" && cp \"$MP/tune.mmf\" out.mmf").status, 0);
    EXPECT_TRUE(SameBytes(ReadFile(phone / "user/sounds/in.bin"), PatternBytes(20000, 3)));
    EXPECT_TRUE(SameBytes(ReadFile(pc / "out.mmf"), PatternBytes(3000, 7)));
    WriteFile(pc / "in.bin", "shorter");
    EXPECT_EQ(Sh("cp in.bin \"$MP/in.bin\"").status, 0);
    EXPECT_EQ(ReadFile(phone / "user/sounds/in.bin"), "shorter");

    EXPECT_EQ(Sh("mv \"$MP/in.bin\" \"$MP/moved.bin\"").status, 0);
    EXPECT_EQ(ReadFile(phone / "user/sounds/moved.bin"), "shorter");
    EXPECT_FALSE(fs::exists(phone / "user/sounds/in.bin"));
    EXPECT_EQ(Sh("rm \"$MP/moved.bin\"").status, 0);
    EXPECT_FALSE(fs::exists(phone / "user/sounds/moved.bin"));
    EXPECT_NE(Sh("mkdir \"$MP/new\"").status, 0);
    EXPECT_EQ(Sh("df \"$MP\" >/dev/null").status, 0);
}

// A write the handset refuses fails cp and leaves its bytes with the unsent files (exit status
// 1); a handset that stops mid-copy fails cp while the folder still lists, and the next copy
// reconnects.
TEST_F(FuseMountTest, FailuresReachTheCopyingProgram)
{
    options.CmeErrorOn = "+FSFW";
    Mount();
    WriteFile(pc / "in.bin", "refused");
    EXPECT_NE(Sh("cp in.bin \"$MP/\"").status, 0);
    EXPECT_EQ(ReadFile(state / "tarvel/unsent/in.bin"), "refused");

    handset->Update([](HandsetOptions& o) { o.CmeErrorOn.clear(); o.SilentOn = "+FSFR"; });
    EXPECT_NE(Sh("cp \"$MP/tune.mmf\" out.mmf").status, 0);
    EXPECT_EQ(Sh("ls \"$MP\"").out, "ring.mmf\ntune.mmf\n");
    // The next operation that needs the phone connects again.
    handset->Update([](HandsetOptions& o) { o.SilentOn.clear(); });
    EXPECT_EQ(Sh("cp \"$MP/tune.mmf\" out.mmf").status, 0);
    EXPECT_TRUE(SameBytes(ReadFile(pc / "out.mmf"), PatternBytes(3000, 7)));
    cli.terminate();
    ASSERT_TRUE(Ended());
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_FALSE(Mounted());
}

// SIGTERM while a file goes to the handset: the file lands whole, then the folder is unmounted.
// kill -9 leaves no mount behind either.
TEST_F(FuseMountTest, StoppedBySignals)
{
    options.LineRate = 11520;
    Mount();
    WriteFile(pc / "big.bin", PatternBytes(30000, 5));
    QProcess cp;
    cp.start(QStringLiteral("cp"), {QString::fromStdString((pc / "big.bin").string()), QString::fromStdString((mp / "user/sounds").string())});
    ASSERT_TRUE(WaitUntil([this] { return Sent("AT+FSFW") == 1; }, 20000));
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    ASSERT_TRUE(WaitUntil([&cp] { return cp.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(cp.exitCode(), 0);
    ASSERT_TRUE(Ended());
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_FALSE(Mounted());
    EXPECT_TRUE(SameBytes(ReadFile(phone / "user/sounds/big.bin"), PatternBytes(30000, 5)));

    handset->Stop();
    Mount();
    ::kill(static_cast<pid_t>(cli.processId()), SIGKILL);
    ASSERT_TRUE(Ended());
    EXPECT_TRUE(WaitUntil([this] { return !Mounted(); }));
}

} // namespace
