#pragma once

#include <cstdint>

#include <recmux/recmux_writer.h>

namespace recmux {

// The recorder as the exported functions see it; the order of the operations
// is the order of the slots.
struct IWriter {
    virtual ~IWriter() {}
    virtual bool Open(const char *path) = 0;
    virtual bool OpenWithCallback(void *opaque, recmux_write_callback write) = 0;
    virtual bool IsOpen() = 0;
    virtual bool Close() = 0;
    virtual bool SetFileType(int32_t type) = 0;
    virtual bool InitVideo(int32_t codec, int32_t width, int32_t height, int32_t reserved) = 0;
    virtual bool InitAudio(int32_t audio_type, int32_t channels, int32_t sample_rate,
                           int32_t bits_per_sample) = 0;
    virtual bool WriteVideo(const uint8_t *data, uint32_t size, uint64_t pts, int32_t key) = 0;
    virtual bool WriteAudio(const uint8_t *data, uint32_t size, uint64_t pts) = 0;
    virtual bool SetMsgNotify(void *user, MsgNotifyCallback notify) = 0;
    virtual bool GetBeginPts(uint64_t *pts) = 0;
    virtual bool GetEndPts(uint64_t *pts) = 0;
    // After a Close that returned true: whether the recording reached its output whole.
    virtual bool Kept() = 0;
};

}  // namespace recmux
