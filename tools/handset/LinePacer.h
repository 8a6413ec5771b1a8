#pragma once
// The timing of one direction of a serial line: every byte takes 1/rate seconds on the wire, and
// the bytes handed to the line travel one after another. Used by the virtual handset for both
// directions and by the transfer benchmark for its raw copy through a pseudo-terminal.
#include <algorithm>
#include <chrono>
#include <cstddef>

namespace handset {

class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit LinePacer(int bytesPerSecond = 0) : rate_(bytesPerSecond) {}
    void SetRate(int bytesPerSecond) { rate_ = bytesPerSecond; }
    bool Paced() const { return rate_ > 0; }

    // The bytes the far end is given at a time: what the line carries in 20 ms, or the piece
    // size set (a USB serial adapter hands on what it has every millisecond or so, a few dozen
    // bytes at 115200 bit/s).
    void SetPiece(std::size_t bytes) { piece_ = bytes; }
    std::size_t Piece() const { return piece_ > 0 ? piece_ : static_cast<std::size_t>(std::max(1, rate_ / 50)); }

    // When `count` bytes handed to the line at `now` have all reached the far end: they start
    // once the line has carried everything handed to it before. An unpaced line carries at once.
    Clock::time_point Carry(std::size_t count, Clock::time_point now)
    {
        if (rate_ <= 0)
            return now;
        free_ = std::max(free_, now)
                + std::chrono::nanoseconds(static_cast<long long>(count) * 1000000000LL / rate_);
        return free_;
    }
    // The same for bytes handed over right behind the ones before (the rest of one reply): they
    // follow them on the line however late the writer came back.
    Clock::time_point CarryOn(std::size_t count) { return Carry(count, free_); }

private:
    int rate_;
    std::size_t piece_ = 0;
    Clock::time_point free_{};
};

} // namespace handset
