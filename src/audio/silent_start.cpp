// Until the caller's first sound comes, a fragmented recording's audio track
// carries silence: a browser plays a fragmented stream only as far as every
// track reaches, and the muxer writes no moov before every track has a sample.
#include "audio/audio_track.h"

namespace recmux {
namespace {

// Sound that arrives this much after its picture still finds its place free.
constexpr AVRational kSilenceLag{1, 4};

}  // namespace

void AudioTrack::FillSilenceUntilSound(int64_t video_end, AVRational time_base)
{
    if (soundArrived_ || stopped_ || !fifo_ || !encoder_)
        return;
    const int n = encoder_->frame_size;
    const int64_t due_end = video_end - av_rescale_q(1, kSilenceLag, time_base);
    if (n <= 0 || due_end <= 0)
        return;
    const int64_t due = av_rescale_q(due_end, time_base, encoder_->time_base);
    // Whole encoder frames only.
    if (due >= nextSample_ + n)
        AppendSilence((due - nextSample_) / n * n);
}

}  // namespace recmux
