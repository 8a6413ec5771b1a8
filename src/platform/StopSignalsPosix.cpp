#include "platform/StopSignals.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int writeEnd = -1;

void OnStop(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(writeEnd, &byte, 1);
}
} // namespace

int InstallStopSignals()
{
    static int readEnd = -1;
    if (readEnd >= 0)
        return readEnd;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    readEnd = fds[0];
    writeEnd = fds[1];
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return readEnd;
}
