// Device audio as the recorder receives it: each WriteAudio buffer split into
// voice-codec blocks and decoded through the recorder's CADecZok.
#pragma once

#include <cstdint>
#include <functional>

#include "audio/CADecZok.h"

namespace recmux {

// A buffer is either a run of voice frames of one length, or headerless payload
// taken in 320-byte chunks. The bytes short of a chunk are carried over to the
// next headerless buffer, so a device sending 160-byte packets loses nothing.
// The carry waits through runs of voice frames (they are whole by themselves) and
// is dropped when Reset selects a codec; while the decoder is not ready every
// buffer is discarded whole and nothing is carried.
class DeviceAudio {
public:
    // Receives the PCM of one block, or its payload as it is when it does not decode;
    // true when it took the bytes.
    using Sink = std::function<bool(const uint8_t *pcm, int32_t bytes)>;

    // The recorder's audio type code (6 and 7 reach the decoder as 10 and 11); the decoder's result.
    int32_t Reset(int32_t audioTypeCode);
    bool IsReady();
    // True when at least one block of the buffer reached the sink.
    bool DecodeBuffer(const uint8_t *data, uint32_t size, const Sink &sink);
    uint32_t CarriedBytes() const { return carried_; }

private:
    static constexpr uint32_t kChunkBytes = 320;

    bool DecodeRun(const uint8_t *data, uint32_t size, uint32_t blockBytes, const Sink &sink);
    bool DecodeHeaderless(const uint8_t *data, uint32_t size, const Sink &sink);
    bool DecodeBlock(uint32_t blockBytes, const Sink &sink);

    CADecZok decoder_;
    uint32_t carried_ = 0;
    uint8_t carry_[kChunkBytes];
    // The codec repacks some payloads in place, so every block is decoded from here.
    alignas(2) uint8_t block_[ZK_VOICE_FRAME_MAX_BYTES];
    int16_t pcm_[ZK_VOICE_PCM_MAX];
};

}  // namespace recmux
