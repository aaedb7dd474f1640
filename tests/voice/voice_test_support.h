// Shared helpers of the voice tests: the test signal, the G.191 files and whole
// streams through the exported API.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <recmux/zk_voice.h>

namespace voice_test {

using Frame = std::vector<uint8_t>;

constexpr size_t header_bytes = ZK_VOICE_FRAME_HEADER_BYTES;

// Deterministic speech-like signal at 8 kHz: voiced and unvoiced stretches, exact
// silence and clipped overload.
const std::vector<int16_t> &speech_signal();

// A G.191 file of 16-bit little-endian words below the test data directory.
std::vector<uint16_t> read_words(const std::string &relative_path);

// Runs on the state before each frame, so that a test can scribble on it.
using Hook = std::function<void(VoiceCodecState &)>;
inline const Hook no_hook = [](VoiceCodecState &) {};

// pcm in frames of frame_samples (the last one zero-padded) from a fresh encoder.
std::vector<Frame> encode_stream(int16_t codec, const std::vector<int16_t> &pcm, unsigned frame_samples,
                                 const Hook &hook = no_hook);

// Copies of frames through a fresh decoder, the samples concatenated.
std::vector<int16_t> decode_stream(int16_t codec, const std::vector<Frame> &frames, const Hook &hook = no_hook);

std::vector<uint8_t> payloads(const std::vector<Frame> &frames);

// A frame with that header byte 1 and length, its payload pseudo-random from seed.
Frame random_frame(uint8_t byte1, uint8_t words, uint32_t seed);

double snr_db(const std::vector<int16_t> &reference, const std::vector<int16_t> &decoded);

} // namespace voice_test
