#pragma once
// A small SMAF writer: enough to compose our own ringtones and to build test files.
// It writes MMMD with CNTI, score tracks (MTR with Mtsu, Mtsq, Mtsp), audio tracks (ATR with
// Atsq and Awa) and a correct CRC-16.
#include <cstdint>
#include <string>
#include <vector>

#include "SmafReader.h"

namespace smaf {

std::vector<std::uint8_t> EncodeHpsTime(std::uint32_t ticks);     // 0..16511
std::vector<std::uint8_t> EncodeVarLen(std::uint32_t value);      // MIDI-style

// HPS sequence: keys 36..83 without octave shift; channel 0..3 within the track.
class HpsSequence {
public:
    void note(std::uint32_t wait, int channel, int key, std::uint32_t gate);
    void control(std::uint32_t wait, int channel, int number, std::uint8_t value); // 00 (ch<<6|0x30|n) v
    void wave(std::uint32_t wait, int channel, int number, std::uint32_t gate);   // audio tracks: (ch<<6|n)
    void raw(std::uint32_t wait, const std::vector<std::uint8_t>& event);          // e.g. a voice message
    void end(std::uint32_t wait);
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// Mobile Standard sequence.
class MobileSequence {
public:
    void note(std::uint32_t wait, int channel, int key, int velocity, std::uint32_t gate);
    void control(std::uint32_t wait, int channel, int number, int value);
    void program(std::uint32_t wait, int channel, int program);
    void pitchBend(std::uint32_t wait, int channel, int value); // -8192..8191
    void raw(std::uint32_t wait, const std::vector<std::uint8_t>& event);
    void end(std::uint32_t wait);
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// 4-byte length, Huffman tree and coded bits, as HuffmanDecode reads them.
std::vector<std::uint8_t> HuffmanEncode(const std::vector<std::uint8_t>& data);

struct ScoreTrack {
    std::uint8_t number = 0;
    SequenceFormat format = SequenceFormat::Hps;
    std::uint8_t timeBaseD = 0x02; // codes as the file holds them (0x02: 4 ms)
    std::uint8_t timeBaseG = 0x02;
    std::vector<std::uint8_t> channelStatus; // 2 bytes for HPS, 16 for Mobile Standard; zeros if empty
    std::vector<std::uint8_t> sequence;      // uncompressed; compressed here for MobileCompressed
    std::vector<std::uint8_t> setup{};       // "Mtsu" (voice messages); none if empty
    std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> waves{}; // "Mtsp": "Mwa" + n bodies
};

// Voice messages as exclusive events, for "Mtsu" or a sequence. Handyphone: FF F0 len 43 03 00
// bank program P, 2 or 4 operators of 5 bytes, 00 F7 (len 0x12 or 0x1C). Mobile Standard:
// F0 len 43 79 06|07 7F 01 MSB LSB program drum-note type body F7, the body 7-bit packed when
// `packed`. A Handyphone voice keeps RR after the decay unless SR is 0 (EGT).
std::vector<std::uint8_t> EncodeHpsVoice(const VoiceDef& voice);
std::vector<std::uint8_t> EncodeMobileVoice(const VoiceDef& voice, bool packed);

// A "Mwa" body: type (stereo, format 0 signed PCM | 1 offset binary | 2 ADPCM, bits), rate, data.
std::vector<std::uint8_t> EncodeScoreWave(const std::vector<std::int16_t>& pcm, std::uint32_t rate, int channels,
                                          int format, int bits);

// 4-bit ADPCM as DecodeAdpcm reads it (each nibble the one that lands nearest); stereo from
// interleaved samples.
std::vector<std::uint8_t> EncodeAdpcm(const std::vector<std::int16_t>& pcm, int channels = 1);

struct AudioTrack {
    std::uint8_t number = 0;
    std::uint8_t rateCode = 1;          // 8000 Hz
    std::vector<std::uint8_t> adpcm;    // "Awa1"; without a sequence played from the start
    bool stereo = false;
    std::vector<std::uint8_t> sequence{}; // "Atsq" (HpsSequence::wave and control)
    std::vector<std::vector<std::uint8_t>> moreWaves{}; // "Awa2", "Awa3", ...
};

std::vector<std::uint8_t> MakeChunk(const char id[4], const std::vector<std::uint8_t>& body);

// A whole file: CNTI (Latin-1, title tag) then the tracks, then the CRC.
std::vector<std::uint8_t> BuildSmaf(const std::vector<ScoreTrack>& tracks, const std::string& title,
                                    const std::vector<AudioTrack>& audio = {});

} // namespace smaf
