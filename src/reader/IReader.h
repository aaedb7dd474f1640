#pragma once

#include <cstdint>

namespace recmux {

// The reader as the exported functions see it; the order of the operations
// is the order of the slots.
struct IReader {
    virtual ~IReader() {}
    virtual bool Open(const char *path) = 0;
    virtual bool IsOpen() = 0;
    virtual bool Close() = 0;
    virtual bool GetFps(double *fps) = 0;
    virtual bool GetDuration(int32_t *ms) = 0;
    virtual bool ReadFrame(uint8_t *buffer, int32_t *size, int64_t *pts, int32_t *mediaType,
                           int32_t *keyFlag) = 0;
};

}  // namespace recmux
