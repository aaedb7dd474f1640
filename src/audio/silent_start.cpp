// Until the caller's first sound comes, a fragmented recording's audio track
// carries silence: a browser plays a fragmented stream only as far as every
// track reaches, and the muxer writes no moov before every track has a sample.
#include <vector>

#include "recorder/CMP4Writer.h"

namespace recmux {
namespace {

// Sound that arrives this much after its picture still finds its place free.
constexpr int64_t kSilenceLagTicks = FrameTimeline::kTicksPerSecond / 4;

}  // namespace

void CMP4Writer::FillSilenceUntilSound()
{
    if (soundArrived_ || !IsFragmented() || audioStopped_ || !audioFifo_ || !audioEncoder_)
        return;
    const int n = audioEncoder_->frame_size;
    const int64_t due_ticks = VideoEndTicks() - kSilenceLagTicks;
    if (n <= 0 || due_ticks <= 0)
        return;
    const int64_t due = av_rescale(due_ticks, audioEncoder_->sample_rate, FrameTimeline::kTicksPerSecond);
    const std::vector<uint8_t> silence(static_cast<size_t>(n) * 2, 0);
    while (audioNextSample_ + n <= due) {
        if (!AppendToFifo(silence.data(), n))
            return;
    }
}

}  // namespace recmux
