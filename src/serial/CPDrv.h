#pragma once
// TCommPortDriver: the program's only access to the serial line. Opens a port by name,
// configures speed, framing and flow control, writes with a time limit, and polls the port
// from a timer on the GUI thread, handing every batch of received bytes to OnReceiveData.
// Failures are reported by results (false, a short count, an empty set), never by exceptions.
#include <cstdint>
#include <functional>
#include <string>

#include <QObject>

class QTimer;

enum TPortNumber : std::uint8_t {
    pnCustom = 0, pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8,
    pnCOM9, pnCOM10, pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16
};
enum TBaudRate : std::uint8_t {
    brCustom = 0, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000
};
enum TDataBits : std::uint8_t { db5BITS = 0, db6BITS, db7BITS, db8BITS };
enum TStopBits : std::uint8_t { sb1BITS = 0, sb1HALFBITS, sb2BITS };
enum TParity : std::uint8_t { ptNONE = 0, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl : std::uint8_t { hfNONE = 0, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl : std::uint8_t { sfNONE = 0, sfXONXOFF };
enum TPacketMode : std::uint8_t { pmDiscard = 0, pmPass };

enum TLineStatus : std::uint8_t { lsCTS = 0, lsDSR, lsRING, lsRLSD };
// A set over TLineStatus: bit (1 << member).
struct TLineStatusSet {
    std::uint8_t Bits = 0;
    bool Has(TLineStatus s) const { return (Bits >> s) & 1u; }
    void Add(TLineStatus s) { Bits = static_cast<std::uint8_t>(Bits | (1u << s)); }
    bool Empty() const { return Bits == 0; }
};

std::uint32_t BaudRateOf(TBaudRate rate);

// The device control block that ApplySettings builds (the layout of the original platform's
// 28-byte DCB, kept as plain values): computed by a pure function and then mapped onto the
// platform's line settings.
struct TDeviceControlBlock {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;     // see the DCB_* constants
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;   // 0 one, 1 one and a half, 2 two
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};
constexpr std::uint32_t DCB_fBinary = 0x1;
constexpr std::uint32_t DCB_fOutxCtsFlow = 0x4;
constexpr std::uint32_t DCB_fDtrControlEnable = 0x10;
constexpr std::uint32_t DCB_fOutX = 0x100;
constexpr std::uint32_t DCB_fInX = 0x200;
constexpr std::uint32_t DCB_fRtsControlEnable = 0x1000;
constexpr std::uint32_t DCB_fRtsControlHandshake = 0x2000;

struct TDcbInput {
    std::uint32_t BaudRateValue = 9600;
    bool EnableDTROnOpen = true;
    THwFlowControl HwFlow = hfNONERTSON;
    TSwFlowControl SwFlow = sfNONE;
    std::uint32_t InBufSize = 2048;
    TDataBits DataBits = db8BITS;
    TParity Parity = ptNONE;
    TStopBits StopBits = sb1BITS;
    bool CapXonLim = false;   // the platform caps XonLim at 4096 (NT 4.0 or later)
};
TDeviceControlBlock BuildDeviceControlBlock(const TDcbInput& in);

class TCommPortDriver : public QObject {
    Q_OBJECT
public:
    using TReceiveDataEvent = std::function<void(TCommPortDriver* Sender, const std::uint8_t* DataPtr, std::uint32_t DataSize)>;
    using TReceivePacketEvent = std::function<void(TCommPortDriver* Sender, const std::uint8_t* Packet, std::uint32_t DataSize)>;

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
    std::int16_t PacketSize() const { return FPacketSize; }
    void SetPacketSize(std::int16_t v);
    std::int32_t PacketTimeout() const { return FPacketTimeout; }
    void SetPacketTimeout(std::int32_t v);
    TPacketMode PacketMode() const { return FPacketMode; }
    void SetPacketMode(TPacketMode v) { FPacketMode = v; }
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
    TReceivePacketEvent OnReceivePacket;

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
    std::uint32_t PacketTime(std::uint32_t byteCount) const;

    // The device path that Connect opens for PortName (the "\\.\" prefix removed; a name under
    // /dev, an absolute path, or COMn meaning /dev/ttyS<n-1>).
    static std::string DevicePathFor(const std::string& portName);

    // One polling tick, as the timer runs it (public for tests that step the driver).
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
    std::int16_t FPacketSize = -1;
    std::int32_t FPacketTimeout = -1;
    TPacketMode FPacketMode = pmDiscard;
    std::uint16_t FPollingDelay = 50;
    bool FEnableDTROnOpen = true;
    std::uint16_t FOutputTimeout = 500;
    std::uint32_t FInputTimeout = 200;
    bool FCheckLineStatus = false;

    int PortHandle = -1;                 // platform handle; -1 when closed
    QTimer* NotifyTimer = nullptr;       // the polling timer
    std::uint8_t* InputBuffer = nullptr; // InBufSize bytes
    std::int64_t PacketStartTick = -1;
};
