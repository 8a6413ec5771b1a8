// Rendering known melodies offline and looking at where the energy is.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "SmafExamples.h"
#include "SmafReader.h"
#include "SmafWriter.h"
#include "Synth.h"

namespace {

constexpr double kA4 = 440.0, kB4 = 493.88, kE5 = 659.26, kE4 = 329.63;

std::shared_ptr<const smaf::Song> SongOf(const smaf::MobileSequence& seq)
{
    smaf::ScoreTrack t{5, smaf::SequenceFormat::MobileUncompressed, 0x00, 0x00, {}, seq.bytes()};
    auto song = smaf::ReadSmaf(smaf::BuildSmaf({t}, "test"));
    EXPECT_TRUE(song && song->playable());
    return std::make_shared<const smaf::Song>(std::move(*song));
}

// A4 for 200 ms, a rest, E5 from 400 ms for 200 ms; the sequence ends at 700 ms.
std::shared_ptr<const smaf::Song> Melody(int bend = 0)
{
    smaf::MobileSequence seq;
    seq.program(0, 0, 72); // a flute-like pipe: nearly a pure tone
    if (bend)
        seq.pitchBend(0, 0, bend);
    seq.note(0, 0, 69, 100, 200);
    seq.note(400, 0, 76, 100, 200);
    seq.end(300);
    return SongOf(seq);
}

// Mono view of the stereo PCM between two times (or one side: 0 left, 1 right).
std::vector<double> Window(const std::vector<std::int16_t>& pcm, int fromMs, int toMs, int side = -1)
{
    std::vector<double> out;
    for (std::size_t f = std::size_t(fromMs) * 441 / 10; f < std::size_t(toMs) * 441 / 10 && 2 * f + 1 < pcm.size(); ++f)
        out.push_back(side < 0 ? (pcm[2 * f] + pcm[2 * f + 1]) / 2.0 : pcm[2 * f + std::size_t(side)]);
    return out;
}

std::vector<std::int16_t> RenderExample(const std::string& name)
{
    auto song = smaf::ReadSmaf(smaf::examples::Named(name));
    EXPECT_TRUE(song && song->playable() && song->warnings.empty()) << name;
    return song ? smaf::RenderSong(std::make_shared<const smaf::Song>(std::move(*song))) : std::vector<std::int16_t>{};
}

// Goertzel: the power of one frequency in a window.
double Power(const std::vector<double>& x, double hz)
{
    const double w = 2.0 * M_PI * hz / smaf::kSampleRate, c = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s0 = v + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

double Rms(const std::vector<double>& x)
{
    double sum = 0;
    for (double v : x)
        sum += v * v;
    return x.empty() ? 0 : std::sqrt(sum / double(x.size()));
}

// Power of `hz` relative to `ref` in a window, in dB.
double Db(const std::vector<double>& x, double hz, double ref) { return 10 * std::log10(Power(x, hz) / Power(x, ref)); }

bool AllZero(const std::vector<double>& x)
{
    for (double v : x)
        if (v != 0)
            return false;
    return true;
}

} // namespace

TEST(SynthRender, LengthEqualsTheScore)
{
    const auto pcm = smaf::RenderSong(Melody());
    EXPECT_EQ(pcm.size(), std::size_t(700 * 441 / 10 * 2));
}

TEST(SynthRender, PitchesAtTheirTimesAndSilenceInTheRest)
{
    const auto pcm = smaf::RenderSong(Melody());
    struct Expect {
        int from, to;
        double pitch, other;
    };
    const Expect table[] = {{20, 180, kA4, kE5}, {20, 180, kA4, kE4}, {420, 580, kE5, kA4}, {420, 580, kE5, 2 * kE5}};
    for (const auto& e : table) {
        const auto w = Window(pcm, e.from, e.to);
        EXPECT_GT(Power(w, e.pitch), 20 * Power(w, e.other)) << e.from << " ms, " << e.pitch << " Hz";
    }
    EXPECT_GT(Rms(Window(pcm, 0, 10)), 100.0); // the first note starts at once
    EXPECT_TRUE(AllZero(Window(pcm, 330, 400)));
    EXPECT_GT(Rms(Window(pcm, 400, 410)), 100.0);
}

TEST(SynthRender, PitchBendMovesTheTone)
{
    const auto pcm = smaf::RenderSong(Melody(8191)); // two semitones up: B4
    const auto w = Window(pcm, 20, 180);
    EXPECT_GT(Power(w, kB4), 20 * Power(w, kA4));
}

TEST(SynthRender, MasterVolume)
{
    const auto loud = smaf::RenderSong(Melody(), 127);
    const auto half = smaf::RenderSong(Melody(), 64);
    const auto mute = smaf::RenderSong(Melody(), 0);
    const double ratio = Rms(Window(loud, 0, 600)) / Rms(Window(half, 0, 600));
    EXPECT_NEAR(ratio, 127.0 / 64.0, 0.05);
    EXPECT_TRUE(AllZero(Window(mute, 0, 700)));
}

TEST(SynthRender, DrumsRingOutAsNoise)
{
    smaf::MobileSequence seq;
    seq.control(0, 9, 0, 0x7D);
    seq.note(0, 9, 38, 127, 1); // snare, 1 ms gate
    seq.end(400);
    const auto pcm = smaf::RenderSong(SongOf(seq));
    const auto w = Window(pcm, 30, 60);
    EXPECT_GT(Rms(w), 100.0);
    int crossings = 0;
    for (std::size_t i = 1; i < w.size(); ++i)
        crossings += (w[i - 1] < 0) != (w[i] < 0);
    EXPECT_GT(crossings, 100); // far more than a tone below 1.6 kHz would give in 30 ms
    EXPECT_TRUE(AllZero(Window(pcm, 380, 400)));
}

TEST(SynthRender, SeekStartsLater)
{
    smaf::Player player(Melody());
    player.seek(400);
    std::vector<std::int16_t> pcm(2 * 441 * 15);
    ASSERT_EQ(player.render(pcm.data(), 441 * 15), std::size_t(441 * 15));
    const auto w = Window(pcm, 20, 140);
    EXPECT_GT(Power(w, kE5), 20 * Power(w, kA4));
    player.seek(650);
    EXPECT_EQ(player.render(pcm.data(), 441 * 15), std::size_t(441 * 5));
    EXPECT_TRUE(player.finished());
    EXPECT_EQ(player.render(pcm.data(), 10), 0u);
}

TEST(SynthRender, AudioTrackIsHeard)
{
    std::vector<std::int16_t> tone(8000 * 3 / 10); // 300 ms of A4 at 8 kHz
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = std::int16_t(12000 * std::sin(2 * M_PI * kA4 * double(i) / 8000));
    auto song = smaf::ReadSmaf(smaf::BuildSmaf({}, "voice", {{0, 1, smaf::EncodeAdpcm(tone)}}));
    ASSERT_TRUE(song && song->playable());
    EXPECT_EQ(song->lengthMs, 300u);
    const auto pcm = smaf::RenderSong(std::make_shared<const smaf::Song>(std::move(*song)));
    EXPECT_EQ(pcm.size(), std::size_t(300 * 441 / 10 * 2));
    const auto w = Window(pcm, 50, 250);
    EXPECT_GT(Rms(w), 1000.0);
    EXPECT_GT(Power(w, kA4), 20 * Power(w, kE5));
}

TEST(SynthVoices, TheFilesVoiceSetsTheSpectrum)
{
    // Algorithm 1 adds a sine at MULTI 1 and one at MULTI 3, nothing at twice the pitch.
    const auto pcm = RenderExample("fm-sine-plus-third-harmonic.mmf");
    const auto w = Window(pcm, 100, 500);
    EXPECT_NEAR(Db(w, 3 * kA4, kA4), 0.0, 3.0);
    EXPECT_LT(Db(w, 2 * kA4, kA4), -30.0);
    EXPECT_EQ(RenderExample("fm-sine-plus-third-harmonic-unpacked.mmf"), pcm);
    // BO: an octave down.
    const auto down = Window(RenderExample("fm-sine-plus-third-harmonic-octave-down.mmf"), 100, 500);
    EXPECT_GT(Db(down, kA4 / 2, kA4), 20.0);
    EXPECT_NEAR(Db(down, 3 * kA4 / 2, kA4 / 2), 0.0, 3.0);
    // The same score without the voice: our own piano, another spectrum.
    const auto own = Window(RenderExample("own-piano-without-voices.mmf"), 100, 500);
    EXPECT_GT(Db(own, 2 * kA4, kA4), -30.0);
    // Algorithm 0: a silent modulator leaves a pure tone, a loud one adds harmonics.
    const auto pure = Window(RenderExample("fm-pure-tone-modulator-silent.mmf"), 100, 500);
    EXPECT_LT(Db(pure, 2 * kA4, kA4), -30.0);
    EXPECT_LT(Db(pure, 3 * kA4, kA4), -30.0);
    const auto bright = Window(RenderExample("fm-bright-tone-modulator-loud.mmf"), 100, 500);
    EXPECT_GT(Db(bright, 2 * kA4, kA4), -20.0);
}

// Milliseconds after `fromMs` until the level is 40 dB below that of the 100 ms before.
int FallTime(const std::vector<std::int16_t>& pcm, int fromMs)
{
    const double ref = Rms(Window(pcm, fromMs - 100, fromMs));
    for (int t = fromMs; t < 4000; ++t)
        if (Rms(Window(pcm, t, t + 2)) < ref / 100)
            return t - fromMs;
    return 4000;
}

TEST(SynthVoices, ReleaseRatesAndKeyOffIgnored)
{
    const auto fast = RenderExample("release-fast-rr15.mmf"), slow = RenderExample("release-slow-rr4.mmf");
    const int fastMs = FallTime(fast, 200), slowMs = FallTime(slow, 200); // both gates end at 200 ms
    EXPECT_LT(4 * std::max(fastMs, 1), slowMs) << fastMs << " ms against " << slowMs << " ms";
    EXPECT_TRUE(AllZero(Window(fast, 300, 400)));
    // XOF: the same fast release, but the key-off is ignored and the note holds past its gate.
    const auto xof = RenderExample("xof-rings-past-the-gate.mmf");
    EXPECT_NEAR(Rms(Window(xof, 500, 700)), Rms(Window(xof, 20, 90)), 100.0);
}

TEST(SynthVoices, LfoTremolo)
{
    // 11 dB of tremolo, seven times a second; the held tone without it stays level.
    const auto wobble = RenderExample("fm-tremolo-and-vibrato-7hz.mmf"), held = RenderExample("fm-pure-tone-modulator-silent.mmf");
    auto swing = [](const std::vector<std::int16_t>& pcm) {
        double lo = 1e9, hi = 0;
        for (int t = 100; t < 500; t += 10)
            lo = std::min(lo, Rms(Window(pcm, t, t + 10))), hi = std::max(hi, Rms(Window(pcm, t, t + 10)));
        return hi / lo;
    };
    EXPECT_GT(swing(wobble), 2.5);
    EXPECT_LT(swing(held), 1.1);
}

TEST(SynthVoices, PanPlacesNotesAndMovesHeldOnes)
{
    const auto pcm = RenderExample("pan-left-centre-right.mmf"); // pans 0, 64, 127 from 0, 400, 800 ms
    const double ratios[] = {Rms(Window(pcm, 50, 250, 0)) / std::max(1.0, Rms(Window(pcm, 50, 250, 1))),
                             Rms(Window(pcm, 450, 650, 0)) / Rms(Window(pcm, 450, 650, 1)),
                             Rms(Window(pcm, 850, 1050, 0)) / std::max(1.0, Rms(Window(pcm, 850, 1050, 1)))};
    EXPECT_GT(ratios[0], 10.0);
    EXPECT_NEAR(ratios[1], 1.0, 0.1);
    EXPECT_LT(ratios[2], 0.1);
    // One note from 0 to 1000 ms, pan 0 then 127 at 500 ms.
    const auto sweep = RenderExample("pan-left-then-right-in-one-note.mmf");
    EXPECT_GT(Rms(Window(sweep, 300, 498, 0)), 10 * Rms(Window(sweep, 300, 498, 1)) + 1);
    EXPECT_GT(Rms(Window(sweep, 502, 900, 1)), 10 * Rms(Window(sweep, 502, 900, 0)) + 1);
}

TEST(SynthVoices, DrumVoiceAndBendRange)
{
    // Drum note 38 on the rhythm channel plays the drum voice at its drum key, A5.
    const auto drum = Window(RenderExample("drum-voice-snare-at-a5.mmf"), 50, 350);
    EXPECT_GT(Db(drum, 2 * kA4, kA4), 20.0);
    EXPECT_GT(Db(drum, 2 * kA4, 73.42), 20.0);
    // RPN 0/0 = 12: the full bend is an octave.
    const auto bent = Window(RenderExample("bend-range-an-octave-up.mmf"), 50, 350);
    EXPECT_GT(Db(bent, 2 * kA4, kA4), 20.0);
    EXPECT_GT(Db(bent, 2 * kA4, kB4), 20.0);
}

TEST(SynthVoices, PcmVoicePlaysTheFilesWave)
{
    // The wave holds 440 Hz at the voice's rate: key 69 plays it as it is, key 81 an octave up.
    const auto pcm = RenderExample("pcm-voice-16bit-wave-a4-then-a5.mmf");
    EXPECT_GT(Db(Window(pcm, 50, 250), kA4, 2 * kA4), 20.0);
    EXPECT_GT(Db(Window(pcm, 450, 650), 2 * kA4, kA4), 20.0);
}

TEST(SynthAudio, SequencePlacesWavesAndStereoStaysApart)
{
    // Wave 1 (A4) at 0 ms, wave 2 (E5) at 500 ms, 300 ms each.
    const auto pcm = RenderExample("audio-a4-then-e5-at-500ms.mmf");
    EXPECT_GT(Db(Window(pcm, 50, 250), kA4, kE5), 20.0);
    EXPECT_TRUE(AllZero(Window(pcm, 310, 495)));
    EXPECT_GT(Rms(Window(pcm, 500, 505)), 500.0);
    EXPECT_GT(Db(Window(pcm, 550, 750), kE5, kA4), 20.0);
    // A4 on the left, E5 on the right.
    const auto stereo = RenderExample("audio-stereo-a4-left-e5-right.mmf");
    EXPECT_GT(Db(Window(stereo, 50, 350, 0), kA4, kE5), 20.0);
    EXPECT_GT(Db(Window(stereo, 50, 350, 1), kE5, kA4), 20.0);
}
