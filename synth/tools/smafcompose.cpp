// smafcompose OUT.mmf          writes our demo ringtone, "Tarvel Tune"
// smafcompose --seeds DIR      writes small files in each sequence format (fuzzing seeds)
// smafcompose --examples DIR   writes the files the synthesizer's tests play, for listening
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "SmafExamples.h"
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

// The tune's own voices: a four-operator electric piano lead, a two-operator bass, a soft pad,
// and FM drums for the kick, snare, hi-hat and cymbal.
std::vector<smaf::VoiceDef> DemoVoices()
{
    auto op = [](int multi, int tl, int ar, int dr, int sl, int sr, int rr) {
        smaf::FmOperator o;
        o.multi = std::uint8_t(multi);
        o.tl = std::uint8_t(tl);
        o.ar = std::uint8_t(ar);
        o.dr = std::uint8_t(dr);
        o.sl = std::uint8_t(sl);
        o.sr = std::uint8_t(sr);
        o.rr = std::uint8_t(rr);
        return o;
    };
    smaf::VoiceDef lead; // program 0: FB1 -> 2 + FB3 -> 4, a tine over a body
    lead.algorithm = 5;
    lead.operators = 4;
    lead.ops = {op(14, 22, 15, 9, 15, 0, 8), op(1, 0, 15, 4, 6, 3, 8), op(1, 18, 15, 6, 4, 0, 8), op(1, 6, 15, 3, 5, 2, 8)};
    lead.ops[2].feedback = 3;
    lead.ops[3].detune = 2;
    lead.lfo = 2;
    lead.ops[1].vibrato = lead.ops[3].vibrato = true;
    smaf::VoiceDef bass; // program 33: FB1 -> 2, plucked
    bass.program = 33;
    bass.ops = {op(1, 14, 15, 6, 5, 4, 9), op(1, 0, 15, 3, 3, 3, 9)};
    bass.ops[0].feedback = 4;
    smaf::VoiceDef pad; // program 48: two detuned sines with a slow attack
    pad.program = 48;
    pad.algorithm = 1;
    pad.ops = {op(1, 4, 7, 2, 2, 0, 6), op(2, 10, 6, 2, 3, 0, 6)};
    pad.ops[1].detune = 3;
    pad.ops[1].wave = 10; // triangle
    pad.lfo = 1;
    pad.ops[0].tremolo = true;
    pad.ops[0].tremoloDepth = 1;
    auto drum = [&](int note, int key, smaf::FmOperator modulator, smaf::FmOperator carrier) {
        smaf::VoiceDef d;
        d.bankMsb = 0x7D;
        d.drum = true;
        d.drumNote = std::uint8_t(note);
        d.key = std::uint8_t(key);
        d.ops = {modulator, carrier};
        return d;
    };
    smaf::VoiceDef kick = drum(36, 28, op(1, 20, 15, 10, 15, 10, 12), op(1, 0, 15, 7, 15, 7, 12));
    smaf::VoiceDef snare = drum(38, 62, op(11, 0, 15, 8, 15, 8, 12), op(1, 4, 15, 8, 15, 8, 12));
    snare.ops[0].feedback = 7;
    smaf::VoiceDef hat = drum(42, 90, op(13, 0, 15, 11, 15, 11, 13), op(1, 10, 15, 11, 15, 11, 13));
    hat.ops[0].feedback = 7;
    smaf::VoiceDef crash = drum(49, 84, op(9, 0, 15, 5, 15, 5, 6), op(1, 8, 15, 5, 15, 5, 6));
    crash.ops[0].feedback = 7;
    return {lead, bass, pad, kick, snare, hat, crash};
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
    for (const smaf::VoiceDef& v : DemoVoices()) {
        const auto message = smaf::EncodeMobileVoice(v, true);
        track.setup.insert(track.setup.end(), message.begin(), message.end());
    }
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
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> seeds{
        {"hps.mmf", smaf::BuildSmaf({h}, "hps")},
        {"audio.mmf", smaf::BuildSmaf({}, "audio", {{0, 1, smaf::EncodeAdpcm(voice)}})},
        {"mobile.mmf", smaf::BuildSmaf({u}, "mobile")},
        {"compressed.mmf", smaf::BuildSmaf({c}, "compressed")}};
    // Voice messages in both encodings, Atsq, stereo audio and Mtsp waves.
    for (const char* name : {"fm-4op-bell.mmf", "hps-4op-bell.mmf", "drum-voice-snare-at-a5.mmf",
                             "audio-a4-then-e5-at-500ms.mmf", "audio-stereo-a4-left-e5-right.mmf",
                             "pcm-voice-16bit-wave-a4-then-a5.mmf"})
        seeds.emplace_back(name, smaf::examples::Named(name));
    return seeds;
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
    static const char kUsage[] = "usage: smafcompose OUT.mmf | smafcompose --seeds DIR | smafcompose --examples DIR\n"
                                 "Writes the demo ringtone to OUT.mmf, small files in each sequence\n"
                                 "format into DIR (seeds for fuzzing), or the synthesizer's examples.\n";
    std::vector<std::string> args;
    if (const auto status = ToolArgs(argc, argv, "smafcompose", kUsage, {"--seeds", "--examples"}, args))
        return *status;
    if (args.size() == 2 && (args[0] == "--seeds" || args[0] == "--examples")) {
        // The folder is made when it is not there yet.
        std::error_code ec;
        std::filesystem::create_directories(args[1], ec);
        if (ec) {
            std::cerr << "smafcompose: cannot make the folder " << args[1] << ": " << ec.message() << "\n";
            return 1;
        }
        for (const auto& [name, bytes] : args[0] == "--seeds" ? Seeds() : smaf::examples::All())
            if (!Save(args[1] + "/" + name, bytes))
                return 1;
        return 0;
    }
    if (args.size() != 1 || args[0] == "--seeds" || args[0] == "--examples") {
        std::cerr << kUsage;
        return 2;
    }
    return Save(args[0], DemoTune()) ? 0 : 1;
}
