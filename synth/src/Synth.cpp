#include "Synth.h"

#include <algorithm>
#include <cmath>

namespace smaf {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kVoices = 24;
constexpr float kVoiceGain = 0.45f;
constexpr float kSilent = 1e-4f;
constexpr float kRecordingGain = 0.7f;
constexpr double kVibratoHz = 5.5;
constexpr double kVibratoDepth = 0.0293; // half a semitone as a frequency ratio

// One timbre per General MIDI family (program / 8). Times in milliseconds; decay and release
// are the times to fall by 60 dB.
struct Timbre {
    float ratio;       // modulator frequency / carrier frequency
    float index;       // modulation depth at the start of the note
    float indexDecay;  // time for the depth to fall by 60 dB (0: stays)
    float attack;
    float decay;       // towards `sustain` (0 with sustain 0: a plucked, dying note)
    float sustain;
    float release;
};

constexpr Timbre kTimbres[16] = {
    {1.0f, 1.6f, 900.f, 2.f, 2200.f, 0.0f, 90.f},    // piano
    {3.5f, 1.8f, 400.f, 1.f, 1200.f, 0.0f, 120.f},   // chromatic percussion: bell-like
    {1.0f, 0.9f, 0.f, 6.f, 200.f, 0.9f, 60.f},       // organ
    {1.0f, 2.2f, 500.f, 2.f, 1600.f, 0.0f, 90.f},    // guitar
    {1.0f, 1.8f, 300.f, 3.f, 900.f, 0.35f, 70.f},    // bass
    {1.0f, 0.8f, 0.f, 70.f, 400.f, 0.85f, 120.f},    // strings
    {1.0f, 0.7f, 0.f, 90.f, 400.f, 0.85f, 120.f},    // ensemble
    {1.0f, 2.6f, 600.f, 25.f, 300.f, 0.8f, 80.f},    // brass
    {2.0f, 1.4f, 0.f, 20.f, 300.f, 0.8f, 70.f},      // reed
    {1.0f, 0.35f, 0.f, 30.f, 300.f, 0.85f, 80.f},    // pipe
    {1.0f, 3.0f, 0.f, 5.f, 300.f, 0.75f, 70.f},      // synth lead
    {0.5f, 1.0f, 0.f, 150.f, 600.f, 0.8f, 150.f},    // synth pad
    {1.41f, 2.0f, 800.f, 20.f, 800.f, 0.5f, 150.f},  // synth effects
    {1.0f, 2.0f, 400.f, 2.f, 1200.f, 0.0f, 90.f},    // ethnic: plucked
    {3.0f, 2.5f, 150.f, 1.f, 500.f, 0.0f, 80.f},     // percussive
    {1.41f, 4.0f, 0.f, 10.f, 500.f, 0.6f, 100.f},    // sound effects
};

// A drum: a pitch sweep and filtered noise, both dying away together.
struct DrumSound {
    float toneFrom, toneTo; // Hz; the sweep takes about 50 ms
    float tone;             // level of the sweep
    float noise;            // level of the noise
    float bright;           // 0: dull noise, 1: only the high part
    float decay;            // ms to fall by 60 dB
};

DrumSound DrumFor(int key)
{
    switch (key) {
    case 35: case 36: return {130.f, 45.f, 1.0f, 0.08f, 0.0f, 320.f};     // bass drum
    case 38: case 40: return {200.f, 170.f, 0.35f, 0.75f, 0.4f, 200.f};   // snare
    case 37: case 39: case 31: return {400.f, 380.f, 0.1f, 0.7f, 0.7f, 80.f}; // stick, clap
    case 42: case 44: return {0.f, 0.f, 0.f, 0.45f, 0.95f, 60.f};         // closed hi-hat
    case 46: return {0.f, 0.f, 0.f, 0.45f, 0.9f, 350.f};                  // open hi-hat
    case 49: case 52: case 55: case 57: return {0.f, 0.f, 0.f, 0.5f, 0.8f, 1100.f}; // crash
    case 51: case 53: case 59: return {0.f, 0.f, 0.f, 0.3f, 0.9f, 700.f}; // ride
    case 41: case 43: case 45: case 47: case 48: case 50: {                // toms
        const float f = 70.f + float(key - 41) * 14.f;
        return {f * 1.3f, f, 0.9f, 0.1f, 0.2f, 300.f};
    }
    default: return {500.f, 450.f, 0.2f, 0.4f, 0.5f, 120.f};
    }
}

float FallPerSample(float ms, int rate)
{
    if (ms <= 0.f)
        return 1.f;
    return float(std::exp(std::log(1e-3) / (double(ms) * rate / 1000.0)));
}

double KeyHz(double key) { return 440.0 * std::pow(2.0, (key - 69.0) / 12.0); }

} // namespace

struct Player::Voice {
    bool active = false;
    bool drum = false;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint64_t order = 0;
    std::uint64_t releaseAt = 0;
    int stage = 0; // 0 attack, 1 decay/sustain, 2 release
    float env = 0.f;
    float attackStep = 1.f, decayMul = 1.f, sustain = 0.f, releaseMul = 0.f;
    float gain = 0.f, left = 0.f, right = 0.f;
    // FM
    double carrier = 0.0, modulator = 0.0, step = 0.0;
    float ratio = 1.f, index = 0.f, indexMul = 1.f;
    double vibrato = 0.0;
    // drum
    double tonePhase = 0.0;
    float toneHz = 0.f, toneTo = 0.f, toneGlide = 1.f, toneLevel = 0.f, noiseLevel = 0.f, bright = 0.f;
    float lowpass = 0.f;
};

Player::Player(std::shared_ptr<const Song> song, int sampleRate) : song_(std::move(song)), rate_(sampleRate)
{
    voices_.resize(kVoices);
    totalFrames_ = frameAt(song_->lengthMs);
    reset();
}

Player::~Player() = default;

void Player::setMasterVolume(int volume) { master_ = std::clamp(volume, 0, 127); }

std::uint64_t Player::frameAt(std::uint32_t ms) const { return std::uint64_t(ms) * std::uint64_t(rate_) / 1000u; }

void Player::reset()
{
    for (auto& v : voices_)
        v.active = false;
    channels_.fill(Channel{});
    next_ = 0;
    frame_ = 0;
}

void Player::seek(std::uint32_t ms)
{
    reset();
    ms = std::min(ms, song_->lengthMs);
    const auto& events = song_->events;
    while (next_ < events.size() && events[next_].timeMs < ms)
        apply(events[next_++], false);
    frame_ = frameAt(ms);
}

void Player::apply(const Event& e, bool sound)
{
    Channel& c = channels_[e.channel % kChannels];
    switch (e.kind) {
    case EventKind::Note:
        if (sound)
            startNote(e);
        break;
    case EventKind::Program: c.program = std::clamp(e.value, 0, 127); break;
    case EventKind::Volume: c.volume = std::clamp(e.value, 0, 127); break;
    case EventKind::Pan: c.pan = std::clamp(e.value, 0, 127); break;
    case EventKind::Expression: c.expression = std::clamp(e.value, 0, 127); break;
    case EventKind::PitchBend:
        c.bend = std::clamp(e.value, -8192, 8191);
        updatePitch(e.channel);
        break;
    case EventKind::Modulation: c.modulation = std::clamp(e.value, 0, 127); break;
    case EventKind::End: break;
    }
}

void Player::updatePitch(int channel)
{
    const double bend = channels_[std::size_t(channel) % kChannels].bend / 8192.0 * 2.0;
    for (auto& v : voices_)
        if (v.active && !v.drum && v.channel == channel)
            v.step = KeyHz(v.key + bend) / rate_;
}

void Player::startNote(const Event& e)
{
    const Channel& c = channels_[e.channel % kChannels];
    const float gain = kVoiceGain * (e.velocity / 127.f) * (c.volume / 127.f) * (c.expression / 127.f);
    if (gain <= 0.f)
        return;
    const float angle = float(c.pan) / 127.f * float(kTwoPi / 4);
    const float left = std::cos(angle), right = std::sin(angle);

    // A free voice, else the oldest releasing one, else the oldest.
    Voice* pick = nullptr;
    for (auto& v : voices_)
        if (!v.active) {
            pick = &v;
            break;
        }
    if (!pick) {
        for (auto& v : voices_)
            if (v.stage == 2 && (!pick || v.order < pick->order))
                pick = &v;
    }
    if (!pick) {
        pick = &voices_[0];
        for (auto& v : voices_)
            if (v.order < pick->order)
                pick = &v;
    }
    Voice& v = *pick;
    v = Voice{};
    v.active = true;
    v.channel = e.channel;
    v.key = e.key;
    v.order = ++started_;
    v.gain = gain;
    v.left = left;
    v.right = right;
    if (e.drum) {
        startDrum(v, e);
        return;
    }
    const Timbre& t = kTimbres[(c.program >> 3) & 15];
    v.releaseAt = frame_ + frameAt(e.gateMs);
    v.attackStep = t.attack <= 0.f ? 1.f : float(1000.0 / (double(t.attack) * rate_));
    v.decayMul = FallPerSample(t.decay, rate_);
    v.sustain = t.sustain;
    v.releaseMul = FallPerSample(t.release, rate_);
    v.ratio = t.ratio;
    v.index = t.index;
    v.indexMul = FallPerSample(t.indexDecay, rate_);
    v.step = KeyHz(v.key + c.bend / 8192.0 * 2.0) / rate_;
}

void Player::startDrum(Voice& v, const Event& e)
{
    const DrumSound d = DrumFor(e.key);
    v.drum = true;
    v.stage = 1;
    v.env = 1.f;
    v.sustain = 0.f;
    v.decayMul = FallPerSample(d.decay, rate_);
    v.releaseAt = ~std::uint64_t(0); // a drum rings out whatever its gate
    v.toneHz = d.toneFrom;
    v.toneTo = d.toneTo;
    v.toneGlide = d.toneFrom > 0.f ? float(std::pow(double(d.toneTo) / d.toneFrom, 1.0 / (0.05 * rate_))) : 1.f;
    v.toneLevel = d.tone;
    v.noiseLevel = d.noise;
    v.bright = d.bright;
}

std::size_t Player::render(std::int16_t* out, std::size_t frames)
{
    const auto& events = song_->events;
    const float master = master_ / 127.f;
    std::size_t done = 0;
    while (done < frames && frame_ < totalFrames_) {
        while (next_ < events.size() && frameAt(events[next_].timeMs) <= frame_)
            apply(events[next_++], true);
        float l = 0.f, r = 0.f;
        for (auto& v : voices_) {
            if (!v.active)
                continue;
            if (v.stage != 2 && frame_ >= v.releaseAt)
                v.stage = 2;
            switch (v.stage) {
            case 0:
                v.env += v.attackStep;
                if (v.env >= 1.f) {
                    v.env = 1.f;
                    v.stage = 1;
                }
                break;
            case 1: v.env = v.sustain + (v.env - v.sustain) * v.decayMul; break;
            default: v.env *= v.releaseMul; break;
            }
            if (v.env < kSilent && v.stage != 0 && (v.stage == 2 || v.sustain <= 0.f)) {
                v.active = false;
                continue;
            }
            float s;
            if (v.drum) {
                noise_ = noise_ * 1664525u + 1013904223u;
                const float white = float(std::int32_t(noise_)) / 2147483648.f;
                v.lowpass += 0.25f * (white - v.lowpass);
                const float n = v.bright * (white - v.lowpass) + (1.f - v.bright) * v.lowpass;
                float tone = 0.f;
                if (v.toneLevel > 0.f) {
                    v.tonePhase += v.toneHz / rate_;
                    v.tonePhase -= std::floor(v.tonePhase);
                    if (v.toneHz > v.toneTo)
                        v.toneHz = std::max(v.toneTo, v.toneHz * v.toneGlide);
                    tone = float(std::sin(kTwoPi * v.tonePhase));
                }
                s = v.toneLevel * tone + v.noiseLevel * n;
            } else {
                double step = v.step;
                if (const int depth = channels_[v.channel].modulation) {
                    // Vibrato: up to half a semitone either way, 5.5 times a second.
                    v.vibrato += kVibratoHz / rate_;
                    v.vibrato -= std::floor(v.vibrato);
                    step *= 1.0 + depth / 127.0 * kVibratoDepth * std::sin(kTwoPi * v.vibrato);
                }
                v.modulator += step * v.ratio;
                v.modulator -= std::floor(v.modulator);
                v.carrier += step;
                v.carrier -= std::floor(v.carrier);
                s = float(std::sin(kTwoPi * v.carrier + v.index * std::sin(kTwoPi * v.modulator)));
                v.index *= v.indexMul;
            }
            s *= v.env * v.gain;
            l += s * v.left;
            r += s * v.right;
        }
        for (const Recording& rec : song_->recordings) {
            const std::uint64_t start = frameAt(rec.timeMs);
            if (frame_ < start)
                continue;
            const double at = double(frame_ - start) * rec.sampleRate / rate_;
            const std::size_t i = std::size_t(at);
            if (i >= rec.pcm.size())
                continue;
            const double next = i + 1 < rec.pcm.size() ? rec.pcm[i + 1] : 0.0;
            const float s = float((rec.pcm[i] + (next - rec.pcm[i]) * (at - double(i))) / 32768.0) * kRecordingGain;
            l += s;
            r += s;
        }
        out[2 * done] = std::int16_t(std::lround(std::clamp(l * master, -1.f, 1.f) * 32767.f));
        out[2 * done + 1] = std::int16_t(std::lround(std::clamp(r * master, -1.f, 1.f) * 32767.f));
        ++done;
        ++frame_;
    }
    return done;
}

std::vector<std::int16_t> RenderSong(std::shared_ptr<const Song> song, int volume, int sampleRate)
{
    Player player(std::move(song), sampleRate);
    player.setMasterVolume(volume);
    std::vector<std::int16_t> pcm(std::size_t(player.totalFrames()) * kOutputChannels);
    player.render(pcm.data(), std::size_t(player.totalFrames()));
    return pcm;
}

} // namespace smaf
