#pragma once
// Small files that each show one thing the synthesizer plays: the tests render them, and
// `smafcompose --examples DIR` writes them for listening. Their names say what they sound like.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "SmafWriter.h"

namespace smaf::examples {

// A two-operator voice (melodic bank 0x7C, LSB 0, program 0) in `algorithm` whose operators
// attack at once and hold their level until key-off: MULTI `multi1` and `multi2`, TL 0.
VoiceDef Held(int algorithm, int multi1, int multi2);

// A Mobile Standard file (1 ms time bases) whose set-up data defines `voices` (7-bit packed or
// not), playing `sequence`; without set-up data when `voices` is empty.
std::vector<std::uint8_t> MobileTune(const std::vector<VoiceDef>& voices, bool packed, const MobileSequence& sequence,
                                     const std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>>& waves = {});

// A sine of `hz` for `ms` at `rate`, amplitude `level`.
std::vector<std::int16_t> Tone(double hz, int ms, int rate, double level = 12000);

// Every example, by file name.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> All();
std::vector<std::uint8_t> Named(const std::string& name); // empty if there is none

} // namespace smaf::examples
