// Rendering known melodies offline and looking at where the energy is.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

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

// Mono view of the stereo PCM between two times.
std::vector<double> Window(const std::vector<std::int16_t>& pcm, int fromMs, int toMs)
{
    std::vector<double> out;
    for (std::size_t f = std::size_t(fromMs) * 441 / 10; f < std::size_t(toMs) * 441 / 10 && 2 * f + 1 < pcm.size(); ++f)
        out.push_back((pcm[2 * f] + pcm[2 * f + 1]) / 2.0);
    return out;
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
