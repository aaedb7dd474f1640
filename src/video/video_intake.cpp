#include "video/video_intake.h"

#include "video/annexb.h"
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
    AVFrameInfo frame;
    frame.isKey = key;
    frame.pts = pts;
    frame.data.assign(data, data + size);
    queue_.Push(std::move(frame));
    // Nothing leaves the queue before the header: only then is what it holds counted.
    heldBytes_ = output_open ? 0 : heldBytes_ + size;
    timeline_.Learn(pts);
    return true;
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
