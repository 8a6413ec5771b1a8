#include "serial/CPDrv.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QTimer>

#include "platform/Serial.h"

namespace {

constexpr std::uint32_t kMinBufSize = 128;
constexpr std::uint32_t kMaxBufSize = 8192;

// Milliseconds from `since` to now, modulo 2^32 (a wrap of the counter changes nothing).
std::uint32_t Elapsed(std::uint32_t since) { return SerialPlatform::TickMs() - since; }

} // namespace

TCommPortDriver::TCommPortDriver(QObject* owner) : QObject(owner)
{
    InputBuffer = new std::uint8_t[FInBufSize]();
    NotifyTimer = new QTimer(this);
    NotifyTimer->setObjectName(QStringLiteral("PollTimer"));
    connect(NotifyTimer, &QTimer::timeout, this, [this] { PollTimerProc(); });
}

TCommPortDriver::~TCommPortDriver()
{
    Disconnect();
    delete[] InputBuffer;
}

void TCommPortDriver::SetPort(TPortNumber v)
{
    if (Connected())
        return;
    FPort = v;
    if (v != pnCustom)
        FPortName = "\\\\.\\COM" + std::to_string(static_cast<int>(v));
}

void TCommPortDriver::SetPortName(const std::string& v)
{
    if (Connected())
        return;
    FPortName = v;
    FPort = pnCustom;
}

void TCommPortDriver::SetBaudRate(TBaudRate v)
{
    FBaudRate = v;
    if (v != brCustom)
        FBaudRateValue = BaudRateOf(v);
    if (Connected())
        ApplySettings();
}

void TCommPortDriver::SetBaudRateValue(std::uint32_t v)
{
    FBaudRate = brCustom;
    FBaudRateValue = v;
    if (Connected())
        ApplySettings();
}

void TCommPortDriver::SetDataBits(TDataBits v)
{
    FDataBits = v;
    if (Connected())
        ApplySettings();
}

void TCommPortDriver::SetStopBits(TStopBits v)
{
    FStopBits = v;
    if (Connected())
        ApplySettings();
}

void TCommPortDriver::SetParity(TParity v)
{
    FParity = v;
    if (Connected())
        ApplySettings();
}

void TCommPortDriver::SetHwFlow(THwFlowControl v)
{
    FHwFlow = v;
    if (Connected())
        ApplySettings();
}

void TCommPortDriver::SetSwFlow(TSwFlowControl v)
{
    FSwFlow = v;
    if (Connected())
        ApplySettings();
}

void TCommPortDriver::SetInBufSize(std::uint32_t v)
{
    if (Connected())
        return;
    FInBufSize = std::clamp(v, kMinBufSize, kMaxBufSize);
    delete[] InputBuffer;
    InputBuffer = new std::uint8_t[FInBufSize]();
    SetPacketSize(FPacketSize);
}

void TCommPortDriver::SetOutBufSize(std::uint32_t v)
{
    if (Connected())
        return;
    FOutBufSize = std::clamp(v, kMinBufSize, kMaxBufSize);
}

void TCommPortDriver::SetPacketSize(std::int16_t v)
{
    if (v <= 0) {
        FPacketSize = -1;
        return;
    }
    // A packet has to fit the input buffer, whose largest size is 8192 bytes: a larger packet
    // size is limited to 8192.
    FPacketSize = static_cast<std::int16_t>(std::min<int>(v, static_cast<int>(kMaxBufSize)));
    if (static_cast<std::uint32_t>(FPacketSize) > FInBufSize) {
        // The buffer grows with the packet even while connected: every packet is read into it.
        FInBufSize = static_cast<std::uint32_t>(FPacketSize);
        delete[] InputBuffer;
        InputBuffer = new std::uint8_t[FInBufSize]();
    }
}

void TCommPortDriver::SetPacketTimeout(std::int32_t v)
{
    if (v < 1)
        FPacketTimeout = -1;
    else if (v < FPollingDelay)
        FPacketTimeout = FPollingDelay + FPollingDelay * 40 / 100;
    else
        FPacketTimeout = v;
}

void TCommPortDriver::SetPollingDelay(std::uint16_t v)
{
    if (v < 5)
        v = 5;
    if (v == FPollingDelay)
        return;
    FPollingDelay = v;
    if (Connected()) {
        NotifyTimer->stop();
        NotifyTimer->start(FPollingDelay);
    }
    SetPacketTimeout(FPacketTimeout);
}

std::string TCommPortDriver::DevicePathFor(const std::string& portName)
{
    return SerialPlatform::DevicePath(portName);
}

bool TCommPortDriver::Connect()
{
    if (Connected())
        return true;
    PortHandle = SerialPlatform::Open(DevicePathFor(FPortName));
    if (PortHandle == SerialPlatform::kInvalidHandle)
        return false;
    if (!ApplySettings()) {
        Disconnect();
        return false;
    }
    SerialPlatform::SetTimeouts(PortHandle);
    NotifyTimer->start(FPollingDelay);
    return true;
}

void TCommPortDriver::Disconnect()
{
    if (!Connected())
        return;
    NotifyTimer->stop();
    SerialPlatform::Close(PortHandle);
    PortHandle = SerialPlatform::kInvalidHandle;
}

bool TCommPortDriver::Connected() const { return PortHandle != SerialPlatform::kInvalidHandle; }

bool TCommPortDriver::ApplySettings()
{
    if (!Connected())
        return false;
    TDcbInput in;
    in.BaudRateValue = FBaudRateValue;
    in.EnableDTROnOpen = FEnableDTROnOpen;
    in.HwFlow = FHwFlow;
    in.SwFlow = FSwFlow;
    in.InBufSize = FInBufSize;
    in.DataBits = FDataBits;
    in.Parity = FParity;
    in.StopBits = FStopBits;
    in.CapXonLim = SerialPlatform::WinPlatform() == "WNT" && SerialPlatform::WinVersion() >= 0x40000;
    const TDeviceControlBlock dcb = BuildDeviceControlBlock(in);

    if (!SerialPlatform::SetState(PortHandle, dcb))
        return false;
    if (!FlushBuffers(true, true))
        return false;
    return SerialPlatform::SetupQueues(PortHandle, FInBufSize, FOutBufSize);
}

bool TCommPortDriver::FlushBuffers(bool inBuf, bool outBuf)
{
    if (!Connected())
        return false;
    if (!SerialPlatform::Flush(PortHandle, inBuf, outBuf))
        return false;
    PacketStartTick = -1;
    return true;
}

std::uint16_t TCommPortDriver::OutputFreeSpace()
{
    if (!Connected())
        return 65535;
    std::uint32_t queued = 0;
    if (!SerialPlatform::OutputQueued(PortHandle, queued) || queued > FOutBufSize)
        return 0;
    return static_cast<std::uint16_t>(FOutBufSize - queued);
}

TLineStatusSet TCommPortDriver::LineStatus()
{
    TLineStatusSet set;
    std::uint32_t bits = 0;
    if (!Connected() || !SerialPlatform::ModemStatus(PortHandle, bits))
        return set;
    if (bits & 0x10)
        set.Add(lsCTS);
    if (bits & 0x20)
        set.Add(lsDSR);
    if (bits & 0x40)
        set.Add(lsRING);
    if (bits & 0x80)
        set.Add(lsRLSD);
    return set;
}

std::uint32_t TCommPortDriver::SendDataTimed(const void* DataPtr, std::uint32_t DataSize, std::uint32_t Timeout)
{
    std::uint32_t written = 0;
    if (!Connected())
        return 0;
    const auto* p = static_cast<const std::uint8_t*>(DataPtr);
    std::uint32_t remaining = DataSize;
    std::uint32_t start = SerialPlatform::TickMs();
    while (remaining > 0) {
        const std::uint16_t free = OutputFreeSpace();
        if (free > 0) {
            if (FCheckLineStatus && LineStatus().Empty())
                return written;
            const int n = SerialPlatform::Write(PortHandle, p + written, std::min<std::uint32_t>(free, remaining));
            if (n > 0) {
                written += static_cast<std::uint32_t>(n);
                remaining -= static_cast<std::uint32_t>(n);
                start = SerialPlatform::TickMs();
                continue;
            }
        }
        const std::uint32_t waited = Elapsed(start);
        if (waited > Timeout)
            return written;
        // No progress: rest until the line takes bytes again (at most a few ms at a time) rather
        // than spinning; no messages are processed here.
        SerialPlatform::WaitWritable(PortHandle, free > 0,
                                     static_cast<int>(std::min<std::uint32_t>(Timeout - waited + 1, 20)));
    }
    return written;
}

std::uint32_t TCommPortDriver::SendData(const void* DataPtr, std::uint32_t DataSize)
{
    return SendDataTimed(DataPtr, DataSize, FOutputTimeout);
}

bool TCommPortDriver::SendString(const std::string& s)
{
    const auto n = static_cast<std::uint32_t>(s.size());
    return SendData(s.data(), n) == n;
}

std::uint32_t TCommPortDriver::PacketTime(std::uint32_t byteCount) const
{
    if (FBaudRateValue == 0)
        return 0;
    const double ms = static_cast<double>(byteCount) / (static_cast<double>(FBaudRateValue) / 10.0) * 1000.0;
    return static_cast<std::uint32_t>(std::nearbyint(ms));   // the default rounding: half to even
}

void TCommPortDriver::PollTimerProc()
{
    if (!Connected())
        return;
    std::uint32_t count = 0;
    if (!SerialPlatform::InputCount(PortHandle, count))
        return;
    if (FPacketSize <= 0) {
        if (count == 0)
            return;
        const int n = SerialPlatform::Read(PortHandle, InputBuffer, std::min(count, FInBufSize));
        if (n > 0 && OnReceiveData)
            OnReceiveData(this, InputBuffer, static_cast<std::uint32_t>(n));
        return;
    }
    const auto packet = static_cast<std::uint32_t>(FPacketSize);
    if (count >= packet) {
        // A handler may disconnect or change the packet size; the loop ends then.
        while (count >= packet && Connected() && FPacketSize == static_cast<std::int16_t>(packet)) {
            const int n = SerialPlatform::Read(PortHandle, InputBuffer, packet);
            if (n > 0 && OnReceivePacket)
                OnReceivePacket(this, InputBuffer, static_cast<std::uint32_t>(n));
            if (PacketStartTick != -1)
                PacketStartTick = static_cast<std::uint32_t>(PacketStartTick) + PacketTime(packet);
            count -= packet;
            if (count == 0)
                PacketStartTick = -1;
        }
        return;
    }
    if (FPacketTimeout > 0 && PacketStartTick != -1
        && Elapsed(static_cast<std::uint32_t>(PacketStartTick)) > static_cast<std::uint32_t>(FPacketTimeout)) {
        const int n = SerialPlatform::Read(PortHandle, InputBuffer, std::min(count, FInBufSize));
        if (n > 0 && FPacketMode == pmPass && OnReceivePacket)
            OnReceivePacket(this, InputBuffer, static_cast<std::uint32_t>(n));
        PacketStartTick = -1;
        return;
    }
    if (count > 0 && PacketStartTick == -1)
        PacketStartTick = SerialPlatform::TickMs();
}
