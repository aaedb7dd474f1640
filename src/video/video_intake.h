// The caller's video before it is written: checked, held in arrival order and
// learned by the timeline, from the first key frame on.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/TConQue.h"
#include "video/decode_times.h"
#include "video/frame_timeline.h"
#include "video/presentation_order.h"
#include "video/stream_description.h"

namespace recmux {

class VideoIntake {
public:
    // InitVideo: false once called before.
    bool Init(int32_t codec, int32_t width, int32_t height);
    // A continued recording keeps its file's codec and the description its track starts with.
    void SettleCodec(int32_t codec, StreamDescription description);
    // Queues a frame unless it is refused: no unit behind a start code, another
    // codec than the recording's, too much held while the output is not open,
    // or waiting for a key frame that brings its parameter sets.
    bool Accept(const uint8_t *data, uint32_t size, uint64_t pts, int32_t key, bool output_open);

    bool WaitingForKey() const { return waitingForKey_; }
    // Whether a frame of size would pass the bound of what is held while the output is not open.
    bool WouldPassHeldBound(uint32_t size) const;
    // The next frame to write, in decode order, with its times on the file's
    // clock; at the end of the stream every frame held is let go.
    bool Next(TimedFrame &frame, bool end_of_stream);
    uint32_t Queued() { return queue_.Size() + decodeTimes_.Held(); }
    void DropQueued();

    FrameTimeline &Timeline() { return timeline_; }
    const FrameTimeline &Timeline() const { return timeline_; }
    int32_t Codec() const { return codec_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    // Of the first key frame: what the sample entry says.
    const StreamDescription &Description() const { return description_; }

private:
    bool AcceptFirstKeyFrame(const uint8_t *data, uint32_t size, int32_t key);
    bool KeepsRecordingCodec(const uint8_t *data, uint32_t size, int32_t key);
    bool ProbeSize(const uint8_t *data, uint32_t size);
    void FollowPresentationOrder(uint64_t pts);
    void SettleOrder(uint32_t size);
    void Learn(uint64_t pts);

    TConQue<AVFrameInfo> queue_;
    FrameTimeline timeline_;
    // The timeline learns the caller's timestamps in presentation order.
    PresentationOrder learning_;
    DecodeTimes decodeTimes_;
    uint64_t latestPts_ = 0;
    // How many frames the stream's decoder may hold back, from its first key frame.
    uint32_t reorderDepth_ = 0;
    // Whether the stream shows frames out of decode order is known: frames are
    // held until it is.
    bool orderKnown_ = false;
    uint64_t unorderedBytes_ = 0;
    bool initialised_ = false;
    bool waitingForKey_ = true;
    int32_t codec_ = 0;
    // The recording's codec is known (continued file, InitVideo with a size, or
    // the first key frame): one of another codec would ruin its track.
    bool codecSettled_ = false;
    // A key frame of another codec came: frames are refused until one of ours.
    bool otherCodec_ = false;
    int32_t width_ = 0;
    int32_t height_ = 0;
    StreamDescription description_;
    // Bytes queued before the output opened.
    uint64_t heldBytes_ = 0;
};

}  // namespace recmux
