#include "SmafReader.h"

#include <algorithm>
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
    std::uint64_t now_ = 0;
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

std::vector<std::int16_t> DecodeAdpcm(Bytes data, std::size_t maxSamples)
{
    // Step multipliers (/256) and signed differences (/8 of the step) by nibble.
    static const int kScale[8] = {230, 230, 230, 230, 307, 409, 512, 614};
    std::vector<std::int16_t> out;
    out.reserve(std::min(maxSamples, data.size() * 2));
    int value = 0;
    int step = 127;
    auto expand = [&](int nibble) {
        const int magnitude = nibble & 7;
        const int diff = step * (2 * magnitude + 1) / 8;
        value = std::clamp(nibble & 8 ? value - diff : value + diff, -32768, 32767);
        step = std::clamp(step * kScale[magnitude] >> 8, 127, 24576);
        out.push_back(std::int16_t(value));
    };
    for (std::uint8_t b : data) {
        if (out.size() + 2 > maxSamples)
            break;
        expand(b & 0x0F);
        expand(b >> 4);
    }
    return out;
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
                if (in.byte(len) && in.skip(len))
                    continue;
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
        case 0x1: sink.setDrum(ch, v >= 0x80); break;
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
                if (v == 0x7D)
                    sink.setDrum(ch, true);
                else if (v == 0x7C || v == 0)
                    sink.setDrum(ch, false);
                break;
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
                ok = in.varLen(len) && in.skip(len);
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
            setup.drum[c] = (body[4 + c] >> 6) == 1;
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
    for (const Chunk& c : walk.chunks)
        if (IdIs(c, "Mtsq")) {
            seq = &c;
            break;
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
    sequences.push_back(std::move(result));
}

// An audio track: its first wave chunk plays from the start of the song. (The track's own
// sequence, which could place waves later, is not read.)
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
    if (!rate || ((waveType >> 4) & 7) != 1) {
        warn("wave type " + Hex2(waveType) + " is not 4-bit ADPCM at a known rate");
        return;
    }
    if (waveType & 0x80)
        warn("stereo audio played as mono");
    ChunkWalk walk = WalkChunks(body.subspan(6));
    if (walk.damaged)
        warn("sub-chunk runs past the end of the track; the rest is skipped");
    for (const Chunk& c : walk.chunks) {
        if (!IdIs(c, "Awa", 3))
            continue;
        Recording r;
        r.sampleRate = *rate;
        r.pcm = DecodeAdpcm(c.body, std::size_t(kMaxSongMs / 1000) * *rate);
        if (r.pcm.empty())
            continue;
        ++song.audioTracks;
        song.recordings.push_back(std::move(r));
        return;
    }
    warn("no wave data");
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
    for (const Recording& r : song.recordings)
        song.lengthMs = std::max(song.lengthMs,
                                 std::uint32_t(r.timeMs + std::uint64_t(r.pcm.size()) * 1000 / r.sampleRate));

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
    std::stable_sort(song.events.begin(), song.events.end(),
                     [](const Event& a, const Event& b) { return a.timeMs < b.timeMs; });
    return song;
}

} // namespace smaf
