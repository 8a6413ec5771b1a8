#include "SmafWriter.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <queue>
#include <stdexcept>

namespace smaf {

namespace {

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& what)
{
    to.insert(to.end(), what.begin(), what.end());
}

void Put32(std::vector<std::uint8_t>& to, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        to.push_back(std::uint8_t(v >> shift));
}

} // namespace

std::vector<std::uint8_t> EncodeHpsTime(std::uint32_t ticks)
{
    if (ticks < 0x80)
        return {std::uint8_t(ticks)};
    if (ticks > 16511)
        throw std::invalid_argument("HPS time too long");
    return {std::uint8_t(0x80 | ((ticks >> 7) - 1)), std::uint8_t(ticks & 0x7F)};
}

std::vector<std::uint8_t> EncodeVarLen(std::uint32_t value)
{
    std::vector<std::uint8_t> out{std::uint8_t(value & 0x7F)};
    while (value >>= 7)
        out.insert(out.begin(), std::uint8_t(0x80 | (value & 0x7F)));
    return out;
}

void HpsSequence::note(std::uint32_t wait, int channel, int key, std::uint32_t gate)
{
    if (key < 36 || key > 83 || channel < 0 || channel > 3)
        throw std::invalid_argument("HPS note out of range");
    Append(bytes_, EncodeHpsTime(wait));
    const int k = key - 36;
    bytes_.push_back(std::uint8_t((channel << 6) | ((k / 12) << 4) | (k % 12)));
    Append(bytes_, EncodeHpsTime(gate));
}

void HpsSequence::control(std::uint32_t wait, int channel, int number, std::uint8_t value)
{
    Append(bytes_, EncodeHpsTime(wait));
    bytes_.push_back(0x00);
    bytes_.push_back(std::uint8_t((channel << 6) | 0x30 | (number & 0x0F)));
    bytes_.push_back(value);
}

void HpsSequence::end(std::uint32_t wait)
{
    Append(bytes_, EncodeHpsTime(wait));
    bytes_.insert(bytes_.end(), {0x00, 0x00, 0x00});
}

void MobileSequence::note(std::uint32_t wait, int channel, int key, int velocity, std::uint32_t gate)
{
    Append(bytes_, EncodeVarLen(wait));
    bytes_.insert(bytes_.end(), {std::uint8_t(0x90 | channel), std::uint8_t(key), std::uint8_t(velocity)});
    Append(bytes_, EncodeVarLen(gate));
}

void MobileSequence::control(std::uint32_t wait, int channel, int number, int value)
{
    Append(bytes_, EncodeVarLen(wait));
    bytes_.insert(bytes_.end(), {std::uint8_t(0xB0 | channel), std::uint8_t(number), std::uint8_t(value)});
}

void MobileSequence::program(std::uint32_t wait, int channel, int program)
{
    Append(bytes_, EncodeVarLen(wait));
    bytes_.insert(bytes_.end(), {std::uint8_t(0xC0 | channel), std::uint8_t(program)});
}

void MobileSequence::pitchBend(std::uint32_t wait, int channel, int value)
{
    const int v = std::clamp(value + 8192, 0, 16383);
    Append(bytes_, EncodeVarLen(wait));
    bytes_.insert(bytes_.end(), {std::uint8_t(0xE0 | channel), std::uint8_t(v & 0x7F), std::uint8_t(v >> 7)});
}

void MobileSequence::end(std::uint32_t wait)
{
    Append(bytes_, EncodeVarLen(wait));
    bytes_.insert(bytes_.end(), {0xFF, 0x2F, 0x00});
}

std::vector<std::uint8_t> HuffmanEncode(const std::vector<std::uint8_t>& data)
{
    struct Node {
        std::uint64_t weight;
        int symbol; // -1 for inner nodes
        std::unique_ptr<Node> child[2];
    };
    std::size_t counts[256] = {};
    for (std::uint8_t b : data)
        ++counts[b];
    auto heavier = [](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) { return a->weight > b->weight; };
    std::vector<std::unique_ptr<Node>> heap;
    for (int s = 0; s < 256; ++s)
        if (counts[s])
            heap.push_back(std::make_unique<Node>(Node{counts[s], s, {}}));
    // Two leaves at least, so that every byte takes one bit or more.
    for (int s = 0; heap.size() < 2; ++s)
        if (!counts[s])
            heap.push_back(std::make_unique<Node>(Node{0, s, {}}));
    std::make_heap(heap.begin(), heap.end(), heavier);
    while (heap.size() > 1) {
        std::pop_heap(heap.begin(), heap.end(), heavier);
        auto a = std::move(heap.back());
        heap.pop_back();
        std::pop_heap(heap.begin(), heap.end(), heavier);
        auto b = std::move(heap.back());
        heap.pop_back();
        auto inner = std::make_unique<Node>(Node{a->weight + b->weight, -1, {}});
        inner->child[0] = std::move(a);
        inner->child[1] = std::move(b);
        heap.push_back(std::move(inner));
        std::push_heap(heap.begin(), heap.end(), heavier);
    }

    std::vector<std::uint8_t> out;
    Put32(out, std::uint32_t(data.size()));
    int bitsUsed = 8;
    auto putBit = [&](int b) {
        if (bitsUsed == 8) {
            out.push_back(0);
            bitsUsed = 0;
        }
        if (b)
            out.back() |= std::uint8_t(0x80 >> bitsUsed);
        ++bitsUsed;
    };
    std::vector<std::vector<int>> codes(256);
    std::vector<int> path;
    std::function<void(const Node&)> walk = [&](const Node& n) {
        if (n.symbol >= 0) {
            putBit(0);
            for (int i = 7; i >= 0; --i)
                putBit((n.symbol >> i) & 1);
            codes[std::size_t(n.symbol)] = path;
            return;
        }
        putBit(1);
        for (int c = 0; c < 2; ++c) {
            path.push_back(c);
            walk(*n.child[c]);
            path.pop_back();
        }
    };
    walk(*heap.front());
    for (std::uint8_t b : data)
        for (int bit : codes[b])
            putBit(bit);
    return out;
}

std::vector<std::uint8_t> MakeChunk(const char id[4], const std::vector<std::uint8_t>& body)
{
    std::vector<std::uint8_t> out(id, id + 4);
    Put32(out, std::uint32_t(body.size()));
    Append(out, body);
    return out;
}

std::vector<std::uint8_t> EncodeAdpcm(const std::vector<std::int16_t>& pcm)
{
    static const int kScale[8] = {230, 230, 230, 230, 307, 409, 512, 614};
    int value = 0, step = 127;
    std::vector<std::uint8_t> out((pcm.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        int best = 0, bestValue = 0, bestError = 1 << 30;
        for (int nibble = 0; nibble < 16; ++nibble) {
            const int diff = step * (2 * (nibble & 7) + 1) / 8;
            const int v = std::clamp(nibble & 8 ? value - diff : value + diff, -32768, 32767);
            const int error = std::abs(v - pcm[i]);
            if (error < bestError) {
                best = nibble;
                bestValue = v;
                bestError = error;
            }
        }
        value = bestValue;
        step = std::clamp(step * kScale[best & 7] >> 8, 127, 24576);
        out[i / 2] |= std::uint8_t(i % 2 ? best << 4 : best);
    }
    return out;
}

std::vector<std::uint8_t> BuildSmaf(const std::vector<ScoreTrack>& tracks, const std::string& title,
                                    const std::vector<AudioTrack>& audio)
{
    // CNTI: class, type, character set (Latin-1), copy status, copy count, then the tags.
    std::vector<std::uint8_t> cnti{0x00, 0x00, 0x01, 0x00, 0x00};
    std::string tags = "ST:" + title + ",SW:smafcompose,";
    cnti.insert(cnti.end(), tags.begin(), tags.end());

    std::vector<std::uint8_t> body = MakeChunk("CNTI", cnti);
    for (const ScoreTrack& t : tracks) {
        const bool hps = t.format == SequenceFormat::Hps;
        std::vector<std::uint8_t> tb{std::uint8_t(t.format), 0x00, t.timeBaseD, t.timeBaseG};
        std::vector<std::uint8_t> status = t.channelStatus;
        status.resize(hps ? 2 : 16, 0);
        Append(tb, status);
        const auto seq = t.format == SequenceFormat::MobileCompressed ? HuffmanEncode(t.sequence) : t.sequence;
        Append(tb, MakeChunk("Mtsq", seq));
        const char id[4] = {'M', 'T', 'R', char(t.number)};
        Append(body, MakeChunk(id, tb));
    }
    for (const AudioTrack& a : audio) {
        // format, sequence type, wave type (mono, ADPCM, rate), base bit, both time bases
        std::vector<std::uint8_t> tb{0x00, 0x00, std::uint8_t(0x10 | a.rateCode), 0x00, 0x02, 0x02};
        Append(tb, MakeChunk("Atsq", {}));
        Append(tb, MakeChunk("Awa\x01", a.adpcm));
        const char id[4] = {'A', 'T', 'R', char(a.number)};
        Append(body, MakeChunk(id, tb));
    }
    std::vector<std::uint8_t> file{'M', 'M', 'M', 'D'};
    Put32(file, std::uint32_t(body.size() + 2));
    Append(file, body);
    const std::uint16_t crc = Crc16(file);
    file.push_back(std::uint8_t(crc >> 8));
    file.push_back(std::uint8_t(crc & 0xFF));
    return file;
}

} // namespace smaf
