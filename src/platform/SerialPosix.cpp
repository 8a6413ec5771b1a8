// The serial port over POSIX termios.
#include "platform/Serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SerialPorts.h"

namespace SerialPlatform {

// Sets a bit rate that has no Bnnn constant (defined beside, with the kernel's termios2).
bool SetCustomBaudRate(int fd, std::uint32_t rate);

namespace {

speed_t StandardSpeed(std::uint32_t rate)
{
    switch (rate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

thread_local int lastError = 0;

int Fd(Handle handle) { return static_cast<int>(handle); }

void SetLine(int fd, int line, bool on)
{
    // A pseudo-terminal has no modem lines; that is not a failure of the settings.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

} // namespace

std::string DevicePath(const std::string& portName)
{
    std::string name = portName;
    if (name.rfind("\\\\.\\", 0) == 0)
        name = name.substr(4);
    if (!name.empty() && name.front() == '/')
        return name;
    if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0)) {
        const std::string digits = name.substr(3);
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })
            && digits.size() < 6) {
            const int n = std::stoi(digits);
            if (n >= 1)
                return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return "/dev/" + name;
}

Handle Open(const std::string& path)
{
    lastError = 0;
    // A standard port without a UART opens, and then nothing ever answers: it counts as no
    // device at all.
    if (SerialPorts::NoHardwareBehind(path)) {
        lastError = ENODEV;
        return kInvalidHandle;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastError = errno;
        return kInvalidHandle;
    }
    // Exclusive use: the lock holds against every other program (root included), the
    // terminal's exclusive mode against programs that do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastError = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return kInvalidHandle;
    }
    if (!isatty(fd)) {
        lastError = ENOTTY;
        ::close(fd);
        return kInvalidHandle;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

void Close(Handle handle)
{
    if (handle < 0)
        return;
    // Leave exclusive mode first, so that the port can be opened again while its other end
    // stays open.
    ioctl(Fd(handle), TIOCNXCL);
    ::flock(Fd(handle), LOCK_UN);
    ::close(Fd(handle));
}

bool SetState(Handle handle, const TDeviceControlBlock& dcb)
{
    const int fd = Fd(handle);
    if (dcb.BaudRate == 0 || dcb.BaudRate > 4000000) {
        lastError = EINVAL;
        return false;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        lastError = errno;
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CSIZE;
    switch (dcb.ByteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
    }
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (dcb.Parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    // One and a half stop bits do not exist here: taken as two.
    if (dcb.StopBits != 0)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;
    const bool rtsCts = (dcb.Flags & DCB_fOutxCtsFlow) != 0;
    if (rtsCts)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (dcb.Flags & DCB_fOutX)
        tio.c_iflag |= IXON;
    if (dcb.Flags & DCB_fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const speed_t speed = StandardSpeed(dcb.BaudRate);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        lastError = errno;
        return false;
    }
    if (speed == B0) {
        if (!SetCustomBaudRate(fd, dcb.BaudRate)) {
            lastError = EINVAL;
            return false;
        }
    } else {
        // A device that cannot run at the rate keeps or reports another one: refuse that.
        termios check{};
        if (tcgetattr(fd, &check) != 0 || cfgetospeed(&check) != speed) {
            lastError = EINVAL;
            return false;
        }
    }

    SetLine(fd, TIOCM_DTR, (dcb.Flags & DCB_fDtrControlEnable) != 0);
    if (!rtsCts)
        SetLine(fd, TIOCM_RTS, (dcb.Flags & DCB_fRtsControlEnable) != 0);
    return true;
}

bool SetupQueues(Handle, std::uint32_t, std::uint32_t) { return true; }

void SetTimeouts(Handle) {}   // the descriptor is non-blocking: reads and writes never wait

bool Flush(Handle handle, bool input, bool output)
{
    if (!input && !output)
        return true;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return tcflush(Fd(handle), which) == 0;
}

bool InputCount(Handle handle, std::uint32_t& count)
{
    int n = 0;
    if (ioctl(Fd(handle), FIONREAD, &n) != 0 || n < 0)
        return false;
    count = static_cast<std::uint32_t>(n);
    return true;
}

bool OutputQueued(Handle handle, std::uint32_t& count)
{
    int n = 0;
    if (ioctl(Fd(handle), TIOCOUTQ, &n) != 0 || n < 0)
        return false;
    count = static_cast<std::uint32_t>(n);
    return true;
}

bool ModemStatus(Handle handle, std::uint32_t& bits)
{
    int lines = 0;
    if (ioctl(Fd(handle), TIOCMGET, &lines) != 0)
        return false;
    bits = 0;
    if (lines & TIOCM_CTS)
        bits |= 0x10;
    if (lines & TIOCM_DSR)
        bits |= 0x20;
    if (lines & TIOCM_RI)
        bits |= 0x40;
    if (lines & TIOCM_CD)
        bits |= 0x80;
    return true;
}

int Read(Handle handle, void* buffer, std::uint32_t count)
{
    for (;;) {
        const ssize_t n = ::read(Fd(handle), buffer, count);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

int Write(Handle handle, const void* data, std::uint32_t count)
{
    for (;;) {
        const ssize_t n = ::write(Fd(handle), data, count);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

void WaitWritable(Handle handle, bool byDevice, int ms)
{
    if (!byDevice) {
        ::poll(nullptr, 0, 1);
        return;
    }
    pollfd p{Fd(handle), POLLOUT, 0};
    if (::poll(&p, 1, ms < 1 ? 1 : ms) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
        ::poll(nullptr, 0, 1);   // a broken line: rest instead of returning at once each pass
}

ReadableEvent ReceiveEvent(Handle handle) { return {ReadableKind::Descriptor, handle}; }

bool SetReadThreshold(Handle handle, std::uint8_t bytes)
{
    termios tio{};
    if (tcgetattr(Fd(handle), &tio) != 0) {
        lastError = errno;
        return false;
    }
    tio.c_cc[VMIN] = static_cast<cc_t>(std::max<std::uint8_t>(bytes, 1));
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(Fd(handle), TCSANOW, &tio) != 0) {
        lastError = errno;
        return false;
    }
    return true;
}

bool HungUp(Handle handle)
{
    pollfd p{Fd(handle), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::uint32_t TickMs()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string LastErrorText() { return lastError == 0 ? std::string() : std::strerror(lastError); }

std::string WinPlatform() { return {}; }
std::uint32_t WinVersion() { return 0; }

} // namespace SerialPlatform
