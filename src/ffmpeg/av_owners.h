// One owner per FFmpeg object: each type gets a unique_ptr whose deleter is the
// object's own release call. Shared by the recorder, the reader and the tool.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace recmux {

// Closes the output's I/O the way it was opened. A custom context owns its
// current buffer, which FFmpeg may have replaced since it was handed over.
inline bool ReleaseOutputIo(AVFormatContext *output)
{
    if (!output || !output->pb)
        return false;
    if (output->flags & AVFMT_FLAG_CUSTOM_IO) {
        av_freep(&output->pb->buffer);
        avio_context_free(&output->pb);
    } else {
        avio_closep(&output->pb);
    }
    return true;
}

struct OutputContextDeleter {
    void operator()(AVFormatContext *output) const
    {
        ReleaseOutputIo(output);
        avformat_free_context(output);
    }
};
struct InputContextDeleter {
    void operator()(AVFormatContext *input) const { avformat_close_input(&input); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext *parser) const { av_parser_close(parser); }
};
struct BsfContextDeleter {
    void operator()(AVBSFContext *filter) const { av_bsf_free(&filter); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketDeleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};
struct ResamplerDeleter {
    void operator()(SwrContext *resampler) const { swr_free(&resampler); }
};
struct AvFreeDeleter {
    void operator()(void *memory) const { av_free(memory); }
};

using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;
using BsfContextPtr = std::unique_ptr<AVBSFContext, BsfContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;
using AvBufferPtr = std::unique_ptr<uint8_t, AvFreeDeleter>;

}  // namespace recmux
