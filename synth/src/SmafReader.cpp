#include "SmafReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace smaf {

namespace {

std::uint32_t Be32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// A cursor over a byte span that refuses to move past its end.
class Cursor {
public:
    explicit Cursor(Bytes data) : data_(data) {}
    bool atEnd() const { return pos_ >= data_.size(); }
    std::size_t left() const { return data_.size() - pos_; }
    bool byte(std::uint8_t& out)
    {
        if (atEnd())
            return false;
        out = data_[pos_++];
        return true;
    }
    bool peek(std::uint8_t& out) const
    {
        if (atEnd())
            return false;
        out = data_[pos_];
        return true;
    }
    std::uint8_t previous() const { return pos_ > 0 ? data_[pos_ - 1] : 0; }
    Bytes rest() const { return data_.subspan(pos_); }
    bool skip(std::size_t n)
    {
        if (n > left())
            return false;
        pos_ += n;
        return true;
    }
    // MIDI-style variable-length number, at most four bytes.
    bool varLen(std::uint32_t& out)
    {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b;
            if (!byte(b))
                return false;
            out = (out << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return false;
    }
    // HPS time: one byte below 0x80, else ((b0 & 0x7F) + 1) << 7 | b1.
    bool hpsTime(std::uint32_t& out)
    {
        std::uint8_t b0, b1;
        if (!byte(b0))
            return false;
        if (b0 < 0x80) {
            out = b0;
            return true;
        }
        if (!byte(b1))
            return false;
        out = ((std::uint32_t(b0 & 0x7F) + 1) << 7) | b1;
        return true;
    }

private:
    Bytes data_;
    std::size_t pos_ = 0;
};

struct Chunk {
    char id[4];
    Bytes body;
};

// Walks the chunks of a body. Stops at the first chunk whose header or declared size does not
// fit; `rest` tells how many bytes were left over behind the last whole chunk.
struct ChunkWalk {
    std::vector<Chunk> chunks;
    std::size_t rest = 0;
    bool damaged = false;
};

ChunkWalk WalkChunks(Bytes body)
{
    ChunkWalk walk;
    std::size_t pos = 0;
    while (body.size() - pos >= 8) {
        const std::uint32_t size = Be32(body.data() + pos + 4);
        if (size > body.size() - pos - 8) {
            walk.damaged = true;
            break;
        }
        Chunk c;
        std::memcpy(c.id, body.data() + pos, 4);
        c.body = body.subspan(pos + 8, size);
        walk.chunks.push_back(c);
        pos += 8 + std::size_t(size);
    }
    walk.rest = body.size() - pos;
    return walk;
}

bool IdIs(const Chunk& c, const char* id, int len = 4) { return std::memcmp(c.id, id, len) == 0; }

std::string Hex2(unsigned v)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string{digits[(v >> 4) & 15], digits[v & 15]};
}

constexpr int kMaxBendRange = 24;
constexpr std::uint8_t kMelodicBank = 0x7C, kRhythmBank = 0x7D;

// Collects events with the limits applied.
class EventSink {
public:
    EventSink(const TrackSetup& setup, SequenceResult& result) : setup_(setup), out_(result)
    {
        drum_ = setup.drum;
    }
    // Adds ticks × TimeBase_D; false once the song grows past its limit.
    bool advance(std::uint32_t ticks)
    {
        now_ += std::uint64_t(ticks) * setup_.timeBaseD;
        if (now_ > kMaxSongMs) {
            now_ = kMaxSongMs;
            out_.warnings.push_back("sequence longer than " + std::to_string(kMaxSongMs / 60000) + " minutes cut short");
            return false;
        }
        return true;
    }
    bool full()
    {
        if (out_.events.size() < kMaxEvents)
            return false;
        out_.warnings.push_back("too many events; the rest is skipped");
        return true;
    }
    void note(int channel, int key, int velocity, std::uint32_t gateTicks)
    {
        Event e = make(EventKind::Note, channel);
        e.key = std::uint8_t(std::clamp(key, 0, 127));
        e.velocity = std::uint8_t(std::clamp(velocity, 0, 127));
        e.drum = drum_[e.channel];
        e.gateMs = std::uint32_t(std::min<std::uint64_t>(std::uint64_t(gateTicks) * setup_.timeBaseG, kMaxGateMs));
        out_.events.push_back(e);
    }
    void value(EventKind kind, int channel, int v)
    {
        Event e = make(kind, channel);
        e.value = v;
        out_.events.push_back(e);
    }
    void setDrum(int channel, bool on) { drum_[std::size_t(channel) % kChannels] = on; }
    // Bank select: either half (negative leaves it as it is), passed on as one Bank event.
    void bank(int channel, int msb, int lsb)
    {
        const std::size_t c = std::size_t(channel) % kChannels;
        if (msb >= 0)
            bankMsb_[c] = msb;
        if (lsb >= 0)
            bankLsb_[c] = lsb;
        value(EventKind::Bank, channel, (bankMsb_[c] << 7) | bankLsb_[c]);
    }
    // RPN select (CC 101, 100) and data entry (CC 6): RPN 0/0 is the bend range.
    void rpn(int channel, int msb, int lsb)
    {
        const std::size_t c = std::size_t(channel) % kChannels;
        if (msb >= 0)
            rpnMsb_[c] = msb;
        if (lsb >= 0)
            rpnLsb_[c] = lsb;
    }
    void dataEntry(int channel, int v)
    {
        const std::size_t c = std::size_t(channel) % kChannels;
        if (rpnMsb_[c] == 0 && rpnLsb_[c] == 0)
            value(EventKind::BendRange, channel, std::min(v, kMaxBendRange));
    }
    void voice(Bytes message)
    {
        if (auto v = ParseVoiceMessage(message))
            out_.voices.push_back(*v);
    }
    void end()
    {
        out_.events.push_back(make(EventKind::End, 0));
        out_.sawEnd = true;
        out_.endMs = std::uint32_t(now_);
    }
    void finish()
    {
        if (!out_.sawEnd)
            out_.endMs = std::uint32_t(now_);
    }

private:
    Event make(EventKind kind, int channel) const
    {
        Event e;
        e.kind = kind;
        e.timeMs = std::uint32_t(now_);
        e.channel = std::uint8_t(channel % kChannels);
        return e;
    }
    const TrackSetup& setup_;
    SequenceResult& out_;
    std::array<bool, kChannels> drum_{};
    std::array<int, kChannels> bankMsb_ = Filled(kMelodicBank), bankLsb_{};
    std::array<int, kChannels> rpnMsb_ = Filled(127), rpnLsb_ = Filled(127);
    std::uint64_t now_ = 0;
    static std::array<int, kChannels> Filled(int v)
    {
        std::array<int, kChannels> a;
        a.fill(v);
        return a;
    }
};

constexpr int kMaxDrumChannels = 2;

// One HPS short-form step (1..15, centre 8) as a pitch-bend value.
int HpsBendStep(int step) { return std::clamp((step - 8) * 1024, -8192, 8191); }

} // namespace

bool Song::playable() const
{
    return !recordings.empty() ||
           std::any_of(events.begin(), events.end(), [](const Event& e) { return e.kind == EventKind::Note; });
}

std::vector<std::int16_t> DecodeAdpcm(Bytes data, std::size_t maxSamples, int channels)
{
    // Step multipliers (/256) and signed differences (/8 of the step) by nibble.
    static const int kScale[8] = {230, 230, 230, 230, 307, 409, 512, 614};
    std::vector<std::int16_t> out;
    out.reserve(std::min(maxSamples, data.size() * 2));
    // One predictor a channel: mono runs both nibbles through the first.
    int value[2] = {0, 0};
    int step[2] = {127, 127};
    auto expand = [&](int nibble, int c) {
        const int magnitude = nibble & 7;
        const int diff = step[c] * (2 * magnitude + 1) / 8;
        value[c] = std::clamp(nibble & 8 ? value[c] - diff : value[c] + diff, -32768, 32767);
        step[c] = std::clamp(step[c] * kScale[magnitude] >> 8, 127, 24576);
        out.push_back(std::int16_t(value[c]));
    };
    const int second = channels == 2 ? 1 : 0;
    for (std::uint8_t b : data) {
        if (out.size() + 2 > maxSamples)
            break;
        expand(b & 0x0F, 0);
        expand(b >> 4, second);
    }
    return out;
}

std::vector<std::uint8_t> Unpack7(Bytes packed)
{
    std::vector<std::uint8_t> out;
    for (std::size_t g = 0; g < packed.size(); g += 8) {
        const std::uint8_t high = packed[g];
        for (std::size_t i = 1; i < 8 && g + i < packed.size(); ++i)
            out.push_back(std::uint8_t((packed[g + i] & 0x7F) | (((high >> (7 - i)) & 1) << 7)));
    }
    return out;
}

std::vector<std::uint8_t> Pack7(const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> out;
    for (std::size_t g = 0; g < data.size(); g += 7) {
        const std::size_t head = out.size();
        out.push_back(0);
        for (std::size_t i = 0; i < 7 && g + i < data.size(); ++i) {
            out[head] |= std::uint8_t((data[g + i] >> 7) << (6 - i));
            out.push_back(data[g + i] & 0x7F);
        }
    }
    return out;
}

namespace {

// Handyphone operator, 5 bytes: MULT VIB EGT SUS KSR | RR DR | AR SL | TL KSL | DVB DAM AM WS.
FmOperator HpsOperator(const std::uint8_t* b)
{
    FmOperator op;
    op.multi = b[0] >> 4;
    op.vibrato = (b[0] >> 3) & 1;
    const bool egt = (b[0] >> 2) & 1;
    op.sus = (b[0] >> 1) & 1;
    op.ksr = b[0] & 1;
    op.rr = b[1] >> 4;
    op.dr = b[1] & 15;
    op.ar = b[2] >> 4;
    op.sl = b[2] & 15;
    op.tl = b[3] >> 2;
    op.ksl = b[3] & 3;
    op.vibratoDepth = b[4] >> 6;
    op.tremoloDepth = (b[4] >> 4) & 3;
    op.tremolo = (b[4] >> 3) & 1;
    op.wave = b[4] & 7;
    // Without EGT the level goes on falling at RR once the decay is over.
    op.sr = egt ? 0 : op.rr;
    return op;
}

// Mobile Standard operator, 7 bytes: SR XOF SUS KSR | RR DR | AR SL | TL KSL |
// DAM EAM DVB EVB | MULTI DT | WS FB.
FmOperator MobileOperator(const std::uint8_t* b)
{
    FmOperator op;
    op.sr = b[0] >> 4;
    op.xof = (b[0] >> 3) & 1;
    op.sus = (b[0] >> 1) & 1;
    op.ksr = b[0] & 1;
    op.rr = b[1] >> 4;
    op.dr = b[1] & 15;
    op.ar = b[2] >> 4;
    op.sl = b[2] & 15;
    op.tl = b[3] >> 2;
    op.ksl = b[3] & 3;
    op.tremoloDepth = (b[4] >> 5) & 3;
    op.tremolo = (b[4] >> 4) & 1;
    op.vibratoDepth = (b[4] >> 1) & 3;
    op.vibrato = b[4] & 1;
    op.multi = b[5] >> 4;
    op.detune = b[5] & 7;
    op.wave = b[6] >> 3;
    op.feedback = b[6] & 7;
    return op;
}

} // namespace

std::optional<VoiceDef> ParseVoiceMessage(Bytes m)
{
    if (!m.empty() && m.back() == 0xF7)
        m = m.first(m.size() - 1);
    if (m.size() < 2 || m[0] != 0x43)
        return std::nullopt;
    VoiceDef v;
    if (m[1] == 0x03) { // Handyphone: 43 03 ?? bank program P ops
        if (m.size() < 6 + 10)
            return std::nullopt;
        const std::uint8_t bank = m[3];
        v.drum = bank & 0x80;
        v.bankMsb = v.drum ? kRhythmBank : kMelodicBank;
        v.bankLsb = bank & 0x7F;
        if (v.drum) {
            v.drumNote = m[4] & 0x7F;
            v.key = v.drumNote;
            v.program = 0;
        } else {
            v.program = m[4] & 0x7F;
        }
        const std::uint8_t p = m[5];
        v.lfo = p >> 6;
        v.algorithm = p & 7;
        v.operators = m.size() >= 6 + 20 ? 4 : 2;
        if (v.operators == 2 && v.algorithm > 1)
            return std::nullopt;
        for (int i = 0; i < v.operators; ++i)
            v.ops[std::size_t(i)] = HpsOperator(m.data() + 6 + 5 * i);
        const std::uint8_t fb = (p >> 3) & 7;
        v.ops[0].feedback = fb;
        if (v.algorithm == 2 || v.algorithm == 5)
            v.ops[2].feedback = fb;
        return v;
    }
    // Mobile Standard: 43 79 06|07 7F 01 msb lsb program drumNote type body
    if (m.size() < 10 || m[1] != 0x79 || (m[2] != 0x06 && m[2] != 0x07) || m[3] != 0x7F || m[4] != 0x01)
        return std::nullopt;
    v.bankMsb = m[5] & 0x7F;
    v.bankLsb = m[6] & 0x7F;
    v.program = m[7] & 0x7F;
    v.drumNote = m[8] & 0x7F;
    v.drum = v.bankMsb == kRhythmBank;
    const std::uint8_t type = m[9];
    const Bytes raw = m.subspan(10);
    const std::vector<std::uint8_t> body = m[2] == 0x06 ? Unpack7(raw) : std::vector<std::uint8_t>(raw.begin(), raw.end());
    if (type == 0) {
        if (body.size() < 3)
            return std::nullopt;
        v.type = VoiceType::Fm;
        v.key = body[0] & 0x7F;
        v.panpot = std::min(body[1] >> 3, 31);
        v.octave = 1 - (body[1] & 3);
        v.lfo = body[2] >> 6;
        v.algorithm = body[2] & 7;
        v.operators = v.algorithm < 2 ? 2 : 4;
        if (body.size() < 3 + 7 * std::size_t(v.operators))
            return std::nullopt;
        for (int i = 0; i < v.operators; ++i)
            v.ops[std::size_t(i)] = MobileOperator(body.data() + 3 + 7 * i);
        return v;
    }
    if (type == 1) {
        // Our layout of a PCM voice body (13 bytes): key | PANPOT(7-3) | rate (16) |
        // SR XOF SUS | RR DR | AR SL | TL | loop point (16) | end point (16) | wave number.
        if (body.size() < 13)
            return std::nullopt;
        v.type = VoiceType::Pcm;
        v.key = body[0] & 0x7F;
        v.panpot = std::min(body[1] >> 3, 31);
        v.pcmRate = std::uint32_t(body[2] << 8 | body[3]);
        FmOperator& e = v.ops[0];
        e.sr = body[4] >> 4;
        e.xof = (body[4] >> 3) & 1;
        e.sus = (body[4] >> 1) & 1;
        e.rr = body[5] >> 4;
        e.dr = body[5] & 15;
        e.ar = body[6] >> 4;
        e.sl = body[6] & 15;
        e.tl = body[7] >> 2;
        v.loopPoint = std::uint32_t(body[8] << 8 | body[9]);
        v.endPoint = std::uint32_t(body[10] << 8 | body[11]);
        v.waveNumber = body[12];
        v.operators = 1;
        if (v.pcmRate == 0)
            return std::nullopt;
        return v;
    }
    return std::nullopt;
}

std::optional<Wave> DecodeScoreWave(Bytes body, std::string* warning)
{
    auto fail = [&](const std::string& why) -> std::optional<Wave> {
        if (warning)
            *warning = why;
        return std::nullopt;
    };
    if (body.size() < 3)
        return fail("wave header truncated");
    Wave w;
    w.score = true;
    const std::uint8_t type = body[0];
    w.channels = type & 0x80 ? 2 : 1;
    const int format = (type >> 4) & 7;
    const int bits = (type & 0x0F) == 0 ? 16 : type & 0x0F; // four bits: 16 is written as 0
    w.sampleRate = std::uint32_t(body[1] << 8 | body[2]);
    if (w.sampleRate == 0)
        return fail("wave rate 0");
    const Bytes data = body.subspan(3);
    const std::size_t limit = std::size_t(kMaxSongMs / 1000) * w.sampleRate * std::size_t(w.channels);
    if (format == 2) {
        w.pcm = DecodeAdpcm(data, limit, w.channels);
    } else if ((format == 0 || format == 1) && (bits == 8 || bits == 16)) {
        const std::size_t width = std::size_t(bits / 8);
        const std::size_t n = std::min(limit, data.size() / width) / std::size_t(w.channels) * std::size_t(w.channels);
        w.pcm.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            int v = width == 2 ? (data[2 * i] << 8 | data[2 * i + 1]) : data[i] << 8;
            if (format == 1)
                v -= 32768;           // offset binary
            else if (v >= 32768)
                v -= 65536;           // two's complement
            w.pcm[i] = std::int16_t(v);
        }
    } else {
        return fail("wave type " + Hex2(type) + " is not PCM or ADPCM");
    }
    if (w.pcm.empty())
        return fail("empty wave");
    return w;
}

std::optional<std::uint32_t> AudioRate(std::uint8_t code)
{
    static const std::uint32_t kRates[] = {4000, 8000, 11025, 22050, 44100};
    if (code >= std::size(kRates))
        return std::nullopt;
    return kRates[code];
}

std::uint16_t Crc16(Bytes data)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : data) {
        crc ^= std::uint16_t(b) << 8;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
    }
    return std::uint16_t(crc ^ 0xFFFF);
}

Bytes SkipMelodyHeader(Bytes data)
{
    constexpr std::size_t kHeader = 32;
    if (data.size() >= 4 && std::memcmp(data.data(), "MMMD", 4) == 0)
        return data;
    if (data.size() >= kHeader + 4 && std::memcmp(data.data() + kHeader, "MMMD", 4) == 0)
        return data.subspan(kHeader);
    return data;
}

std::optional<std::uint32_t> TimeBaseMs(std::uint8_t code)
{
    switch (code) {
    case 0x00: return 1;
    case 0x01: return 2;
    case 0x02: return 4;
    case 0x03: return 5;
    case 0x10: return 10;
    case 0x11: return 20;
    case 0x12: return 40;
    case 0x13: return 50;
    default: return std::nullopt;
    }
}

// [duration][event] pairs; four channels per track.
SequenceResult DecodeHps(Bytes sequence, const TrackSetup& setup)
{
    SequenceResult result;
    EventSink sink(setup, result);
    std::array<int, 4> octaveShift{};
    Cursor in(sequence);
    auto channelOf = [&](int cc) { return setup.channelBase + cc; };
    auto cutShort = [&](const char* what) { result.warnings.push_back(std::string("HPS sequence: ") + what); };

    while (!in.atEnd() && !sink.full()) {
        std::uint32_t duration;
        std::uint8_t b;
        if (!in.hpsTime(duration) || !in.byte(b)) {
            cutShort("truncated event");
            break;
        }
        if (!sink.advance(duration))
            break;
        if (b == 0xFF) {
            std::uint8_t kind;
            if (!in.byte(kind)) {
                cutShort("truncated event");
                break;
            }
            if (kind == 0x00)
                continue; // no operation
            if (kind == 0xF0) {
                std::uint8_t len;
                if (in.byte(len) && in.left() >= len) {
                    sink.voice(in.rest().first(len));
                    in.skip(len);
                    continue;
                }
                cutShort("truncated exclusive message");
                break;
            }
            cutShort(("unknown event FF " + Hex2(kind)).c_str());
            break;
        }
        if (b != 0x00) { // a note: cc oo nnnn, then its gate time
            std::uint32_t gate;
            if (!in.hpsTime(gate)) {
                cutShort("truncated note");
                break;
            }
            const int cc = b >> 6;
            const int key = 36 + 12 * ((b >> 4) & 3) + (b & 0x0F) + 12 * octaveShift[std::size_t(cc)];
            sink.note(channelOf(cc), key, 100, gate);
            continue;
        }
        std::uint8_t x;
        if (!in.byte(x)) {
            cutShort("truncated control");
            break;
        }
        if (x == 0x00) { // 00 00 00: end of sequence (the last 00 may be missing)
            std::uint8_t last;
            if (in.peek(last) && last == 0x00)
                in.skip(1);
            sink.end();
            break;
        }
        const int cc = x >> 6;
        const int ch = channelOf(cc);
        const int form = (x >> 4) & 3;
        const int n = x & 0x0F;
        if (form != 3) { // one-byte steps
            if (form == 0 && n > 0) // expression; step 0 is not a level
                sink.value(EventKind::Expression, ch, n * 127 / 15);
            else if (form == 1)
                sink.value(EventKind::PitchBend, ch, HpsBendStep(n));
            else if (form == 2)
                sink.value(EventKind::Modulation, ch, n * 127 / 15);
            continue;
        }
        std::uint8_t v;
        if (!in.byte(v)) {
            cutShort("truncated control");
            break;
        }
        switch (n) {
        case 0x0: sink.value(EventKind::Program, ch, v & 0x7F); break;
        case 0x1:
            sink.setDrum(ch, v >= 0x80);
            sink.bank(ch, v >= 0x80 ? kRhythmBank : kMelodicBank, v & 0x7F);
            break;
        case 0x2: {
            int shift = 0;
            if (v >= 1 && v <= 4)
                shift = v;
            else if (v >= 0x81 && v <= 0x84)
                shift = -(v & 0x0F);
            octaveShift[std::size_t(cc)] = shift;
            break;
        }
        case 0x3: sink.value(EventKind::Modulation, ch, v & 0x7F); break;
        case 0x4: sink.value(EventKind::PitchBend, ch, (int(v & 0x7F) - 64) * 128); break;
        case 0x7: sink.value(EventKind::Volume, ch, v & 0x7F); break;
        case 0xA: sink.value(EventKind::Pan, ch, v & 0x7F); break;
        case 0xB: sink.value(EventKind::Expression, ch, v & 0x7F); break;
        default: break; // other long controls carry nothing we play
        }
    }
    sink.finish();
    return result;
}

// MIDI-like events behind variable-length durations; sixteen channels.
SequenceResult DecodeMobile(Bytes sequence, const TrackSetup& setup)
{
    SequenceResult result;
    EventSink sink(setup, result);
    Cursor in(sequence);
    auto cutShort = [&](const std::string& what) { result.warnings.push_back("Mobile Standard sequence: " + what); };
    constexpr int kDefaultVelocity = 64;

    while (!in.atEnd() && !sink.full()) {
        std::uint32_t duration;
        std::uint8_t status;
        if (!in.varLen(duration) || !in.byte(status)) {
            cutShort("truncated event");
            break;
        }
        if (!sink.advance(duration))
            break;
        const int ch = status & 0x0F;
        bool ok = true;
        switch (status & 0xF0) {
        case 0x80:
        case 0x90: {
            std::uint8_t key, velocity = kDefaultVelocity;
            std::uint32_t gate;
            ok = in.byte(key) && ((status & 0xF0) == 0x80 || in.byte(velocity)) && in.varLen(gate);
            if (ok && velocity > 0)
                sink.note(ch, key & 0x7F, velocity & 0x7F, gate);
            break;
        }
        case 0xA0: ok = in.skip(2); break; // key pressure
        case 0xB0: {
            std::uint8_t control, v;
            ok = in.byte(control) && in.byte(v);
            if (!ok)
                break;
            v &= 0x7F;
            switch (control) {
            case 0: // bank select MSB: 0x7D is the drum bank, 0x7C and the GM banks melodic
                if (v == kRhythmBank)
                    sink.setDrum(ch, true);
                else if (v == kMelodicBank || v == 0)
                    sink.setDrum(ch, false);
                sink.bank(ch, v, -1);
                break;
            case 32: sink.bank(ch, -1, v); break;
            case 101: sink.rpn(ch, v, -1); break;
            case 100: sink.rpn(ch, -1, v); break;
            case 6: sink.dataEntry(ch, v); break;
            case 1: sink.value(EventKind::Modulation, ch, v); break;
            case 7: sink.value(EventKind::Volume, ch, v); break;
            case 10: sink.value(EventKind::Pan, ch, v); break;
            case 11: sink.value(EventKind::Expression, ch, v); break;
            default: break;
            }
            break;
        }
        case 0xC0: {
            std::uint8_t program;
            ok = in.byte(program);
            if (ok)
                sink.value(EventKind::Program, ch, program & 0x7F);
            break;
        }
        case 0xD0: ok = in.skip(1); break; // channel pressure
        case 0xE0: {
            std::uint8_t lsb, msb;
            ok = in.byte(lsb) && in.byte(msb);
            if (ok)
                sink.value(EventKind::PitchBend, ch, ((int(msb & 0x7F) << 7) | (lsb & 0x7F)) - 8192);
            break;
        }
        case 0xF0:
            if (status == 0xF0) {
                // The length normally counts the closing F7; some writers leave it out.
                std::uint32_t len;
                ok = in.varLen(len) && in.left() >= len;
                if (ok)
                    sink.voice(in.rest().first(len));
                ok = ok && in.skip(len);
                std::uint8_t next;
                if (ok && (len == 0 || in.previous() != 0xF7) && in.peek(next) && next == 0xF7)
                    in.skip(1);
            } else if (status == 0xFF) {
                std::uint8_t kind, zero;
                ok = in.byte(kind);
                if (ok && kind == 0x2F) {
                    ok = in.byte(zero);
                    if (ok) {
                        sink.end();
                        sink.finish();
                        return result;
                    }
                } else if (ok && kind != 0x00) {
                    cutShort("unknown event FF " + Hex2(kind));
                    sink.finish();
                    return result;
                }
            } else {
                cutShort("unknown event " + Hex2(status));
                sink.finish();
                return result;
            }
            break;
        default:
            cutShort("data byte " + Hex2(status) + " where an event should start");
            sink.finish();
            return result;
        }
        if (!ok) {
            cutShort("truncated event");
            break;
        }
    }
    sink.finish();
    return result;
}

std::optional<std::vector<std::uint8_t>> HuffmanDecode(Bytes packed, std::string* warning)
{
    if (packed.size() < 4)
        return std::nullopt;
    std::uint32_t wanted = Be32(packed.data());
    Bytes bits = packed.subspan(4);
    std::size_t bitPos = 0;
    const std::size_t bitCount = bits.size() * 8;
    auto bit = [&](int& out) {
        if (bitPos >= bitCount)
            return false;
        out = (bits[bitPos / 8] >> (7 - bitPos % 8)) & 1;
        ++bitPos;
        return true;
    };

    // The tree: node 0 is the root; inner nodes hold two child indices, leaves a byte.
    struct Node {
        int child[2] = {-1, -1};
        int symbol = -1;
    };
    std::vector<Node> nodes(1);
    // Iterative depth-first read: each node on `open` still needs a child read.
    {
        int leaves = 0;
        int b;
        if (!bit(b))
            return std::nullopt;
        if (b == 0) { // the root itself is a leaf: one symbol repeated
            int v = 0;
            for (int i = 0; i < 8; ++i) {
                if (!bit(b))
                    return std::nullopt;
                v = (v << 1) | b;
            }
            nodes[0].symbol = v;
        } else {
            std::vector<int> open{0};
            while (!open.empty()) {
                Node& parent = nodes[std::size_t(open.back())];
                const int slot = parent.child[0] < 0 ? 0 : 1;
                if (!bit(b))
                    return std::nullopt;
                const int index = int(nodes.size());
                if (b == 1) {
                    if (nodes.size() >= 512)
                        return std::nullopt; // more inner nodes than 256 leaves can need
                    nodes.emplace_back();
                    nodes[std::size_t(open.back())].child[slot] = index;
                    if (slot == 1)
                        open.pop_back();
                    open.push_back(index);
                } else {
                    int v = 0;
                    for (int i = 0; i < 8; ++i) {
                        if (!bit(b))
                            return std::nullopt;
                        v = (v << 1) | b;
                    }
                    if (++leaves > 256)
                        return std::nullopt;
                    nodes.emplace_back();
                    nodes.back().symbol = v;
                    nodes[std::size_t(open.back())].child[slot] = index;
                    if (slot == 1)
                        open.pop_back();
                }
            }
        }
    }

    std::vector<std::uint8_t> out;
    std::uint32_t limit = std::uint32_t(std::min<std::size_t>(kMaxUnpackedSequence, wanted));
    if (nodes[0].symbol >= 0) {
        out.assign(limit, std::uint8_t(nodes[0].symbol));
        return out;
    }
    out.reserve(std::min<std::size_t>(limit, bitCount));
    while (out.size() < limit) {
        int node = 0;
        int b;
        bool complete = true;
        while (nodes[std::size_t(node)].symbol < 0) {
            if (!bit(b)) {
                complete = false;
                break;
            }
            node = nodes[std::size_t(node)].child[b];
        }
        if (!complete)
            break;
        out.push_back(std::uint8_t(nodes[std::size_t(node)].symbol));
    }
    if (out.size() < wanted && warning)
        *warning = "compressed sequence holds " + std::to_string(out.size()) + " of " + std::to_string(wanted) + " bytes";
    return out;
}

namespace {

// The set-up data: exclusive messages (Handyphone "FF F0 len", Mobile Standard "F0 len"), among
// them voice definitions; bytes between messages are passed over.
void ReadSetup(Bytes setup, std::vector<VoiceDef>& voices)
{
    Cursor in(setup);
    std::uint8_t b;
    while (in.byte(b)) {
        std::uint32_t len = 0;
        std::uint8_t next;
        if (b == 0xFF && in.peek(next) && next == 0xF0) {
            std::uint8_t shortLen;
            if (!in.skip(1) || !in.byte(shortLen))
                return;
            len = shortLen;
        } else if (b == 0xF0) {
            if (!in.varLen(len))
                return;
        } else {
            continue;
        }
        if (len > in.left())
            return;
        if (auto v = ParseVoiceMessage(in.rest().first(len)))
            voices.push_back(*v);
        in.skip(len);
    }
}

void ReadScoreTrack(const Chunk& track, Song& song, std::vector<SequenceResult>& sequences)
{
    const std::string name = "MTR" + Hex2(std::uint8_t(track.id[3]));
    auto warn = [&](const std::string& text) { song.warnings.push_back(name + ": " + text); };
    Bytes body = track.body;
    if (body.size() < 4) {
        warn("header truncated");
        return;
    }
    const std::uint8_t format = body[0];
    if (format > 2) {
        warn("unknown format type " + Hex2(format));
        return;
    }
    const bool hps = format == std::uint8_t(SequenceFormat::Hps);
    const std::size_t statusSize = hps ? 2 : 16;
    if (body.size() < 4 + statusSize) {
        warn("header truncated");
        return;
    }
    TrackSetup setup;
    const auto tbD = TimeBaseMs(body[2]);
    const auto tbG = TimeBaseMs(body[3]);
    if (!tbD || !tbG) {
        warn("unknown time base");
        return;
    }
    setup.timeBaseD = *tbD;
    setup.timeBaseG = *tbG;
    if (hps) {
        setup.channelBase = (std::uint8_t(track.id[3]) & 3) * 4;
        // Four bits per channel; the two low bits are the channel type, 3 meaning rhythm.
        for (int c = 0; c < 4; ++c) {
            const int nibble = (body[4 + c / 2] >> (c % 2 ? 0 : 4)) & 0x0F;
            setup.drum[std::size_t(setup.channelBase + c)] = (nibble & 3) == 3;
        }
    } else {
        // One byte per channel; key control status in the top two bits, 01 meaning "off",
        // which marks a drum channel. A song has a drum channel or two: a status that marks
        // more is not taken as drums (a writer's other use of the bits must not turn a whole
        // melody into percussion).
        int marked = 0;
        for (std::size_t c = 0; c < kChannels; ++c) {
            setup.drum[c] = (body[4 + c] >> 6) == 1 || (body[4 + c] & 3) == 3;
            marked += setup.drum[c] ? 1 : 0;
        }
        if (marked > kMaxDrumChannels) {
            setup.drum.fill(false);
            warn("channel status marks " + std::to_string(marked) + " drum channels; none taken");
        }
    }

    ChunkWalk walk = WalkChunks(body.subspan(4 + statusSize));
    if (walk.damaged)
        warn("sub-chunk runs past the end of the track; the rest is skipped");
    const Chunk* seq = nullptr;
    for (const Chunk& c : walk.chunks) {
        if (IdIs(c, "Mtsq") && !seq) {
            seq = &c;
        } else if (IdIs(c, "Mtsu")) {
            ReadSetup(c.body, song.voices);
        } else if (IdIs(c, "Mtsp")) {
            ChunkWalk waves = WalkChunks(c.body);
            if (waves.damaged)
                warn("wave chunk runs past the end of Mtsp; the rest is skipped");
            for (const Chunk& w : waves.chunks) {
                if (!IdIs(w, "Mwa", 3))
                    continue;
                std::string why;
                auto wave = DecodeScoreWave(w.body, &why);
                if (!wave) {
                    warn("Mwa" + Hex2(std::uint8_t(w.id[3])) + ": " + why);
                    continue;
                }
                wave->number = std::uint8_t(w.id[3]);
                song.waves.push_back(std::move(*wave));
            }
        }
    }
    if (!seq) {
        warn("no sequence");
        return;
    }
    ++song.scoreTracks;
    SequenceResult result;
    if (hps) {
        result = DecodeHps(seq->body, setup);
    } else if (format == std::uint8_t(SequenceFormat::MobileUncompressed)) {
        result = DecodeMobile(seq->body, setup);
    } else {
        std::string why;
        auto unpacked = HuffmanDecode(seq->body, &why);
        if (!unpacked) {
            warn("compressed sequence damaged");
            return;
        }
        if (!why.empty())
            warn(why);
        result = DecodeMobile(*unpacked, setup);
    }
    for (auto& w : result.warnings)
        warn(w);
    song.voices.insert(song.voices.end(), result.voices.begin(), result.voices.end());
    sequences.push_back(std::move(result));
}

// An audio track: its waves ("Awa" + n) played by its sequence ("Atsq"); without events in the
// sequence the first wave plays from the start.
void ReadAudioTrack(const Chunk& track, Song& song)
{
    const std::string name = "ATR" + Hex2(std::uint8_t(track.id[3]));
    auto warn = [&](const std::string& text) { song.warnings.push_back(name + ": " + text); };
    Bytes body = track.body;
    if (body.size() < 6) {
        warn("header truncated");
        return;
    }
    const std::uint8_t waveType = body[2];
    const auto rate = AudioRate(waveType & 0x0F);
    const int coding = (waveType >> 4) & 7;
    if (!rate || coding > 1) {
        warn("wave type " + Hex2(waveType) + " is not 4-bit ADPCM or 8-bit PCM at a known rate");
        return;
    }
    const int channels = waveType & 0x80 ? 2 : 1;
    ChunkWalk walk = WalkChunks(body.subspan(6));
    if (walk.damaged)
        warn("sub-chunk runs past the end of the track; the rest is skipped");
    std::array<std::size_t, 256> waveIndex;
    waveIndex.fill(SIZE_MAX);
    std::size_t first = SIZE_MAX;
    const Chunk* sequence = nullptr;
    for (const Chunk& c : walk.chunks) {
        if (IdIs(c, "Atsq")) {
            sequence = sequence ? sequence : &c;
            continue;
        }
        if (!IdIs(c, "Awa", 3))
            continue;
        Wave w;
        w.number = std::uint8_t(c.id[3]);
        w.sampleRate = *rate;
        w.channels = channels;
        const std::size_t limit = std::size_t(kMaxSongMs / 1000) * *rate * std::size_t(channels);
        if (coding == 1) {
            w.pcm = DecodeAdpcm(c.body, limit, channels);
        } else {
            const std::size_t n = std::min(limit, c.body.size()) / std::size_t(channels) * std::size_t(channels);
            for (std::size_t i = 0; i < n; ++i)
                w.pcm.push_back(std::int16_t(std::int8_t(c.body[i]) * 256));
        }
        if (w.pcm.empty() || waveIndex[w.number] != SIZE_MAX)
            continue;
        waveIndex[w.number] = song.waves.size();
        if (first == SIZE_MAX)
            first = song.waves.size();
        song.waves.push_back(std::move(w));
    }
    if (first == SIZE_MAX) {
        warn("no wave data");
        return;
    }
    ++song.audioTracks;

    std::vector<Recording> plays;
    const auto tbD = TimeBaseMs(body[4]);
    const auto tbG = TimeBaseMs(body[5]);
    if (sequence && !sequence->body.empty() && (!tbD || !tbG))
        warn("unknown time base; the sequence is not read");
    if (sequence && tbD && tbG) {
        // The Handyphone grammar: [duration][event]; four audio channels.
        Cursor in(sequence->body);
        std::uint64_t now = 0;
        std::array<int, 4> volume, pan, expression;
        volume.fill(127);
        pan.fill(64);
        expression.fill(127);
        std::uint32_t duration;
        std::uint8_t b;
        while (plays.size() < kMaxEvents && in.hpsTime(duration) && in.byte(b)) {
            now += std::uint64_t(duration) * *tbD;
            if (now > kMaxSongMs)
                break;
            if (b == 0xFF) {
                std::uint8_t kind, len;
                if (!in.byte(kind) || (kind == 0xF0 && !(in.byte(len) && in.skip(len))))
                    break;
                if (kind != 0x00 && kind != 0xF0)
                    break;
                continue;
            }
            if (b != 0x00) {
                std::uint32_t gate;
                if (!in.hpsTime(gate))
                    break;
                const int ch = b >> 6;
                const std::size_t index = waveIndex[b & 0x3F];
                if (index == SIZE_MAX) {
                    warn("sequence plays wave " + std::to_string(b & 0x3F) + ", which the track does not hold");
                    continue;
                }
                plays.push_back({std::uint32_t(now), index,
                                 std::uint32_t(std::min<std::uint64_t>(std::uint64_t(gate) * *tbG, kMaxSongMs)),
                                 volume[std::size_t(ch)], pan[std::size_t(ch)], expression[std::size_t(ch)]});
                continue;
            }
            std::uint8_t x, v;
            if (!in.byte(x) || x == 0x00)
                break; // 00 00 00: the end
            if ((x & 0x30) != 0x30)
                continue; // one-byte forms carry nothing an audio channel plays
            if (!in.byte(v))
                break;
            const std::size_t ch = x >> 6;
            switch (x & 0x0F) {
            case 0x7: volume[ch] = v & 0x7F; break;
            case 0xA: pan[ch] = v & 0x7F; break;
            case 0xB: expression[ch] = v & 0x7F; break;
            default: break;
            }
        }
    }
    if (plays.empty())
        plays.push_back({0, first, 0, 127, 64, 127});
    song.recordings.insert(song.recordings.end(), plays.begin(), plays.end());
}

} // namespace

std::optional<Song> ReadSmaf(Bytes data)
{
    if (data.size() < 8 || std::memcmp(data.data(), "MMMD", 4) != 0)
        return std::nullopt;
    const std::uint32_t size = Be32(data.data() + 4);
    if (size > data.size() - 8)
        return std::nullopt; // the outer chunk claims more than there is
    Song song;
    Bytes body = data.subspan(8, size);
    ChunkWalk walk = WalkChunks(body);
    if (walk.damaged)
        song.warnings.push_back("chunk runs past the end of the file; the rest is skipped");
    else if (walk.rest == 2) {
        const std::uint16_t stored = std::uint16_t((body[body.size() - 2] << 8) | body[body.size() - 1]);
        const std::uint16_t computed = Crc16(data.first(8 + size - 2));
        if (stored != computed)
            song.warnings.push_back("CRC mismatch (file says " + Hex2(stored >> 8) + Hex2(stored & 0xFF) +
                                    ", contents give " + Hex2(computed >> 8) + Hex2(computed & 0xFF) + ")");
    } else if (walk.rest == 0) {
        song.warnings.push_back("no CRC");
    } else {
        song.warnings.push_back(std::to_string(walk.rest) + " stray bytes after the last chunk");
    }

    std::vector<SequenceResult> sequences;
    for (const Chunk& c : walk.chunks)
        if (IdIs(c, "MTR", 3))
            ReadScoreTrack(c, song, sequences);
        else if (IdIs(c, "ATR", 3))
            ReadAudioTrack(c, song);
    for (const Recording& r : song.recordings) {
        const Wave& w = song.waves[r.wave];
        std::uint64_t ms = std::uint64_t(w.frames()) * 1000 / w.sampleRate;
        if (r.gateMs > 0)
            ms = std::min<std::uint64_t>(ms, r.gateMs);
        song.lengthMs = std::max(song.lengthMs, std::uint32_t(std::min<std::uint64_t>(r.timeMs + ms, kMaxSongMs)));
    }

    for (SequenceResult& r : sequences) {
        song.lengthMs = std::max(song.lengthMs, r.endMs);
        for (const Event& e : r.events) {
            if (e.kind == EventKind::Note) {
                song.lengthMs = std::max<std::uint32_t>(song.lengthMs, std::min(e.timeMs + e.gateMs, kMaxSongMs));
                if (e.drum)
                    song.drumChannels[e.channel] = true;
            }
            if (song.events.size() < kMaxEvents)
                song.events.push_back(e);
        }
    }
    if (song.events.size() == kMaxEvents)
        song.warnings.push_back("too many events; the rest is skipped");
    std::stable_sort(song.recordings.begin(), song.recordings.end(),
                     [](const Recording& a, const Recording& b) { return a.timeMs < b.timeMs; });
    std::stable_sort(song.events.begin(), song.events.end(),
                     [](const Event& a, const Event& b) { return a.timeMs < b.timeMs; });
    return song;
}

} // namespace smaf
