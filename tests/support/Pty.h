#pragma once
// A pseudo-terminal for tests: the test keeps the master, the code under test opens the slave.
#include <cstdint>
#include <string>

struct Pty {
    int Master = -1;
    std::string SlavePath;

    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void Write(const std::string& bytes) const;
    // Everything the slave side wrote, waiting at most `ms` for the first byte.
    std::string ReadAvailable(int ms = 2000) const;
    // The line settings the slave has, seen through the master.
    unsigned Cflag() const;
    unsigned Iflag() const;
    std::uint32_t OutputRate() const;   // bit/s, also for rates without a Bnnn constant
};
