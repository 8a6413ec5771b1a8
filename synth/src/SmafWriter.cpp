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

void HpsSequence::wave(std::uint32_t wait, int channel, int number, std::uint32_t gate)
{
    if (number < 1 || number > 63 || channel < 0 || channel > 3)
        throw std::invalid_argument("audio wave out of range");
    Append(bytes_, EncodeHpsTime(wait));
    bytes_.push_back(std::uint8_t((channel << 6) | number));
    Append(bytes_, EncodeHpsTime(gate));
}

void HpsSequence::raw(std::uint32_t wait, const std::vector<std::uint8_t>& event)
{
    Append(bytes_, EncodeHpsTime(wait));
    Append(bytes_, event);
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

void MobileSequence::raw(std::uint32_t wait, const std::vector<std::uint8_t>& event)
{
    Append(bytes_, EncodeVarLen(wait));
    Append(bytes_, event);
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

std::vector<std::uint8_t> EncodeHpsVoice(const VoiceDef& v)
{
    const int ops = v.operators == 4 ? 4 : 2;
    std::vector<std::uint8_t> m{0x43, 0x03, 0x00, std::uint8_t((v.drum ? 0x80 : 0) | (v.bankLsb & 0x7F)),
                                std::uint8_t(v.drum ? v.drumNote : v.program),
                                std::uint8_t((v.lfo & 3) << 6 | (v.ops[0].feedback & 7) << 3 | (v.algorithm & 7))};
    for (int i = 0; i < ops; ++i) {
        const FmOperator& o = v.ops[std::size_t(i)];
        m.push_back(std::uint8_t((o.multi & 15) << 4 | o.vibrato << 3 | (o.sr == 0) << 2 | o.sus << 1 | o.ksr));
        m.push_back(std::uint8_t((o.rr & 15) << 4 | (o.dr & 15)));
        m.push_back(std::uint8_t((o.ar & 15) << 4 | (o.sl & 15)));
        m.push_back(std::uint8_t((o.tl & 63) << 2 | (o.ksl & 3)));
        m.push_back(std::uint8_t((o.vibratoDepth & 3) << 6 | (o.tremoloDepth & 3) << 4 | o.tremolo << 3 | (o.wave & 7)));
    }
    m.push_back(0x00);
    m.push_back(0xF7);
    std::vector<std::uint8_t> out{0xFF, 0xF0, std::uint8_t(m.size())};
    Append(out, m);
    return out;
}

std::vector<std::uint8_t> EncodeMobileVoice(const VoiceDef& v, bool packed)
{
    std::vector<std::uint8_t> body;
    if (v.type == VoiceType::Fm) {
        body = {std::uint8_t(v.key & 0x7F), std::uint8_t((v.panpot & 31) << 3 | ((1 - v.octave) & 3)),
                std::uint8_t((v.lfo & 3) << 6 | (v.algorithm & 7))};
        const int ops = (v.algorithm & 7) < 2 ? 2 : 4;
        for (int i = 0; i < ops; ++i) {
            const FmOperator& o = v.ops[std::size_t(i)];
            body.push_back(std::uint8_t((o.sr & 15) << 4 | o.xof << 3 | o.sus << 1 | o.ksr));
            body.push_back(std::uint8_t((o.rr & 15) << 4 | (o.dr & 15)));
            body.push_back(std::uint8_t((o.ar & 15) << 4 | (o.sl & 15)));
            body.push_back(std::uint8_t((o.tl & 63) << 2 | (o.ksl & 3)));
            body.push_back(std::uint8_t((o.tremoloDepth & 3) << 5 | o.tremolo << 4 | (o.vibratoDepth & 3) << 1 | o.vibrato));
            body.push_back(std::uint8_t((o.multi & 15) << 4 | (o.detune & 7)));
            body.push_back(std::uint8_t((o.wave & 31) << 3 | (o.feedback & 7)));
        }
    } else {
        const FmOperator& e = v.ops[0];
        body = {std::uint8_t(v.key & 0x7F), std::uint8_t((v.panpot & 31) << 3),
                std::uint8_t(v.pcmRate >> 8), std::uint8_t(v.pcmRate),
                std::uint8_t((e.sr & 15) << 4 | e.xof << 3 | e.sus << 1),
                std::uint8_t((e.rr & 15) << 4 | (e.dr & 15)), std::uint8_t((e.ar & 15) << 4 | (e.sl & 15)),
                std::uint8_t((e.tl & 63) << 2),
                std::uint8_t(v.loopPoint >> 8), std::uint8_t(v.loopPoint), std::uint8_t(v.endPoint >> 8),
                std::uint8_t(v.endPoint), v.waveNumber};
    }
    std::vector<std::uint8_t> m{0x43, 0x79, std::uint8_t(packed ? 0x06 : 0x07), 0x7F, 0x01,
                                std::uint8_t(v.bankMsb & 0x7F), std::uint8_t(v.bankLsb & 0x7F),
                                std::uint8_t(v.program & 0x7F), std::uint8_t(v.drumNote & 0x7F),
                                std::uint8_t(v.type == VoiceType::Fm ? 0 : 1)};
    Append(m, packed ? Pack7(body) : body);
    m.push_back(0xF7);
    std::vector<std::uint8_t> out{0xF0};
    Append(out, EncodeVarLen(std::uint32_t(m.size())));
    Append(out, m);
    return out;
}

std::vector<std::uint8_t> EncodeScoreWave(const std::vector<std::int16_t>& pcm, std::uint32_t rate, int channels,
                                          int format, int bits)
{
    std::vector<std::uint8_t> out{std::uint8_t((channels == 2 ? 0x80 : 0) | (format & 7) << 4 | (bits & 15)),
                                  std::uint8_t(rate >> 8), std::uint8_t(rate)};
    if (format == 2) {
        Append(out, EncodeAdpcm(pcm, channels));
        return out;
    }
    for (std::int16_t s : pcm) {
        const int v = format == 1 ? s + 32768 : s;
        if (bits == 16)
            out.push_back(std::uint8_t((v >> 8) & 0xFF));
        out.push_back(std::uint8_t(bits == 16 ? v & 0xFF : (v >> 8) & 0xFF));
    }
    return out;
}

std::vector<std::uint8_t> EncodeAdpcm(const std::vector<std::int16_t>& pcm, int channels)
{
    static const int kScale[8] = {230, 230, 230, 230, 307, 409, 512, 614};
    int values[2] = {0, 0}, steps[2] = {127, 127};
    std::vector<std::uint8_t> out((pcm.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const int c = channels == 2 ? int(i % 2) : 0;
        int& value = values[c];
        int& step = steps[c];
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
        if (!t.setup.empty())
            Append(tb, MakeChunk("Mtsu", t.setup));
        const auto seq = t.format == SequenceFormat::MobileCompressed ? HuffmanEncode(t.sequence) : t.sequence;
        Append(tb, MakeChunk("Mtsq", seq));
        if (!t.waves.empty()) {
            std::vector<std::uint8_t> waves;
            for (const auto& [n, w] : t.waves) {
                const char wid[4] = {'M', 'w', 'a', char(n)};
                Append(waves, MakeChunk(wid, w));
            }
            Append(tb, MakeChunk("Mtsp", waves));
        }
        const char id[4] = {'M', 'T', 'R', char(t.number)};
        Append(body, MakeChunk(id, tb));
    }
    for (const AudioTrack& a : audio) {
        // format, sequence type, wave type (stereo, ADPCM, rate), base bit, both time bases (4 ms)
        std::vector<std::uint8_t> tb{0x00, 0x00, std::uint8_t((a.stereo ? 0x80 : 0) | 0x10 | a.rateCode), 0x00, 0x02, 0x02};
        Append(tb, MakeChunk("Atsq", a.sequence));
        Append(tb, MakeChunk("Awa\x01", a.adpcm));
        for (std::size_t i = 0; i < a.moreWaves.size(); ++i) {
            const char wid[4] = {'A', 'w', 'a', char(i + 2)};
            Append(tb, MakeChunk(wid, a.moreWaves[i]));
        }
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
