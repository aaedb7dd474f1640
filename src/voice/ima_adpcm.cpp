#include "ima_adpcm.h"

#include <algorithm>

namespace recmux::voice {

namespace {

constexpr unsigned max_step_index = 88;
constexpr unsigned header_bytes = 4;

const int16_t step_table[max_step_index + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};

const int8_t index_adjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// The working copy keeps the index in range, whatever the caller's record held.
struct Adpcm {
    int predictor;
    int index;
};

Adpcm load(const VoiceAdpcmState &state)
{
    return {state.predictor, std::min<int>(state.step_index, max_step_index)};
}

void store(const Adpcm &adpcm, VoiceAdpcmState &state)
{
    state.predictor = static_cast<int16_t>(adpcm.predictor);
    state.step_index = static_cast<uint16_t>(adpcm.index);
}

void advance(Adpcm &s, int code, int v)
{
    const int predicted = (code & 8) ? s.predictor - v : s.predictor + v;
    s.predictor = std::clamp(predicted, -32768, 32767);
    s.index = std::clamp(s.index + index_adjust[code & 7], 0, static_cast<int>(max_step_index));
}

int encode_sample(Adpcm &s, int x)
{
    const int step = step_table[s.index];
    int d = x - s.predictor;
    int code = 0;
    if (d < 0) {
        code = 8;
        d = -d;
    }
    int v = step >> 3;
    if (d >= step) {
        code |= 4;
        d -= step;
        v += step;
    }
    if (d >= step >> 1) {
        code |= 2;
        d -= step >> 1;
        v += step >> 1;
    }
    if (d >= step >> 2) {
        code |= 1;
        v += step >> 2;
    }
    advance(s, code, v);
    return code;
}

int decode_sample(Adpcm &s, int code)
{
    const int step = step_table[s.index];
    int v = step >> 3;
    if (code & 4)
        v += step;
    if (code & 2)
        v += step >> 1;
    if (code & 1)
        v += step >> 2;
    advance(s, code, v);
    return s.predictor;
}

// An odd count leaves its last sample uncoded; the accepted frame sizes never give one.
void encode_codes(Adpcm &s, const int16_t *pcm, unsigned n, bool low_first, uint8_t *out)
{
    for (unsigned k = 0; k + 1 < n; k += 2) {
        const int first = encode_sample(s, pcm[k]);
        const int second = encode_sample(s, pcm[k + 1]);
        out[k / 2] = static_cast<uint8_t>(low_first ? (second << 4) | first : (first << 4) | second);
    }
}

void decode_codes(Adpcm &s, const uint8_t *in, unsigned bytes, bool low_first, int16_t *pcm)
{
    for (unsigned i = 0; i < bytes; ++i) {
        const int first = low_first ? in[i] & 15 : in[i] >> 4;
        const int second = low_first ? in[i] >> 4 : in[i] & 15;
        pcm[2 * i] = static_cast<int16_t>(decode_sample(s, first));
        pcm[2 * i + 1] = static_cast<int16_t>(decode_sample(s, second));
    }
}

void write_header(const Adpcm &s, uint8_t *payload)
{
    payload[0] = static_cast<uint8_t>(s.predictor & 0xFF);
    payload[1] = static_cast<uint8_t>((s.predictor >> 8) & 0xFF);
    payload[2] = static_cast<uint8_t>(s.index);
    payload[3] = 0;
}

Adpcm read_header(const uint8_t *payload)
{
    const int16_t predictor = static_cast<int16_t>(payload[0] | payload[1] << 8);
    return {predictor, std::min<int>(payload[2], max_step_index)};
}

} // namespace

void ima_adpcm_reset(VoiceAdpcmState &state)
{
    state.predictor = 0;
    state.step_index = 0;
}

unsigned ima_adpcm_encode(AdpcmLayout layout, VoiceAdpcmState &state, const int16_t *pcm,
                          unsigned n, uint8_t *payload)
{
    Adpcm s = load(state);
    unsigned words = 0;
    switch (layout) {
    case AdpcmLayout::dvi_header:
        write_header(s, payload);
        encode_codes(s, pcm, n, false, payload + header_bytes);
        words = n / 4 + 2;
        break;
    case AdpcmLayout::wave_block:
        s.predictor = pcm[0];
        write_header(s, payload);
        encode_codes(s, pcm + 1, n - 1, true, payload + header_bytes);
        words = (n - 1) / 4 + 2;
        break;
    case AdpcmLayout::headerless:
        encode_codes(s, pcm, n, false, payload);
        words = n / 4;
        break;
    }
    store(s, state);
    return words;
}

void ima_adpcm_decode(AdpcmLayout layout, VoiceAdpcmState &state, const uint8_t *payload,
                      unsigned payload_words, int16_t *pcm)
{
    const unsigned header_words = header_bytes / 2;
    Adpcm s = load(state);
    switch (layout) {
    case AdpcmLayout::dvi_header:
        s = read_header(payload);
        decode_codes(s, payload + header_bytes, (payload_words - header_words) * 2, false, pcm);
        break;
    case AdpcmLayout::wave_block:
        s = read_header(payload);
        pcm[0] = static_cast<int16_t>(s.predictor);
        decode_codes(s, payload + header_bytes, (payload_words - header_words) * 2, true, pcm + 1);
        break;
    case AdpcmLayout::headerless:
        decode_codes(s, payload, payload_words * 2, false, pcm);
        break;
    }
    store(s, state);
}

} // namespace recmux::voice
