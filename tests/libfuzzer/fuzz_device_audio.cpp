// Device audio through recmux_writer_write_audio. Byte 0 picks the audio type
// code (every code, and one of no codec), byte 1 the device rate; then each
// buffer is a length byte and its bytes, written beside a video frame every
// 40 ms so that the output opens and the sound is decoded, resampled and encoded.
#include <cstddef>
#include <cstdint>

#include <recmux/recmux_writer.h>

namespace {

const int32_t kTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 12};
const int32_t kRates[] = {8000, 16000, 11025, 1000, 48000, 192000, 0, 44100};
// An IDR slice header: with a size given at init it is taken as it is.
const uint8_t kKeyFrame[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33, 0xff};

int Discard(void *, uint8_t *, int size)
{
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, Discard);
    if (!writer)
        return 0;
    recmux_writer_init_video(writer, 264, 64, 64, 0);
    recmux_writer_init_audio(writer, kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])], 1,
                             kRates[data[1] % (sizeof kRates / sizeof kRates[0])], 16);
    uint64_t pts = 1000000;
    for (size_t at = 2; at < size; pts += 40000) {
        recmux_writer_write_video(writer, kKeyFrame, sizeof kKeyFrame, pts, 1);
        const size_t length = data[at++] * 4u;
        const size_t taken = length < size - at ? length : size - at;
        recmux_writer_write_audio(writer, data + at, static_cast<uint32_t>(taken), pts);
        at += taken;
    }
    recmux_writer_close(&writer);
    return 0;
}
