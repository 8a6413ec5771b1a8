#pragma once
// Where the engine's sound goes: the default ALSA device, or, when there is none, a clock that
// takes the samples at real-time pace so that playback still lasts as long as the song.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace smaf {

class AudioOut {
public:
    virtual ~AudioOut() = default;
    // Takes interleaved stereo frames, blocking about as long as they take to play.
    // False when the device has failed; the caller goes on with a clock.
    virtual bool write(const std::int16_t* pcm, std::size_t frames) = 0;
    // Waits until everything written has been heard, or until `abort` says to stop waiting.
    virtual void finish(const std::function<bool()>& abort) = 0;
};

// An ALSA playback device ("default" for the user's sound), or nullptr when there is none
// (no message is printed).
std::unique_ptr<AudioOut> OpenDeviceOutput(int sampleRate, const char* device = "default");
std::unique_ptr<AudioOut> OpenClockOutput(int sampleRate);

} // namespace smaf
