// TCommPortDriver: the setter rules, the control block, the packet time and the port names as
// plain values; then the driver on a pseudo-terminal whose master the test holds.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "support/Pty.h"
#include "serial/CPDrv.h"
#include "platform/SerialPorts.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Properties

TEST(CommPortProperties, DefaultsOfANewComponent)
{
    TCommPortDriver d;
    EXPECT_EQ(d.Port(), pnCOM2);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(d.BaudRate(), br9600);
    EXPECT_EQ(d.BaudRateValue(), 9600u);
    EXPECT_EQ(d.DataBits(), db8BITS);
    EXPECT_EQ(d.StopBits(), sb1BITS);
    EXPECT_EQ(d.Parity(), ptNONE);
    EXPECT_EQ(d.HwFlow(), hfNONERTSON);
    EXPECT_EQ(d.SwFlow(), sfNONE);
    EXPECT_EQ(d.InBufSize(), 2048u);
    EXPECT_EQ(d.OutBufSize(), 2048u);
    EXPECT_EQ(d.PollingDelay(), 50);
    EXPECT_TRUE(d.EnableDTROnOpen());
    EXPECT_EQ(d.OutputTimeout(), 500);
    EXPECT_EQ(d.InputTimeout(), 200u);
    EXPECT_FALSE(d.CheckLineStatus());
    EXPECT_FALSE(d.Connected());
}

TEST(CommPortProperties, BufferSizesAreClamped)
{
    struct Case { std::uint32_t set, stored; };
    for (const Case c : {Case{100, 128}, Case{0, 128}, Case{128, 128}, Case{4096, 4096}, Case{8192, 8192},
                         Case{10000, 8192}, Case{0xFFFFFFFFu, 8192}}) {
        TCommPortDriver d;
        d.SetInBufSize(c.set);
        d.SetOutBufSize(c.set);
        EXPECT_EQ(d.InBufSize(), c.stored) << c.set;
        EXPECT_EQ(d.OutBufSize(), c.stored) << c.set;
    }
}

TEST(CommPortProperties, PollingDelayHasAFloorOfFive)
{
    for (std::uint16_t v : {0, 1, 4, 5}) {
        TCommPortDriver d;
        d.SetPollingDelay(v);
        EXPECT_EQ(d.PollingDelay(), 5) << v;
    }
    TCommPortDriver d;
    d.SetPollingDelay(1000);
    EXPECT_EQ(d.PollingDelay(), 1000);
}

TEST(CommPortProperties, PortAndPortNameAreCoupled)
{
    TCommPortDriver d;
    d.SetPort(pnCOM3);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM3");
    d.SetPort(pnCOM16);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM16");
    d.SetPort(pnCustom);
    EXPECT_EQ(d.Port(), pnCustom);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM16");
    d.SetPort(pnCOM1);
    d.SetPortName("\\\\.\\ttyUSB0");
    EXPECT_EQ(d.Port(), pnCustom);
    EXPECT_EQ(d.PortName(), "\\\\.\\ttyUSB0");
}

TEST(CommPortProperties, BaudRateAndValueAreCoupled)
{
    TCommPortDriver d;
    d.SetBaudRate(br57600);
    EXPECT_EQ(d.BaudRateValue(), 57600u);
    d.SetBaudRateValue(115200);
    EXPECT_EQ(d.BaudRate(), brCustom);
    EXPECT_EQ(d.BaudRateValue(), 115200u);
    d.SetBaudRate(br256000);
    d.SetBaudRate(brCustom);
    EXPECT_EQ(d.BaudRateValue(), 256000u);
}

TEST(CommPortProperties, BaudRateTable)
{
    const std::uint32_t expected[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int r = brCustom; r <= br256000; ++r)
        EXPECT_EQ(BaudRateOf(static_cast<TBaudRate>(r)), expected[r]) << r;
}

// ---------------------------------------------------------------------------------------------
// Control block, packet time, port names

TEST(DeviceControlBlock, FlagsForDtrAndFlowControl)
{
    struct Case { bool dtr; THwFlowControl hw; TSwFlowControl sw; std::uint32_t flags; };
    for (const Case c : {Case{true, hfNONE, sfNONE, 0x0011}, Case{true, hfNONERTSON, sfNONE, 0x1011},
                         Case{true, hfRTSCTS, sfNONE, 0x2015}, Case{false, hfNONE, sfNONE, 0x0001},
                         Case{false, hfNONERTSON, sfNONE, 0x1001}, Case{false, hfRTSCTS, sfXONXOFF, 0x2305},
                         Case{true, hfNONE, sfXONXOFF, 0x0311}}) {
        TDcbInput in;
        in.EnableDTROnOpen = c.dtr;
        in.HwFlow = c.hw;
        in.SwFlow = c.sw;
        EXPECT_EQ(BuildDeviceControlBlock(in).Flags, c.flags) << c.dtr << " " << int(c.hw) << " " << int(c.sw);
    }
}

TEST(DeviceControlBlock, FramingFieldsAreOrdinals)
{
    for (int p = ptNONE; p <= ptSPACE; ++p) {
        TDcbInput in;
        in.Parity = static_cast<TParity>(p);
        const auto dcb = BuildDeviceControlBlock(in);
        EXPECT_EQ(dcb.Parity, p);
        EXPECT_EQ(dcb.Flags & 0x2u, 0u) << "parity checking stays off";
    }
    for (int b = db5BITS; b <= db8BITS; ++b) {
        TDcbInput in;
        in.DataBits = static_cast<TDataBits>(b);
        EXPECT_EQ(BuildDeviceControlBlock(in).ByteSize, 5 + b);
    }
    for (int s = sb1BITS; s <= sb2BITS; ++s) {
        TDcbInput in;
        in.StopBits = static_cast<TStopBits>(s);
        EXPECT_EQ(BuildDeviceControlBlock(in).StopBits, s);
    }
    TDcbInput in;
    in.BaudRateValue = 115200;
    in.InBufSize = 8192;
    const auto dcb = BuildDeviceControlBlock(in);
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.XonLim, 2048);
    EXPECT_EQ(dcb.XoffLim, 2048);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.ErrorChar | dcb.EofChar | dcb.EvtChar, 0);
}

TEST(DevicePath, PortNamesToDevices)
{
    struct Case { const char* name; const char* path; };
    for (const Case c : {Case{"\\\\.\\COM1", "/dev/ttyS0"}, Case{"\\\\.\\COM12", "/dev/ttyS11"}, Case{"COM3", "/dev/ttyS2"},
                         Case{"\\\\.\\ttyUSB0", "/dev/ttyUSB0"}, Case{"\\\\.\\/dev/pts/3", "/dev/pts/3"},
                         Case{"/tmp/handset", "/tmp/handset"}, Case{"pts/7", "/dev/pts/7"},
                         Case{"\\\\.\\COM0", "/dev/COM0"}, Case{"\\\\.\\COMX", "/dev/COMX"}}) {
        EXPECT_EQ(TCommPortDriver::DevicePathFor(c.name), c.path) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// On a pseudo-terminal

template <class F>
bool WaitUntil(F done, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void RunEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int OpenDescriptors()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Runs the event loop `rounds` times without waiting and counts the driver's wake-ups by its
// read notifier: a notifier stuck on a descriptor wakes it in every round.
int NotifierWakeups(TCommPortDriver& d, int rounds)
{
    auto* notifier = d.findChild<QSocketNotifier*>(QStringLiteral("ReadNotifier"));
    int n = 0;
    const auto c = QObject::connect(notifier, &QSocketNotifier::activated, [&n] { ++n; });
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents();
    QObject::disconnect(c);
    return n;
}

// Long enough that nothing in a test can wait for the timer.
constexpr std::uint16_t kNoTick = 60000;

class CommPortOnPty : public ::testing::Test {
protected:
    Pty pty;
    std::unique_ptr<TCommPortDriver> drv = NewDriver();
    std::string received;

    std::unique_ptr<TCommPortDriver> NewDriver()
    {
        auto d = std::make_unique<TCommPortDriver>();
        d->SetPortName("\\\\.\\" + pty.SlavePath);
        d->SetPollingDelay(5);
        return d;
    }
    void Collect()
    {
        drv->OnReceiveData = [this](TCommPortDriver* s, const std::uint8_t* p, std::uint32_t n) {
            EXPECT_EQ(s, drv.get());
            received.append(reinterpret_cast<const char*>(p), n);
        };
    }
};

TEST_F(CommPortOnPty, ConnectDisconnectAndReconnectWhileTheOtherEndStaysOpen)
{
    ASSERT_TRUE(drv->Connect());
    EXPECT_TRUE(drv->Connected());
    const int fds = OpenDescriptors();
    EXPECT_TRUE(drv->Connect()) << "already open";
    EXPECT_EQ(OpenDescriptors(), fds) << "not opened a second time";
    drv->Disconnect();
    EXPECT_FALSE(drv->Connected());
    drv->Disconnect();
    ASSERT_TRUE(drv->Connect());
    EXPECT_TRUE(drv->SendString("AT\r"));
    EXPECT_EQ(pty.ReadAvailable(), "AT\r");
}

TEST_F(CommPortOnPty, APortHeldByAnotherOpenCannotBeConnected)
{
    auto other = NewDriver();
    ASSERT_TRUE(drv->Connect());
    EXPECT_FALSE(other->Connect());
    EXPECT_FALSE(other->Connected());
    drv.reset();   // destruction closes the port
    EXPECT_TRUE(other->Connect());
}

TEST_F(CommPortOnPty, PortNameAndBufferSizesWaitForTheNextConnect)
{
    ASSERT_TRUE(drv->Connect());
    drv->SetPortName("\\\\.\\/dev/null");
    drv->SetPort(pnCOM1);
    drv->SetInBufSize(128);
    drv->SetOutBufSize(128);
    EXPECT_EQ(drv->PortName(), "\\\\.\\" + pty.SlavePath);
    EXPECT_EQ(drv->InBufSize(), 2048u);
    EXPECT_EQ(drv->OutBufSize(), 2048u);
    drv->Disconnect();
    EXPECT_TRUE(drv->Connect());
}

TEST_F(CommPortOnPty, MissingDeviceAndRefusedRateFailConnect)
{
    drv->SetPortName("\\\\.\\/dev/no-such-tty");
    EXPECT_FALSE(drv->Connect());
    drv->SetPortName("\\\\.\\/dev/null");   // not a terminal
    EXPECT_FALSE(drv->Connect());

    drv->SetPortName("\\\\.\\" + pty.SlavePath);
    drv->SetBaudRateValue(0);
    EXPECT_FALSE(drv->Connect());
    EXPECT_FALSE(drv->Connected()) << "closed again after the failed settings";
    auto other = NewDriver();
    EXPECT_TRUE(other->Connect()) << "and no longer held";
}

TEST_F(CommPortOnPty, LineSettingsReachTheDeviceAndFollowTheSetters)
{
    // The default line: 9600 bit/s, 8N1, no handshake; DTR/RTS cannot be set on a pty, which
    // must not fail the connect.
    ASSERT_TRUE(drv->Connect());
    EXPECT_EQ(pty.OutputRate(), 9600u);
    EXPECT_EQ(pty.Cflag() & (CSIZE | PARENB | CSTOPB | CRTSCTS), unsigned(CS8));
    EXPECT_EQ(pty.Iflag() & (IXON | IXOFF), 0u);

    // A pty keeps 8 data bits and drops the parity enable bit (so the character size is not
    // watched here), but it keeps which parity was asked for.
    struct Case { TParity parity; unsigned bits; };
    for (const Case c : {Case{ptODD, PARODD}, Case{ptMARK, PARODD | CMSPAR}, Case{ptSPACE, CMSPAR},
                         Case{ptNONE, 0}}) {
        drv->SetParity(c.parity);
        EXPECT_EQ(pty.Cflag() & (PARODD | CMSPAR), c.bits) << int(c.parity);
    }
    drv->SetStopBits(sb2BITS);
    EXPECT_NE(pty.Cflag() & CSTOPB, 0u);
    drv->SetStopBits(sb1BITS);
    EXPECT_EQ(pty.Cflag() & CSTOPB, 0u);
    drv->SetHwFlow(hfRTSCTS);
    EXPECT_NE(pty.Cflag() & CRTSCTS, 0u);
    drv->SetHwFlow(hfNONE);
    EXPECT_EQ(pty.Cflag() & CRTSCTS, 0u);
    drv->SetSwFlow(sfXONXOFF);
    EXPECT_EQ(pty.Iflag() & (IXON | IXOFF), unsigned(IXON | IXOFF));
    drv->SetSwFlow(sfNONE);
    EXPECT_EQ(pty.Iflag() & (IXON | IXOFF), 0u);

    // Rates with and without a Bnnn constant.
    for (std::uint32_t rate : {57600u, 115200u, 14400u, 56000u, 128000u, 256000u, 31250u}) {
        drv->SetBaudRateValue(rate);
        EXPECT_TRUE(drv->ApplySettings());
        EXPECT_EQ(pty.OutputRate(), rate);
    }
    drv->SetBaudRateValue(0);
    EXPECT_FALSE(drv->ApplySettings());
}

TEST_F(CommPortOnPty, BytesWrittenArriveAtTheOtherEnd)
{
    ASSERT_TRUE(drv->Connect());
    const std::string block(5000, 'x');
    EXPECT_EQ(drv->SendData(block.data(), static_cast<std::uint32_t>(block.size())), block.size());
    std::string got;
    while (got.size() < block.size()) {
        const std::string part = pty.ReadAvailable();
        if (part.empty())
            break;
        got += part;
    }
    EXPECT_EQ(got, block);
    const std::string withNul("A\0\r\nB", 5);
    EXPECT_TRUE(drv->SendString(withNul));
    EXPECT_EQ(pty.ReadAvailable(), withNul);
}

TEST_F(CommPortOnPty, ReceivedBytesAreDeliveredOnArrivalWithoutATick)
{
    Collect();
    drv->SetPollingDelay(kNoTick);
    ASSERT_TRUE(drv->Connect());
    pty.Write("OK\r\n");
    ASSERT_TRUE(WaitUntil([&] { return received.size() >= 4; }));
    EXPECT_EQ(received, "OK\r\n");

    // Nothing is delivered once disconnected; a reconnect delivers again.
    drv->Disconnect();
    pty.Write("lost");
    RunEventsFor(50);
    EXPECT_EQ(received, "OK\r\n");
}

TEST_F(CommPortOnPty, InBufSizeLimitsEachRead)
{
    drv->SetInBufSize(128);
    std::vector<std::uint32_t> sizes;
    std::string got;
    drv->OnReceiveData = [&](TCommPortDriver*, const std::uint8_t* p, std::uint32_t n) {
        sizes.push_back(n);
        got.append(reinterpret_cast<const char*>(p), n);
    };
    ASSERT_TRUE(drv->Connect());
    std::string sent;
    for (int i = 0; i < 300; ++i)
        sent += static_cast<char>('a' + i % 26);
    pty.Write(sent);
    // Step the polling by hand: each tick reads at most one buffer.
    for (int i = 0; i < 2000 && got.size() < sent.size(); ++i) {
        drv->PollTimerProc();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(got, sent);
    ASSERT_GE(sizes.size(), 3u);
    for (auto n : sizes)
        EXPECT_LE(n, 128u);
}

TEST_F(CommPortOnPty, ALineThatVanishesIsNotWatchedInALoop)
{
    Collect();
    drv->SetPollingDelay(kNoTick);
    ASSERT_TRUE(drv->Connect());
    auto* timer = drv->findChild<QTimer*>(QStringLiteral("PollTimer"));
    EXPECT_FALSE(timer->isActive()) << "an idle line needs no tick";
    pty.Write("OK\r\n");
    ASSERT_TRUE(WaitUntil([&] { return received == "OK\r\n"; }));

    // The other end goes away: the descriptor turns "readable" for good.
    ::close(pty.Master);
    pty.Master = -1;
    EXPECT_LE(NotifierWakeups(*drv, 200), 2);
    EXPECT_TRUE(timer->isActive()) << "the timer watches the line instead";
    EXPECT_TRUE(drv->Connected()) << "closing the port is the caller's decision";
    EXPECT_EQ(received, "OK\r\n");
    drv->Disconnect();
    EXPECT_FALSE(timer->isActive());
}

TEST_F(CommPortOnPty, CheckLineStatusWithoutModemLinesSendsNothing)
{
    ASSERT_TRUE(drv->Connect());
    EXPECT_TRUE(drv->LineStatus().Empty()) << "a pty has no modem lines";
    drv->SetCheckLineStatus(true);
    EXPECT_FALSE(drv->SendString("AT\r"));
    EXPECT_EQ(drv->SendData("AT\r", 3), 0u);
    EXPECT_TRUE(drv->SendString(""));
    EXPECT_EQ(pty.ReadAvailable(100), "");
    drv->SetCheckLineStatus(false);
    EXPECT_TRUE(drv->SendString("AT\r"));
    EXPECT_EQ(pty.ReadAvailable(), "AT\r");
}

TEST_F(CommPortOnPty, ClosedPortReportsByResult)
{
    EXPECT_TRUE(drv->LineStatus().Empty());
    EXPECT_EQ(drv->OutputFreeSpace(), 65535);
    EXPECT_FALSE(drv->ApplySettings());
    EXPECT_FALSE(drv->FlushBuffers(true, true));
    EXPECT_FALSE(drv->SendString("AT\r"));
    EXPECT_TRUE(drv->SendString(""));
    EXPECT_EQ(drv->SendData("AT", 2), 0u);
    drv->PollTimerProc();   // nothing to poll, nothing happens

    ASSERT_TRUE(drv->Connect());
    EXPECT_TRUE(drv->FlushBuffers(true, true));
    EXPECT_TRUE(drv->FlushBuffers(false, false));
    EXPECT_EQ(drv->OutputFreeSpace(), 2048);
}

TEST_F(CommPortOnPty, PollingDelayIsTheIntervalWhileTheTimerKeepsTime)
{
    // A line that went away keeps the timer running.
    ASSERT_TRUE(drv->Connect());
    auto* timer = drv->findChild<QTimer*>(QStringLiteral("PollTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    ::close(pty.Master);
    pty.Master = -1;
    ASSERT_TRUE(WaitUntil([&] { return timer->isActive(); }));
    EXPECT_EQ(timer->interval(), 5);
    drv->SetPollingDelay(70);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 70);
    drv->Disconnect();
    EXPECT_FALSE(timer->isActive());
    drv->SetPollingDelay(30);
    EXPECT_FALSE(timer->isActive()) << "not started while closed";
}

} // namespace

// A stable name (a link as udev makes under /dev/serial/by-id) is offered with the device it
// points to, and a port set to it follows the link at every open: after a replug the link
// points to a new device and the same name reaches it.
TEST(StableNames, ALinkIsListedAndFollowedToANewDevice)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tarvel-by-id-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path link = dir / "usb-Maker_Phone_0123-if00";
    auto before = std::make_unique<Pty>();
    std::filesystem::create_symlink(before->SlavePath, link);
    EXPECT_EQ(SerialPorts::ListStableNames(dir.string()).size(), 1u);
    EXPECT_EQ(SerialPorts::ListStableNames(dir.string()).at(0).device, before->SlavePath);

    TCommPortDriver drv;
    drv.SetPortName(link.string());
    ASSERT_TRUE(drv.Connect());
    EXPECT_TRUE(drv.SendString("AT\r"));
    EXPECT_EQ(before->ReadAvailable(), "AT\r");
    drv.Disconnect();

    const Pty after;   // it comes back under another number
    before.reset();
    ASSERT_NE(after.SlavePath, link.string());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(after.SlavePath, link);
    EXPECT_EQ(SerialPorts::ListStableNames(dir.string()).at(0).path, link.string());
    EXPECT_EQ(SerialPorts::ListStableNames(dir.string()).at(0).device, after.SlavePath);
    ASSERT_TRUE(drv.Connect());
    EXPECT_TRUE(drv.SendString("ATZ\r"));
    EXPECT_EQ(after.ReadAvailable(), "ATZ\r");
    drv.Disconnect();
    std::filesystem::remove_all(dir);
}
