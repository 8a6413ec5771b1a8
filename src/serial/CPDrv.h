#pragma once
// TCommPortDriver: the program's only access to the serial line. Opens a port by name,
// configures speed, framing and flow control, writes with a time limit, and hands every batch
// of received bytes to OnReceiveData on the GUI thread as soon as the port has them: a read
// notifier watches the port, and the timer only keeps time (a line that hung up, a platform
// without a readable event, where it polls).
// Failures are reported by results (false, a short count, an empty set), never by exceptions.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <QObject>

#include "protocol/WireTrace.h"

#include "serial/CPDrvTypes.h"

class QSocketNotifier;
class QTimer;

class TCommPortDriver : public QObject {
    Q_OBJECT
public:
    using TReceiveDataEvent = std::function<void(TCommPortDriver* Sender, const std::uint8_t* DataPtr, std::uint32_t DataSize)>;

    explicit TCommPortDriver(QObject* owner = nullptr);
    ~TCommPortDriver() override;

    // Published properties, with the setter rules of the component.
    TPortNumber Port() const { return FPort; }
    void SetPort(TPortNumber v);
    const std::string& PortName() const { return FPortName; }
    void SetPortName(const std::string& v);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate v);
    std::uint32_t BaudRateValue() const { return FBaudRateValue; }
    void SetBaudRateValue(std::uint32_t v);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits v);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits v);
    TParity Parity() const { return FParity; }
    void SetParity(TParity v);
    THwFlowControl HwFlow() const { return FHwFlow; }
    void SetHwFlow(THwFlowControl v);
    TSwFlowControl SwFlow() const { return FSwFlow; }
    void SetSwFlow(TSwFlowControl v);
    std::uint32_t InBufSize() const { return FInBufSize; }
    void SetInBufSize(std::uint32_t v);
    std::uint32_t OutBufSize() const { return FOutBufSize; }
    void SetOutBufSize(std::uint32_t v);
    std::uint16_t PollingDelay() const { return FPollingDelay; }
    void SetPollingDelay(std::uint16_t v);
    bool EnableDTROnOpen() const { return FEnableDTROnOpen; }
    void SetEnableDTROnOpen(bool v) { FEnableDTROnOpen = v; }
    std::uint16_t OutputTimeout() const { return FOutputTimeout; }
    void SetOutputTimeout(std::uint16_t v) { FOutputTimeout = v; }
    std::uint32_t InputTimeout() const { return FInputTimeout; }
    void SetInputTimeout(std::uint32_t v) { FInputTimeout = v; }
    bool CheckLineStatus() const { return FCheckLineStatus; }
    void SetCheckLineStatus(bool v) { FCheckLineStatus = v; }
    TReceiveDataEvent OnReceiveData;

    bool Connect();
    void Disconnect();
    bool Connected() const;
    bool ApplySettings();
    bool FlushBuffers(bool inBuf, bool outBuf);
    std::uint16_t OutputFreeSpace();
    TLineStatusSet LineStatus();
    std::uint32_t SendDataTimed(const void* DataPtr, std::uint32_t DataSize, std::uint32_t Timeout);
    std::uint32_t SendData(const void* DataPtr, std::uint32_t DataSize);
    bool SendString(const std::string& s);
    // The bytes a watched port gathers before it hands them over (1 to 255): more while a reply
    // of known length is coming in small pieces, so that it wakes the program fewer times. When
    // no bytes arrive for a while it goes back to 1 by itself, so that a reply shorter than
    // announced is still taken (after a short delay).
    void SetReadThreshold(std::uint32_t bytes);

    // Every byte any driver of the process sends or receives goes here as well, for a trace of
    // the line (see serial/TraceFile.h). Set it before a port opens; an empty sink ends it.
    using TTraceSink = std::function<void(WireTrace::Side from, std::string_view bytes)>;
    static void SetTrace(TTraceSink sink);

    // The device that Connect opens for PortName (see SerialPlatform::DevicePath).
    static std::string DevicePathFor(const std::string& portName);

    // Reads what the port holds and hands it on. Run by the read notifier when bytes arrive and
    // by the timer while it keeps time (public for tests that step the driver).
    void PollTimerProc();

private:
    TPortNumber FPort = pnCOM2;
    std::string FPortName = "\\\\.\\COM2";
    TBaudRate FBaudRate = br9600;
    std::uint32_t FBaudRateValue = 9600;
    TDataBits FDataBits = db8BITS;
    TStopBits FStopBits = sb1BITS;
    TParity FParity = ptNONE;
    THwFlowControl FHwFlow = hfNONERTSON;
    TSwFlowControl FSwFlow = sfNONE;
    std::uint32_t FInBufSize = 2048;
    std::uint32_t FOutBufSize = 2048;
    std::uint16_t FPollingDelay = 50;
    bool FEnableDTROnOpen = true;
    std::uint16_t FOutputTimeout = 500;
    std::uint32_t FInputTimeout = 200;
    bool FCheckLineStatus = false;

    std::intptr_t PortHandle = -1;       // platform handle; -1 when closed
    QTimer* NotifyTimer = nullptr;       // keeps time; runs only while KeepTime finds a need
    QSocketNotifier* ReadNotifier = nullptr; // enabled while it watches a live port
    std::uint8_t* InputBuffer = nullptr; // InBufSize bytes
    bool Watching = false;               // the open port has a readable event
    // The bytes a watched port gathers before it wakes the driver, and the check that lowers
    // it again when bytes stop coming.
    static constexpr int kThresholdCheckMs = 100;
    std::uint8_t ReadThreshold = 1;
    QTimer* ThresholdTimer = nullptr;
    bool DeliveredSinceCheck = false;

    bool ReceiveData();
    void WatchLine(bool nothingRead);
    void KeepTime();
    void ReallocateInputBuffer();
};
