// G.711 A-law and mu-law payloads: one code byte per sample.
#pragma once

#include <cstdint>

#include "voice_codecs.h"

namespace recmux::voice {

uint8_t g711_linear_to_alaw(int16_t sample);
uint8_t g711_linear_to_ulaw(int16_t sample);
int16_t g711_alaw_to_linear(uint8_t code);
int16_t g711_ulaw_to_linear(uint8_t code);

// n is even. Returns the payload length in words.
unsigned g711_encode(G711Law law, bool swapped, const int16_t *pcm, unsigned n, uint8_t *payload);
void g711_decode(G711Law law, bool swapped, const uint8_t *payload, unsigned n, int16_t *pcm);

} // namespace recmux::voice
