// A recording in which the library's allocations start failing after the Nth,
// N taken from the input: C++ allocations throw (or give NULL), av_malloc
// gives NULL. Whatever fails, nothing may crash or leak. The rest of the input
// is device audio, written beside the video.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include <recmux/recmux_writer.h>

namespace {

// Negative while allocations are not counted.
long g_left = -1;

bool Refuse()
{
    if (g_left <= 0)
        return g_left == 0;
    g_left--;
    return false;
}

void *Allocate(size_t size)
{
    if (Refuse())
        return nullptr;
    return malloc(size ? size : 1);
}

const uint8_t kKeyFrame[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33, 0xff};

int Discard(void *, uint8_t *, int size)
{
    return size;
}

}  // namespace

void *operator new(size_t size)
{
    if (void *memory = Allocate(size))
        return memory;
    throw std::bad_alloc();
}
void *operator new[](size_t size)
{
    return operator new(size);
}
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return Allocate(size);
}
void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    return Allocate(size);
}
void operator delete(void *memory) noexcept
{
    free(memory);
}
void operator delete[](void *memory) noexcept
{
    free(memory);
}
void operator delete(void *memory, size_t) noexcept
{
    free(memory);
}
void operator delete[](void *memory, size_t) noexcept
{
    free(memory);
}
void operator delete(void *memory, const std::nothrow_t &) noexcept
{
    free(memory);
}
void operator delete[](void *memory, const std::nothrow_t &) noexcept
{
    free(memory);
}

// FFmpeg's allocations from anywhere in the process come here.
extern "C" __attribute__((visibility("default"))) void *av_malloc(size_t size)
{
    void *memory = nullptr;
    if (Refuse() || size > INT32_MAX || posix_memalign(&memory, 64, size ? size : 1) != 0)
        return nullptr;
    return memory;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    g_left = data[0] << 8 | data[1];
    recmux_writer *writer = recmux_writer_open_and_set_callback(nullptr, Discard);
    if (writer) {
        recmux_writer_init_video(writer, 264, 64, 64, 0);
        recmux_writer_init_audio(writer, RECMUX_AUDIO_G711_ALAW, 1, 16000, 16);
        for (uint64_t i = 0; i < 40; i++) {
            const uint64_t pts = 1000000 + i * 40000;
            recmux_writer_write_video(writer, kKeyFrame, sizeof kKeyFrame, pts, 1);
            const size_t at = 2 + i * 16;
            if (at < size)
                recmux_writer_write_audio(writer, data + at,
                                          static_cast<uint32_t>(size - at < 16 ? size - at : 16),
                                          pts);
        }
        // A close that ran out of memory keeps the handle: it must close once memory is back.
        if (recmux_writer_close(&writer) != 0 && writer) {
            g_left = -1;
            recmux_writer_close(&writer);
        }
    }
    g_left = -1;
    return 0;
}
