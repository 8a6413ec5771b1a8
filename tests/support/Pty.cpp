// Kept in a file of its own: the kernel's termios2 header cannot be used with <termios.h>.
#include "support/Pty.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

Pty::Pty()
{
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    SlavePath = ptsname(Master);
}

Pty::~Pty()
{
    if (Master >= 0)
        close(Master);
}

void Pty::Write(const std::string& bytes) const
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(Master, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else {
            pollfd p{Master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

std::string Pty::ReadAvailable(int ms) const
{
    std::string got;
    pollfd p{Master, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN))
        return got;
    // The bytes of one write may reach the master in pieces: gather until it stays quiet.
    char buf[4096];
    for (;;) {
        const ssize_t n = read(Master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<size_t>(n));
            continue;
        }
        pollfd q{Master, POLLIN, 0};
        if (poll(&q, 1, 50) <= 0 || !(q.revents & POLLIN))
            return got;
    }
}

namespace {
termios2 SlaveSettings(int master)
{
    termios2 t{};
    ioctl(master, TCGETS2, &t);
    return t;
}
} // namespace

unsigned Pty::Cflag() const { return SlaveSettings(Master).c_cflag; }
unsigned Pty::Iflag() const { return SlaveSettings(Master).c_iflag; }
std::uint32_t Pty::OutputRate() const { return SlaveSettings(Master).c_ospeed; }
