// The serial port over POSIX termios.
#include "platform/Serial.h"

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

void SetLine(int fd, int line, bool on)
{
    // A pseudo-terminal has no modem lines; that is not a failure of the settings.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

} // namespace

int Open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return kInvalidHandle;
    // Exclusive use: the lock holds against every other program (root included), the
    // terminal's exclusive mode against programs that do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !isatty(fd)) {
        ::close(fd);
        return kInvalidHandle;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

void Close(int handle)
{
    if (handle < 0)
        return;
    // Leave exclusive mode first, so that the port can be opened again while its other end
    // stays open.
    ioctl(handle, TIOCNXCL);
    ::flock(handle, LOCK_UN);
    ::close(handle);
}

bool Apply(int handle, const LineSettings& s)
{
    if (s.BaudRate == 0 || s.BaudRate > 4000000)
        return false;
    termios tio{};
    if (tcgetattr(handle, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CSIZE;
    switch (s.DataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
    }
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (s.Parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.StopBits != 0)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;
    if (s.RtsCtsFlow)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.XonXoff)
        tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const speed_t speed = StandardSpeed(s.BaudRate);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    if (tcsetattr(handle, TCSANOW, &tio) != 0)
        return false;
    if (speed == B0) {
        if (!SetCustomBaudRate(handle, s.BaudRate))
            return false;
    } else {
        // A device that cannot run at the rate keeps or reports another one: refuse that.
        termios check{};
        if (tcgetattr(handle, &check) != 0 || cfgetospeed(&check) != speed)
            return false;
    }

    SetLine(handle, TIOCM_DTR, s.Dtr);
    if (!s.RtsCtsFlow)
        SetLine(handle, TIOCM_RTS, s.Rts);
    return true;
}

bool Flush(int handle, bool input, bool output)
{
    if (!input && !output)
        return true;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return tcflush(handle, which) == 0;
}

bool InputCount(int handle, std::uint32_t& count)
{
    int n = 0;
    if (ioctl(handle, FIONREAD, &n) != 0 || n < 0)
        return false;
    count = static_cast<std::uint32_t>(n);
    return true;
}

bool OutputQueued(int handle, std::uint32_t& count)
{
    int n = 0;
    if (ioctl(handle, TIOCOUTQ, &n) != 0 || n < 0)
        return false;
    count = static_cast<std::uint32_t>(n);
    return true;
}

bool ModemStatus(int handle, std::uint32_t& bits)
{
    int lines = 0;
    if (ioctl(handle, TIOCMGET, &lines) != 0)
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

int Read(int handle, void* buffer, std::uint32_t count)
{
    for (;;) {
        const ssize_t n = ::read(handle, buffer, count);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

int Write(int handle, const void* data, std::uint32_t count)
{
    for (;;) {
        const ssize_t n = ::write(handle, data, count);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

void WaitWritable(int handle, bool byDevice, int ms)
{
    if (!byDevice) {
        ::poll(nullptr, 0, 1);
        return;
    }
    pollfd p{handle, POLLOUT, 0};
    if (::poll(&p, 1, ms < 1 ? 1 : ms) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
        ::poll(nullptr, 0, 1);   // a broken line: rest instead of returning at once each pass
}

std::uint32_t TickMs()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string WinPlatform() { return {}; }
std::uint32_t WinVersion() { return 0; }

} // namespace SerialPlatform
