// The exported reader functions: a handle check, one forwarded call, and a
// catch so that no exception reaches a C caller.
#include "api/export_glue.h"
#include "reader/CMP4Reader.h"
#include <recmux/recmux_reader.h>

using recmux::CMP4Reader;
using recmux::IReader;

namespace {

template <typename Operation>
int32_t Forward(recmux_reader *reader, Operation operation) noexcept
{
    return recmux::api::Forward<IReader>(reader, operation);
}

}  // namespace

extern "C" {

RECMUX_API recmux_reader *recmux_reader_open(const char *path)
{
    return recmux::api::Create<CMP4Reader, IReader, recmux_reader>(
        [path](IReader &reader) { return reader.Open(path); });
}

RECMUX_API int32_t recmux_reader_is_open(recmux_reader *reader)
{
    return Forward(reader, [](IReader &r) { return r.IsOpen(); });
}

RECMUX_API int32_t recmux_reader_get_fps(recmux_reader *reader, double *fps)
{
    return Forward(reader, [=](IReader &r) { return r.GetFps(fps); });
}

RECMUX_API int32_t recmux_reader_get_duration(recmux_reader *reader, int32_t *ms)
{
    return Forward(reader, [=](IReader &r) { return r.GetDuration(ms); });
}

RECMUX_API int32_t recmux_reader_read_frame(recmux_reader *reader, uint8_t *buffer, int32_t *size,
                                            int64_t *pts, int32_t *media_type, int32_t *key_flag)
{
    return Forward(
        reader, [=](IReader &r) { return r.ReadFrame(buffer, size, pts, media_type, key_flag); });
}

RECMUX_API int32_t recmux_reader_close(recmux_reader **reader)
{
    return recmux::api::CloseAndDestroy<IReader>(reader);
}

}  // extern "C"
