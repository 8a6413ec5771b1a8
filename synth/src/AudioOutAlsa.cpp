// The default ALSA playback device.
#include "AudioOut.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace smaf {

namespace {

// ALSA prints its complaints (no card, no configuration) to standard error by default; a
// library inside someone else's program keeps quiet instead.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

using Clock = std::chrono::steady_clock;

// Some devices (a "null" default, a broken configuration) take samples as fast as they come;
// the clock keeps such a device from racing through the song. A real device blocks first.
constexpr auto kLead = std::chrono::milliseconds(200);

class AlsaOut final : public AudioOut {
public:
    AlsaOut(snd_pcm_t* pcm, int rate) : pcm_(pcm), rate_(rate) {}
    ~AlsaOut() override
    {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }

    bool write(const std::int16_t* pcm, std::size_t frames) override
    {
        if (written_ == 0)
            start_ = Clock::now();
        written_ += frames;
        while (frames > 0) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm_, pcm, frames);
            if (n < 0) {
                if (snd_pcm_recover(pcm_, int(n), 1) < 0)
                    return false;
                continue;
            }
            pcm += std::size_t(n) * 2;
            frames -= std::size_t(n);
        }
        std::this_thread::sleep_until(heardAt() - kLead);
        return true;
    }

    void finish(const std::function<bool()>& abort) override
    {
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED)
            snd_pcm_start(pcm_); // a song shorter than the buffer has not started yet
        snd_pcm_nonblock(pcm_, 1);
        snd_pcm_drain(pcm_);
        const auto limit = Clock::now() + std::chrono::seconds(3);
        while (snd_pcm_state(pcm_) == SND_PCM_STATE_DRAINING && !abort() && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (Clock::now() < heardAt() && !abort())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

private:
    Clock::time_point heardAt() const
    {
        return start_ + std::chrono::microseconds(written_ * 1000000u / std::uint64_t(rate_));
    }

    snd_pcm_t* pcm_;
    int rate_;
    Clock::time_point start_{};
    std::uint64_t written_ = 0;
};

} // namespace

std::unique_ptr<AudioOut> OpenDeviceOutput(int sampleRate, const char* device)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(Quiet); });

    snd_pcm_t* pcm = nullptr;
    // Opened without blocking, so that a device held by someone else fails at once.
    if (snd_pcm_open(&pcm, device, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return nullptr;
    if (snd_pcm_nonblock(pcm, 0) < 0 ||
        snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                           unsigned(sampleRate), 1, 100000) < 0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaOut>(pcm, sampleRate);
}

} // namespace smaf
