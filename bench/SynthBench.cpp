// How much faster than real time the synthesizer renders a busy ringtone: 60 s of sixteen
// four-operator voices sounding at once (a new chord of sixteen notes every second).
// bench_synth [OUT.mmf]   also writes the file, to time smaf2wav on it.
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>

#include "SmafReader.h"
#include "SmafWriter.h"
#include "Synth.h"

int main(int argc, char** argv)
{
    smaf::VoiceDef v;
    v.algorithm = 4; // 1 -> 2 -> 3 -> 4
    v.operators = 4;
    for (int i = 0; i < 4; ++i) {
        smaf::FmOperator& o = v.ops[std::size_t(i)];
        o.multi = std::uint8_t(i + 1);
        o.tl = std::uint8_t(i == 3 ? 0 : 16);
        o.ar = 14;
        o.dr = 3;
        o.sl = 4;
        o.rr = 12; // gone within 40 ms of its key-off: sixteen voices at a time
        o.vibrato = true;
    }
    v.ops[0].feedback = 5;
    smaf::MobileSequence seq;
    for (int second = 0; second < 60; ++second)
        for (int n = 0; n < 16; ++n)
            seq.note(n == 0 && second > 0 ? 1000 : 0, n % 16 == 9 ? 8 : n % 16, 40 + 3 * n, 100, 960);
    seq.end(1000);
    smaf::ScoreTrack t{5, smaf::SequenceFormat::MobileUncompressed, 0x00, 0x00, {}, seq.bytes()};
    t.setup = smaf::EncodeMobileVoice(v, true);
    const auto file = smaf::BuildSmaf({t}, "bench");
    if (argc > 1)
        std::ofstream(argv[1], std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    auto song = smaf::ReadSmaf(file);
    if (!song)
        return 1;
    const double songSeconds = song->lengthMs / 1000.0;
    const auto start = std::chrono::steady_clock::now();
    const auto pcm = smaf::RenderSong(std::make_shared<const smaf::Song>(std::move(*song)));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "rendered " << songSeconds << " s in " << seconds << " s: " << songSeconds / seconds
              << " times real time (" << pcm.size() / 2 << " frames)\n";
    return 0;
}
