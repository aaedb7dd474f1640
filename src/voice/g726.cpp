#include "g726.h"

#include <cstddef>
#include <cstring>

#include "g726_core.h"
#include "g726_pack.h"

namespace recmux::voice {

namespace {

constexpr unsigned max_codes = 480;
constexpr size_t vars_offset = offsetof(VoiceG726State, a);
static_assert(sizeof(VoiceG726State) == 102);
static_assert(offsetof(VoiceG726State, output_width) == vars_offset + sizeof(G726Vars));

// The record is packed, so the loop works on an aligned copy.
G726Vars load(const VoiceG726State &state)
{
    G726Vars s;
    std::memcpy(&s, reinterpret_cast<const unsigned char *>(&state) + vars_offset, sizeof s);
    return s;
}

void store(const G726Vars &s, VoiceG726State &state)
{
    std::memcpy(reinterpret_cast<unsigned char *>(&state) + vars_offset, &s, sizeof s);
}

} // namespace

void g726_reset(VoiceG726State &state, unsigned bits)
{
    G726Vars s;
    g726_vars_reset(s);
    store(s, state);
    state.bits = static_cast<uint16_t>(bits);
    state.output_width = 2;
}

unsigned g726_encode(VoiceG726State &state, unsigned bits, bool msb_first, const int16_t *pcm,
                     unsigned n, uint8_t *payload)
{
    uint8_t codes[max_codes];
    G726Vars s = load(state);
    g726_encode_codes(s, bits, pcm, n, codes);
    store(s, state);
    for (unsigned k = 0; k < n; k += g726_group_codes) {
        g726_pack_group(codes + k, bits, msb_first, payload);
        payload += bits;
    }
    return n * bits / 16;
}

void g726_decode(VoiceG726State &state, unsigned bits, bool msb_first, uint8_t *payload,
                 unsigned payload_words, int16_t *pcm)
{
    const unsigned bytes = payload_words * 2;
    if (msb_first)
        g726_repack(payload, bytes, bits, false);
    uint8_t codes[max_codes];
    unsigned n = 0;
    for (unsigned at = 0; at + bits <= bytes && n < max_codes; at += bits, n += g726_group_codes)
        g726_unpack_group(payload + at, bits, false, codes + n);
    G726Vars s = load(state);
    g726_decode_codes(s, bits, codes, n, pcm);
    store(s, state);
}

} // namespace recmux::voice
