// The SMAF reader against hand-computed byte vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include "SmafBytes.h"
#include "SmafReader.h"
#include "SmafWriter.h"

using namespace smaftest;
using smaf::Event;
using smaf::EventKind;

namespace {

smaf::TrackSetup TimeBase(std::uint32_t timeBase = 1)
{
    smaf::TrackSetup s;
    s.timeBaseD = timeBase;
    s.timeBaseG = timeBase;
    return s;
}

std::vector<Event> Notes(const std::vector<Event>& events)
{
    std::vector<Event> out;
    std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                 [](const Event& e) { return e.kind == EventKind::Note; });
    return out;
}

bool HasWarning(const smaf::Song& song, const std::string& part)
{
    return std::any_of(song.warnings.begin(), song.warnings.end(),
                       [&](const std::string& w) { return w.find(part) != std::string::npos; });
}

// A small HPS file: A4 for 100 ms, then C5 at 250 ms; 4 ms time base.
ByteVec HpsFile()
{
    return File(Cat({kCnti, ScoreTrack(0, 0, 0x02, {0x00, 0x00}, {0x00, 0x29, 0x19, 0x3E, 0x30, 0x19, 0x05, 0x00, 0x00, 0x00})}));
}

} // namespace

TEST(SmafCrc, MatchesTheCheckValue)
{
    const std::string check = "123456789";
    EXPECT_EQ(smaf::Crc16(smaf::Bytes(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())), 0xD64E);
}

TEST(SmafTimeBase, CodesGiveMilliseconds)
{
    const std::pair<std::uint8_t, std::uint32_t> table[] = {{0x00, 1},  {0x01, 2},  {0x02, 4},  {0x03, 5},
                                                             {0x10, 10}, {0x11, 20}, {0x12, 40}, {0x13, 50}};
    for (auto [code, ms] : table)
        EXPECT_EQ(smaf::TimeBaseMs(code), ms) << int(code);
    EXPECT_FALSE(smaf::TimeBaseMs(0x04));
    EXPECT_FALSE(smaf::TimeBaseMs(0x20));
}

struct HpsCase {
    const char* what;
    ByteVec bytes;
    std::uint32_t timeMs, key, gateMs;
};

TEST(SmafHps, NoteBytes)
{
    const HpsCase cases[] = {
        {"0x29 is key 69", {0x00, 0x29, 0x05}, 0, 69, 5},
        {"lowest note", {0x00, 0x00 | 0x01, 0x01}, 0, 37, 1},
        {"channel bits do not change the key", {0x00, 0xE9, 0x01}, 0, 69, 1},
        {"highest octave", {0x00, 0x3B, 0x01}, 0, 36 + 36 + 11, 1},
        {"two-byte duration 81 05 is 261", {0x81, 0x05, 0x29, 0x01}, 261, 69, 1},
        {"two-byte gate 81 05 is 261", {0x00, 0x29, 0x81, 0x05}, 0, 69, 261},
        {"largest two-byte time", {0xFF, 0x7F, 0x29, 0x80, 0x00}, 16511, 69, 128},
        {"octave shift up one", {0x00, 0x00, 0x32, 0x01, 0x00, 0x29, 0x01}, 0, 81, 1},
        {"octave shift down two", {0x00, 0x00, 0x32, 0x82, 0x00, 0x29, 0x01}, 0, 45, 1},
        {"octave shift of another channel", {0x00, 0x00, 0x72, 0x01, 0x00, 0x29, 0x01}, 0, 69, 1},
        {"no-operation and exclusive skipped", {0x00, 0xFF, 0x00, 0x03, 0xFF, 0xF0, 0x02, 0x43, 0x07, 0x02, 0x29, 0x01}, 5, 69, 1},
    };
    for (const auto& c : cases) {
        const auto r = smaf::DecodeHps(c.bytes, TimeBase());
        const auto notes = Notes(r.events);
        ASSERT_EQ(notes.size(), 1u) << c.what;
        EXPECT_EQ(notes[0].timeMs, c.timeMs) << c.what;
        EXPECT_EQ(notes[0].key, c.key) << c.what;
        EXPECT_EQ(notes[0].gateMs, c.gateMs) << c.what;
        EXPECT_TRUE(r.warnings.empty()) << c.what;
    }
}

TEST(SmafHps, TimeBasesScaleDurationAndGate)
{
    smaf::TrackSetup s;
    s.timeBaseD = 4;
    s.timeBaseG = 20;
    const auto notes = Notes(smaf::DecodeHps(ByteVec{0x0A, 0x29, 0x03}, s).events);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].timeMs, 40u);
    EXPECT_EQ(notes[0].gateMs, 60u);
}

TEST(SmafHps, ChannelsAndControls)
{
    const ByteVec bytes{
        0x00, 0x00, 0x30, 0x05, // ch 0 program 5
        0x00, 0x00, 0x77, 0x64, // ch 1 volume 100
        0x00, 0x00, 0xBA, 0x20, // ch 2 pan 32
        0x00, 0x00, 0xF1, 0x80, // ch 3 bank 0x80: drums
        0x00, 0xE3, 0x02,       // ch 3 note
        0x00, 0x69, 0x02,       // ch 1 note
    };
    auto setup = TimeBase();
    setup.channelBase = 4;
    const auto r = smaf::DecodeHps(bytes, setup);
    ASSERT_EQ(r.events.size(), 6u);
    EXPECT_EQ(r.events[0].kind, EventKind::Program);
    EXPECT_EQ(r.events[0].channel, 4);
    EXPECT_EQ(r.events[0].value, 5);
    EXPECT_EQ(r.events[1].kind, EventKind::Volume);
    EXPECT_EQ(r.events[1].channel, 5);
    EXPECT_EQ(r.events[1].value, 100);
    EXPECT_EQ(r.events[2].kind, EventKind::Pan);
    EXPECT_EQ(r.events[2].value, 0x20);
    EXPECT_EQ(r.events[3].kind, EventKind::Bank); // the rhythm bank, LSB 0
    EXPECT_EQ(r.events[3].value, 0x7D << 7);
    EXPECT_EQ(r.events[4].channel, 7);
    EXPECT_TRUE(r.events[4].drum);
    EXPECT_EQ(r.events[4].key, 36 + 24 + 3);
    EXPECT_EQ(r.events[5].channel, 5);
    EXPECT_FALSE(r.events[5].drum);
}

TEST(SmafHps, OneByteControlSteps)
{
    // 00 cc ff nnnn: form 0 expression, 1 pitch-bend step (8 is the centre), 2 modulation.
    const ByteVec bytes{0x00, 0x00, 0x0F, 0x00, 0x00, 0x40, 0x00, 0x00, 0x58, 0x00, 0x00, 0x5C, 0x00, 0x00, 0xA5};
    const auto r = smaf::DecodeHps(bytes, TimeBase());
    ASSERT_EQ(r.events.size(), 4u); // 00 40 (expression step 0) is no level and gives nothing
    const std::tuple<EventKind, int, int> expected[] = {{EventKind::Expression, 0, 127}, {EventKind::PitchBend, 1, 0},
                                                        {EventKind::PitchBend, 1, 4096}, {EventKind::Modulation, 2, 42}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.events[i].kind, std::get<0>(expected[i])) << i;
        EXPECT_EQ(r.events[i].channel, std::get<1>(expected[i])) << i;
        EXPECT_EQ(r.events[i].value, std::get<2>(expected[i])) << i;
    }
}

TEST(SmafHps, EndOfSequenceStopsTheTrack)
{
    const auto r = smaf::DecodeHps(ByteVec{0x00, 0x29, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00, 0x29, 0x05}, TimeBase(4));
    EXPECT_TRUE(r.sawEnd);
    EXPECT_EQ(r.endMs, 20u);
    EXPECT_EQ(Notes(r.events).size(), 1u);
    EXPECT_EQ(r.events.back().kind, EventKind::End);
}

TEST(SmafHps, TruncatedEventsEndWithAWarning)
{
    const ByteVec cases[] = {{0x81}, {0x00}, {0x00, 0x29}, {0x00, 0x29, 0x81}, {0x00, 0x00, 0x30}, {0x00, 0xFF, 0xF0, 0x05, 0x01}};
    for (const auto& bytes : cases) {
        const ByteVec exact(bytes); // exactly sized, so a sanitizer sees any read past the end
        const auto r = smaf::DecodeHps(exact, TimeBase());
        EXPECT_TRUE(Notes(r.events).empty());
        EXPECT_FALSE(r.warnings.empty());
    }
}

struct MobileCase {
    const char* what;
    ByteVec bytes;
    std::uint32_t timeMs, key, velocity, gateMs;
};

TEST(SmafMobile, NoteBytes)
{
    const MobileCase cases[] = {
        {"note-on with velocity", {0x00, 0x90, 0x45, 0x50, 0x10}, 0, 69, 80, 16},
        {"note without velocity takes 64", {0x00, 0x83, 0x3C, 0x08}, 0, 60, 64, 8},
        {"variable-length duration", {0x81, 0x00, 0x90, 0x45, 0x50, 0x10}, 128, 69, 80, 16},
        {"variable-length gate", {0x00, 0x90, 0x45, 0x50, 0x82, 0x05}, 0, 69, 80, 261},
        {"no-operation skipped", {0x00, 0xFF, 0x00, 0x02, 0x90, 0x45, 0x50, 0x01}, 2, 69, 80, 1},
        {"exclusive skipped", {0x00, 0xF0, 0x03, 0x43, 0x79, 0xF7, 0x01, 0x90, 0x45, 0x50, 0x01}, 1, 69, 80, 1},
        {"exclusive whose length leaves out F7", {0x00, 0xF0, 0x02, 0x43, 0x79, 0xF7, 0x01, 0x90, 0x45, 0x50, 0x01}, 1, 69, 80, 1},
    };
    for (const auto& c : cases) {
        const auto r = smaf::DecodeMobile(c.bytes, TimeBase());
        const auto notes = Notes(r.events);
        ASSERT_EQ(notes.size(), 1u) << c.what;
        EXPECT_EQ(notes[0].timeMs, c.timeMs) << c.what;
        EXPECT_EQ(notes[0].key, c.key) << c.what;
        EXPECT_EQ(notes[0].velocity, c.velocity) << c.what;
        EXPECT_EQ(notes[0].gateMs, c.gateMs) << c.what;
    }
}

TEST(SmafMobile, ControlsBendAndEnd)
{
    const ByteVec bytes{
        0x00, 0xC2, 0x28,       // ch 2 program 40
        0x00, 0xB2, 0x07, 0x55, // volume 85
        0x00, 0xB2, 0x0A, 0x10, // pan 16
        0x00, 0xB2, 0x0B, 0x70, // expression 112
        0x00, 0xE2, 0x00, 0x40, // bend centre
        0x00, 0xE2, 0x7F, 0x7F, // bend top
        0x00, 0xB2, 0x65, 0x00, 0x00, 0xB2, 0x64, 0x00, 0x00, 0xB2, 0x06, 0x0C, // RPN 0/0: range 12
        0x00, 0xB2, 0x64, 0x01, 0x00, 0xB2, 0x06, 0x05, // data entry for RPN 0/1: not the range
        0x00, 0xB9, 0x00, 0x7D, // ch 9 drum bank
        0x00, 0x99, 0x26, 0x64, 0x01,
        0x0A, 0xFF, 0x2F, 0x00,
        0x00, 0x90, 0x45, 0x50, 0x10, // after the end: ignored
    };
    const auto r = smaf::DecodeMobile(bytes, TimeBase(2));
    ASSERT_EQ(r.events.size(), 10u);
    const std::pair<EventKind, int> expected[] = {{EventKind::Program, 40}, {EventKind::Volume, 85},
                                                  {EventKind::Pan, 16},     {EventKind::Expression, 112},
                                                  {EventKind::PitchBend, 0}, {EventKind::PitchBend, 8191},
                                                  {EventKind::BendRange, 12}};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(r.events[i].kind, expected[i].first) << i;
        EXPECT_EQ(r.events[i].value, expected[i].second) << i;
        EXPECT_EQ(r.events[i].channel, 2) << i;
    }
    EXPECT_EQ(r.events[7].kind, EventKind::Bank);
    EXPECT_EQ(r.events[7].value, 0x7D << 7);
    EXPECT_EQ(r.events[8].kind, EventKind::Note);
    EXPECT_TRUE(r.events[8].drum);
    EXPECT_EQ(r.events[9].kind, EventKind::End);
    EXPECT_TRUE(r.sawEnd);
    EXPECT_EQ(r.endMs, 20u);
}

TEST(SmafMobile, DamagedStreamsEndWithAWarning)
{
    const ByteVec cases[] = {{0x00, 0x90, 0x45}, {0x00, 0x45}, {0x00, 0xFF, 0x7F}, {0x80, 0x80, 0x80, 0x80, 0x01}, {0x00, 0xF0, 0x05, 0x01}};
    for (const auto& bytes : cases) {
        const ByteVec exact(bytes);
        const auto r = smaf::DecodeMobile(exact, TimeBase());
        EXPECT_TRUE(Notes(r.events).empty());
        EXPECT_FALSE(r.warnings.empty());
    }
}

TEST(SmafHuffman, HandCodedStream)
{
    // Tree 1 (0 'A') (0 'B'), then A B B A as 0 1 1 0:
    // 1 0 01000001 0 01000010 0110 -> 10010000 01001000 0100110(0)
    const ByteVec packed{0x00, 0x00, 0x00, 0x04, 0x90, 0x48, 0x4C};
    const auto out = smaf::HuffmanDecode(packed);
    ASSERT_TRUE(out);
    EXPECT_EQ(std::string(out->begin(), out->end()), "ABBA");
}

TEST(SmafHuffman, DamagedStreams)
{
    EXPECT_FALSE(smaf::HuffmanDecode(ByteVec{0x00, 0x00, 0x00}));           // no length
    EXPECT_FALSE(smaf::HuffmanDecode(ByteVec{0x00, 0x00, 0x00, 0x04}));     // no tree
    EXPECT_FALSE(smaf::HuffmanDecode(ByteVec{0x00, 0x00, 0x00, 0x04, 0x90})); // tree cut short
    EXPECT_FALSE(smaf::HuffmanDecode(ByteVec(4 + 200, 0xFF)));               // endless inner nodes
    std::string why;
    const auto shortOut = smaf::HuffmanDecode(ByteVec{0x00, 0x00, 0x01, 0x00, 0x90, 0x48, 0x4C}, &why);
    ASSERT_TRUE(shortOut);
    EXPECT_LT(shortOut->size(), 256u);
    EXPECT_NE(why.find("of 256 bytes"), std::string::npos);
}

TEST(SmafHuffman, WriterRoundTrip)
{
    const ByteVec samples[] = {{}, {0x42}, {1, 1, 1, 1, 1}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0xFF, 0x2F, 0x00}};
    for (const auto& data : samples) {
        const auto decoded = smaf::HuffmanDecode(smaf::HuffmanEncode(data));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, data);
    }
    ByteVec all;
    for (int i = 0; i < 3000; ++i)
        all.push_back(std::uint8_t((i * 7919) % 251));
    EXPECT_EQ(*smaf::HuffmanDecode(smaf::HuffmanEncode(all)), all);
}

TEST(SmafFile, ReadsAHandBuiltHpsFile)
{
    const ByteVec file = HpsFile();
    const auto song = smaf::ReadSmaf(file);
    ASSERT_TRUE(song);
    EXPECT_TRUE(song->warnings.empty()) << song->warnings.front();
    EXPECT_EQ(song->scoreTracks, 1);
    const auto notes = Notes(song->events);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].key, 69);
    EXPECT_EQ(notes[0].gateMs, 100u);
    EXPECT_EQ(notes[1].timeMs, 248u);
    EXPECT_EQ(notes[1].key, 72);
    EXPECT_EQ(song->lengthMs, 348u); // the last note's end, after the end mark at 268 ms
}

TEST(SmafFile, WriterMatchesTheHandBuiltTrack)
{
    smaf::HpsSequence seq;
    seq.note(0, 0, 69, 25);
    seq.note(62, 0, 72, 25);
    seq.end(0);
    EXPECT_EQ(seq.bytes(), (ByteVec{0x00, 0x29, 0x19, 0x3E, 0x30, 0x19, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(smaf::EncodeHpsTime(261), (ByteVec{0x81, 0x05}));
    EXPECT_EQ(smaf::EncodeHpsTime(127), (ByteVec{0x7F}));
    EXPECT_EQ(smaf::EncodeHpsTime(128), (ByteVec{0x80, 0x00}));
    EXPECT_EQ(smaf::EncodeVarLen(128), (ByteVec{0x81, 0x00}));
    EXPECT_EQ(smaf::EncodeVarLen(0x3FFF), (ByteVec{0xFF, 0x7F}));

    smaf::ScoreTrack t;
    t.sequence = seq.bytes();
    const ByteVec built = smaf::BuildSmaf({t}, "x");
    const ByteVec track = ScoreTrack(0, 0, 0x02, {0x00, 0x00}, seq.bytes());
    EXPECT_NE(std::search(built.begin(), built.end(), track.begin(), track.end()), built.end());
    const auto song = smaf::ReadSmaf(built);
    ASSERT_TRUE(song);
    EXPECT_TRUE(song->warnings.empty());
}

TEST(SmafFile, AllThreeFormatsGiveTheSameNotes)
{
    smaf::MobileSequence ms;
    ms.program(0, 0, 73);
    ms.note(0, 0, 69, 90, 40);
    ms.note(50, 1, 76, 70, 20);
    ms.end(30);
    smaf::HpsSequence hps;
    hps.note(0, 0, 69, 40);
    hps.note(50, 1, 76, 20);
    hps.end(30);
    const smaf::ScoreTrack tracks[] = {
        {0, smaf::SequenceFormat::Hps, 0x02, 0x02, {}, hps.bytes()},
        {5, smaf::SequenceFormat::MobileUncompressed, 0x02, 0x02, {}, ms.bytes()},
        {5, smaf::SequenceFormat::MobileCompressed, 0x02, 0x02, {}, ms.bytes()},
    };
    for (const auto& t : tracks) {
        const auto song = smaf::ReadSmaf(smaf::BuildSmaf({t}, "t"));
        ASSERT_TRUE(song) << int(t.format);
        EXPECT_TRUE(song->warnings.empty()) << int(t.format);
        const auto notes = Notes(song->events);
        ASSERT_EQ(notes.size(), 2u) << int(t.format);
        EXPECT_EQ(notes[0].key, 69);
        EXPECT_EQ(notes[1].timeMs, 200u);
        EXPECT_EQ(notes[1].key, 76);
        EXPECT_EQ(notes[1].channel, 1);
        EXPECT_EQ(song->lengthMs, 320u);
    }
}

TEST(SmafFile, TracksAreMergedInTimeOrder)
{
    const ByteVec file = File(Cat({kCnti, ScoreTrack(0, 0, 0x00, {0x00, 0x00}, {0x0A, 0x29, 0x01, 0x00, 0x00, 0x00}),
                                   ScoreTrack(1, 0, 0x00, {0x00, 0x00}, {0x05, 0x29, 0x01, 0x00, 0x00, 0x00})}));
    const auto song = smaf::ReadSmaf(file);
    ASSERT_TRUE(song);
    const auto notes = Notes(song->events);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].timeMs, 5u);
    EXPECT_EQ(notes[0].channel, 4); // track 1 holds channels 4..7
    EXPECT_EQ(notes[1].timeMs, 10u);
    EXPECT_EQ(notes[1].channel, 0);
}

TEST(SmafFile, ChannelStatusMarksDrums)
{
    // HPS: channel type 3 (rhythm) in the low bits of channel 1's nibble.
    const auto hps = smaf::ReadSmaf(File(Cat({kCnti, ScoreTrack(0, 0, 0x00, {0x03, 0x00}, {0x00, 0x69, 0x01, 0x00, 0x29, 0x01})})));
    ASSERT_TRUE(hps);
    auto notes = Notes(hps->events);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_TRUE(notes[0].drum);  // channel 1
    EXPECT_FALSE(notes[1].drum); // channel 0
    EXPECT_TRUE(hps->drumChannels[1]);
    // Mobile Standard: key control "off" (01 in the top bits) on channel 9.
    ByteVec status(16, 0x80);
    status[9] = 0x40;
    const auto ms = smaf::ReadSmaf(File(Cat({kCnti, ScoreTrack(5, 2, 0x00, status, {0x00, 0x99, 0x24, 0x40, 0x01, 0x00, 0x90, 0x24, 0x40, 0x01})})));
    ASSERT_TRUE(ms);
    notes = Notes(ms->events);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_TRUE(notes[0].drum);
    EXPECT_FALSE(notes[1].drum);
    // A status that would make every channel a drum channel is not believed.
    const auto all = smaf::ReadSmaf(File(Cat({kCnti, ScoreTrack(5, 2, 0x00, ByteVec(16, 0x40), {0x00, 0x90, 0x45, 0x40, 0x01})})));
    ASSERT_TRUE(all);
    ASSERT_EQ(Notes(all->events).size(), 1u);
    EXPECT_FALSE(Notes(all->events)[0].drum);
    EXPECT_TRUE(HasWarning(*all, "marks 16 drum channels"));
}

TEST(SmafFile, BadOrMissingCrcIsAWarningOnly)
{
    ByteVec bad = HpsFile();
    bad.back() ^= 0x01;
    auto song = smaf::ReadSmaf(bad);
    ASSERT_TRUE(song);
    EXPECT_TRUE(song->playable());
    EXPECT_TRUE(HasWarning(*song, "CRC mismatch"));

    song = smaf::ReadSmaf(File(Cat({kCnti, ScoreTrack(0, 0, 0x02, {0x00, 0x00}, {0x00, 0x29, 0x19})}), false));
    ASSERT_TRUE(song);
    EXPECT_TRUE(song->playable());
    EXPECT_TRUE(HasWarning(*song, "no CRC"));
}

TEST(SmafFile, TruncatedFilesAreRefused)
{
    const ByteVec file = HpsFile();
    for (std::size_t n = 0; n < file.size(); ++n) {
        const ByteVec cut(file.begin(), file.begin() + std::ptrdiff_t(n)); // exactly sized
        EXPECT_FALSE(smaf::ReadSmaf(cut)) << n;
    }
}

TEST(SmafFile, OversizedChunksAreRefused)
{
    const ByteVec seq{0x00, 0x29, 0x19};
    // A track claiming more than its file holds.
    ByteVec track = ScoreTrack(0, 0, 0x02, {0x00, 0x00}, seq);
    track[7] += 40;
    auto song = smaf::ReadSmaf(File(Cat({kCnti, track})));
    ASSERT_TRUE(song);
    EXPECT_FALSE(song->playable());
    EXPECT_TRUE(HasWarning(*song, "runs past the end of the file"));
    // A sequence claiming more than its track holds.
    track = ScoreTrack(0, 0, 0x02, {0x00, 0x00}, seq);
    track[8 + 6 + 7] += 1;
    song = smaf::ReadSmaf(File(Cat({kCnti, track})));
    ASSERT_TRUE(song);
    EXPECT_FALSE(song->playable());
    EXPECT_TRUE(HasWarning(*song, "runs past the end of the track"));
    // A size near 2^32 must not wrap around.
    track = ScoreTrack(0, 0, 0x02, {0x00, 0x00}, seq);
    track[4] = track[5] = track[6] = track[7] = 0xFF;
    song = smaf::ReadSmaf(File(Cat({kCnti, track})));
    ASSERT_TRUE(song);
    EXPECT_FALSE(song->playable());
    // The file chunk itself claiming more.
    ByteVec file = HpsFile();
    file[7] += 1;
    EXPECT_FALSE(smaf::ReadSmaf(file));
}

TEST(SmafFile, NothingPlayable)
{
    EXPECT_FALSE(smaf::ReadSmaf(ByteVec{}));
    EXPECT_FALSE(smaf::ReadSmaf(ByteVec{'R', 'I', 'F', 'F', 0, 0, 0, 0}));
    const ByteVec cases[] = {
        File(kCnti),                                                                          // no track
        File(Cat({kCnti, ScoreTrack(0, 0, 0x02, {0x00, 0x00}, {0x00, 0x00, 0x00})})),       // no notes
        File(Cat({kCnti, ScoreTrack(0, 0, 0x07, {0x00, 0x00}, {0x00, 0x29, 0x19})})),       // unknown time base
        File(Cat({kCnti, ScoreTrack(0, 9, 0x02, {0x00, 0x00}, {0x00, 0x29, 0x19})})),       // unknown format
        File(Cat({kCnti, Chunk("MTR\x01", {0x00, 0x00, 0x02})})),                            // header cut short
    };
    for (const auto& file : cases) {
        const auto song = smaf::ReadSmaf(file);
        ASSERT_TRUE(song);
        EXPECT_FALSE(song->playable());
    }
}

TEST(SmafFile, MelodyHeaderIsSkipped)
{
    const ByteVec file = HpsFile();
    ByteVec mel(32, 'x');
    mel.insert(mel.end(), file.begin(), file.end());
    const auto skipped = smaf::SkipMelodyHeader(mel);
    EXPECT_EQ(ByteVec(skipped.begin(), skipped.end()), file);
    EXPECT_TRUE(smaf::ReadSmaf(smaf::SkipMelodyHeader(mel))->playable());
    EXPECT_EQ(smaf::SkipMelodyHeader(file).size(), file.size());
    const ByteVec junk(40, 'x');
    EXPECT_EQ(smaf::SkipMelodyHeader(junk).size(), junk.size());
}

TEST(SmafFile, EndlessSongsAreCut)
{
    // 0xFF 0x7F waits 16511 ticks of 50 ms each (825 s) twice: beyond the limit.
    const ByteVec seq{0x00, 0x29, 0x01, 0xFF, 0x7F, 0x29, 0x01, 0xFF, 0x7F, 0x29, 0x01};
    const auto song = smaf::ReadSmaf(File(Cat({kCnti, ScoreTrack(0, 0, 0x13, {0x00, 0x00}, seq)})));
    ASSERT_TRUE(song);
    EXPECT_EQ(Notes(song->events).size(), 1u);
    EXPECT_LE(song->lengthMs, smaf::kMaxSongMs);
    EXPECT_TRUE(HasWarning(*song, "cut short"));
}

TEST(SmafAudio, AdpcmByHand)
{
    // 0x07: +15/8 of step 127 = 238 (step 304), then +1/8 of 304 = 38 -> 276 (step 273);
    // 0x8F: -15/8 of 273 = -511 -> -235 (step 654), then -1/8 of 654 = -81 -> -316.
    EXPECT_EQ(smaf::DecodeAdpcm(ByteVec{0x07, 0x8F}, 100), (std::vector<std::int16_t>{238, 276, -235, -316}));
    // The step never falls below 127.
    EXPECT_EQ(smaf::DecodeAdpcm(ByteVec{0x00}, 100), (std::vector<std::int16_t>{15, 30}));
    EXPECT_EQ(smaf::DecodeAdpcm(ByteVec{0x07, 0x8F}, 3).size(), 2u);
    // Full scale stays within 16 bits.
    const auto loud = smaf::DecodeAdpcm(ByteVec(64, 0x77), 1000);
    EXPECT_EQ(loud.back(), 32767);
}

TEST(SmafAudio, StereoAdpcmKeepsAPredictorPerSide)
{
    // Left (low nibbles) 7 then F: +238 (step 304), then -15/8 of 304 = -570 -> -332.
    // Right (high nibbles) 0 then 8: +1/8 of 127 = 15, then -15 -> 0.
    EXPECT_EQ(smaf::DecodeAdpcm(ByteVec{0x07, 0x8F}, 100, 2), (std::vector<std::int16_t>{238, 15, -332, 0}));
    const std::vector<std::int16_t> pcm{4000, -4000, 8000, -8000, 12000, -12000};
    const auto back = smaf::DecodeAdpcm(smaf::EncodeAdpcm(pcm, 2), 100, 2);
    ASSERT_EQ(back.size(), pcm.size());
    for (std::size_t i = 0; i < pcm.size(); ++i)
        EXPECT_EQ(back[i] > 0, pcm[i] > 0) << i;
}

TEST(SmafAudio, ScoreWaves)
{
    // Mono signed 16-bit PCM at 11025 Hz (width 16 written as 0): big-endian samples.
    const std::vector<std::int16_t> pcm{0, 1, -1, 32767, -32768, 1234};
    const ByteVec body{0x00, 0x2B, 0x11, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x7F, 0xFF, 0x80, 0x00, 0x04, 0xD2};
    EXPECT_EQ(smaf::EncodeScoreWave(pcm, 11025, 1, 0, 16), body);
    const auto wave = smaf::DecodeScoreWave(body);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->pcm, pcm);
    EXPECT_EQ(wave->sampleRate, 11025u);
    // Stereo offset binary 8-bit: one frame of 0x80 (zero) left and 0xFF right.
    const auto offset = smaf::DecodeScoreWave(ByteVec{0x98, 0x1F, 0x40, 0x80, 0xFF});
    ASSERT_TRUE(offset);
    EXPECT_EQ(offset->channels, 2);
    EXPECT_EQ(offset->pcm, (std::vector<std::int16_t>{0, 32512}));
    EXPECT_FALSE(smaf::DecodeScoreWave(ByteVec{0x30, 0x1F, 0x40, 0x00}));
}

TEST(SmafAudio, RateCodes)
{
    const std::uint32_t rates[] = {4000, 8000, 11025, 22050, 44100};
    for (std::uint8_t code = 0; code < 5; ++code)
        EXPECT_EQ(smaf::AudioRate(code), rates[code]);
    EXPECT_FALSE(smaf::AudioRate(5));
}

TEST(SmafAudio, AudioTrackPlaysFromTheStart)
{
    // Wave type 0x11: mono, ADPCM, 8000 Hz; 8 bytes hold 16 samples (2 ms).
    const ByteVec track = Chunk(std::string("ATR") + char(0), Cat({{0x00, 0x00, 0x11, 0x00, 0x02, 0x02}, Chunk("Atsq", {}),
                                                 Chunk("Awa\x01", ByteVec(8, 0x07))}));
    const auto song = smaf::ReadSmaf(File(Cat({kCnti, track})));
    ASSERT_TRUE(song);
    EXPECT_TRUE(song->warnings.empty());
    EXPECT_TRUE(song->playable());
    ASSERT_EQ(song->recordings.size(), 1u);
    ASSERT_EQ(song->waves.size(), 1u);
    EXPECT_EQ(song->recordings[0].wave, 0u);
    EXPECT_EQ(song->recordings[0].timeMs, 0u);
    EXPECT_EQ(song->waves[0].sampleRate, 8000u);
    EXPECT_EQ(song->waves[0].pcm.size(), 16u);
    EXPECT_EQ(song->lengthMs, 2u);

    const ByteVec other = Chunk(std::string("ATR") + char(0), Cat({{0x00, 0x00, 0x21, 0x00, 0x02, 0x02}, Chunk("Awa\x01", ByteVec(8, 0x07))}));
    const auto unknown = smaf::ReadSmaf(File(Cat({kCnti, other})));
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(unknown->playable());
    EXPECT_TRUE(HasWarning(*unknown, "not 4-bit ADPCM"));
}

TEST(SmafVoices, HandyphoneVoiceMessage)
{
    // 43 03 00, bank 5, program 16, LFO 1 FB 1 ALG 1; operator 1: MULT 3 KSR (no EGT: keeps
    // falling at RR), RR 8 DR 10, AR 15 SL 3, TL 40 KSL 1, DVB 1 AM WS 3; operator 2: MULT 1
    // EGT, RR 6 DR 2, AR 15, TL 0, WS 1.
    const ByteVec message{0xFF, 0xF0, 0x12, 0x43, 0x03, 0x00, 0x05, 0x10, 0x49, 0x31, 0x8A, 0xF3, 0xA1,
                          0x4B, 0x14, 0x62, 0xF0, 0x00, 0x01, 0x00, 0xF7};
    const auto v = smaf::ParseVoiceMessage(smaf::Bytes(message).subspan(3));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->bankMsb, 0x7C);
    EXPECT_EQ(v->bankLsb, 5);
    EXPECT_EQ(v->program, 16);
    EXPECT_FALSE(v->drum);
    EXPECT_EQ(v->operators, 2);
    EXPECT_EQ(v->algorithm, 1);
    EXPECT_EQ(v->lfo, 1);
    const smaf::FmOperator& a = v->ops[0];
    EXPECT_EQ(std::vector<int>({a.multi, a.feedback, a.rr, a.dr, a.ar, a.sl, a.sr, a.tl, a.ksl, a.wave, a.vibratoDepth}),
              std::vector<int>({3, 1, 8, 10, 15, 3, 8, 40, 1, 3, 1}));
    EXPECT_TRUE(a.ksr && a.tremolo && !a.vibrato);
    EXPECT_EQ(v->ops[1].sr, 0); // EGT: holds
    EXPECT_EQ(v->ops[1].wave, 1);
    EXPECT_EQ(smaf::EncodeHpsVoice(*v), message);

    ByteVec drum = message;
    drum[6] = 0x81; // rhythm bank 1, drum note 38
    drum[7] = 0x26;
    const auto d = smaf::ParseVoiceMessage(smaf::Bytes(drum).subspan(3));
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->drum);
    EXPECT_EQ(d->bankMsb, 0x7D);
    EXPECT_EQ(d->drumNote, 38);
    EXPECT_FALSE(smaf::ParseVoiceMessage(smaf::Bytes(message).subspan(3, 10)));

    // In the set-up chunk of an HPS track, and inside its sequence.
    const ByteVec track = Chunk(std::string("MTR") + char(0),
                                Cat({{0x00, 0x00, 0x02, 0x02, 0x00, 0x00}, Chunk("Mtsu", message),
                                     Chunk("Mtsq", Cat({{0x00}, drum, {0x00, 0x29, 0x10, 0x00, 0x00, 0x00}}))}));
    const auto song = smaf::ReadSmaf(File(Cat({kCnti, track})));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->voices, (std::vector<smaf::VoiceDef>{*v, *d}));
    EXPECT_EQ(song->events.size(), 2u); // the note and the end
}

TEST(SmafVoices, MobileVoiceMessagePackedAndNot)
{
    // Bank 7C/00, program 5, FM; body: drum key 0x45, PANPOT 15 BO 1 (no shift), LFO 2 ALG 1;
    // operator 1: SR 5 SUS, RR 8 DR 10, AR 15 SL 3, TL 40 KSL 1, DAM 2 EAM DVB 1 EVB, MULTI 3
    // DT 1, WS 3 FB 3; operator 2: XOF, RR 6 DR 2, AR 15, TL 0, MULTI 1, WS 10.
    const ByteVec head{0x43, 0x79, 0x07, 0x7F, 0x01, 0x7C, 0x00, 0x05, 0x00, 0x00};
    const ByteVec body{0x45, 0x79, 0x81, 0x52, 0x8A, 0xF3, 0xA1, 0x53, 0x31, 0x1B,
                       0x08, 0x62, 0xF0, 0x00, 0x00, 0x10, 0x50};
    // Packed: a byte holding bit 7 of the next seven (bit 6 for the first).
    const ByteVec packed{0x17, 0x45, 0x79, 0x01, 0x52, 0x0A, 0x73, 0x21, 0x02, 0x53, 0x31, 0x1B,
                         0x08, 0x62, 0x70, 0x00, 0x00, 0x00, 0x10, 0x50};
    const ByteVec plainMessage = Cat({{0xF0, 0x1C}, head, body, {0xF7}});
    ByteVec packedHead = head;
    packedHead[2] = 0x06;
    const ByteVec packedMessage = Cat({{0xF0, 0x1F}, packedHead, packed, {0xF7}});

    const auto v = smaf::ParseVoiceMessage(smaf::Bytes(plainMessage).subspan(2));
    ASSERT_TRUE(v);
    EXPECT_EQ(smaf::ParseVoiceMessage(smaf::Bytes(packedMessage).subspan(2)), v);
    EXPECT_EQ(v->program, 5);
    EXPECT_EQ(v->key, 0x45);
    EXPECT_EQ(v->panpot, 15);
    EXPECT_EQ(v->octave, 0);
    EXPECT_EQ(v->algorithm, 1);
    EXPECT_EQ(v->lfo, 2);
    const smaf::FmOperator& a = v->ops[0];
    EXPECT_EQ(std::vector<int>({a.sr, a.rr, a.dr, a.ar, a.sl, a.tl, a.ksl, a.tremoloDepth, a.vibratoDepth, a.multi,
                                a.detune, a.wave, a.feedback}),
              std::vector<int>({5, 8, 10, 15, 3, 40, 1, 2, 1, 3, 1, 3, 3}));
    EXPECT_TRUE(a.sus && a.tremolo && a.vibrato && !a.xof);
    EXPECT_TRUE(v->ops[1].xof);
    EXPECT_EQ(v->ops[1].wave, 10);
    EXPECT_EQ(smaf::EncodeMobileVoice(*v, false), plainMessage);
    EXPECT_EQ(smaf::EncodeMobileVoice(*v, true), packedMessage);
    EXPECT_EQ(smaf::Unpack7(packed), body);

    // In the set-up chunk of a Mobile Standard track, ahead of the sequence.
    const ByteVec track = Chunk(std::string("MTR") + char(5),
                                Cat({{0x02, 0x00, 0x00, 0x00}, ByteVec(16, 0), Chunk("Mtsu", packedMessage),
                                     Chunk("Mtsq", {0x00, 0x90, 0x45, 0x40, 0x10, 0x00, 0xFF, 0x2F, 0x00})}));
    const auto song = smaf::ReadSmaf(File(Cat({kCnti, track})));
    ASSERT_TRUE(song);
    ASSERT_EQ(song->voices.size(), 1u);
    EXPECT_EQ(song->voices[0], *v);
}
