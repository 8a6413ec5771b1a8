#include "platform/Background.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

int DetachToBackground()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (child > 0) {
        // The first process: waits for the start's status (a child that died says nothing: 1).
        ::close(fds[1]);
        unsigned char status = 1;
        if (::read(fds[0], &status, 1) != 1)
            status = 1;
        ::_exit(status);
    }
    ::close(fds[0]);
    ::setsid();
    return fds[1];
}

void ReportStarted(int token, int status)
{
    if (token < 0)
        return;
    const unsigned char byte = static_cast<unsigned char>(status);
    [[maybe_unused]] const ssize_t n = ::write(token, &byte, 1);
    ::close(token);
    if (status == 0) {
        // Standard input and output are the terminal's no more; standard error keeps the log.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::close(null);
        }
    }
}
