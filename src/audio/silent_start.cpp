// Until the caller's first sound comes, a fragmented recording's audio track
// carries silence: a browser plays a fragmented stream only as far as every
// track reaches, and the muxer writes no moov before every track has a sample.
#include "recorder/CMP4Writer.h"

namespace recmux {
namespace {

// Sound that arrives this much after its picture still finds its place free.
constexpr AVRational kSilenceLag{1, 4};

}  // namespace

void CMP4Writer::FillSilenceUntilSound()
{
    if (soundArrived_ || !IsFragmented() || audioStopped_ || !audioFifo_ || !audioEncoder_ ||
        !videoCodecContext_)
        return;
    const int n = audioEncoder_->frame_size;
    const AVRational rate{1, audioEncoder_->sample_rate};
    const int64_t video = static_cast<int64_t>(videoFrameCount_);
    const int64_t lag = av_rescale_q(1, kSilenceLag, videoCodecContext_->time_base);
    if (n <= 0 || video <= lag)
        return;
    const int64_t due = av_rescale_q(video - lag, videoCodecContext_->time_base, rate);
    std::vector<uint8_t> silence;
    while (static_cast<int64_t>(silenceSamples_) + n <= due) {
        silence.resize(static_cast<size_t>(n) * 2, 0);
        if (!AppendToFifo(silence.data(), n))
            return;
        silenceSamples_ += static_cast<uint64_t>(n);
    }
}

}  // namespace recmux
