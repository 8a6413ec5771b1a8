// Bit rates without a Bnnn constant, through the kernel's termios2 (kept apart: its header
// cannot be used together with the C library's termios.h).
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace SerialPlatform {

bool SetCustomBaudRate(int fd, std::uint32_t rate)
{
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
    if (ioctl(fd, TCSETS2, &tio) != 0)
        return false;
    // A device that cannot run at the rate takes another one: refuse that.
    struct termios2 check {};
    if (ioctl(fd, TCGETS2, &check) != 0)
        return false;
    const std::uint32_t got = check.c_ospeed;
    const std::uint32_t diff = got > rate ? got - rate : rate - got;
    return diff <= rate / 50;   // within 2 per cent
}

} // namespace SerialPlatform
