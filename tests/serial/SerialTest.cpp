// The serial port component: its setter rules, the device control block, and real I/O through a
// pseudo-terminal.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include "serial/CPDrv.h"

namespace {

// ---- setter rules --------------------------------------------------------------------------

TEST(CommPortProperties, DefaultsAndClamps)
{
    TCommPortDriver d;
    EXPECT_EQ(d.Port(), pnCOM2);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(d.BaudRate(), br9600);
    EXPECT_EQ(d.BaudRateValue(), 9600u);
    EXPECT_EQ(d.HwFlow(), hfNONERTSON);
    EXPECT_EQ(d.PacketSize(), -1);
    EXPECT_EQ(d.PacketTimeout(), -1);
    EXPECT_EQ(d.PollingDelay(), 50);
    EXPECT_EQ(d.OutputTimeout(), 500);
    EXPECT_FALSE(d.CheckLineStatus());

    d.SetPollingDelay(0);
    EXPECT_EQ(d.PollingDelay(), 5);
    d.SetPollingDelay(50);
    d.SetInBufSize(100);
    EXPECT_EQ(d.InBufSize(), 128u);
    d.SetInBufSize(10000);
    EXPECT_EQ(d.InBufSize(), 8192u);
    d.SetOutBufSize(1);
    EXPECT_EQ(d.OutBufSize(), 128u);
}

TEST(CommPortProperties, PacketSizeAndTimeout)
{
    TCommPortDriver d;
    d.SetPacketSize(0);
    EXPECT_EQ(d.PacketSize(), -1);
    d.SetPacketSize(-7);
    EXPECT_EQ(d.PacketSize(), -1);
    d.SetInBufSize(2048);
    d.SetPacketSize(4096);
    EXPECT_EQ(d.PacketSize(), 4096);
    EXPECT_EQ(d.InBufSize(), 4096u);
    d.SetPacketSize(20000 % 32768);
    EXPECT_EQ(d.PacketSize(), 8192);   // never above the largest input buffer

    d.SetPacketTimeout(0);
    EXPECT_EQ(d.PacketTimeout(), -1);
    d.SetPacketTimeout(30);
    EXPECT_EQ(d.PacketTimeout(), 70);
    d.SetPacketTimeout(200);
    EXPECT_EQ(d.PacketTimeout(), 200);
    // A longer polling delay re-validates the time-out.
    d.SetPollingDelay(300);
    EXPECT_EQ(d.PacketTimeout(), 420);
}

TEST(CommPortProperties, PortAndRateCoupling)
{
    TCommPortDriver d;
    d.SetPort(pnCOM3);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM3");
    d.SetPortName("\\\\.\\ttyUSB0");
    EXPECT_EQ(d.Port(), pnCustom);
    d.SetPort(pnCustom);
    EXPECT_EQ(d.PortName(), "\\\\.\\ttyUSB0");
    d.SetBaudRate(br57600);
    EXPECT_EQ(d.BaudRateValue(), 57600u);
    d.SetBaudRateValue(115200);
    EXPECT_EQ(d.BaudRate(), brCustom);
    d.SetBaudRate(brCustom);
    EXPECT_EQ(d.BaudRateValue(), 115200u);
    EXPECT_EQ(BaudRateOf(br256000), 256000u);
    EXPECT_EQ(BaudRateOf(brCustom), 0u);
}

TEST(CommPortProperties, DevicePaths)
{
    EXPECT_EQ(TCommPortDriver::DevicePathFor("\\\\.\\COM1"), "/dev/ttyS0");
    EXPECT_EQ(TCommPortDriver::DevicePathFor("\\\\.\\COM10"), "/dev/ttyS9");
    EXPECT_EQ(TCommPortDriver::DevicePathFor("\\\\.\\ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(TCommPortDriver::DevicePathFor("\\\\.\\/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(TCommPortDriver::DevicePathFor("/tmp/handset-port"), "/tmp/handset-port");
    EXPECT_EQ(TCommPortDriver::DevicePathFor("\\\\.\\COMX"), "/dev/COMX");
}

TEST(CommPortProperties, PacketTimeRoundsHalfToEven)
{
    TCommPortDriver d;
    d.SetBaudRateValue(115200);
    EXPECT_EQ(d.PacketTime(11520), 1000u);
    d.SetBaudRateValue(20000);   // 2000 bytes/s: 1 byte = 0.5 ms
    EXPECT_EQ(d.PacketTime(1), 0u);
    EXPECT_EQ(d.PacketTime(3), 2u);
    EXPECT_EQ(d.PacketTime(5), 2u);
}

// ---- the device control block ---------------------------------------------------------------

TEST(DeviceControlBlock, FlagsForEachSetting)
{
    struct Row {
        THwFlowControl hw;
        TSwFlowControl sw;
        bool dtr;
        std::uint32_t flags;
    } rows[] = {
        {hfNONE, sfNONE, true, 0x1 | 0x10},
        {hfNONERTSON, sfNONE, true, 0x1 | 0x10 | 0x1000},
        {hfRTSCTS, sfNONE, true, 0x1 | 0x10 | 0x4 | 0x2000},
        {hfNONE, sfXONXOFF, false, 0x1 | 0x100 | 0x200},
        {static_cast<THwFlowControl>(255), sfNONE, false, 0x1},   // outside the range: none
    };
    for (const Row& r : rows) {
        TDcbInput in;
        in.HwFlow = r.hw;
        in.SwFlow = r.sw;
        in.EnableDTROnOpen = r.dtr;
        EXPECT_EQ(BuildDeviceControlBlock(in).Flags, r.flags) << int(r.hw) << "/" << int(r.sw);
    }
}

TEST(DeviceControlBlock, FramingAndLimits)
{
    TDcbInput in;
    in.BaudRateValue = 57600;
    in.DataBits = db7BITS;
    in.Parity = ptEVEN;
    in.StopBits = sb2BITS;
    in.InBufSize = 8192;
    TDeviceControlBlock dcb = BuildDeviceControlBlock(in);
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, 2);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.XonLim, 2048);
    EXPECT_EQ(dcb.XoffLim, 2048);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    for (TParity p : {ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE}) {
        in.Parity = p;
        EXPECT_EQ(BuildDeviceControlBlock(in).Parity, static_cast<int>(p));
        EXPECT_EQ(BuildDeviceControlBlock(in).Flags & 0x2, 0u);   // parity checking stays off
    }
}

// ---- through a pseudo-terminal --------------------------------------------------------------

class Pty {
public:
    Pty()
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = name;
            termios t{};
            tcgetattr(slave_, &t);
            cfmakeraw(&t);
            tcsetattr(slave_, TCSANOW, &t);
            fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty()
    {
        if (master_ >= 0)
            close(master_);
        if (slave_ >= 0)
            close(slave_);
    }
    const std::string& Path() const { return path_; }
    void Write(const std::string& s) { ASSERT_EQ(::write(master_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
    std::string ReadAll(int waitMs = 200)
    {
        std::string out;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < waitMs) {
            char buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                out.append(buf, static_cast<std::size_t>(n));
            else
                QThread::msleep(5);
        }
        return out;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

TEST(CommPortIo, ConnectSendReceiveAndReconnect)
{
    Pty pty;
    ASSERT_FALSE(pty.Path().empty());
    TCommPortDriver d;
    EXPECT_TRUE(d.LineStatus().Empty());
    EXPECT_EQ(d.OutputFreeSpace(), 65535);
    EXPECT_FALSE(d.SendString("x"));
    d.SetPortName(pty.Path());
    d.SetBaudRateValue(115200);
    std::string received;
    d.OnReceiveData = [&](TCommPortDriver*, const std::uint8_t* p, std::uint32_t n) {
        received.append(reinterpret_cast<const char*>(p), n);
    };
    ASSERT_TRUE(d.Connect());
    EXPECT_TRUE(d.Connect());   // already open
    EXPECT_TRUE(d.SendString("ATZ\r"));
    EXPECT_TRUE(d.SendString(""));
    EXPECT_EQ(pty.ReadAll(), "ATZ\r");
    pty.Write("\r\nOK\r\n");
    Pump(200);
    EXPECT_EQ(received, "\r\nOK\r\n");
    // A pseudo-terminal has no modem lines.
    EXPECT_TRUE(d.LineStatus().Empty());

    // Changing the name while open has no effect until the next connect.
    d.SetPortName("/nonexistent");
    EXPECT_EQ(d.PortName(), pty.Path());
    d.Disconnect();
    EXPECT_FALSE(d.Connected());
    ASSERT_TRUE(d.Connect());   // the other end stayed open all along
    EXPECT_TRUE(d.SendString("AT\r"));
    EXPECT_EQ(pty.ReadAll(), "AT\r");
}

TEST(CommPortIo, APortHeldElsewhereCannotBeOpened)
{
    Pty pty;
    TCommPortDriver a, b;
    a.SetPortName(pty.Path());
    b.SetPortName(pty.Path());
    ASSERT_TRUE(a.Connect());
    EXPECT_FALSE(b.Connect());
    a.Disconnect();
    EXPECT_TRUE(b.Connect());
}

TEST(CommPortIo, UnusualRatesAreSet)
{
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.Path());
    for (std::uint32_t rate : {14400u, 56000u, 128000u, 256000u, 9600u}) {
        d.SetBaudRateValue(rate);
        EXPECT_TRUE(d.Connect()) << rate;
        d.Disconnect();
    }
    d.SetBaudRateValue(0);
    EXPECT_FALSE(d.Connect());
    EXPECT_FALSE(d.Connected());
}

TEST(CommPortIo, LineStatusCheckStopsSendingWithoutModemLines)
{
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.Path());
    d.SetCheckLineStatus(true);
    ASSERT_TRUE(d.Connect());
    EXPECT_FALSE(d.SendString("ATZ\r"));
    EXPECT_TRUE(d.SendString(""));
    EXPECT_EQ(pty.ReadAll(100), "");
    d.SetCheckLineStatus(false);
    EXPECT_TRUE(d.SendString("ATZ\r"));
    EXPECT_EQ(pty.ReadAll(), "ATZ\r");
}

TEST(CommPortIo, OneReadPerTickAtMostTheInputBuffer)
{
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.Path());
    d.SetInBufSize(128);
    std::vector<std::uint32_t> sizes;
    d.OnReceiveData = [&](TCommPortDriver*, const std::uint8_t*, std::uint32_t n) { sizes.push_back(n); };
    ASSERT_TRUE(d.Connect());
    pty.Write(std::string(300, 'z'));
    QThread::msleep(50);
    d.PollTimerProc();
    d.PollTimerProc();
    d.PollTimerProc();
    EXPECT_EQ(sizes, (std::vector<std::uint32_t>{128, 128, 44}));
}

TEST(CommPortIo, PacketModeDeliversPacketsAndHandlesTheTimeout)
{
    for (TPacketMode mode : {pmPass, pmDiscard}) {
        Pty pty;
        TCommPortDriver d;
        d.SetPortName(pty.Path());
        d.SetPacketSize(4);
        d.SetPacketTimeout(60);
        d.SetPacketMode(mode);
        std::vector<std::string> packets;
        d.OnReceivePacket = [&](TCommPortDriver*, const std::uint8_t* p, std::uint32_t n) {
            packets.emplace_back(reinterpret_cast<const char*>(p), n);
        };
        ASSERT_TRUE(d.Connect());
        pty.Write("abcdefghij");
        QThread::msleep(30);
        d.PollTimerProc();   // two whole packets
        d.PollTimerProc();   // the rest starts its time-out
        QThread::msleep(100);
        d.PollTimerProc();   // the time-out expired
        std::vector<std::string> expected = {"abcd", "efgh"};
        if (mode == pmPass)
            expected.push_back("ij");
        EXPECT_EQ(packets, expected) << int(mode);
    }
}

} // namespace
