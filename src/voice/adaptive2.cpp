#include "adaptive2.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace recmux::voice {

namespace {

// Indexed by the code I: 0 positive small, 1 positive large, 2 negative large, 3 negative small.
const int16_t reconstruction[4] = {116, 365, 365, 116};
const int16_t rate_change[4] = {0, 7, 7, 0}; // F
const int16_t multiplier[4] = {-22, 439, 439, -22}; // W

constexpr int decision_level = 261;
constexpr int yu_min = 544;
constexpr int yu_max = 5120;
constexpr int a2_limit = 12288;
constexpr int tone_a2 = -11776;

// Results the codec keeps at 16 bits wrap, as its reference arithmetic does.
int16_t to16(int64_t v)
{
    return static_cast<int16_t>(v);
}

int sign_of(int v)
{
    return (v > 0) - (v < 0);
}

// m is a magnitude 0..32768; 0 and 32768 (the magnitude of -32768 read as 16-bit) give -128.
int log_level(int m)
{
    if (m == 0 || m > 32767)
        return -128;
    const int k = std::bit_width(static_cast<unsigned>(m)) - 1;
    const int mantissa = k <= 7 ? m << (7 - k) : m >> (k - 7);
    return 128 * k + mantissa - 128;
}

// A record from reset stays within levels 252..1645; only a corrupted one gets further,
// and the limit keeps its shift defined.
int antilog(int level)
{
    level = std::clamp(level, 0, 14 * 128 + 127);
    return (((level & 127) + 128) << 7) >> (14 - (level >> 7));
}

struct Prediction {
    int32_t sez;
    int32_t se;
    int16_t y;
};

// The prediction and scale factor, alike in both directions. Sums run at 64 bits and
// are cut to the codec's 32, so that a corrupted record cannot overflow them.
Prediction predict(const Adaptive2 &s)
{
    int64_t sez = 0;
    for (int i = 0; i < 6; ++i)
        sez += s.b[i] * s.dq[i];
    Prediction p;
    p.sez = static_cast<int32_t>(sez);
    p.se = static_cast<int32_t>(int64_t{p.sez} + s.a1 * s.sr1 + s.a2 * s.sr2);
    const int al = s.ap >= 256 ? 64 : s.ap >> 2;
    p.y = to16((int64_t{to16(s.yu - (s.yl >> 6))} * al + s.yl) >> 6);
    return p;
}

// Pole predictor and tone flag; returns A2n, the new A2 before a transition zeroes it.
int update_poles(Adaptive2 &s, int16_t old_p1, int16_t old_p2, int s0, bool tr)
{
    const int fa1 = std::clamp<int>(s.a1, -8192, 8192);
    const int c = old_p2 < 0 ? -4096 : 4096;
    const int t = old_p1 < 0 ? c + fa1 : c - fa1;
    const int a2n = std::clamp<int>(to16(((t * s0) >> 5) - (s.a2 >> 7) + s.a2), -a2_limit, a2_limit);
    const int u = (old_p1 < 0 ? -192 : 192) * s0;
    const int lim = 15360 - a2n;
    const int a1n = std::clamp<int>(to16(u - (s.a1 >> 8) + s.a1), -lim, lim);
    s.a2 = to16(tr ? 0 : a2n);
    s.a1 = to16(tr ? 0 : a1n);
    s.td = tr ? 0 : a2n < tone_a2;
    return a2n;
}

// Speed control, on the new DMS and DML.
void update_speed(Adaptive2 &s, int16_t y, int a2n, bool tr)
{
    const bool steady = std::abs(4 * s.dms - s.dml) < (s.dml >> 3) && y >= 1536 && a2n >= tone_a2;
    const int ap = s.ap - (s.ap >> 4);
    s.ap = tr ? 256 : to16(steady ? ap : ap + 32);
}

// Zero predictor and difference history.
void update_zeros(Adaptive2 &s, int16_t dq, bool tr)
{
    const int g = 64 * sign_of(dq);
    for (int i = 0; i < 6; ++i)
        s.b[i] = tr ? 0 : to16(s.b[i] - (s.b[i] >> 8) + (s.dq[i] < 0 ? -g : g));
    std::copy_backward(s.dq, s.dq + 5, s.dq + 6);
    s.dq[0] = dq;
}

// Everything after the choice of code i, alike in both directions; returns R.
int32_t update(Adaptive2 &s, const Prediction &p, unsigned i)
{
    const int16_t dql = to16(reconstruction[i] + (p.y >> 2));
    const int magnitude = antilog(dql);
    const int16_t dq = to16(i < 2 ? magnitude : -magnitude);
    // Against YL and TD as they were before this sample.
    const bool tr = dql * 7147 > s.yl && s.td == 1;

    const int f = rate_change[i];
    s.dms = to16(s.dms + ((f * 512 - s.dms) >> 5));
    s.dml = to16(s.dml + ((f * 2048 - s.dml) >> 7));
    s.yu = to16(std::clamp<int>(to16(p.y + ((multiplier[i] * 32 - p.y) >> 5)), yu_min, yu_max));
    s.yl = static_cast<int32_t>(int64_t{s.yl} + s.yu - (s.yl >> 6));

    const int16_t old_p1 = s.p1;
    const int16_t old_p2 = s.p2;
    s.p2 = s.p1;
    s.p1 = to16((p.sez >> 13) + dq);

    s.sr2 = s.sr1;
    const int32_t r = (p.se >> 13) + dq;
    s.sr1 = to16(r >> 1);

    const int a2n = update_poles(s, old_p1, old_p2, sign_of(s.p1), tr);
    update_speed(s, p.y, a2n, tr);
    update_zeros(s, dq, tr);
    return r;
}

} // namespace

Adaptive2 adaptive2_load(const VoiceAdaptive2State &state)
{
    return {state.sr1, state.sr2, state.a1, state.a2,
            {state.b1, state.b2, state.b3, state.b4, state.b5, state.b6},
            {state.dq1, state.dq2, state.dq3, state.dq4, state.dq5, state.dq6},
            state.dms, state.dml, state.ap, state.yu, state.td, state.p1, state.p2, state.yl};
}

void adaptive2_store(const Adaptive2 &s, VoiceAdaptive2State &state)
{
    state.sr1 = s.sr1;
    state.sr2 = s.sr2;
    state.a1 = s.a1;
    state.a2 = s.a2;
    state.b1 = s.b[0];
    state.b2 = s.b[1];
    state.b3 = s.b[2];
    state.b4 = s.b[3];
    state.b5 = s.b[4];
    state.b6 = s.b[5];
    state.dq1 = s.dq[0];
    state.dq2 = s.dq[1];
    state.dq3 = s.dq[2];
    state.dq4 = s.dq[3];
    state.dq5 = s.dq[4];
    state.dq6 = s.dq[5];
    state.dms = s.dms;
    state.dml = s.dml;
    state.ap = s.ap;
    state.yu = s.yu;
    state.td = s.td;
    state.p1 = s.p1;
    state.p2 = s.p2;
    state.yl = s.yl;
}

Adaptive2Step adaptive2_encode_sample(Adaptive2 &s, int16_t x)
{
    const Prediction p = predict(s);
    // Saturated rather than cut to 16 bits: on overload the cut flipped D's sign and
    // with it the code. The decoder never sees D, so every stream stays decodable.
    const int64_t d = std::clamp<int64_t>((int64_t{x} * 8192 - p.se) >> 13, -32768, 32767);
    const int16_t dln = to16(log_level(static_cast<int>(std::abs(d))) - (p.y >> 2));
    unsigned code = dln >= decision_level ? 1 : 0;
    if (d < 0)
        code = 3 - code;
    return {static_cast<uint8_t>(code), update(s, p, code)};
}

int32_t adaptive2_decode_sample(Adaptive2 &s, unsigned code)
{
    return update(s, predict(s), code & 3);
}

uint16_t adaptive2_pack_word(const uint8_t codes[8])
{
    unsigned word = 0;
    for (int j = 0; j < 8; ++j)
        word = word << 2 | (codes[j] & 3u);
    return static_cast<uint16_t>(word);
}

void adaptive2_unpack_word(uint16_t word, uint8_t codes[8])
{
    for (int j = 0; j < 8; ++j)
        codes[j] = static_cast<uint8_t>(word >> (14 - 2 * j) & 3);
}

void adaptive2_reset(VoiceAdaptive2State &state)
{
    Adaptive2 s{};
    s.sr1 = 16;
    s.sr2 = 16;
    std::fill(s.dq, s.dq + 6, int16_t{32});
    s.yu = yu_min;
    s.yl = 34816;
    adaptive2_store(s, state);
}

unsigned adaptive2_encode(VoiceAdaptive2State &state, const int16_t *pcm, unsigned n,
                          uint8_t *payload)
{
    Adaptive2 s = adaptive2_load(state);
    for (unsigned w = 0; w < n / 8; ++w) {
        uint8_t codes[8];
        for (unsigned j = 0; j < 8; ++j)
            codes[j] = adaptive2_encode_sample(s, pcm[8 * w + j]).code;
        const uint16_t word = adaptive2_pack_word(codes);
        payload[2 * w] = static_cast<uint8_t>(word & 0xFF);
        payload[2 * w + 1] = static_cast<uint8_t>(word >> 8);
    }
    adaptive2_store(s, state);
    return n / 8;
}

void adaptive2_decode(VoiceAdaptive2State &state, const uint8_t *payload, unsigned payload_words,
                      int16_t *pcm)
{
    Adaptive2 s = adaptive2_load(state);
    for (unsigned w = 0; w < payload_words; ++w) {
        uint8_t codes[8];
        adaptive2_unpack_word(static_cast<uint16_t>(payload[2 * w] | payload[2 * w + 1] << 8), codes);
        for (unsigned j = 0; j < 8; ++j) {
            const int32_t r = adaptive2_decode_sample(s, codes[j]);
            pcm[8 * w + j] = static_cast<int16_t>(std::clamp(r, -32768, 32767));
        }
    }
    adaptive2_store(s, state);
}

} // namespace recmux::voice
