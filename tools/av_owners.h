// The tool's FFmpeg objects, each owned by a unique_ptr whose deleter is the
// object's own release call.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace recmux_tool {

struct CodecContextDeleter {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext *parser) const { av_parser_close(parser); }
};
struct PacketDeleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct InputContextDeleter {
    void operator()(AVFormatContext *input) const { avformat_close_input(&input); }
};
struct BsfDeleter {
    void operator()(AVBSFContext *filter) const { av_bsf_free(&filter); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;

}  // namespace recmux_tool
