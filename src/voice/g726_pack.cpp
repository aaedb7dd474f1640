#include "g726_pack.h"

namespace recmux::voice {

namespace {

// LSB-first: code k at bits k*b of the little-endian group value.
// MSB-first: code k at the top of the big-endian group value, code 0 highest.
uint64_t load_group(const uint8_t *in, unsigned bits, bool big_endian)
{
    uint64_t v = 0;
    for (unsigned i = 0; i < bits; ++i) {
        const unsigned shift = big_endian ? 8 * (bits - 1 - i) : 8 * i;
        v |= static_cast<uint64_t>(in[i]) << shift;
    }
    return v;
}

void store_group(uint64_t v, unsigned bits, bool big_endian, uint8_t *out)
{
    for (unsigned i = 0; i < bits; ++i) {
        const unsigned shift = big_endian ? 8 * (bits - 1 - i) : 8 * i;
        out[i] = static_cast<uint8_t>(v >> shift);
    }
}

unsigned code_shift(unsigned k, unsigned bits, bool msb_first)
{
    return msb_first ? bits * (g726_group_codes - 1 - k) : bits * k;
}

} // namespace

void g726_pack_group(const uint8_t *codes, unsigned bits, bool msb_first, uint8_t *out)
{
    uint64_t v = 0;
    for (unsigned k = 0; k < g726_group_codes; ++k)
        v |= static_cast<uint64_t>(codes[k]) << code_shift(k, bits, msb_first);
    store_group(v, bits, msb_first, out);
}

void g726_unpack_group(const uint8_t *in, unsigned bits, bool msb_first, uint8_t *codes)
{
    const uint64_t v = load_group(in, bits, msb_first);
    const uint64_t mask = (1u << bits) - 1;
    for (unsigned k = 0; k < g726_group_codes; ++k)
        codes[k] = static_cast<uint8_t>((v >> code_shift(k, bits, msb_first)) & mask);
}

void g726_repack(uint8_t *payload, unsigned bytes, unsigned bits, bool to_msb_first)
{
    uint8_t codes[g726_group_codes];
    for (unsigned at = 0; at + bits <= bytes; at += bits) {
        g726_unpack_group(payload + at, bits, !to_msb_first, codes);
        g726_pack_group(codes, bits, to_msb_first, payload + at);
    }
}

} // namespace recmux::voice
