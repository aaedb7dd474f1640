// Shared helpers of the voice tests: the test signal, the G.191 files and
// whole-stream encoding and decoding through the exported API.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <recmux/zk_voice.h>

namespace voice_test {

using Frame = std::vector<uint8_t>;

// A deterministic speech-like signal: voiced and unvoiced stretches, exact
// silence and clipped overload, n samples at 8 kHz.
const std::vector<int16_t> &speech_signal();

// Reads a G.191 file of 16-bit little-endian words below the test data directory.
std::vector<uint16_t> read_words(const std::string &relative_path);

// Encodes pcm in frames of frame_samples (the last one zero-padded) from a fresh encoder.
std::vector<Frame> encode_stream(int16_t codec, const std::vector<int16_t> &pcm,
                                 unsigned frame_samples);

// Decodes copies of frames from a fresh decoder and concatenates the samples.
std::vector<int16_t> decode_stream(int16_t codec, const std::vector<Frame> &frames);

// Payload bytes of an encoded frame.
std::vector<uint8_t> payload_of(const Frame &frame);

double snr_db(const std::vector<int16_t> &reference, const std::vector<int16_t> &decoded);

// Fills with values from a fixed pseudo-random sequence.
void fill_random(std::vector<uint8_t> &bytes, uint32_t seed);

} // namespace voice_test
