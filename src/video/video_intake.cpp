#include <climits>

#include "recorder/CMP4Writer.h"
#include "recorder/video_codec.h"
#include "video/annexb.h"

namespace recmux {
namespace {

// Video held while the output is not open (it opens within a second of
// frames, unless it cannot): beyond this, frames are refused.
constexpr uint64_t kMaxHeldVideoBytes = 16u << 20;

}  // namespace

bool CMP4Writer::InitVideo(int32_t codec, int32_t width, int32_t height, int32_t reserved)
{
    CallLock::Guard guard(callLock_);
    if (!guard || videoInitialised_)
        return false;
    // A continued recording keeps its file's codec.
    if (!codecSettled_)
        videoCodec_ = codec;
    // With a size the first key frame is not probed: the codec given is the recording's.
    codecSettled_ = codecSettled_ || (width > 0 && height > 0);
    width_ = width;
    height_ = height;
    videoReserved_ = reserved;
    videoInitialised_ = true;
    return true;
}

bool CMP4Writer::WriteVideo(const uint8_t *data, uint32_t size, uint64_t pts, int32_t key)
{
    CallLock::Guard guard(callLock_);
    if (!guard || !output_ || CannotWrite())
        return false;
    if ((!data && size != 0) || size > INT32_MAX)
        return false;
    // Frames of another codec would ruin the track.
    if (!KeepsRecordingCodec(data, size, key))
        return false;
    if (!headerWritten_ && heldVideoBytes_ + size > kMaxHeldVideoBytes)
        return false;
    if (waitingForKey_ && !AcceptFirstKeyFrame(data, size, pts, key))
        return false;

    AVFrameInfo frame;
    frame.isKey = key;
    frame.pts = pts;
    frame.data.assign(data, data + size);
    videoQueue_.Push(std::move(frame));
    // Nothing leaves the queue before the header: only then is what it holds counted.
    heldVideoBytes_ = headerWritten_ ? 0 : heldVideoBytes_ + size;
    timeline_.Learn(pts);
    // The output opens as soon as the frame interval can be told, so little is
    // held in memory and a crash or a live viewer loses little.
    if (!headerWritten_ && timeline_.ReadyToOpen())
        EnsureOutputOpen();
    WriteInterleaved(3);
    // The frame whose open failed for good is lost with those held before it.
    return !CannotWrite();
}

bool CMP4Writer::AcceptFirstKeyFrame(const uint8_t *data, uint32_t size, uint64_t pts,
                                     int32_t key)
{
    if (key == 0)
        return false;
    if ((width_ <= 0 || height_ <= 0) && !ProbeVideoSize(data, size, width_, height_))
        return false;
    if (beginPts_ == 0) {
        beginPts_ = pts;
        endPts_ = pts;
    }
    waitingForKey_ = false;
    codecSettled_ = true;
    parameterSets_ = LeadingParameterSets(VideoCodecId(videoCodec_), data, size);
    return true;
}

// A key frame that names another codec than the recording's would ruin its
// track for every player: it is refused, and so are the frames that depend on
// it, until a key frame of the recording's own codec. MPEG-4 is only what is
// left when neither H.264 nor H.265 fits, so it never counts as another codec.
bool CMP4Writer::KeepsRecordingCodec(const uint8_t *data, uint32_t size, int32_t key)
{
    const AVCodecID own = VideoCodecId(videoCodec_);
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

bool CMP4Writer::EnsureOutputOpen()
{
    if (!headerWritten_)
        headerWritten_ = OpenOutput(videoCodec_, width_, height_, timeline_.FrameRate());
    // A header tried and failed is never tried again.
    if (!headerWritten_ && setupClosed_)
        MarkOutputFailed(RECMUX_MSG_OUTPUT_SETUP);
    return headerWritten_;
}

}  // namespace recmux
