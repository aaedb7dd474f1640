#include "video/video_probe.h"

#include <cstring>

#include "ffmpeg/av_owners.h"
#include "video/video_codec.h"

namespace recmux {

bool DecodeFrameSize(int32_t codec, const uint8_t *data, uint32_t size, int32_t &width,
                     int32_t &height)
{
    const AVCodec *decoder = avcodec_find_decoder(VideoCodecId(codec));
    if (!decoder)
        return false;
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    // Decoders read a little past the end of a packet: give them a padded copy.
    if (!context || !frame || !packet || av_new_packet(packet.get(), static_cast<int>(size)) < 0)
        return false;
    std::memcpy(packet->data, data, size);
    context->thread_count = 1;
    if (avcodec_open2(context.get(), decoder, nullptr) != 0)
        return false;
    if (avcodec_send_packet(context.get(), packet.get()) != 0)
        return false;
    int result = avcodec_receive_frame(context.get(), frame.get());
    // A decoder that holds frames back (B-frames) gives its frame on a flush.
    if (result == AVERROR(EAGAIN) && avcodec_send_packet(context.get(), nullptr) == 0)
        result = avcodec_receive_frame(context.get(), frame.get());
    if (result != 0)
        return false;
    width = frame->width;
    height = frame->height;
    return width > 0 && height > 0;
}

}  // namespace recmux
