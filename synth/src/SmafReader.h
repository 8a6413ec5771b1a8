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
    PitchBend,   // value -8192..8191, 0 is the centre (two semitones either way)
    Modulation,  // value 0..127
    End,         // end of a track's sequence
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

// A recorded sound from an audio track, decoded to 16-bit mono PCM.
struct Recording {
    std::uint32_t timeMs = 0;
    std::uint32_t sampleRate = 8000;
    std::vector<std::int16_t> pcm;
};

struct Song {
    std::vector<Event> events;  // sorted by time; events of the same time keep file order
    std::vector<Recording> recordings;
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
// adapts by the nibble's magnitude. At most `maxSamples` samples.
std::vector<std::int16_t> DecodeAdpcm(Bytes data, std::size_t maxSamples);

// Audio track header: format, sequence type, wave type (stereo << 7 | coding << 4 | rate code),
// base bit, TimeBase_D, TimeBase_G; then "Atsq" and "Awa" + n. Rate codes 0..4 stand for
// 4000, 8000, 11025, 22050 and 44100 Hz; coding 1 is the 4-bit ADPCM above.
std::optional<std::uint32_t> AudioRate(std::uint8_t code);

// The whole file. nullopt when the data is not SMAF or its outer chunk is damaged; a Song that
// is not playable() when it is SMAF without anything we can play.
std::optional<Song> ReadSmaf(Bytes data);

} // namespace smaf
