// Operations whose recorder side is not built yet: each reports failure.
#include "recorder/CMP4Writer.h"

namespace recmux {

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
