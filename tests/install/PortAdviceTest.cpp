// What a user is told on standard error when the port does not open.
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
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
#include "serial/PortAdvice.h"

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
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortOpenFailureLines(c.device, c.reason, c.access), c.expected) << c.what;
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
