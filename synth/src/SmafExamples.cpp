#include "SmafExamples.h"

#include <cmath>

namespace smaf::examples {

namespace {

constexpr int kA4 = 69, kA5 = 81, kE5 = 76;

MobileSequence OneNote(int key, std::uint32_t gate, std::uint32_t tail)
{
    MobileSequence seq;
    seq.note(0, 0, key, 127, gate);
    seq.end(gate + tail);
    return seq;
}

// Modulator silent (TL 63) or at full level, carrier held.
VoiceDef Modulated(int modulatorTl)
{
    VoiceDef v = Held(0, 1, 1);
    v.ops[0].tl = std::uint8_t(modulatorTl);
    return v;
}

VoiceDef Release(int rr, bool xof)
{
    VoiceDef v = Modulated(63);
    v.ops[1].rr = std::uint8_t(rr);
    v.ops[1].xof = xof;
    return v;
}

VoiceDef Bell()
{
    VoiceDef v;
    v.algorithm = 5; // FB1 -> 2 + FB3 -> 4
    v.operators = 4;
    for (auto& o : v.ops) {
        o.ar = 15;
        o.dr = 5;
        o.sl = 15;
        o.sr = 0;
        o.rr = 6;
    }
    v.ops[0].multi = 7;
    v.ops[0].tl = 12;
    v.ops[0].dr = 7;
    v.ops[1].multi = 2;
    v.ops[2].multi = 3;
    v.ops[2].tl = 20;
    v.ops[2].feedback = 3;
    v.ops[3].multi = 1;
    v.ops[3].tl = 4;
    return v;
}

// LFO 3 (7 Hz): the carrier trembles by 11 dB and wavers by 28 cents.
VoiceDef Wobble()
{
    VoiceDef v = Modulated(63);
    v.lfo = 3;
    v.ops[1].tremolo = v.ops[1].vibrato = true;
    v.ops[1].tremoloDepth = v.ops[1].vibratoDepth = 3;
    return v;
}

std::vector<std::uint8_t> Pan()
{
    MobileSequence seq;
    const int pans[] = {0, 64, 127};
    for (int i = 0; i < 3; ++i) {
        seq.control(i ? 400 : 0, 0, 10, pans[i]);
        seq.note(0, 0, kA4, 127, 300);
    }
    seq.end(400);
    return MobileTune({Held(1, 1, 1)}, false, seq);
}

std::vector<std::uint8_t> PanSweep()
{
    MobileSequence seq;
    seq.control(0, 0, 10, 0);
    seq.note(0, 0, kA4, 127, 1000);
    seq.control(500, 0, 10, 127);
    seq.end(600);
    return MobileTune({Held(1, 1, 1)}, false, seq);
}

std::vector<std::uint8_t> DrumVoice()
{
    VoiceDef snare = Held(1, 1, 1);
    snare.bankMsb = 0x7D;
    snare.drum = true;
    snare.drumNote = 38;
    snare.key = kA5; // sounds at 880 Hz
    MobileSequence seq;
    seq.control(0, 9, 0, 0x7D);
    seq.note(0, 9, 38, 127, 400);
    seq.end(500);
    return MobileTune({snare}, true, seq);
}

std::vector<std::uint8_t> BendRange()
{
    MobileSequence seq;
    seq.control(0, 0, 101, 0);
    seq.control(0, 0, 100, 0);
    seq.control(0, 0, 6, 12);
    seq.pitchBend(0, 0, 8191);
    seq.note(0, 0, kA4, 127, 400);
    seq.end(500);
    return MobileTune({Held(1, 1, 1)}, false, seq);
}

std::vector<std::uint8_t> AudioTwoWaves()
{
    HpsSequence atsq; // 4 ms ticks
    atsq.wave(0, 0, 1, 75);
    atsq.wave(125, 0, 2, 75);
    atsq.end(75);
    AudioTrack a;
    a.adpcm = EncodeAdpcm(Tone(440, 300, 8000));
    a.moreWaves = {EncodeAdpcm(Tone(659.26, 300, 8000))};
    a.sequence = atsq.bytes();
    return BuildSmaf({}, "audio-wave-2-at-500ms", {a});
}

std::vector<std::uint8_t> AudioStereo()
{
    const auto left = Tone(440, 400, 8000), right = Tone(659.26, 400, 8000);
    std::vector<std::int16_t> both;
    for (std::size_t i = 0; i < left.size(); ++i)
        both.insert(both.end(), {left[i], right[i]});
    AudioTrack a;
    a.stereo = true;
    a.adpcm = EncodeAdpcm(both, 2);
    return BuildSmaf({}, "audio-stereo", {a});
}

std::vector<std::uint8_t> PcmVoice()
{
    VoiceDef v;
    v.type = VoiceType::Pcm;
    v.key = kA4;
    v.pcmRate = 8000;
    v.waveNumber = 1;
    v.operators = 1;
    v.ops[0] = FmOperator{};
    v.ops[0].ar = 15;
    v.ops[0].rr = 10;
    MobileSequence seq;
    seq.note(0, 0, kA4, 127, 300);  // the wave as recorded: 440 Hz
    seq.note(400, 0, kA5, 127, 300); // an octave up
    seq.end(400);
    return MobileTune({v}, false, seq, {{1, EncodeScoreWave(Tone(440, 500, 8000), 8000, 1, 0, 16)}});
}

std::vector<std::uint8_t> HpsBell()
{
    HpsSequence seq;
    seq.note(0, 0, 69, 150);
    seq.note(150, 0, 76, 150);
    seq.note(150, 0, 81, 300);
    seq.end(400);
    ScoreTrack t{0, SequenceFormat::Hps, 0x01, 0x01, {}, seq.bytes(), EncodeHpsVoice(Bell()), {}};
    return BuildSmaf({t}, "hps-4op-bell");
}

} // namespace

VoiceDef Held(int algorithm, int multi1, int multi2)
{
    VoiceDef v;
    v.algorithm = std::uint8_t(algorithm);
    v.operators = 2;
    for (auto& o : v.ops) {
        o.ar = 15;
        o.dr = 0;
        o.sl = 0;
        o.sr = 0;
        o.rr = 8;
    }
    v.ops[0].multi = std::uint8_t(multi1);
    v.ops[1].multi = std::uint8_t(multi2);
    return v;
}

std::vector<std::uint8_t> MobileTune(const std::vector<VoiceDef>& voices, bool packed, const MobileSequence& sequence,
                                     const std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>>& waves)
{
    ScoreTrack t{5, SequenceFormat::MobileUncompressed, 0x00, 0x00, {}, sequence.bytes(), {}, waves};
    for (const VoiceDef& v : voices) {
        const auto m = EncodeMobileVoice(v, packed);
        t.setup.insert(t.setup.end(), m.begin(), m.end());
    }
    return BuildSmaf({t}, "example");
}

std::vector<std::int16_t> Tone(double hz, int ms, int rate, double level)
{
    std::vector<std::int16_t> out(std::size_t(ms) * std::size_t(rate) / 1000);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = std::int16_t(std::lround(level * std::sin(2 * M_PI * hz * double(i) / rate)));
    return out;
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> All()
{
    VoiceDef down = Held(1, 1, 3);
    down.octave = -1;
    MobileSequence bell;
    bell.note(0, 0, kA4, 127, 200);
    bell.note(250, 0, kE5, 127, 200);
    bell.end(1200);
    return {
        {"fm-sine-plus-third-harmonic.mmf", MobileTune({Held(1, 1, 3)}, true, OneNote(kA4, 600, 100))},
        {"fm-sine-plus-third-harmonic-unpacked.mmf", MobileTune({Held(1, 1, 3)}, false, OneNote(kA4, 600, 100))},
        {"fm-sine-plus-third-harmonic-octave-down.mmf", MobileTune({down}, true, OneNote(kA4, 600, 100))},
        {"own-piano-without-voices.mmf", MobileTune({}, false, OneNote(kA4, 600, 100))},
        {"fm-pure-tone-modulator-silent.mmf", MobileTune({Modulated(63)}, false, OneNote(kA4, 600, 100))},
        {"fm-bright-tone-modulator-loud.mmf", MobileTune({Modulated(0)}, false, OneNote(kA4, 600, 100))},
        {"release-fast-rr15.mmf", MobileTune({Release(15, false)}, false, OneNote(kA4, 200, 1800))},
        {"release-slow-rr4.mmf", MobileTune({Release(4, false)}, false, OneNote(kA4, 200, 1800))},
        {"xof-rings-past-the-gate.mmf", MobileTune({Release(15, true)}, false, OneNote(kA4, 100, 700))},
        {"fm-4op-bell.mmf", MobileTune({Bell()}, true, bell)},
        {"fm-tremolo-and-vibrato-7hz.mmf", MobileTune({Wobble()}, false, OneNote(kA4, 1000, 100))},
        {"hps-4op-bell.mmf", HpsBell()},
        {"pan-left-centre-right.mmf", Pan()},
        {"pan-left-then-right-in-one-note.mmf", PanSweep()},
        {"drum-voice-snare-at-a5.mmf", DrumVoice()},
        {"bend-range-an-octave-up.mmf", BendRange()},
        {"audio-a4-then-e5-at-500ms.mmf", AudioTwoWaves()},
        {"audio-stereo-a4-left-e5-right.mmf", AudioStereo()},
        {"pcm-voice-16bit-wave-a4-then-a5.mmf", PcmVoice()},
    };
}

std::vector<std::uint8_t> Named(const std::string& name)
{
    for (auto& [n, bytes] : All())
        if (n == name)
            return bytes;
    return {};
}

} // namespace smaf::examples
