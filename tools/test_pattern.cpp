#include "test_pattern.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/opt.h>
}

#include "ffmpeg/av_owners.h"
#include "pattern_painter.h"

namespace recmux_tool {

using recmux::CodecContextPtr;
using recmux::FramePtr;
using recmux::PacketPtr;

namespace {

class TestPattern final : public FrameSource {
public:
    TestPattern(CodecContextPtr encoder, FramePtr frame, PacketPtr packet, int frames)
        : encoder_(std::move(encoder)), frame_(std::move(frame)), packet_(std::move(packet)),
          frames_(frames)
    {
    }

    bool Next(AccessUnit &unit) override
    {
        for (;;) {
            const int result = avcodec_receive_packet(encoder_.get(), packet_.get());
            if (result == 0) {
                unit.bytes.assign(packet_->data, packet_->data + packet_->size);
                unit.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
                av_packet_unref(packet_.get());
                return true;
            }
            if (result == AVERROR_EOF)
                return false;
            if (result != AVERROR(EAGAIN) || !SendNextFrame()) {
                std::fprintf(stderr, "recmux: encoding the test pattern failed\n");
                failed_ = true;
                return false;
            }
        }
    }

    bool Failed() const override { return failed_; }
    double Fraction() const override { return static_cast<double>(sent_) / (frames_ + 1); }

private:
    // After the last picture a null frame drains the encoder.
    bool SendNextFrame()
    {
        if (sent_ == frames_) {
            sent_++;
            return avcodec_send_frame(encoder_.get(), nullptr) == 0;
        }
        if (sent_ > frames_ || av_frame_make_writable(frame_.get()) < 0)
            return false;
        PaintPattern(*frame_, sent_);
        frame_->pts = sent_++;
        return avcodec_send_frame(encoder_.get(), frame_.get()) == 0;
    }

    CodecContextPtr encoder_;
    FramePtr frame_;
    PacketPtr packet_;
    int frames_;
    int sent_ = 0;
    bool failed_ = false;
};

// No global header: the encoder then repeats its parameter sets before every
// key frame, as a camera does. Zero latency gives one packet per picture.
bool ConfigureEncoder(AVCodecContext &encoder, VideoCodec codec, AVRational fps)
{
    encoder.width = kPatternWidth;
    encoder.height = kPatternHeight;
    encoder.pix_fmt = AV_PIX_FMT_YUV420P;
    encoder.time_base = av_inv_q(fps);
    encoder.framerate = fps;
    encoder.gop_size = std::max(1, static_cast<int>(std::lround(av_q2d(fps))));
    encoder.max_b_frames = 0;
    // Closed GOPs, and the encoders' own chatter down to warnings.
    const bool h264 = codec == VideoCodec::H264;
    return av_opt_set(encoder.priv_data, "preset", "veryfast", 0) == 0 &&
           av_opt_set(encoder.priv_data, "tune", "zerolatency", 0) == 0 &&
           av_opt_set(encoder.priv_data, h264 ? "x264-params" : "x265-params",
                      h264 ? "log=1" : "open-gop=0:log-level=error", 0) == 0;
}

}  // namespace

std::unique_ptr<FrameSource> OpenTestPattern(VideoCodec codec, AVRational fps, int frames)
{
    const char *name = codec == VideoCodec::H264 ? "libx264" : "libx265";
    const AVCodec *encoder_codec = avcodec_find_encoder_by_name(name);
    if (!encoder_codec) {
        std::fprintf(stderr,
                     "recmux: this FFmpeg has no %s encoder for the built-in test pattern; "
                     "record a stream with -i FILE\n",
                     name);
        return nullptr;
    }
    CodecContextPtr encoder(avcodec_alloc_context3(encoder_codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!encoder || !frame || !packet || !ConfigureEncoder(*encoder, codec, fps) ||
        avcodec_open2(encoder.get(), encoder_codec, nullptr) < 0) {
        std::fprintf(stderr, "recmux: cannot open the %s encoder\n", name);
        return nullptr;
    }
    frame->format = encoder->pix_fmt;
    frame->width = encoder->width;
    frame->height = encoder->height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        std::fprintf(stderr, "recmux: out of memory for the test pattern\n");
        return nullptr;
    }
    return std::make_unique<TestPattern>(std::move(encoder), std::move(frame), std::move(packet),
                                         frames);
}

}  // namespace recmux_tool
