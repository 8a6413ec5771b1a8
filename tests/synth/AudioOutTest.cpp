// Sound output keeps real time whatever the device does.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "AudioOut.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Writes 300 ms of silence in 20 ms blocks and waits for the end.
Clock::duration PlayThreeTenths(smaf::AudioOut& out)
{
    const auto start = Clock::now();
    std::vector<std::int16_t> block(2 * 441 * 2);
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(out.write(block.data(), 441 * 2));
    out.finish([] { return false; });
    return Clock::now() - start;
}

} // namespace

TEST(SynthOutput, ClockKeepsRealTime)
{
    auto out = smaf::OpenClockOutput(44100);
    EXPECT_GE(PlayThreeTenths(*out), 290ms);
}

TEST(SynthOutput, DeviceThatTakesEverythingAtOnceStillKeepsRealTime)
{
    // ALSA's "null" device swallows samples without waiting.
    auto out = smaf::OpenDeviceOutput(44100, "null");
    if (!out)
        GTEST_SKIP() << "no ALSA null device here";
    EXPECT_GE(PlayThreeTenths(*out), 290ms);
}

TEST(SynthOutput, MissingDeviceIsNullptr)
{
    EXPECT_EQ(smaf::OpenDeviceOutput(44100, "hw:97,0"), nullptr);
}

TEST(SynthOutput, FinishCanBeCutShort)
{
    auto out = smaf::OpenClockOutput(44100);
    std::vector<std::int16_t> block(2 * 44100);
    out->write(block.data(), 44100); // a second ahead
    const auto start = Clock::now();
    out->finish([] { return true; });
    EXPECT_LT(Clock::now() - start, 500ms);
}
