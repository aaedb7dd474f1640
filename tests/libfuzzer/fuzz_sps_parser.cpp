// GetResulotion and the reorder depth of H.264 and H.265 over arbitrary NAL
// units. Input: the NAL unit without its start code; the fuzzer puts 00 00 00 01
// in front, in a buffer exactly as long as the frame, so that any read past the
// end is caught. A success must be a size the probe can hand on; a failure must
// leave the outputs alone; a depth is one a decoder can have.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "video/reorder_depth.h"
#include "video/sps_parser.h"
#include "platform/library_log.h"

// The debug line of every run would drown the fuzzer's own output.
void recmux::platform::DebugOutput(const char *) {}

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > UINT32_MAX - 4)
        return 0;
    const size_t frame_size = size + 4;
    auto frame = std::make_unique<uint8_t[]>(frame_size);
    const uint8_t start_code[] = {0, 0, 0, 1};
    std::memcpy(frame.get(), start_code, sizeof start_code);
    if (size)
        std::memcpy(frame.get() + 4, data, size);

    const std::vector<uint8_t> sets(frame.get(), frame.get() + frame_size);
    check(recmux::ReorderDepth(AV_CODEC_ID_H264, sets) <= 16 && recmux::ReorderDepth(AV_CODEC_ID_HEVC, sets) <= 16);

    constexpr int32_t untouched = -7;
    int32_t width = untouched, height = untouched, field_coded = untouched;
    if (!recmux::GetResulotion(frame.get(), static_cast<uint32_t>(frame_size), width, height,
                               field_coded)) {
        check(width == untouched && height == untouched && field_coded == untouched);
        return 0;
    }
    check(width >= 16 && width <= 16384 && width % 16 == 0);
    check(height >= 16 && height <= 16384 && height % (field_coded ? 32 : 16) == 0);
    check(field_coded == 0 || field_coded == 1);
    return 0;
}
