#include "audio/device_audio.h"

#include <cstring>

#include <recmux/recmux_writer.h>

namespace recmux {
namespace {

constexpr uint32_t kHeaderBytes = ZK_VOICE_FRAME_HEADER_BYTES;
// A headerless chunk travels as a frame of 160 words.
constexpr uint8_t kChunkHeader[kHeaderBytes] = {0x00, 0x01, 0xA0, 0x00};

// The block length when the buffer is a run of voice frames, else 0. Later blocks
// are told apart by their markers only; their own length bytes are not compared.
uint32_t RunBlockBytes(const uint8_t *data, uint32_t size)
{
    if (size < kHeaderBytes || data[0] != 0x00 || data[1] != 0x01 || data[2] == 0)
        return 0;
    const uint32_t blockBytes = kHeaderBytes + 2u * data[2];
    if (size % blockBytes != 0)
        return 0;
    for (uint32_t at = blockBytes; at < size; at += blockBytes) {
        if (data[at] != 0x00 || data[at + 1] != 0x01)
            return 0;
    }
    return blockBytes;
}

}  // namespace

int32_t DeviceAudio::Reset(int32_t audioTypeCode)
{
    const int32_t code = audioTypeCode == RECMUX_AUDIO_G711_ALAW   ? RECMUX_AUDIO_G711_ALAW_ALT
                         : audioTypeCode == RECMUX_AUDIO_G711_ULAW ? RECMUX_AUDIO_G711_ULAW_ALT
                                                                   : audioTypeCode;
    const int32_t result = decoder_.Reset(code);
    // Bytes carried under the previous codec mean nothing to the new one.
    if (result)
        carried_ = 0;
    return result;
}

bool DeviceAudio::IsReady()
{
    return decoder_.IsReady() != 0;
}

bool DeviceAudio::DecodeBuffer(const uint8_t *data, uint32_t size, const Sink &sink)
{
    if (!decoder_.IsReady() || !data)
        return false;
    const uint32_t blockBytes = RunBlockBytes(data, size);
    return blockBytes ? DecodeRun(data, size, blockBytes, sink) : DecodeHeaderless(data, size, sink);
}

bool DeviceAudio::DecodeRun(const uint8_t *data, uint32_t size, uint32_t blockBytes,
                            const Sink &sink)
{
    bool reached = false;
    for (uint32_t at = 0; at < size; at += blockBytes) {
        std::memcpy(block_, data + at, blockBytes);
        reached |= DecodeBlock(blockBytes, sink);
    }
    return reached;
}

bool DeviceAudio::DecodeHeaderless(const uint8_t *data, uint32_t size, const Sink &sink)
{
    bool reached = false;
    while (size >= kChunkBytes - carried_) {
        const uint32_t take = kChunkBytes - carried_;
        std::memcpy(block_, kChunkHeader, kHeaderBytes);
        std::memcpy(block_ + kHeaderBytes, carry_, carried_);
        std::memcpy(block_ + kHeaderBytes + carried_, data, take);
        carried_ = 0;
        data += take;
        size -= take;
        reached |= DecodeBlock(kHeaderBytes + kChunkBytes, sink);
    }
    if (size > 0) {
        std::memcpy(carry_ + carried_, data, size);
        carried_ += size;
    }
    return reached;
}

bool DeviceAudio::DecodeBlock(uint32_t blockBytes, const Sink &sink)
{
    uint16_t samples = 0;
    if (decoder_.Decode(block_, static_cast<int32_t>(blockBytes), pcm_, &samples))
        return sink(reinterpret_cast<const uint8_t *>(pcm_), 2 * samples);
    // The codec rejects a frame before it touches it, so the payload is still as it came.
    return sink(block_ + kHeaderBytes, static_cast<int32_t>(blockBytes - kHeaderBytes));
}

}  // namespace recmux
