// The exported recorder functions: a handle check, one forwarded call, and a
// catch so that no exception reaches a C caller.
#include <cstring>

#include "api/export_glue.h"
#include "platform/text_codepage.h"
#include <recmux/recmux_writer.h>
#include "recorder/CMP4Writer.h"

using recmux::CMP4Writer;
using recmux::IWriter;

namespace {

template <typename Operation>
int32_t Forward(recmux_writer *writer, Operation operation) noexcept
{
    return recmux::api::Forward<IWriter>(writer, operation);
}

template <typename OpenOperation>
recmux_writer *Create(OpenOperation open) noexcept
{
    return recmux::api::Create<CMP4Writer, IWriter, recmux_writer>(open);
}

bool HasMp4Extension(const char *path)
{
    const char *dot = std::strrchr(path, '.');
    return dot && recmux::platform::AsciiCaseCompare(dot, ".mp4") == 0;
}

}  // namespace

extern "C" {

RECMUX_API recmux_writer *recmux_writer_open(const char *path)
{
    if (!path || !HasMp4Extension(path))
        return nullptr;
    return Create([path](IWriter &writer) { return writer.Open(path); });
}

RECMUX_API recmux_writer *recmux_writer_open_and_set_callback(void *opaque,
                                                              recmux_write_callback write)
{
    return Create([=](IWriter &writer) { return writer.OpenWithCallback(opaque, write); });
}

RECMUX_API int32_t recmux_writer_is_open(recmux_writer *writer)
{
    return Forward(writer, [](IWriter &w) { return w.IsOpen(); });
}

RECMUX_API int32_t recmux_writer_set_file_type(recmux_writer *writer, int32_t type)
{
    return Forward(writer, [=](IWriter &w) { return w.SetFileType(type); });
}

RECMUX_API int32_t recmux_writer_set_msg_notify(recmux_writer *writer, void *user,
                                                MsgNotifyCallback notify)
{
    return Forward(writer, [=](IWriter &w) { return w.SetMsgNotify(user, notify); });
}

RECMUX_API int32_t recmux_writer_init_video(recmux_writer *writer, int32_t codec, int32_t width,
                                            int32_t height, int32_t reserved)
{
    return Forward(writer, [=](IWriter &w) { return w.InitVideo(codec, width, height, reserved); });
}

RECMUX_API int32_t recmux_writer_init_audio(recmux_writer *writer, int32_t audio_type,
                                            int32_t channels, int32_t sample_rate,
                                            int32_t bits_per_sample)
{
    return Forward(writer, [=](IWriter &w) {
        return w.InitAudio(audio_type, channels, sample_rate, bits_per_sample);
    });
}

RECMUX_API int32_t recmux_writer_write_video(recmux_writer *writer, const uint8_t *data,
                                             uint32_t size, uint64_t pts, int32_t key)
{
    return Forward(writer, [=](IWriter &w) { return w.WriteVideo(data, size, pts, key); });
}

RECMUX_API int32_t recmux_writer_write_audio(recmux_writer *writer, const uint8_t *data,
                                             uint32_t size, uint64_t pts)
{
    return Forward(writer, [=](IWriter &w) { return w.WriteAudio(data, size, pts); });
}

RECMUX_API int32_t recmux_writer_write_frame(recmux_writer *writer, int32_t media_type,
                                             const uint8_t *data, uint32_t size, uint64_t pts,
                                             int32_t key)
{
    return Forward(writer, [=](IWriter &w) {
        switch (media_type) {
        case 0:
            return w.WriteVideo(data, size, pts, key);
        case 1:
            return w.WriteAudio(data, size, pts);
        default:
            return false;
        }
    });
}

RECMUX_API int32_t recmux_writer_get_begin_pts(recmux_writer *writer, uint64_t *pts)
{
    return Forward(writer, [=](IWriter &w) { return w.GetBeginPts(pts); });
}

RECMUX_API int32_t recmux_writer_get_end_pts(recmux_writer *writer, uint64_t *pts)
{
    return Forward(writer, [=](IWriter &w) { return w.GetEndPts(pts); });
}

RECMUX_API int32_t recmux_writer_close(recmux_writer **writer)
{
    if (!writer || !*writer)
        return 1;
    auto *object = reinterpret_cast<IWriter *>(*writer);
    try {
        if (!object->Close())
            return 1;
        // A failed recording still frees the recorder: the caller has nothing left to retry.
        const bool kept = object->Kept();
        delete object;
        *writer = nullptr;
        return kept ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

}  // extern "C"
