#include "AudioOut.h"

#include <chrono>
#include <thread>

namespace smaf {

namespace {

using Clock = std::chrono::steady_clock;

class ClockOut final : public AudioOut {
public:
    explicit ClockOut(int rate) : rate_(rate), start_(Clock::now()) {}

    bool write(const std::int16_t*, std::size_t frames) override
    {
        // Hand back once the previous block has been "played": one block stays ahead, as with
        // a device buffer.
        std::this_thread::sleep_until(at(written_));
        written_ += frames;
        return true;
    }

    void finish(const std::function<bool()>& abort) override
    {
        const auto end = at(written_);
        while (Clock::now() < end && !abort())
            std::this_thread::sleep_until(std::min(end, Clock::now() + std::chrono::milliseconds(10)));
    }

private:
    Clock::time_point at(std::uint64_t frames) const
    {
        return start_ + std::chrono::microseconds(frames * 1000000u / std::uint64_t(rate_));
    }
    int rate_;
    Clock::time_point start_;
    std::uint64_t written_ = 0;
};

} // namespace

std::unique_ptr<AudioOut> OpenClockOutput(int sampleRate) { return std::make_unique<ClockOut>(sampleRate); }

} // namespace smaf
