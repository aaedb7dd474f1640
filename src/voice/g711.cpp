#include "g711.h"

#include <array>
#include <bit>

namespace recmux::voice {

namespace {

constexpr int16_t alaw_expand(uint8_t code)
{
    const int t = code ^ 0x55;
    const int segment = (t >> 4) & 7;
    const int mantissa = ((t & 15) << 4) + 8;
    const int magnitude = segment == 0 ? mantissa : (mantissa + 0x100) << (segment - 1);
    return static_cast<int16_t>((t & 0x80) ? magnitude : -magnitude);
}

constexpr int16_t ulaw_expand(uint8_t code)
{
    constexpr int bias = 0x84;
    const int u = ~code & 0xFF;
    const int magnitude = ((((u & 15) << 3) + bias) << ((u >> 4) & 7)) - bias;
    return static_cast<int16_t>((u & 0x80) ? -magnitude : magnitude);
}

template <int16_t (*Expand)(uint8_t)>
constexpr std::array<int16_t, 256> expansion_table()
{
    std::array<int16_t, 256> table{};
    for (unsigned code = 0; code < table.size(); ++code)
        table[code] = Expand(static_cast<uint8_t>(code));
    return table;
}

constexpr std::array<int16_t, 256> alaw_table = expansion_table<alaw_expand>();
constexpr std::array<int16_t, 256> ulaw_table = expansion_table<ulaw_expand>();

using Compress = uint8_t (*)(int16_t);

} // namespace

uint8_t g711_linear_to_alaw(int16_t sample)
{
    int v = sample >> 3;
    int mask = 0xD5;
    if (v < 0) {
        mask = 0x55;
        v = -v - 1;
    }
    const int segment = v < 32 ? 0 : std::bit_width(static_cast<unsigned>(v)) - 5;
    const int shift = segment < 2 ? 1 : segment;
    return static_cast<uint8_t>(((segment << 4) | ((v >> shift) & 15)) ^ mask);
}

uint8_t g711_linear_to_ulaw(int16_t sample)
{
    constexpr int bias = 33;
    constexpr int biased_max = 8192;
    int v = sample >> 2;
    int mask = 0xFF;
    if (v < 0) {
        mask = 0x7F;
        v = -v;
    }
    v += bias;
    if (v >= biased_max)
        return static_cast<uint8_t>(0x7F ^ mask);
    const int segment = std::bit_width(static_cast<unsigned>(v)) - 6;
    return static_cast<uint8_t>(((segment << 4) | ((v >> (segment + 1)) & 15)) ^ mask);
}

int16_t g711_alaw_to_linear(uint8_t code)
{
    return alaw_table[code];
}

int16_t g711_ulaw_to_linear(uint8_t code)
{
    return ulaw_table[code];
}

unsigned g711_encode(G711Law law, bool swapped, const int16_t *pcm, unsigned n, uint8_t *payload)
{
    const Compress compress = law == G711Law::alaw ? g711_linear_to_alaw : g711_linear_to_ulaw;
    const unsigned first = swapped ? 1 : 0;
    for (unsigned k = 0; k < n; k += 2) {
        payload[k + first] = compress(pcm[k]);
        payload[k + 1 - first] = compress(pcm[k + 1]);
    }
    return n / 2;
}

void g711_decode(G711Law law, bool swapped, const uint8_t *payload, unsigned n, int16_t *pcm)
{
    const int16_t *table = law == G711Law::alaw ? alaw_table.data() : ulaw_table.data();
    const unsigned first = swapped ? 1 : 0;
    for (unsigned k = 0; k < n; k += 2) {
        pcm[k] = table[payload[k + first]];
        pcm[k + 1] = table[payload[k + 1 - first]];
    }
}

} // namespace recmux::voice
