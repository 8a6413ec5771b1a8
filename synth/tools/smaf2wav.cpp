// smaf2wav FILE.mmf OUT.wav: renders a SMAF ringtone (or a .mel melody file) to a WAV file
// with the same reader and synthesizer as the playback library.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

#include "SmafReader.h"
#include "ToolArgs.h"
#include "Synth.h"
#include "Wav.h"

int main(int argc, char** argv)
{
    static const char kUsage[] = "usage: smaf2wav FILE.mmf OUT.wav\n"
                                 "Renders a SMAF ringtone (or a .mel melody file) to a WAV file.\n";
    std::vector<std::string> args;
    if (const auto status = ToolArgs(argc, argv, "smaf2wav", kUsage, {}, args))
        return *status;
    if (args.size() != 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string& inPath = args[0];
    const std::string& outPath = args[1];
    std::ifstream in(inPath, std::ios::binary);
    if (!in) {
        std::cerr << "smaf2wav: cannot open " << inPath << "\n";
        return 1;
    }
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
    auto song = smaf::ReadSmaf(smaf::SkipMelodyHeader(data));
    if (!song) {
        std::cerr << "smaf2wav: " << inPath << " is not a SMAF file\n";
        return 1;
    }
    for (const auto& w : song->warnings)
        std::cerr << "smaf2wav: warning: " << w << "\n";
    if (!song->playable()) {
        std::cerr << "smaf2wav: " << inPath << " holds nothing that can be played\n";
        return 1;
    }
    const std::uint32_t lengthMs = song->lengthMs;
    const auto pcm = smaf::RenderSong(std::make_shared<const smaf::Song>(std::move(*song)));
    const auto wav = smaf::WavBytes(pcm, smaf::kSampleRate, smaf::kOutputChannels);
    std::ofstream out(outPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(wav.data()), std::streamsize(wav.size()));
    out.close();
    if (!out) {
        std::cerr << "smaf2wav: cannot write " << outPath << "\n";
        return 1;
    }
    std::cout << outPath << ": " << lengthMs / 1000 << "." << (lengthMs % 1000) / 100 << " s\n";
    return 0;
}
