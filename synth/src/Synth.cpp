#include "Synth.h"

#include <algorithm>
#include <cmath>

namespace smaf {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kVoices = 24;
constexpr std::size_t kBlock = 64; // frames between updates of pitch, LFO and levels
constexpr float kVoiceGain = 0.45f;
constexpr float kSilent = 1e-4f;
constexpr float kRecordingGain = 0.7f;
constexpr std::size_t kRecordings = 16; // audio-track waves sounding at once
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

// ---- The file's own voices: the curves the format leaves open, all chosen here ----
//
// Envelope rates 0..15; 0 means "no change" (an attack at rate 0 never starts).
//   AR r (1..14): from silence to full level in 2000 ms * 2^(-0.8 (r - 1)); AR 15 at once.
//   DR, SR, RR r (1..15): 96 dB in 16000 ms * 2^(-0.8 (r - 1)) (RR 4: 3 s, RR 15: 7 ms).
//   KSR: half a rate step faster per octave above middle C (slower below).
// SL n: the decay ends 3 dB * n down (SL 15: silent). TL n: 0.75 dB * n down.
// KSL 0..3: 0, 1.5, 3, 6 dB down per octave above middle C.
// After the decay: SR (Mobile Standard), or for Handyphone voices RR without EGT and a held
// level with it. Key-off: RR; with SUS the level goes on falling at SR; XOF ignores key-off.
// MULTI 0 is x1/2; DT 1..3 raise, 5..7 lower the operator by 2 cents a step (0 and 4: none).
// BO +12 / 0 / -12 / -24 semitones. Phase modulation: a full-level modulator moves the
// carrier's phase by one whole cycle either way; FB n self-modulates by 2^(n-1) / 32 cycles
// (the mean of the last two outputs).
// LFO rates 0..3: 1.8, 4.0, 5.9, 7.0 Hz; vibrato depth DVB 0..3: 3.5, 7, 14, 28 cents;
// tremolo depth DAM 0..3: 1.3, 2.8, 4.8, 11 dB.
// Velocity, channel volume and expression scale the level linearly (as our own timbres do);
// PANPOT moves the voice from the channel's pan by up to half the stereo width either way.
// A PCM voice's envelope is read as an operator's; it plays its wave at its own rate at its
// key (a drum PCM voice always at its own rate), up to its end point (0: the wave's end); with
// a non-zero end point after the loop point it loops between them while the envelope lasts.
constexpr double kModCycles = 1.0;
constexpr float kTlDb = 0.75f, kSlDb = 3.f;
constexpr float kKslDbPerOctave[4] = {0.f, 1.5f, 3.f, 6.f};
constexpr double kLfoHz[4] = {1.8, 4.0, 5.9, 7.0};
constexpr double kVibratoCents[4] = {3.5, 7.0, 14.0, 28.0};
constexpr float kTremoloDb[4] = {1.3f, 2.8f, 4.8f, 11.f};
constexpr float kDetuneCents = 2.f;

double AttackMs(double rate) { return 2000.0 * std::pow(2.0, -0.8 * (rate - 1.0)); }
double FallMs(double rate) { return 16000.0 * std::pow(2.0, -0.8 * (rate - 1.0)); }
float DbGain(float db) { return float(std::pow(10.0, -db / 20.0)); }

// 96 dB over the rate's time, as a factor a sample.
float FallMul(int r, double ksr, int sampleRate)
{
    if (r <= 0)
        return 1.f;
    return float(std::pow(10.0, -96.0 / 20.0 / (FallMs(r + ksr) * sampleRate / 1000.0)));
}

// Waveforms by WS (values 16..31 are taken modulo 16):
//  0 sine, 1 half sine, 2 absolute sine, 3 quarter sine (rising quarters), 4 alternating
//  (double-speed sine in the first half), 5 camel (double-speed absolute sine in the first
//  half), 6 square, 7 derived square (exponential fall from either edge), 8 clipped sine
//  (twice as loud, clipped), 9 half clipped sine, 10 triangle, 11 half triangle, 12 saw,
//  13 half saw, 14 pulse (one quarter high), 15 half square.
constexpr int kTableBits = 10, kTableSize = 1 << kTableBits, kWaves = 16;

const std::array<std::array<float, kTableSize>, kWaves>& WaveTables()
{
    static const auto tables = [] {
        std::array<std::array<float, kTableSize>, kWaves> t{};
        for (int i = 0; i < kTableSize; ++i) {
            const double x = double(i) / kTableSize; // 0..1
            const double sn = std::sin(kTwoPi * x);
            const bool first = x < 0.5;
            const double quarter = std::fmod(x, 0.5) < 0.25 ? std::abs(sn) : 0.0;
            const double tri = x < 0.25 ? 4 * x : x < 0.75 ? 2 - 4 * x : 4 * x - 4;
            const double saw = x < 0.5 ? 2 * x : 2 * x - 2;
            const double dsq = first ? std::exp(-8.0 * x) : -std::exp(-8.0 * (x - 0.5));
            const double w[kWaves] = {sn,
                                      first ? sn : 0.0,
                                      std::abs(sn),
                                      quarter,
                                      first ? std::sin(2 * kTwoPi * x) : 0.0,
                                      first ? std::abs(std::sin(2 * kTwoPi * x)) : 0.0,
                                      first ? 1.0 : -1.0,
                                      dsq,
                                      std::clamp(2 * sn, -1.0, 1.0),
                                      first ? std::min(2 * sn, 1.0) : 0.0,
                                      tri,
                                      first ? tri : 0.0,
                                      saw,
                                      first ? saw : 0.0,
                                      x < 0.25 ? 1.0 : -1.0 / 3.0,
                                      first ? 1.0 : 0.0};
            for (int k = 0; k < kWaves; ++k)
                t[std::size_t(k)][std::size_t(i)] = float(w[k]);
        }
        return t;
    }();
    return tables;
}

// Which operators sound (carriers) in each algorithm, as a bit mask of operators 1..4.
constexpr unsigned kCarriers[8] = {0b0010, 0b0011, 0b1111, 0b1000, 0b1000, 0b1010, 0b1001, 0b1101};

// Balance for audio tracks: the centre leaves both sides at full level.
void Balance(int pan, float& left, float& right)
{
    left = pan <= 64 ? 1.f : float(127 - pan) / 63.f;
    right = pan >= 64 ? 1.f : float(pan) / 64.f;
}

} // namespace

namespace {

// One operator of a file-defined FM voice (or a PCM voice's envelope) while it sounds.
struct Operator {
    enum Stage : std::uint8_t { Attack, Decay, Sustain, Release };
    Stage stage = Attack;
    float level = 0.f;      // the envelope, 0..1
    float attackStep = 1.f, decayMul = 1.f, sustainLevel = 1.f, srMul = 1.f, rrMul = 1.f;
    float decayBlock = 1.f, srBlock = 1.f, rrBlock = 1.f; // the same over a whole block
    bool xof = false, sus = false;
    float gain = 1.f;       // TL and KSL, with the tremolo of this block
    float baseGain = 1.f;   // TL and KSL
    std::uint32_t phase = 0, inc = 0;
    double ratio = 1.0;     // MULTI and DT
    float fbScale = 0.f, fb0 = 0.f, fb1 = 0.f;
    const float* table = nullptr;
    double vibrato = 0.0;   // depth as a frequency ratio
    float tremolo = 0.f;    // depth as a level fraction
    float amp = 0.f, dAmp = 0.f; // level times gain along the current span

    // The envelope over n samples at once; the samples between are drawn as a straight line
    // (n is at most one block, 1.5 ms).
    void span(std::size_t n)
    {
        const float from = level;
        advance(n);
        amp = from * gain;
        dAmp = (level - from) * gain / float(n);
    }
    static float Power(float mul, float block, std::size_t n)
    {
        return n == kBlock ? block : mul == 1.f ? 1.f : float(std::pow(double(mul), double(n)));
    }
    void blocks()
    {
        decayBlock = float(std::pow(double(decayMul), double(kBlock)));
        srBlock = float(std::pow(double(srMul), double(kBlock)));
        rrBlock = float(std::pow(double(rrMul), double(kBlock)));
    }
    void advance(std::size_t n)
    {
        while (n > 0) {
            switch (stage) {
            case Attack: {
                if (attackStep <= 0.f)
                    return;
                const auto k = std::size_t(std::ceil((1.f - level) / attackStep));
                if (k > n) {
                    level += float(n) * attackStep;
                    return;
                }
                level = 1.f;
                stage = Decay;
                n -= std::min(k, n);
                break;
            }
            case Decay: {
                const float after = level * Power(decayMul, decayBlock, n);
                if (after > sustainLevel) {
                    level = after;
                    return;
                }
                const auto k = sustainLevel > 0.f && level > sustainLevel
                                   ? std::size_t(std::log(sustainLevel / level) / std::log(decayMul))
                                   : std::size_t(0);
                level = sustainLevel;
                stage = Sustain;
                n -= std::min(k, n);
                break;
            }
            case Sustain: level *= Power(srMul, srBlock, n); return;
            case Release: level *= Power(rrMul, rrBlock, n); return;
            }
        }
    }

    void step()
    {
        switch (stage) {
        case Attack:
            level += attackStep;
            if (level >= 1.f) {
                level = 1.f;
                stage = Decay;
            }
            break;
        case Decay:
            level *= decayMul;
            if (level <= sustainLevel) {
                level = sustainLevel;
                stage = Sustain;
            }
            break;
        case Sustain: level *= srMul; break;
        case Release: level *= rrMul; break;
        }
    }
    void keyOff()
    {
        if (xof)
            return;
        if (sus) {
            rrMul = srMul;
            rrBlock = srBlock;
        }
        stage = Release;
    }
    // A span at once, operator by operator: `out` gets (or, with `add`, adds) the samples,
    // each phase-modulated by `mod` (cycles; none when null) or, with `feedback`, by itself.
    void run(const float* mod, float* out, std::size_t n, bool add, bool feedback = false)
    {
        if (feedback && fbScale > 0.f)
            add ? runFeedback<true>(out, n) : runFeedback<false>(out, n);
        else if (mod)
            add ? runWith<true, true>(mod, out, n) : runWith<false, true>(mod, out, n);
        else
            add ? runWith<true, false>(mod, out, n) : runWith<false, false>(mod, out, n);
    }
    static constexpr float kToPhase = float(kModCycles * 4294967296.0);
    template <bool Add, bool Modulated>
    void runWith(const float* mod, float* out, std::size_t n)
    {
        const std::uint32_t step = inc;
        std::uint32_t ph = phase;
        float a = amp;
        const float da = dAmp;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t p = ph;
            if constexpr (Modulated)
                p += std::uint32_t(std::int64_t(mod[i] * kToPhase));
            const float o = table[p >> (32 - kTableBits)] * a;
            if constexpr (Add)
                out[i] += o;
            else
                out[i] = o;
            ph += step;
            a += da;
        }
        phase = ph;
        amp = a;
    }
    template <bool Add>
    void runFeedback(float* out, std::size_t n)
    {
        const std::uint32_t step = inc;
        std::uint32_t ph = phase;
        float a = amp;
        const float da = dAmp;
        const float fb = fbScale * kToPhase;
        float f0 = fb0, f1 = fb1;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t p = ph + std::uint32_t(std::int64_t((f0 + f1) * fb));
            const float o = table[p >> (32 - kTableBits)] * a;
            f1 = f0;
            f0 = o;
            if constexpr (Add)
                out[i] += o;
            else
                out[i] = o;
            ph += step;
            a += da;
        }
        fb0 = f0;
        fb1 = f1;
        phase = ph;
        amp = a;
    }
};

// An operator's envelope and level for a voice and key.
void SetUpOperator(Operator& o, const FmOperator& f, int key, int rate)
{
    const double ksr = f.ksr ? (key - 60) / 24.0 : 0.0;
    const double octaves = std::max(0.0, (key - 60) / 12.0);
    if (f.ar == 0) { // an attack at rate 0 never starts
        o.stage = Operator::Release;
        o.attackStep = 0.f;
    } else {
        o.attackStep = f.ar >= 15 ? 1.f : float(1000.0 / (AttackMs(std::min(f.ar + ksr, 14.0)) * rate));
    }
    o.decayMul = FallMul(f.dr, ksr, rate);
    o.sustainLevel = f.sl >= 15 ? 0.f : DbGain(kSlDb * f.sl);
    o.srMul = FallMul(f.sr, ksr, rate);
    o.rrMul = FallMul(f.rr, ksr, rate);
    o.xof = f.xof;
    o.sus = f.sus;
    o.baseGain = o.gain = DbGain(kTlDb * f.tl + kKslDbPerOctave[f.ksl & 3] * float(octaves));
    o.table = WaveTables()[f.wave % kWaves].data();
    const double detune = (f.detune & 3) * kDetuneCents * ((f.detune & 4) ? -1.0 : 1.0);
    o.ratio = (f.multi == 0 ? 0.5 : double(f.multi)) * std::pow(2.0, detune / 1200.0);
    o.fbScale = f.feedback == 0 ? 0.f : float(kModCycles * std::pow(2.0, f.feedback - 1) / 32.0 / 2.0);
    o.vibrato = f.vibrato ? std::pow(2.0, kVibratoCents[f.vibratoDepth & 3] / 1200.0) - 1.0 : 0.0;
    o.tremolo = f.tremolo ? 1.f - DbGain(kTremoloDb[f.tremoloDepth & 3]) : 0.f;
    o.blocks();
}

int PanOffset(int panpot)
{
    panpot = std::clamp(panpot, 0, 31);
    return panpot <= 15 ? (panpot - 15) * 64 / 15 : (panpot - 15) * 63 / 16;
}

} // namespace

struct Player::Voice {
    enum class Kind : std::uint8_t { Timbre, Drum, Fm, Pcm };
    bool active = false;
    Kind kind = Kind::Timbre;
    bool released = false;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint64_t order = 0;
    std::uint64_t releaseAt = 0;
    float velocityGain = 0.f;
    int panOffset = 0;
    float left = 0.f, right = 0.f; // the gains of the last block, ramped to the next
    bool fresh = true;
    // our timbres
    int stage = 0; // 0 attack, 1 decay/sustain, 2 release
    float env = 0.f;
    float attackStep = 1.f, decayMul = 1.f, sustain = 0.f, releaseMul = 0.f;
    double carrier = 0.0, modulator = 0.0, step = 0.0;
    float ratio = 1.f, index = 0.f, indexMul = 1.f;
    double vibrato = 0.0;
    // drum
    double tonePhase = 0.0;
    float toneHz = 0.f, toneTo = 0.f, toneGlide = 1.f, toneLevel = 0.f, noiseLevel = 0.f, bright = 0.f;
    float lowpass = 0.f;
    // file voices
    const VoiceDef* def = nullptr;
    std::array<Operator, 4> ops{};
    double keyShift = 0.0;   // BO in semitones
    bool bends = true;       // drums keep their pitch
    double lfoPhase = 0.0, lfoStep = 0.0;
    double lastKey = -1000.0, lastHz = 0.0;
    // PCM
    const Wave* wave = nullptr;
    double pos = 0.0, posStep = 0.0;
    double loopStart = 0.0, loopEnd = 0.0, end = 0.0;
    bool loops = false;
};

Player::Player(std::shared_ptr<const Song> song, int sampleRate) : song_(std::move(song)), rate_(sampleRate)
{
    voices_.resize(kVoices);
    for (auto* b : {&mixL_, &mixR_, &voiceBuf_, &voiceBufR_, &scratchA_, &scratchB_})
        b->resize(kBlock);
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
    nextRecording_ = 0;
    sounding_.clear();
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
    case EventKind::PitchBend: c.bend = std::clamp(e.value, -8192, 8191); break;
    case EventKind::Modulation: c.modulation = std::clamp(e.value, 0, 127); break;
    case EventKind::Bank:
        c.bankMsb = (e.value >> 7) & 0x7F;
        c.bankLsb = e.value & 0x7F;
        break;
    case EventKind::BendRange: c.bendRange = std::clamp(e.value, 0, 24); break;
    case EventKind::End: break;
    }
}

// The key a voice sounds at now, bend and BO included.
double Player::pitchOf(const Voice& v) const
{
    const Channel& c = channels_[v.channel];
    return v.key + v.keyShift + (v.bends ? c.bend / 8192.0 * c.bendRange : 0.0);
}

const VoiceDef* Player::findVoice(const Channel& c, const Event& e) const
{
    const VoiceDef* loose = nullptr;
    const auto& voices = song_->voices;
    for (auto it = voices.rbegin(); it != voices.rend(); ++it) { // the latest definition wins
        const VoiceDef& v = *it;
        if (v.type == VoiceType::Pcm &&
            std::none_of(song_->waves.begin(), song_->waves.end(),
                         [&](const Wave& w) { return w.score && w.number == v.waveNumber; }))
            continue; // its wave is in the handset's memory: our own timbre plays instead
        if (e.drum) {
            if (!v.drum || v.drumNote != e.key)
                continue;
            if (v.bankLsb == c.bankLsb && v.program == c.program)
                return &v;
            if (!loose)
                loose = &v;
        } else if (!v.drum && v.bankMsb == c.bankMsb && v.bankLsb == c.bankLsb && v.program == c.program) {
            return &v;
        }
    }
    return loose;
}

void Player::startNote(const Event& e)
{
    const Channel& c = channels_[e.channel % kChannels];
    const float gain = kVoiceGain * (e.velocity / 127.f);
    if (gain <= 0.f || c.volume == 0 || c.expression == 0)
        return;

    // A free voice, else the oldest releasing one, else the oldest.
    Voice* pick = nullptr;
    for (auto& v : voices_)
        if (!v.active) {
            pick = &v;
            break;
        }
    if (!pick) {
        for (auto& v : voices_)
            if (v.released && (!pick || v.order < pick->order))
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
    v.velocityGain = gain;
    v.releaseAt = frame_ + frameAt(e.gateMs);
    if (const VoiceDef* def = findVoice(c, e)) {
        if (def->type == VoiceType::Fm) {
            startFm(v, *def);
            return;
        }
        if (startPcm(v, *def, e))
            return;
    }
    if (e.drum) {
        startDrum(v, e);
        return;
    }
    const Timbre& t = kTimbres[(c.program >> 3) & 15];
    v.kind = Voice::Kind::Timbre;
    v.attackStep = t.attack <= 0.f ? 1.f : float(1000.0 / (double(t.attack) * rate_));
    v.decayMul = FallPerSample(t.decay, rate_);
    v.sustain = t.sustain;
    v.releaseMul = FallPerSample(t.release, rate_);
    v.ratio = t.ratio;
    v.index = t.index;
    v.indexMul = FallPerSample(t.indexDecay, rate_);
}

void Player::startFm(Voice& v, const VoiceDef& def)
{
    v.kind = Voice::Kind::Fm;
    v.def = &def;
    v.bends = !def.drum;
    if (def.drum)
        v.key = def.key;
    v.keyShift = 12.0 * def.octave;
    v.panOffset = PanOffset(def.panpot);
    v.lfoStep = kLfoHz[def.lfo & 3] / rate_;
    for (int i = 0; i < def.operators; ++i)
        SetUpOperator(v.ops[std::size_t(i)], def.ops[std::size_t(i)], v.key, rate_);
}

bool Player::startPcm(Voice& v, const VoiceDef& def, const Event& e)
{
    for (const Wave& w : song_->waves)
        if (w.score && w.number == def.waveNumber && w.frames() > 0) {
            v.wave = &w;
            break;
        }
    if (!v.wave)
        return false;
    v.kind = Voice::Kind::Pcm;
    v.def = &def;
    v.bends = !def.drum;
    v.panOffset = PanOffset(def.panpot);
    // The wave plays at the voice's rate at its key; drums always at that rate.
    v.keyShift = def.drum ? 0.0 : -double(def.key);
    v.key = def.drum ? 0 : e.key;
    const double frames = double(v.wave->frames());
    v.end = def.endPoint > 0 ? std::min(frames, double(def.endPoint)) : frames;
    v.loopStart = def.loopPoint;
    v.loops = v.loopStart < v.end && def.endPoint > 0;
    SetUpOperator(v.ops[0], def.ops[0], e.key, rate_);
    v.ops[0].table = nullptr;
    return true;
}

void Player::startDrum(Voice& v, const Event& e)
{
    const DrumSound d = DrumFor(e.key);
    v.kind = Voice::Kind::Drum;
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

// Renders samples [from, to) of the block into voiceBuf_ (and voiceBufR_ for stereo waves).
void Player::renderSpan(Voice& v, std::size_t from, std::size_t to)
{
    float* out = voiceBuf_.data();
    switch (v.kind) {
    case Voice::Kind::Timbre:
    case Voice::Kind::Drum:
        for (std::size_t i = from; i < to; ++i) {
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
                std::fill(out + i, out + to, 0.f);
                return;
            }
            float s;
            if (v.kind == Voice::Kind::Drum) {
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
            out[i] = s * v.env;
        }
        return;
    case Voice::Kind::Fm: {
        auto& o = v.ops;
        if (to <= from)
            return;
        for (int k = 0; k < v.def->operators; ++k)
            o[std::size_t(k)].span(to - from);
        // Operator by operator over the span; a and b hold modulators.
        const std::size_t n = to - from;
        float* y = out + from;
        float* a = scratchA_.data();
        float* b = scratchB_.data();
        switch (v.def->algorithm & 7) {
        case 0: // FB1 -> 2
            o[0].run(nullptr, a, n, false, true);
            o[1].run(a, y, n, false);
            break;
        case 1: // FB1 + 2
            o[0].run(nullptr, y, n, false, true);
            o[1].run(nullptr, y, n, true);
            break;
        case 2: // FB1 + 2 + FB3 + 4
            o[0].run(nullptr, y, n, false, true);
            o[1].run(nullptr, y, n, true);
            o[2].run(nullptr, y, n, true, true);
            o[3].run(nullptr, y, n, true);
            break;
        case 3: // (FB1 + 2 -> 3) -> 4
            o[0].run(nullptr, a, n, false, true);
            o[1].run(nullptr, b, n, false);
            o[2].run(b, a, n, true);
            o[3].run(a, y, n, false);
            break;
        case 4: // FB1 -> 2 -> 3 -> 4
            o[0].run(nullptr, a, n, false, true);
            o[1].run(a, a, n, false);
            o[2].run(a, a, n, false);
            o[3].run(a, y, n, false);
            break;
        case 5: // FB1 -> 2 + FB3 -> 4
            o[0].run(nullptr, a, n, false, true);
            o[1].run(a, y, n, false);
            o[2].run(nullptr, a, n, false, true);
            o[3].run(a, y, n, true);
            break;
        case 6: // FB1 + 2 -> 3 -> 4
            o[0].run(nullptr, y, n, false, true);
            o[1].run(nullptr, a, n, false);
            o[2].run(a, a, n, false);
            o[3].run(a, y, n, true);
            break;
        default: // FB1 + 2 -> 3 + 4
            o[0].run(nullptr, y, n, false, true);
            o[1].run(nullptr, a, n, false);
            o[2].run(a, y, n, true);
            o[3].run(nullptr, y, n, true);
            break;
        }
        return;
    }
    case Voice::Kind::Pcm: {
        Operator& env = v.ops[0];
        const Wave& w = *v.wave;
        const bool stereo = w.channels == 2;
        const std::size_t last = w.frames() - 1;
        float* outR = voiceBufR_.data();
        for (std::size_t i = from; i < to; ++i) {
            if (v.pos >= v.end) {
                if (!v.loops) {
                    v.active = false;
                    std::fill(out + i, out + to, 0.f);
                    std::fill(outR + i, outR + to, 0.f);
                    return;
                }
                v.pos = v.loopStart + std::fmod(v.pos - v.end, v.end - v.loopStart);
            }
            env.step();
            const std::size_t k = std::size_t(v.pos);
            const float frac = float(v.pos - double(k));
            const std::size_t k1 = std::min(k + 1, last);
            const float g = env.level * env.gain / 32768.f;
            if (stereo) {
                const std::int16_t* p = w.pcm.data();
                out[i] = (p[2 * k] + (p[2 * k1] - p[2 * k]) * frac) * g;
                outR[i] = (p[2 * k + 1] + (p[2 * k1 + 1] - p[2 * k + 1]) * frac) * g;
            } else {
                const std::int16_t* p = w.pcm.data();
                out[i] = (p[k] + (p[k1] - p[k]) * frac) * g;
            }
            v.pos += v.posStep;
        }
        return;
    }
    }
}

void Player::renderVoice(Voice& v, std::size_t n)
{
    const Channel& c = channels_[v.channel];
    // Pitch, LFO and levels once a block.
    const double key = pitchOf(v);
    if (v.kind == Voice::Kind::Timbre) {
        v.step = KeyHz(key) / rate_;
    } else if (v.kind == Voice::Kind::Fm) {
        const double lfo = std::sin(kTwoPi * v.lfoPhase);
        v.lfoPhase += v.lfoStep * double(n);
        v.lfoPhase -= std::floor(v.lfoPhase);
        if (key != v.lastKey) {
            v.lastKey = key;
            v.lastHz = KeyHz(key);
        }
        double hz = v.lastHz;
        if (c.modulation)
            hz *= 1.0 + c.modulation / 127.0 * kVibratoDepth * lfo;
        const double toPhase = 4294967296.0 / rate_;
        for (int i = 0; i < v.def->operators; ++i) {
            Operator& o = v.ops[std::size_t(i)];
            o.inc = std::uint32_t(std::int64_t(std::min(hz * o.ratio * (1.0 + o.vibrato * lfo), rate_ / 2.0) * toPhase));
            o.gain = o.baseGain * (1.f - o.tremolo * 0.5f * float(1.0 + lfo));
        }
    } else if (v.kind == Voice::Kind::Pcm) {
        v.posStep = double(v.def->pcmRate) / rate_ * std::pow(2.0, key / 12.0);
    }

    // Key-off inside the block splits it.
    std::size_t split = n;
    if (!v.released && v.releaseAt < frame_ + n)
        split = v.releaseAt > frame_ ? std::size_t(v.releaseAt - frame_) : 0;
    renderSpan(v, 0, split);
    if (split < n && v.active) {
        v.released = true;
        if (v.kind == Voice::Kind::Timbre)
            v.stage = 2;
        else if (v.kind == Voice::Kind::Fm || v.kind == Voice::Kind::Pcm)
            for (auto& o : v.ops)
                o.keyOff();
        renderSpan(v, split, n);
    } else if (split < n) {
        v.released = true;
    }

    // Live channel volume, expression and pan, ramped over the block.
    const float gain = v.velocityGain * (c.volume / 127.f) * (c.expression / 127.f);
    const int pan = std::clamp(c.pan + v.panOffset, 0, 127);
    const float angle = float(pan) / 127.f * float(kTwoPi / 4);
    const float left = gain * std::cos(angle), right = gain * std::sin(angle);
    if (v.fresh) {
        v.left = left;
        v.right = right;
        v.fresh = false;
    }
    const float dl = (left - v.left) / float(n), dr = (right - v.right) / float(n);
    const bool stereo = v.kind == Voice::Kind::Pcm && v.wave->channels == 2;
    const float* inR = stereo ? voiceBufR_.data() : voiceBuf_.data();
    for (std::size_t i = 0; i < n; ++i) {
        const float l = v.left + dl * float(i + 1), r = v.right + dr * float(i + 1);
        mixL_[i] += voiceBuf_[i] * l;
        mixR_[i] += inR[i] * r;
    }
    v.left = left;
    v.right = right;

    // A file voice ends when every sounding operator has gone quiet.
    if (v.active && v.kind == Voice::Kind::Fm) {
        const unsigned carriers = v.def->operators == 2 ? (kCarriers[v.def->algorithm & 7] & 3) : kCarriers[v.def->algorithm & 7];
        bool quiet = true;
        for (int i = 0; i < 4; ++i)
            if ((carriers >> i) & 1) {
                const Operator& o = v.ops[std::size_t(i)];
                quiet = quiet && o.stage != Operator::Attack && o.level * o.gain < kSilent;
            }
        v.active = !quiet;
    } else if (v.active && v.kind == Voice::Kind::Pcm) {
        const Operator& o = v.ops[0];
        v.active = o.stage == Operator::Attack || o.level * o.gain >= kSilent;
    }
}

void Player::mixRecordings(std::size_t n)
{
    // Recordings come in time order; those that begin in this block join the sounding ones
    // (at most kRecordings: the oldest gives way).
    const auto& recordings = song_->recordings;
    while (nextRecording_ < recordings.size() && frameAt(recordings[nextRecording_].timeMs) < frame_ + n) {
        if (sounding_.size() >= kRecordings)
            sounding_.erase(sounding_.begin());
        sounding_.push_back(nextRecording_++);
    }
    for (std::size_t s = 0; s < sounding_.size();) {
        const Recording& rec = recordings[sounding_[s]];
        const Wave& w = song_->waves[rec.wave];
        const std::uint64_t start = frameAt(rec.timeMs);
        std::uint64_t stop = start + (w.frames() * std::uint64_t(rate_) + w.sampleRate - 1) / w.sampleRate;
        if (rec.gateMs > 0)
            stop = std::min(stop, start + frameAt(rec.gateMs));
        if (frame_ >= stop) {
            sounding_.erase(sounding_.begin() + std::ptrdiff_t(s));
            continue;
        }
        ++s;
        float gl, gr;
        Balance(rec.pan, gl, gr);
        const float g = kRecordingGain * (rec.volume / 127.f) * (rec.expression / 127.f) / 32768.f;
        gl *= g;
        gr *= g;
        const std::size_t frames = w.frames();
        const std::int16_t* p = w.pcm.data();
        const int ch = w.channels;
        for (std::size_t i = frame_ < start ? std::size_t(start - frame_) : 0; i < n && frame_ + i < stop; ++i) {
            const double at = double(frame_ + i - start) * w.sampleRate / rate_;
            const std::size_t k = std::size_t(at);
            if (k >= frames)
                break;
            const double frac = at - double(k);
            const bool more = k + 1 < frames;
            const double l0 = p[k * std::size_t(ch)], l1 = more ? p[(k + 1) * std::size_t(ch)] : 0.0;
            const float l = float(l0 + (l1 - l0) * frac);
            float r = l;
            if (ch == 2) {
                const double r0 = p[k * 2 + 1], r1 = more ? p[(k + 1) * 2 + 1] : 0.0;
                r = float(r0 + (r1 - r0) * frac);
            }
            mixL_[i] += l * gl;
            mixR_[i] += r * gr;
        }
    }
}

std::size_t Player::render(std::int16_t* out, std::size_t frames)
{
    const auto& events = song_->events;
    const float master = master_ / 127.f;
    std::size_t done = 0;
    while (done < frames && frame_ < totalFrames_) {
        while (next_ < events.size() && frameAt(events[next_].timeMs) <= frame_)
            apply(events[next_++], true);
        std::uint64_t n = std::min<std::uint64_t>({frames - done, totalFrames_ - frame_, kBlock});
        if (next_ < events.size())
            n = std::min(n, frameAt(events[next_].timeMs) - frame_);
        std::fill(mixL_.begin(), mixL_.begin() + std::ptrdiff_t(n), 0.f);
        std::fill(mixR_.begin(), mixR_.begin() + std::ptrdiff_t(n), 0.f);
        for (auto& v : voices_)
            if (v.active)
                renderVoice(v, std::size_t(n));
        mixRecordings(std::size_t(n));
        for (std::size_t i = 0; i < n; ++i, ++done) {
            out[2 * done] = std::int16_t(std::lround(std::clamp(mixL_[i] * master, -1.f, 1.f) * 32767.f));
            out[2 * done + 1] = std::int16_t(std::lround(std::clamp(mixR_[i] * master, -1.f, 1.f) * 32767.f));
        }
        frame_ += n;
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
