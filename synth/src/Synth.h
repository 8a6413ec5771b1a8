#pragma once
// Our synthesizer: the file's own voices (two- and four-operator FM, PCM voices playing the
// file's sampled waves) where it defines them; else our two-operator timbres for melodic
// channels and a small noise-and-sweep drum kit for drum channels; audio tracks in stereo.
// Mixed to interleaved 16-bit stereo PCM. Plays a Song from a position; no files, no data
// tables beyond what is written here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "SmafReader.h"

namespace smaf {

constexpr int kSampleRate = 44100;
constexpr int kOutputChannels = 2;

class Player {
public:
    explicit Player(std::shared_ptr<const Song> song, int sampleRate = kSampleRate);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    void setMasterVolume(int volume); // 0..127
    int masterVolume() const { return master_; }

    // Starts over at `ms` (clamped to the song): sounding voices stop, the channel settings
    // that the events before `ms` made are applied.
    void seek(std::uint32_t ms);

    // Fills up to `frames` stereo frames; fewer only when the song ends. 0 once it has ended.
    std::size_t render(std::int16_t* out, std::size_t frames);

    bool finished() const { return frame_ >= totalFrames_; }
    std::uint64_t totalFrames() const { return totalFrames_; }
    std::uint64_t position() const { return frame_; }

private:
    struct Channel {
        int program = 0;
        int volume = 100;
        int expression = 127;
        int pan = 64;
        int bend = 0;
        int bendRange = 2;
        int modulation = 0;
        int bankMsb = 0x7C, bankLsb = 0;
    };
    struct Voice;

    void reset();
    void apply(const Event& e, bool sound);
    void startNote(const Event& e);
    void startDrum(Voice& v, const Event& e);
    void startFm(Voice& v, const VoiceDef& def);
    bool startPcm(Voice& v, const VoiceDef& def, const Event& e);
    const VoiceDef* findVoice(const Channel& c, const Event& e) const;
    std::uint64_t frameAt(std::uint32_t ms) const;
    double pitchOf(const Voice& v) const;
    void renderVoice(Voice& v, std::size_t n);
    void renderSpan(Voice& v, std::size_t from, std::size_t to);
    void mixRecordings(std::size_t n);

    std::shared_ptr<const Song> song_;
    int rate_;
    int master_ = 100;
    std::uint64_t frame_ = 0;
    std::uint64_t totalFrames_ = 0;
    std::size_t next_ = 0; // next event to apply
    std::size_t nextRecording_ = 0;
    std::vector<std::size_t> sounding_; // recordings playing now
    std::array<Channel, kChannels> channels_{};
    std::vector<Voice> voices_;
    std::vector<float> mixL_, mixR_, voiceBuf_, voiceBufR_, scratchA_, scratchB_;
    std::uint32_t noise_ = 0x1234567u;
    std::uint64_t started_ = 0; // counter to find the oldest voice
};

// Renders a whole song offline (for smaf2wav and tests).
std::vector<std::int16_t> RenderSong(std::shared_ptr<const Song> song, int volume = 100,
                                     int sampleRate = kSampleRate);

} // namespace smaf
