#pragma once
// The rate and the time left of a transfer, worked out from the bytes done at moments in time,
// and the texts that show them. No clock of its own: the caller passes the time, so the numbers
// follow from what is passed.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

class TransferMeter {
public:
    // A new transfer of `total` bytes, none done yet, at `nowMs` (milliseconds from any fixed start).
    void Start(std::uint64_t total, std::int64_t nowMs);
    // `done` bytes of it are done at `nowMs`.
    void Update(std::uint64_t done, std::int64_t nowMs);
    // The transfer turns out to be of `total` bytes (a queue whose files are passed over).
    void SetTotal(std::uint64_t total) { total_ = total; }

    std::uint64_t Done() const { return done_; }
    std::uint64_t Total() const { return total_; }
    // Bytes per second over the last few seconds; 0 until a second sample shows progress.
    double Rate() const;
    // Whole seconds left at that rate; -1 while the rate is not known.
    std::int64_t SecondsLeft() const;

private:
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    std::deque<std::pair<std::int64_t, std::uint64_t>> samples_;   // (time, bytes done)
};

// "512 B", "12.3 KB", "1.2 MB", "3.0 GB" (units of 1,024).
std::string FormatBytes(std::uint64_t bytes);
// "11.2 KB/s"; empty while the rate is not known (0).
std::string FormatRate(double bytesPerSecond);
// "0:42 left", "12:05 left", "1:02:03 left"; empty while not known (negative).
std::string FormatTimeLeft(std::int64_t seconds);
// "123.4 KB of 1.2 MB, 11.2 KB/s, 1:02 left" (the rate and time left while known).
std::string FormatTransferStatus(const TransferMeter& meter);
// What a queue that was cancelled did: "12 of 40 files downloaded; cancelled." (`verb`:
// "downloaded", "uploaded", "deleted", ...).
std::string FormatCancelledQueue(std::size_t done, std::size_t files, const std::string& verb);
