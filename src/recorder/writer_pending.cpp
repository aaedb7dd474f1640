// Operations whose recorder side is not built yet: each reports failure.
#include "recorder/CMP4Writer.h"

namespace recmux {

// TODO(#4): video intake, output set-up and the interleaving writer.
bool CMP4Writer::InitVideo(int32_t, int32_t, int32_t, int32_t)
{
    return false;
}

bool CMP4Writer::WriteVideo(const uint8_t *, uint32_t, uint64_t, int32_t)
{
    return false;
}

bool CMP4Writer::EnsureOutputOpen()
{
    return headerWritten_;
}

bool CMP4Writer::WriteInterleaved(uint32_t)
{
    return false;
}

// TODO(#7): audio intake and the AAC pipeline.
bool CMP4Writer::InitAudio(int32_t, int32_t, int32_t, int32_t)
{
    return false;
}

bool CMP4Writer::WriteAudio(const uint8_t *, uint32_t, uint64_t)
{
    return false;
}

bool CMP4Writer::WriteAudioPacket(const uint8_t *, int32_t)
{
    return false;
}

}  // namespace recmux
