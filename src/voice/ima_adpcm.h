// IMA ADPCM payloads: 4-bit codes over the 89-step table, three block layouts.
#pragma once

#include <cstdint>

#include "voice_codecs.h"
#include <recmux/zk_voice.h>

namespace recmux::voice {

void ima_adpcm_reset(VoiceAdpcmState &state);

// Returns the payload length in words.
unsigned ima_adpcm_encode(AdpcmLayout layout, VoiceAdpcmState &state, const int16_t *pcm,
                          unsigned n, uint8_t *payload);
// payload_words >= 2; writes the samples decoded_count() announced for it.
void ima_adpcm_decode(AdpcmLayout layout, VoiceAdpcmState &state, const uint8_t *payload,
                      unsigned payload_words, int16_t *pcm);

} // namespace recmux::voice
