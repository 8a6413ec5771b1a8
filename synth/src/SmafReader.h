#pragma once
// Reading SMAF ringtones into one time-ordered list of events in milliseconds.
//
// File layout (all integers big-endian):
//   "MMMD" size32 { chunk* } crc16          size counts everything after itself, CRC included
//   chunk = id[4] size32 body[size]
//   "CNTI" contents info, "OPDA" optional data, "MTR"+n score track, "ATR"+n audio track, ...
//   score track body: format, sequence type, TimeBase_D, TimeBase_G, channel status
//                     (2 bytes in HPS, 16 in Mobile Standard), then sub-chunks, among them
//                     "Mtsq" (the sequence).
// Every size is checked against the bytes that are really there; the reader never reads
// outside the span it is given.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace smaf {

using Bytes = std::span<const std::uint8_t>;

enum class EventKind : std::uint8_t {
    Note,        // key, velocity, gateMs
    Program,     // value 0..127
    Volume,      // value 0..127
    Pan,         // value 0..127, 64 is the centre
    Expression,  // value 0..127
    PitchBend,   // value -8192..8191, 0 is the centre (the bend range either way)
    Modulation,  // value 0..127
    End,         // end of a track's sequence
    Bank,        // value bank MSB << 7 | bank LSB (the voice table's banks, see VoiceDef)
    BendRange,   // value in semitones (RPN 0/0)
};

struct Event {
    std::uint32_t timeMs = 0;
    EventKind kind = EventKind::Note;
    std::uint8_t channel = 0;  // 0..15
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
    bool drum = false;         // the note is on a drum channel (key selects the instrument)
    std::uint32_t gateMs = 0;
    std::int32_t value = 0;
};

constexpr int kChannels = 16;
// Bounds that keep a damaged file from making us play or allocate forever.
constexpr std::uint32_t kMaxSongMs = 10u * 60u * 1000u;
constexpr std::size_t kMaxEvents = 200000;
constexpr std::uint32_t kMaxGateMs = 60u * 1000u;
constexpr std::size_t kMaxUnpackedSequence = 1u << 20;

// Score track format types.
enum class SequenceFormat : std::uint8_t { Hps = 0, MobileCompressed = 1, MobileUncompressed = 2 };

// One operator of an FM voice, with the fields both voice encodings hold.
struct FmOperator {
    std::uint8_t multi = 1;     // MULTI: 0 stands for x1/2, n for xn
    std::uint8_t detune = 0;    // DT 0..7
    std::uint8_t wave = 0;      // WS, see the waveform table in Synth.cpp
    std::uint8_t feedback = 0;  // FB 0..7: self-modulation of this operator
    std::uint8_t ar = 15, dr = 0, sl = 0, sr = 0, rr = 8; // rates 0..15 (0: no change); SL 3 dB steps
    std::uint8_t tl = 0;        // 0..63, 0.75 dB a step
    std::uint8_t ksl = 0;       // 0..3
    bool ksr = false;
    bool xof = false;           // ignores key-off: the note goes on falling at SR
    bool sus = false;           // after key-off keeps falling at SR instead of RR
    bool vibrato = false;       // EVB / VIB, with depth DVB 0..3
    std::uint8_t vibratoDepth = 0;
    bool tremolo = false;       // EAM / AM, with depth DAM 0..3
    std::uint8_t tremoloDepth = 0;
    bool operator==(const FmOperator&) const = default;
};

// A voice of the file's own voice table. Chosen by (bank MSB, bank LSB, program); a drum voice
// only for its drum note. Banks: 0x7C melodic, 0x7D rhythm (and stream PCM). A Handyphone voice
// gets bank MSB 0x7D when its bank byte has bit 7 set (its program is then the drum note), else
// 0x7C; its bank byte's low seven bits are the LSB.
enum class VoiceType : std::uint8_t { Fm, Pcm };
struct VoiceDef {
    std::uint8_t bankMsb = 0x7C, bankLsb = 0, program = 0;
    bool drum = false;
    std::uint8_t drumNote = 0;
    VoiceType type = VoiceType::Fm;
    // FM: the key a drum voice sounds at. PCM: the key at which the wave plays at its own rate
    // (a drum PCM voice always plays it at its own rate).
    std::uint8_t key = 60;
    std::uint8_t panpot = 15;   // 0 left, 15 centre, 31 right
    int octave = 0;             // BO as octaves: +1, 0, -1, -2
    std::uint8_t lfo = 0;       // LFO rate 0..3
    std::uint8_t algorithm = 0;
    int operators = 2;          // 2 or 4 (PCM: the envelope is ops[0]'s)
    std::array<FmOperator, 4> ops{};
    // PCM
    std::uint32_t pcmRate = 8000;
    std::uint32_t loopPoint = 0, endPoint = 0; // in samples; end 0: the wave's end; loop = end: no loop
    std::uint8_t waveNumber = 0;
    bool operator==(const VoiceDef&) const = default;
};

// A sampled sound: from an audio track's "Awa" or a score track's "Mtsp" "Mwa" chunk.
// 16-bit PCM, channels interleaved (1 or 2).
struct Wave {
    std::uint8_t number = 0;      // n of "Awa"/"Mwa" + n
    bool score = false;           // from "Mtsp" (played by PCM voices), else from an audio track
    std::uint32_t sampleRate = 8000;
    int channels = 1;
    std::vector<std::int16_t> pcm;
    std::size_t frames() const { return pcm.size() / std::size_t(channels > 0 ? channels : 1); }
};

// One play of an audio track's wave: from `timeMs`, for `gateMs` (0: the whole wave), with the
// audio channel's volume, pan and expression at that moment.
struct Recording {
    std::uint32_t timeMs = 0;
    std::size_t wave = 0;         // index into Song::waves
    std::uint32_t gateMs = 0;
    int volume = 127, pan = 64, expression = 127;
};

struct Song {
    std::vector<Event> events;  // sorted by time; events of the same time keep file order
    std::vector<Recording> recordings;
    std::vector<Wave> waves;
    std::vector<VoiceDef> voices; // later definitions of the same voice come later
    std::uint32_t lengthMs = 0; // end of the last note, recording or end-of-sequence
    std::array<bool, kChannels> drumChannels{};
    int scoreTracks = 0;
    int audioTracks = 0;
    std::vector<std::string> warnings;

    bool playable() const;      // holds at least one note or recording
};

// What decoding one sequence gives.
struct SequenceResult {
    std::vector<Event> events;
    std::uint32_t endMs = 0;    // time of the end-of-sequence mark (or of the last event)
    bool sawEnd = false;
    std::vector<std::string> warnings;
    std::vector<VoiceDef> voices; // voice messages met in the sequence
};

struct TrackSetup {
    std::uint32_t timeBaseD = 1;   // milliseconds per duration tick
    std::uint32_t timeBaseG = 1;   // milliseconds per gate tick
    int channelBase = 0;           // HPS: 4 channels per track, placed from here
    std::array<bool, kChannels> drum{}; // channels that start as drum channels
};

// CRC-16 as SMAF uses it: polynomial 0x1021, initial 0xFFFF, not reflected, final XOR 0xFFFF.
std::uint16_t Crc16(Bytes data);

// A melody file is a SMAF file behind a 32-byte header; returns the SMAF part, or the data
// unchanged when it does not look like one.
Bytes SkipMelodyHeader(Bytes data);

// Milliseconds per tick for a time-base code, or nullopt for an unknown code.
std::optional<std::uint32_t> TimeBaseMs(std::uint8_t code);

SequenceResult DecodeHps(Bytes sequence, const TrackSetup& setup);
SequenceResult DecodeMobile(Bytes sequence, const TrackSetup& setup);

// Compressed Mobile Standard sequence: 4-byte unpacked length, then the Huffman tree
// (depth first: 1 = inner node, 0 = leaf followed by its 8-bit byte; bit 0 takes the first
// child) and the coded bits, most significant bit first. nullopt when the tree is damaged.
std::optional<std::vector<std::uint8_t>> HuffmanDecode(Bytes packed, std::string* warning = nullptr);

// 4-bit ADPCM as audio tracks hold it: two samples a byte, the low nibble first; the step
// adapts by the nibble's magnitude. At most `maxSamples` samples. Stereo data has one predictor
// a channel: the low nibble is the left sample, the high nibble the right; the result is
// interleaved.
std::vector<std::int16_t> DecodeAdpcm(Bytes data, std::size_t maxSamples, int channels = 1);

// A voice message, from the byte after the exclusive message's length up to its F7:
// Handyphone "43 03 ..." or Mobile Standard "43 79 06|07 7F 01 ...". nullopt for any other
// exclusive message or a damaged one.
std::optional<VoiceDef> ParseVoiceMessage(Bytes message);

// The 7-bit packing of Mobile Standard voice bodies: groups of eight bytes whose first holds
// bit 7 of the next seven (bit 6 for the first ... bit 0 for the seventh).
std::vector<std::uint8_t> Unpack7(Bytes packed);
std::vector<std::uint8_t> Pack7(const std::vector<std::uint8_t>& data);

// A "Mwa" wave: type (stereo << 7 | format << 4 | bits; format 0 signed PCM, 1 offset binary,
// 2 ADPCM), 16-bit sample rate, data (PCM big-endian, channels interleaved). The four bits
// hold the sample width modulo 16: 8, 0 for 16-bit, 4 for ADPCM.
std::optional<Wave> DecodeScoreWave(Bytes body, std::string* warning = nullptr);

// Audio track header: format, sequence type, wave type (stereo << 7 | coding << 4 | rate code),
// base bit, TimeBase_D, TimeBase_G; then "Atsq" and "Awa" + n. Rate codes 0..4 stand for
// 4000, 8000, 11025, 22050 and 44100 Hz; coding 0 is 8-bit signed PCM, 1 the 4-bit ADPCM above.
// "Atsq" follows the Handyphone grammar: (ch << 6 | n) with a gate plays "Awa" + n; 00 (ch << 6 |
// 0x37|0x3A|0x3B) v set volume, pan, expression; FF 00 nothing; 00 00 00 ends. Without events
// the first wave plays from the start.
std::optional<std::uint32_t> AudioRate(std::uint8_t code);

// The whole file. nullopt when the data is not SMAF or its outer chunk is damaged; a Song that
// is not playable() when it is SMAF without anything we can play.
std::optional<Song> ReadSmaf(Bytes data);

} // namespace smaf
