// smaf2wav FILE.mmf OUT.wav: renders a SMAF ringtone (or a .mel melody file) to a WAV file
// with the same reader and synthesizer as the playback library.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

#include "SmafReader.h"
#include "Synth.h"
#include "Wav.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: smaf2wav FILE.mmf OUT.wav\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "smaf2wav: cannot open " << argv[1] << "\n";
        return 1;
    }
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
    auto song = smaf::ReadSmaf(smaf::SkipMelodyHeader(data));
    if (!song) {
        std::cerr << "smaf2wav: " << argv[1] << " is not a SMAF file\n";
        return 1;
    }
    for (const auto& w : song->warnings)
        std::cerr << "smaf2wav: warning: " << w << "\n";
    if (!song->playable()) {
        std::cerr << "smaf2wav: " << argv[1] << " holds nothing that can be played\n";
        return 1;
    }
    const std::uint32_t lengthMs = song->lengthMs;
    const auto pcm = smaf::RenderSong(std::make_shared<const smaf::Song>(std::move(*song)));
    const auto wav = smaf::WavBytes(pcm, smaf::kSampleRate, smaf::kOutputChannels);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(wav.data()), std::streamsize(wav.size()));
    out.close();
    if (!out) {
        std::cerr << "smaf2wav: cannot write " << argv[2] << "\n";
        return 1;
    }
    std::cout << argv[2] << ": " << lengthMs / 1000 << "." << (lengthMs % 1000) / 100 << " s\n";
    return 0;
}
