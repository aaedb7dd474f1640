// G.726 payloads: 16, 24, 32 and 40 kbit/s in either bit packing.
#pragma once

#include <cstdint>

#include <recmux/zk_voice.h>

namespace recmux::voice {

void g726_reset(VoiceG726State &state, unsigned bits);

// n is a multiple of 8, at most 480. Returns the payload length in words.
unsigned g726_encode(VoiceG726State &state, unsigned bits, bool msb_first, const int16_t *pcm,
                     unsigned n, uint8_t *payload);

// Decodes the 16 * payload_words / bits codes; an MSB-first payload is first
// repacked in place. 2 * payload_words is a multiple of bits; at most 480 codes.
void g726_decode(VoiceG726State &state, unsigned bits, bool msb_first, uint8_t *payload,
                 unsigned payload_words, int16_t *pcm);

} // namespace recmux::voice
