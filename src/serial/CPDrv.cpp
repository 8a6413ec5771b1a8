#include "serial/CPDrv.h"

#include <algorithm>

#include <QSocketNotifier>
#include <QTimer>

#include "platform/Serial.h"

namespace {

constexpr std::uint32_t kMinBufSize = 128;
constexpr std::uint32_t kMaxBufSize = 8192;

TCommPortDriver::TTraceSink& TraceSink()
{
    static TCommPortDriver::TTraceSink sink;
    return sink;
}

void Trace(WireTrace::Side from, const std::uint8_t* data, int count)
{
    if (count > 0 && TraceSink())
        TraceSink()(from, std::string_view(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)));
}

// Milliseconds from `since` to now, modulo 2^32 (a wrap of the counter changes nothing).
std::uint32_t Elapsed(std::uint32_t since) { return SerialPlatform::TickMs() - since; }

} // namespace

TCommPortDriver::TCommPortDriver(QObject* owner) : QObject(owner)
{
    InputBuffer = new std::uint8_t[FInBufSize]();
    NotifyTimer = new QTimer(this);
    NotifyTimer->setObjectName(QStringLiteral("PollTimer"));
    connect(NotifyTimer, &QTimer::timeout, this, [this] { PollTimerProc(); });
    ThresholdTimer = new QTimer(this);
    ThresholdTimer->setObjectName(QStringLiteral("ThresholdTimer"));
    ThresholdTimer->setSingleShot(true);
    ThresholdTimer->setInterval(kThresholdCheckMs);
    connect(ThresholdTimer, &QTimer::timeout, this, [this] {
        // Bytes still coming: the reply is on its way. None since the last look: it may have
        // ended short of what was announced, so whatever is there is taken now.
        if (ReadThreshold <= 1)
            return;
        if (DeliveredSinceCheck) {
            DeliveredSinceCheck = false;
            ThresholdTimer->start();
        } else {
            SetReadThreshold(1);
        }
    });
    ReadNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
    ReadNotifier->setObjectName(QStringLiteral("ReadNotifier"));
    ReadNotifier->setEnabled(false);
    connect(ReadNotifier, &QSocketNotifier::activated, this, [this] { PollTimerProc(); });
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
    ReallocateInputBuffer();
}

void TCommPortDriver::SetOutBufSize(std::uint32_t v)
{
    if (Connected())
        return;
    FOutBufSize = std::clamp(v, kMinBufSize, kMaxBufSize);
}

void TCommPortDriver::ReallocateInputBuffer()
{
    delete[] InputBuffer;
    InputBuffer = new std::uint8_t[FInBufSize];
}

void TCommPortDriver::SetPollingDelay(std::uint16_t v)
{
    if (v < 5)
        v = 5;
    if (v == FPollingDelay)
        return;
    FPollingDelay = v;
    NotifyTimer->setInterval(FPollingDelay);   // restarts the timer if it is keeping time
}

void TCommPortDriver::SetTrace(TTraceSink sink) { TraceSink() = std::move(sink); }

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
    const SerialPlatform::ReadableEvent event = SerialPlatform::ReceiveEvent(PortHandle);
    Watching = event.Kind == SerialPlatform::ReadableKind::Descriptor;
    if (Watching) {
        ReadNotifier->setSocket(event.Value);
        ReadNotifier->setEnabled(true);
    }
    KeepTime();
    return true;
}

void TCommPortDriver::Disconnect()
{
    if (!Connected())
        return;
    NotifyTimer->stop();
    ReadNotifier->setEnabled(false);   // before the descriptor closes
    Watching = false;
    SerialPlatform::Close(PortHandle);
    PortHandle = SerialPlatform::kInvalidHandle;
}

bool TCommPortDriver::Connected() const { return PortHandle != SerialPlatform::kInvalidHandle; }

void TCommPortDriver::SetReadThreshold(std::uint32_t bytes)
{
    const auto wanted = static_cast<std::uint8_t>(std::clamp<std::uint32_t>(bytes, 1, 255));
    if (!Watching || wanted == ReadThreshold || !SerialPlatform::SetReadThreshold(PortHandle, wanted))
        return;
    ReadThreshold = wanted;
    if (wanted > 1) {
        DeliveredSinceCheck = false;
        ThresholdTimer->start();
    } else {
        ThresholdTimer->stop();
    }
}

bool TCommPortDriver::ApplySettings()
{
    if (!Connected())
        return false;
    // The settings wake the driver at the first byte again.
    ReadThreshold = 1;
    ThresholdTimer->stop();
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
    return SerialPlatform::Flush(PortHandle, inBuf, outBuf);
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
                Trace(WireTrace::Side::Pc, p + written, n);
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

void TCommPortDriver::PollTimerProc()
{
    if (!Connected())
        return;
    const bool got = ReceiveData();
    WatchLine(!got);
    KeepTime();
}

bool TCommPortDriver::ReceiveData()
{
    // A watched descriptor reads without waiting, so it is read at once (one call per delivery);
    // elsewhere a read may wait for bytes, so it asks for no more than the port holds.
    std::uint32_t count = FInBufSize;
    if (!Watching && (!SerialPlatform::InputCount(PortHandle, count) || count == 0))
        return false;
    int n = SerialPlatform::Read(PortHandle, InputBuffer, std::min(count, FInBufSize));
    if (n <= 0)
        return false;
    // Woken for a threshold of bytes, the terminal hands them over in the pieces they came in:
    // the rest of what is there is read now, so that it is delivered at once.
    while (Watching && ReadThreshold > 1 && static_cast<std::uint32_t>(n) < FInBufSize) {
        const int more = SerialPlatform::Read(PortHandle, InputBuffer + n, FInBufSize - static_cast<std::uint32_t>(n));
        if (more <= 0)
            break;
        n += more;
    }
    Trace(WireTrace::Side::Handset, InputBuffer, n);
    DeliveredSinceCheck = true;
    // Bytes beyond InBufSize stay queued and wake the notifier again.
    if (OnReceiveData)
        OnReceiveData(this, InputBuffer, static_cast<std::uint32_t>(n));
    return true;
}

void TCommPortDriver::WatchLine(bool nothingRead)
{
    // A line that is gone leaves its descriptor "readable" for good: the notifier stops watching
    // it, and the timer looks at the line every PollingDelay until it is back.
    if (!Watching || !Connected())
        return;
    if (ReadNotifier->isEnabled()) {
        if (nothingRead && SerialPlatform::HungUp(PortHandle))
            ReadNotifier->setEnabled(false);
    } else if (!SerialPlatform::HungUp(PortHandle)) {
        ReadNotifier->setEnabled(true);
    }
}

void TCommPortDriver::KeepTime()
{
    // The timer runs only for what needs time: a platform without a readable event or a line
    // that hung up (polled).
    const bool needed = Connected() && !ReadNotifier->isEnabled();
    if (!needed)
        NotifyTimer->stop();
    else if (!NotifyTimer->isActive())
        NotifyTimer->start(FPollingDelay);
}
