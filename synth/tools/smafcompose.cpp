// smafcompose OUT.mmf          writes our demo ringtone, "Tarvel Tune"
// smafcompose --seeds DIR      writes small files in each sequence format (fuzzing seeds)
#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "SmafWriter.h"
#include "ToolArgs.h"

namespace {

struct Note {
    std::uint32_t at; // ticks
    int channel, key, velocity;
    std::uint32_t length;
};

constexpr std::uint32_t kEighth = 50; // ticks of 5 ms: 120 beats a minute
constexpr int kLead = 0, kBass = 1, kPad = 2, kDrums = 9;

std::vector<Note> Compose()
{
    // The melody in G major, as (key, eighths); eight bars of 4/4.
    static const int melody[][2] = {
        {67, 1}, {71, 1}, {74, 2}, {71, 1}, {74, 1}, {79, 2}, // bar 1
        {78, 2}, {76, 1}, {74, 1}, {76, 4},                   // 2
        {72, 1}, {76, 1}, {79, 2}, {76, 1}, {74, 1}, {72, 2}, // 3
        {71, 2}, {69, 2}, {67, 4},                            // 4
        {67, 1}, {71, 1}, {74, 2}, {76, 1}, {78, 1}, {79, 2}, // 5
        {81, 2}, {79, 1}, {78, 1}, {76, 4},                   // 6
        {74, 1}, {76, 1}, {78, 2}, {76, 2}, {74, 1}, {72, 1}, // 7
        {71, 2}, {74, 2}, {67, 4},                            // 8
    };
    // One chord a bar: bass root and three pad notes.
    static const int chords[8][4] = {
        {43, 55, 59, 62}, {38, 54, 57, 62}, {36, 52, 55, 60}, {43, 55, 59, 62},
        {43, 55, 59, 62}, {38, 54, 57, 62}, {38, 54, 57, 60}, {43, 55, 59, 62},
    };
    std::vector<Note> notes;
    std::uint32_t t = 0;
    for (const auto& m : melody) {
        const std::uint32_t len = std::uint32_t(m[1]) * kEighth;
        notes.push_back({t, kLead, m[0], 110, len * 9 / 10});
        t += len;
    }
    for (std::uint32_t bar = 0; bar < 8; ++bar) {
        const std::uint32_t start = bar * 8 * kEighth;
        for (int half = 0; half < 2; ++half)
            notes.push_back({start + std::uint32_t(half) * 4 * kEighth, kBass, chords[bar][0], 100, 3 * kEighth});
        for (int i = 1; i < 4; ++i)
            notes.push_back({start, kPad, chords[bar][i], 60, 8 * kEighth - 10});
        for (int e = 0; e < 8; ++e) {
            const std::uint32_t at = start + std::uint32_t(e) * kEighth;
            notes.push_back({at, kDrums, 42, e % 2 ? 50 : 70, 10});
            if (e == 0 || e == 4)
                notes.push_back({at, kDrums, 36, 110, 10});
            if (e == 2 || e == 6)
                notes.push_back({at, kDrums, 38, 90, 10});
        }
    }
    notes.push_back({8 * 8 * kEighth, kDrums, 49, 90, 10}); // a last cymbal
    std::stable_sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) { return a.at < b.at; });
    return notes;
}

std::vector<std::uint8_t> DemoTune()
{
    smaf::MobileSequence seq;
    seq.control(0, kDrums, 0, 0x7D); // drum bank
    seq.program(0, kLead, 0);        // piano
    seq.program(0, kBass, 33);       // finger bass
    seq.program(0, kPad, 48);        // strings
    seq.control(0, kPad, 7, 70);
    seq.control(0, kLead, 10, 56);
    seq.control(0, kPad, 10, 76);
    std::uint32_t now = 0;
    for (const Note& n : Compose()) {
        seq.note(n.at - now, n.channel, n.key, n.velocity, n.length);
        now = n.at;
    }
    seq.end(4 * kEighth); // let the last chord ring
    smaf::ScoreTrack track;
    track.number = 5;
    track.format = smaf::SequenceFormat::MobileUncompressed;
    track.timeBaseD = 0x03;
    track.timeBaseG = 0x03;
    track.sequence = seq.bytes();
    return smaf::BuildSmaf({track}, "Tarvel Tune");
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Seeds()
{
    smaf::HpsSequence hps;
    hps.control(0, 0, 0, 5);
    hps.control(0, 1, 2, 0x81);
    hps.note(0, 0, 69, 20);
    hps.note(25, 1, 48, 200);
    hps.note(261, 0, 72, 10);
    hps.end(30);
    smaf::MobileSequence ms;
    ms.program(0, 0, 73);
    ms.control(0, 9, 0, 0x7D);
    ms.note(0, 0, 69, 100, 40);
    ms.pitchBend(10, 0, 2048);
    ms.note(40, 9, 38, 90, 5);
    ms.note(300, 0, 76, 64, 200);
    ms.end(10);
    smaf::ScoreTrack h{0, smaf::SequenceFormat::Hps, 0x02, 0x02, {0x00, 0x03}, hps.bytes()};
    smaf::ScoreTrack u{5, smaf::SequenceFormat::MobileUncompressed, 0x02, 0x02, {}, ms.bytes()};
    smaf::ScoreTrack c{5, smaf::SequenceFormat::MobileCompressed, 0x02, 0x02, {}, ms.bytes()};
    std::vector<std::int16_t> voice(400);
    for (std::size_t i = 0; i < voice.size(); ++i)
        voice[i] = std::int16_t((i % 40) * 800 - 16000);
    return {{"hps.mmf", smaf::BuildSmaf({h}, "hps")},
            {"audio.mmf", smaf::BuildSmaf({}, "audio", {{0, 1, smaf::EncodeAdpcm(voice)}})},
            {"mobile.mmf", smaf::BuildSmaf({u}, "mobile")},
            {"compressed.mmf", smaf::BuildSmaf({c}, "compressed")}};
}

bool Save(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out)
        std::cerr << "smafcompose: cannot write " << path << "\n";
    return bool(out);
}

} // namespace

int main(int argc, char** argv)
{
    static const char kUsage[] = "usage: smafcompose OUT.mmf | smafcompose --seeds DIR\n"
                                 "Writes the demo ringtone to OUT.mmf, or small files in each sequence\n"
                                 "format into DIR (seeds for fuzzing).\n";
    std::vector<std::string> args;
    if (const auto status = ToolArgs(argc, argv, "smafcompose", kUsage, {"--seeds"}, args))
        return *status;
    if (args.size() == 2 && args[0] == "--seeds") {
        for (const auto& [name, bytes] : Seeds())
            if (!Save(args[1] + "/" + name, bytes))
                return 1;
        return 0;
    }
    if (args.size() != 1 || args[0] == "--seeds") {
        std::cerr << kUsage;
        return 2;
    }
    return Save(args[0], DemoTune()) ? 0 : 1;
}
