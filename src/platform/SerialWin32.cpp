// The serial port over the Win32 communications functions, synchronous (no overlapped I/O).
#include "platform/Serial.h"
#include "platform/SerialWin32.h"
#include "platform/Win32Message.h"

#include <algorithm>

namespace SerialPlatform {

namespace {

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA is asked with the 148-byte record");

thread_local DWORD lastError = 0;

HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

// The result of a call, with the reason of a failure kept for LastErrorText.
bool Check(BOOL ok)
{
    if (!ok)
        lastError = GetLastError();
    return ok != FALSE;
}

bool QueueStatus(Handle handle, COMSTAT& status)
{
    DWORD errors = 0;
    status = COMSTAT{};
    return Check(ClearCommError(H(handle), &errors, &status));
}

// The platform id and version of the running system; false when the system does not tell.
bool SystemVersion(OSVERSIONINFOA& info)
{
    info = OSVERSIONINFOA{};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return GetVersionExA(&info) != FALSE;
}

} // namespace

DCB MakeWin32Dcb(const TDeviceControlBlock& dcb)
{
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = dcb.BaudRate;
    d.fBinary = (dcb.Flags & DCB_fBinary) ? 1 : 0;
    d.fOutxCtsFlow = (dcb.Flags & DCB_fOutxCtsFlow) ? 1 : 0;
    d.fDtrControl = (dcb.Flags & DCB_fDtrControlEnable) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    d.fOutX = (dcb.Flags & DCB_fOutX) ? 1 : 0;
    d.fInX = (dcb.Flags & DCB_fInX) ? 1 : 0;
    if (dcb.Flags & DCB_fRtsControlHandshake)
        d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    else if (dcb.Flags & DCB_fRtsControlEnable)
        d.fRtsControl = RTS_CONTROL_ENABLE;
    else
        d.fRtsControl = RTS_CONTROL_DISABLE;
    d.XonLim = dcb.XonLim;
    d.XoffLim = dcb.XoffLim;
    d.ByteSize = dcb.ByteSize;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    d.XonChar = dcb.XonChar;
    d.XoffChar = dcb.XoffChar;
    d.ErrorChar = dcb.ErrorChar;
    d.EofChar = dcb.EofChar;
    d.EvtChar = dcb.EvtChar;
    return d;
}

std::string DevicePath(const std::string& portName) { return portName; }

Handle Open(const std::string& path)
{
    lastError = 0;
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        lastError = GetLastError();
        return kInvalidHandle;
    }
    return reinterpret_cast<Handle>(h);
}

void Close(Handle handle)
{
    if (handle != kInvalidHandle)
        CloseHandle(H(handle));
}

bool SetState(Handle handle, const TDeviceControlBlock& dcb)
{
    // No rate is no line (on a Unix terminal under Wine it would hang the line up).
    if (dcb.BaudRate == 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    DCB d = MakeWin32Dcb(dcb);
    if (!Check(SetCommState(H(handle), &d)))
        return false;
    // A device that cannot run at the rate may take the settings and run at another one (Wine
    // does, on a terminal): refuse that, as the driver of a real port would.
    DCB now{};
    now.DCBlength = sizeof(DCB);
    if (GetCommState(H(handle), &now) && now.BaudRate != dcb.BaudRate) {
        lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    return true;
}

bool SetupQueues(Handle handle, std::uint32_t inQueue, std::uint32_t outQueue)
{
    return Check(SetupComm(H(handle), inQueue, outQueue));
}

void SetTimeouts(Handle handle)
{
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 1;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 1;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 10;
    Check(SetCommTimeouts(H(handle), &t));
}

bool Flush(Handle handle, bool input, bool output)
{
    DWORD what = 0;
    if (output)
        what |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (input)
        what |= PURGE_RXABORT | PURGE_RXCLEAR;
    return what == 0 || Check(PurgeComm(H(handle), what));
}

bool InputCount(Handle handle, std::uint32_t& count)
{
    COMSTAT status;
    if (!QueueStatus(handle, status))
        return false;
    count = status.cbInQue;
    return true;
}

bool OutputQueued(Handle handle, std::uint32_t& count)
{
    COMSTAT status;
    if (!QueueStatus(handle, status))
        return false;
    count = status.cbOutQue;
    return true;
}

bool ModemStatus(Handle handle, std::uint32_t& bits)
{
    // MS_CTS_ON 0x10, MS_DSR_ON 0x20, MS_RING_ON 0x40, MS_RLSD_ON 0x80: already our bits.
    DWORD status = 0;
    if (!Check(GetCommModemStatus(H(handle), &status)))
        return false;
    bits = status & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return true;
}

int Read(Handle handle, void* buffer, std::uint32_t count)
{
    DWORD n = 0;
    if (!Check(ReadFile(H(handle), buffer, count, &n, nullptr)))
        return -1;
    return static_cast<int>(n);
}

int Write(Handle handle, const void* data, std::uint32_t count)
{
    DWORD n = 0;
    if (WriteFile(H(handle), data, count, &n, nullptr))
        return static_cast<int>(n);
    lastError = GetLastError();
    // A write that ran out of its time is no failure of the line: what went out counts.
    if (n > 0 || lastError == ERROR_TIMEOUT || lastError == ERROR_SEM_TIMEOUT)
        return static_cast<int>(n);
    return -1;
}

void WaitWritable(Handle, bool byDevice, int ms)
{
    // A comm handle opened without overlapped I/O has no readiness wait, and the write itself
    // already waited up to its 10 ms in the driver: rest briefly rather than spin.
    Sleep(byDevice ? static_cast<DWORD>(std::clamp(ms, 1, 5)) : 1);
}

// The port is opened synchronously, so it has no event to watch: the driver polls on its timer.
ReadableEvent ReceiveEvent(Handle) { return {}; }

// Never asked here (the driver polls on its timer): a vanished device only makes each tick's
// ClearCommError fail.
bool SetReadThreshold(Handle, std::uint8_t) { return true; }

bool HungUp(Handle) { return false; }

std::uint32_t TickMs() { return GetTickCount(); }

std::string WinPlatform()
{
    OSVERSIONINFOA info;
    if (!SystemVersion(info))
        return "??";
    switch (info.dwPlatformId) {
    case 0: return "W32S";
    case 1: return "W95";
    case 2: return "WNT";
    default: return {};
    }
}

std::uint32_t WinVersion()
{
    OSVERSIONINFOA info;
    if (!SystemVersion(info))
        return 0;
    return (info.dwMajorVersion << 16) | (info.dwMinorVersion & 0xFFFF);
}

std::string LastErrorText()
{
    if (lastError == 0)
        return {};
    std::string s = Win32Message::Text(lastError);
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s.empty() ? "error " + std::to_string(lastError) : s;
}

} // namespace SerialPlatform
