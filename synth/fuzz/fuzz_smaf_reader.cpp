// Feeds arbitrary bytes to the SMAF reader and plays the first moments of whatever it accepts.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "SmafReader.h"
#include "Synth.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto song = smaf::ReadSmaf(smaf::SkipMelodyHeader(smaf::Bytes(data, size)));
    if (!song || !song->playable())
        return 0;
    smaf::Player player(std::make_shared<const smaf::Song>(std::move(*song)), 8000);
    std::int16_t pcm[2 * 256];
    for (int i = 0; i < 8 && player.render(pcm, 256) > 0; ++i) {
    }
    player.seek(1000);
    player.render(pcm, 256);
    return 0;
}
