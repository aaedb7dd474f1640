#include "recorder/CMP4Writer.h"

namespace recmux {

bool CMP4Writer::ReleaseVideo()
{
    const bool had_context = videoCodecContext_ != nullptr;
    videoPacket_.reset();
    videoCodecContext_.reset();
    return had_context;
}

bool CMP4Writer::ReleaseAudio()
{
    const bool had_encoder = audioEncoder_ != nullptr;
    audioFifo_.reset();
    resampler_.reset();
    rateConverter_.reset();
    audioEncoder_.reset();
    return had_encoder;
}

bool CMP4Writer::CloseOutputIo()
{
    // A buffer not yet handed to an I/O context is still ours.
    ioBuffer_.reset();
    return ReleaseOutputIo(output_.get());
}

}  // namespace recmux
