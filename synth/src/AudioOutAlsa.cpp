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

class AlsaOut final : public AudioOut {
public:
    explicit AlsaOut(snd_pcm_t* pcm) : pcm_(pcm) {}
    ~AlsaOut() override
    {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }

    bool write(const std::int16_t* pcm, std::size_t frames) override
    {
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
        return true;
    }

    void finish(const std::function<bool()>& abort) override
    {
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED)
            snd_pcm_start(pcm_); // a song shorter than the buffer has not started yet
        snd_pcm_nonblock(pcm_, 1);
        snd_pcm_drain(pcm_);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (snd_pcm_state(pcm_) == SND_PCM_STATE_DRAINING && !abort() &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

private:
    snd_pcm_t* pcm_;
};

} // namespace

std::unique_ptr<AudioOut> OpenDeviceOutput(int sampleRate)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(Quiet); });

    snd_pcm_t* pcm = nullptr;
    // Opened without blocking, so that a device held by someone else fails at once.
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return nullptr;
    if (snd_pcm_nonblock(pcm, 0) < 0 ||
        snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                           unsigned(sampleRate), 1, 100000) < 0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaOut>(pcm);
}

} // namespace smaf
