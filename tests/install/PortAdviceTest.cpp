// What a user is told on standard error when the port does not open.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/AsNobody.h"
#include "support/Pty.h"
#include "platform/DeviceAccess.h"
#include "platform/Serial.h"
#include "handset/VirtualHandset.h"
#include "serial/PortAdvice.h"
#include "phone/PortCheck.h"

namespace {

using Lines = std::vector<std::string>;

DeviceAccess::Access Present(bool readWrite, const std::string& group, bool groupReadWrite, bool inGroupAtLogin,
                             bool inGroupNow)
{
    DeviceAccess::Access a;
    a.exists = true;
    a.readWrite = readWrite;
    a.group = group;
    a.groupReadWrite = groupReadWrite;
    a.inGroupAtLogin = inGroupAtLogin;
    a.inGroupNow = inGroupNow;
    return a;
}

const char* const kJoin = "tarvel: /dev/ttyUSB0 is open to the group dialout; join it with "
                          "`sudo usermod -aG dialout $USER`, then log out and log in again.";
const char* const kRelogin = "tarvel: you are in the group dialout now, but this session began before you "
                             "joined it; log out and log in again.";

struct Case {
    const char* what;
    std::string device;
    std::string reason;
    DeviceAccess::Access access;
    Lines expected;
    AdviceReader reader = AdviceReader::Window;
};

} // namespace

TEST(PortAdvice, LinesForEachKindOfFailure)
{
    const std::string denied = "tarvel: cannot open /dev/ttyUSB0: Permission denied";
    const Case cases[] = {
        {"not in the group", "/dev/ttyUSB0", "Permission denied", Present(false, "dialout", true, false, false),
         {denied, kJoin}},
        {"joined, not logged in again", "/dev/ttyUSB0", "Permission denied",
         Present(false, "dialout", true, true, false), {denied, kRelogin}},
        {"in the group and still refused", "/dev/ttyUSB0", "Permission denied",
         Present(false, "dialout", true, true, true), {denied}},
        {"the group may not read it", "/dev/ttyUSB0", "Permission denied", Present(false, "tty", false, false, false),
         {denied}},
        {"a device of root's group", "/dev/ttyUSB0", "Permission denied", Present(false, "root", true, false, false),
         {denied}},
        {"owning group unknown", "/dev/ttyUSB0", "Permission denied", Present(false, "", true, false, false), {denied}},
        {"busy", "/dev/ttyUSB0", "Device or resource busy", Present(true, "dialout", true, true, true),
         {"tarvel: cannot open /dev/ttyUSB0: Device or resource busy"}},
        {"no such device", "/dev/ttyUSB0", "No such file or directory", DeviceAccess::Access{},
         {"tarvel: cannot open /dev/ttyUSB0: No such file or directory",
          "tarvel: /dev/ttyUSB0 is not there; plug the phone in, or choose its port under Setup > COM Port..."}},
        {"no reason given", "/dev/ttyS0", "", Present(true, "dialout", true, true, true),
         {"tarvel: cannot open /dev/ttyS0"}},
        {"no port chosen", "/dev/", "Is a directory", Present(true, "root", false, true, true),
         {"tarvel: cannot open /dev/: Is a directory",
          "tarvel: no serial port is chosen; choose one under Setup > COM Port..."}},
        {"no port chosen, on the command line", "/dev/", "Is a directory", Present(true, "root", false, true, true),
         {"tarvel-cli: cannot open /dev/: Is a directory", "tarvel-cli: no serial port is chosen; name one with --port"},
         AdviceReader::CommandLine},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortOpenFailureLines(c.device, c.reason, c.access, c.reader), c.expected) << c.what;
}

// End to end: a real failed open, the reason the system gave, and the lines written.

TEST(PortAdvice, MissingDeviceReportsTheSystemsReason)
{
    const std::string path = "/nonexistent-tarvel-dir/ttyUSB9";
    ASSERT_EQ(SerialPlatform::Open(path), SerialPlatform::kInvalidHandle);
    std::ostringstream out;
    ReportPortOpenFailure(out, "\\\\.\\" + path);
    EXPECT_EQ(out.str(), "tarvel: cannot open " + path + ": No such file or directory\n"
                         "tarvel: " + path + " is not there; plug the phone in, or choose its port under Setup > COM Port...\n");
}

TEST(PortAdvice, PortHeldByAnotherReportsBusy)
{
    const Pty pty;
    const std::string device = pty.SlavePath;
    const SerialPlatform::Handle holder = SerialPlatform::Open(device);
    ASSERT_NE(holder, SerialPlatform::kInvalidHandle);
    std::ostringstream out;
    EXPECT_EQ(SerialPlatform::Open(device), SerialPlatform::kInvalidHandle);
    ReportPortOpenFailure(out, device);
    SerialPlatform::Close(holder);
    EXPECT_EQ(out.str(), "tarvel: cannot open " + device + ": Device or resource busy\n");
}

namespace {

// A folder everyone may enter, removed with what it holds.
class OpenFolder {
public:
    OpenFolder()
    {
        char name[] = "/tmp/tarvel-port-XXXXXX";
        if (mkdtemp(name)) {
            path_ = name;
            chmod(name, 0755);
        }
    }
    ~OpenFolder()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

} // namespace

TEST(PortAdvice, DeviceOfAGroupTheUserIsNotInReportsPermissionAndTheGroup)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    const group* dialout = getgrnam("dialout");
    if (!dialout)
        GTEST_SKIP() << "no dialout group on this system";
    const gid_t gid = dialout->gr_gid;
    OpenFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    // A stand-in for a serial device node: owned by root and the group, read-write for both.
    const std::string device = folder.Path() + "/ttyUSB0";
    const int fd = ::open(device.c_str(), O_CREAT | O_WRONLY, 0660);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(chown(device.c_str(), 0, gid), 0);
    ASSERT_EQ(chmod(device.c_str(), 0660), 0);

    std::ostringstream out;
    {
        AsNobody nobody;
        ASSERT_TRUE(nobody.Ok());
        ASSERT_EQ(SerialPlatform::Open(device), SerialPlatform::kInvalidHandle);
        ReportPortOpenFailure(out, device);
    }
    EXPECT_EQ(out.str(), "tarvel: cannot open " + device + ": Permission denied\n"
                         "tarvel: " + device + " is open to the group dialout; join it with "
                         "`sudo usermod -aG dialout $USER`, then log out and log in again.\n");
}

TEST(PortAdvice, TerminalOfAnotherUserReportsPermissionOnly)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    // A pseudo-terminal's device belongs to root; its group (tty) may only write to it.
    const Pty pty;
    const std::string device = pty.SlavePath;
    const DeviceAccess::Access asRoot = DeviceAccess::Examine(device);
    EXPECT_TRUE(asRoot.exists);
    EXPECT_TRUE(asRoot.readWrite);

    std::ostringstream out;
    DeviceAccess::Access asUser;
    {
        AsNobody nobody;
        ASSERT_TRUE(nobody.Ok());
        ASSERT_EQ(SerialPlatform::Open(device), SerialPlatform::kInvalidHandle);
        ReportPortOpenFailure(out, device);
        asUser = DeviceAccess::Examine(device);
    }
    EXPECT_TRUE(asUser.exists);
    EXPECT_FALSE(asUser.readWrite);
    EXPECT_FALSE(asUser.inGroupNow);
    EXPECT_EQ(out.str(), "tarvel: cannot open " + device + ": Permission denied\n");
}

// Who holds a port, end to end: a child process has the pseudo-terminal open. The window's
// failure report and the port check both name it; the check also reports a missing port and a
// handset that says nothing.
TEST(PortAdvice, HolderMissingPortAndSilentHandsetInTheReportAndTheCheck)
{
    const Pty pty;
    const int slave = ::open(pty.SlavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, 0);
    posix_spawn_file_actions_addclose(&actions, pty.Master);   // the child is not the terminal's maker
    char sleepName[] = "sleep";
    char seconds[] = "60";
    char* const args[] = {sleepName, seconds, nullptr};
    pid_t child = 0;
    // Returns once the child runs `sleep` (the exec has happened).
    ASSERT_EQ(posix_spawnp(&child, "sleep", &actions, nullptr, args, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);
    const std::string held = pty.SlavePath + " is held by sleep (pid " + std::to_string(child) + ")";

    std::ostringstream report;
    const std::string details = ReportPortOpenFailure(report, pty.SlavePath);
    EXPECT_NE(report.str().find("tarvel: " + held + ".\ntarvel: Close that program (or end it with `kill "
                                + std::to_string(child) + "`)"),
              std::string::npos)
        << report.str();
    EXPECT_EQ(details.rfind("cannot open " + pty.SlavePath, 0), 0u) << details;
    EXPECT_NE(details.find("\r\n" + held + ".\r\n"), std::string::npos) << details;

    std::ostringstream busy;
    PortCheckSettings s;
    s.Port = pty.SlavePath;
    EXPECT_FALSE(WaitFor(RunPortCheck(s, &busy)));
    EXPECT_NE(busy.str().find("  FAILED   no other process holds it: held by sleep (pid " + std::to_string(child)
                              + ")\n"),
              std::string::npos)
        << busy.str();
    EXPECT_NE(busy.str().find("  not run  the line opens at 115200 bit/s\n"), std::string::npos) << busy.str();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    std::ostringstream missing;
    s.Port = "/nonexistent-tarvel-dir/ttyUSB9";
    EXPECT_FALSE(WaitFor(RunPortCheck(s, &missing)));
    EXPECT_EQ(missing.str(),
              "Checking the port /nonexistent-tarvel-dir/ttyUSB9 at 115200 bit/s:\n"
              "  FAILED   the port exists (/nonexistent-tarvel-dir/ttyUSB9): not there\n"
              "           /nonexistent-tarvel-dir/ttyUSB9 is not there; plug the phone in, or choose its port "
              "under Setup > COM Port...\n"
              "  not run  you may open it\n"
              "  not run  no other process holds it\n"
              "  not run  the line opens at 115200 bit/s\n"
              "  not run  the handset answers ATZ and AT+CGMM within 4 s\n"
              "  not run  the file-system commands are there (AT+FSIF)\n"
              "A check failed.\n");

    HandsetOptions o;
    o.Root = std::filesystem::temp_directory_path().string();
    o.SilentAfter = 0;
    VirtualHandset silent(o);
    ASSERT_TRUE(silent.Open());
    silent.Start();
    std::ostringstream mute;
    s.Port = silent.SlavePath();
    s.ReplyTimeoutMs = 300;
    EXPECT_FALSE(WaitFor(RunPortCheck(s, &mute)));
    EXPECT_NE(mute.str().find("  ok       the line opens at 115200 bit/s\n"
                              "  FAILED   the handset answers ATZ and AT+CGMM within 0.3 s: no answer to ATZ within 0.3 s\n"),
              std::string::npos)
        << mute.str();
    EXPECT_EQ(silent.Commands(), std::vector<std::string>{"ATZ\r"});
}
