#include "video/video_intake.h"

#include <algorithm>

#include "video/annexb.h"
#include "video/reorder_depth.h"
#include "video/sps_parser.h"
#include "video/video_codec.h"
#include "video/video_probe.h"

namespace recmux {
namespace {

// Video held while the output is not open (it opens within a second of
// frames, or at this bound with what is known by then).
constexpr uint64_t kMaxHeldVideoBytes = 16u << 20;

}  // namespace

bool VideoIntake::Init(int32_t codec, int32_t width, int32_t height)
{
    if (initialised_)
        return false;
    // A continued recording keeps its file's codec.
    if (!codecSettled_)
        codec_ = codec;
    // With a size the first key frame is not probed: the codec given is the recording's.
    codecSettled_ = codecSettled_ || (width > 0 && height > 0);
    width_ = width;
    height_ = height;
    initialised_ = true;
    return true;
}

void VideoIntake::SettleCodec(int32_t codec, StreamDescription description)
{
    codec_ = codec;
    codecSettled_ = true;
    description_ = std::move(description);
}

bool VideoIntake::Accept(const uint8_t *data, uint32_t size, uint64_t pts, int32_t key,
                         bool output_open)
{
    // An empty sample leaves a fragmented file unreadable; a length-prefixed
    // frame, the usual mistake, holds no start code either.
    if (!HoldsNalUnit(data, size))
        return false;
    // Frames of another codec would ruin the track.
    if (!KeepsRecordingCodec(data, size, key))
        return false;
    if (!output_open && WouldPassHeldBound(size))
        return false;
    if (waitingForKey_ && !AcceptFirstKeyFrame(data, size, key))
        return false;
    FollowPresentationOrder(pts);
    AVFrameInfo frame;
    frame.isKey = key;
    frame.pts = pts;
    frame.data.assign(data, data + size);
    queue_.Push(std::move(frame));
    // Nothing leaves the queue before the header: only then is what it holds counted.
    heldBytes_ = output_open ? 0 : heldBytes_ + size;
    Learn(pts);
    SettleOrder(size);
    return true;
}

// In a stream whose parameter sets allow reordering, a timestamp a little
// behind the latest among the first frames is a B-frame: from then on frames
// are put in presentation order to be learned and stamped. Once the first
// frames have shown none, a timestamp that goes back is the camera's clock
// restarting, and the stream is recorded in the order it comes.
void VideoIntake::FollowPresentationOrder(uint64_t pts)
{
    if (orderKnown_)
        return;
    if (pts < latestPts_ && PresentationOrder::Reordered(latestPts_, pts)) {
        learning_.SetDepth(reorderDepth_);
        decodeTimes_.SetDepth(reorderDepth_);
        timeline_.ForgetIntervals();
    }
    latestPts_ = std::max(latestPts_, pts);
}

// The order is known once a B-frame was seen, or as soon as the output would open without one.
void VideoIntake::SettleOrder(uint32_t size)
{
    if (orderKnown_)
        return;
    unorderedBytes_ += size;
    orderKnown_ = reorderDepth_ == 0 || learning_.Depth() > 0 || timeline_.ReadyToOpen() ||
                  unorderedBytes_ > kMaxHeldVideoBytes;
}

void VideoIntake::Learn(uint64_t pts)
{
    if (learning_.Depth() == 0) {
        timeline_.Learn(pts);
        return;
    }
    const bool flush = !learning_.Fits(pts);
    for (uint64_t shown = 0; flush && learning_.Pop(shown, true);)
        timeline_.Learn(shown);
    learning_.Push(pts);
    for (uint64_t shown = 0; learning_.Pop(shown, false);)
        timeline_.Learn(shown);
}

bool VideoIntake::Next(TimedFrame &frame, bool end_of_stream)
{
    // Reordered frames are stamped once the rate is learned again in their
    // presentation order, as a recording's first frames are.
    if (!end_of_stream && (!orderKnown_ || (learning_.Depth() > 0 && !timeline_.ReadyToOpen())))
        return false;
    if (decodeTimes_.ShownAsDecoded()) {
        if (!queue_.Pop(frame.frame))
            return false;
        decodeTimes_.StampAsDecoded(timeline_, frame);
        return true;
    }
    for (AVFrameInfo queued;;) {
        if (decodeTimes_.Next(timeline_, frame, end_of_stream && queue_.Size() == 0))
            return true;
        if (!queue_.Pop(queued))
            return false;
        decodeTimes_.Push(timeline_, std::move(queued));
    }
}

bool VideoIntake::WouldPassHeldBound(uint32_t size) const
{
    return heldBytes_ + size > kMaxHeldVideoBytes;
}

void VideoIntake::DropQueued()
{
    AVFrameInfo dropped;
    while (queue_.Pop(dropped)) {
    }
    decodeTimes_.Clear();
}

bool VideoIntake::AcceptFirstKeyFrame(const uint8_t *data, uint32_t size, int32_t key)
{
    if (key == 0)
        return false;
    if (!codecSettled_) {
        const AVCodecID named = FrameCodec(data, size);
        codec_ = named == AV_CODEC_ID_NONE ? 0 : VideoCodecValue(named);
    }
    const AVCodecID codec_id = VideoCodecId(codec_);
    // A continued recording is described by its file, whose sample entry the
    // new frames share; a codec value outside the table records no video.
    const bool own = codec_id != AV_CODEC_ID_NONE && description_.parameterSets.empty();
    StreamDescription described;
    if (own && !DescribeKeyFrame(codec_id, data, size, described))
        return false;
    // The stream's own size wins over the one declared.
    if (described.width > 0) {
        width_ = described.width;
        height_ = described.height;
    }
    if ((width_ <= 0 || height_ <= 0) && !ProbeSize(data, size))
        return false;
    if (own)
        description_ = std::move(described);
    // A continued recording's new frames may come from an encoder set up anew.
    const std::vector<uint8_t> sets = LeadingParameterSets(codec_id, data, size);
    reorderDepth_ = ReorderDepth(codec_id, sets.empty() ? description_.parameterSets : sets);
    waitingForKey_ = false;
    codecSettled_ = true;
    return true;
}

// A key frame that names another codec than the recording's would ruin its
// track for every player: it is refused, and so are the frames that depend on
// it, until a key frame of the recording's own codec. MPEG-4 is only what is
// left when neither H.264 nor H.265 fits, so it never counts as another codec.
bool VideoIntake::KeepsRecordingCodec(const uint8_t *data, uint32_t size, int32_t key)
{
    const AVCodecID own = VideoCodecId(codec_);
    // A codec value outside the table records no video stream: nothing to keep.
    if (!codecSettled_ || !key || own == AV_CODEC_ID_NONE)
        return !otherCodec_;
    const AVCodecID named = FrameCodec(data, size);
    if (named == own)
        otherCodec_ = false;
    else if (named == AV_CODEC_ID_H264 || named == AV_CODEC_ID_HEVC)
        otherCodec_ = true;
    return !otherCodec_;
}

// Headers that state no size (no picture behind them) leave the decoder to tell it.
bool VideoIntake::ProbeSize(const uint8_t *data, uint32_t size)
{
    if (data && DecodeFrameSize(codec_, data, size, width_, height_))
        return true;
    // The decoder needs a whole picture; the sequence header alone still tells the size.
    int32_t fieldCoded = 0;
    return GetResulotion(data, size, width_, height_, fieldCoded);
}

}  // namespace recmux
