#include "video/video_probe.h"

#include <cstring>

#include "recorder/CMP4Writer.h"
#include "recorder/video_codec.h"
#include "video/annexb.h"
#include "video/sps_parser.h"

namespace recmux {
namespace {

// Access-unit delimiters and SEI come before the unit that tells the codec:
// H.264 types 9 and 6, H.265 types 35, 39 and 40 (layer 0).
bool IsDelimiterOrSei(uint8_t header)
{
    switch (header) {
    case 0x09:
    case 0x06:
    case 0x46:
    case 0x4E:
    case 0x50:
        return true;
    default:
        return false;
    }
}

int32_t CodecOfHeader(uint8_t header)
{
    switch (header) {
    case 0x65:
    case 0x67:
    case 0x68:
        return 0;
    case 0x02:
    case 0x26:
    case 0x40:
    case 0x42:
    case 0x44:
    case 0x4E:
        return 1;
    default:
        return 2;
    }
}

}  // namespace

int32_t DetectVideoCodec(const uint8_t *data, uint32_t size)
{
    if (!data || size < 4)
        return 0;
    const bool starts_with_code = (data[0] == 0 && data[1] == 0 && data[2] == 1) ||
                                  (data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1);
    if (!starts_with_code)
        return 0;
    const uint8_t *cursor = data;
    NalUnit unit;
    while (NextNalUnit(cursor, data + size, unit)) {
        if (unit.size > 0 && !IsDelimiterOrSei(unit.data[0]))
            return CodecOfHeader(unit.data[0]);
    }
    return 0;
}

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

bool CMP4Writer::ProbeVideoSize(const uint8_t *data, uint32_t size, int32_t &width,
                                int32_t &height)
{
    videoCodec_ = DetectVideoCodec(data, size);
    if (data && DecodeFrameSize(videoCodec_, data, size, width, height))
        return true;
    int32_t fieldCoded = 0;
    return GetResulotion(data, size, width, height, fieldCoded);
}

}  // namespace recmux
