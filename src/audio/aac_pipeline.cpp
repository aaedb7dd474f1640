// Decoded PCM in the FIFO becomes AAC: the audio stream, its encoder, and the
// resampler that turns the FIFO's 16-bit samples into the encoder's format.
#include <climits>
#include <cstdlib>
#include <vector>

#include "recorder/CMP4Writer.h"
#include "recorder/print_log.h"

namespace recmux {
namespace {

// The encoder's own rate when it supports the requested one, else its nearest:
// refusing the rate would fail the whole set-up and lose the video with it.
int SupportedSampleRate(const AVCodec *codec, int requested)
{
    if (!codec->supported_samplerates)
        return requested;
    int best = codec->supported_samplerates[0];
    for (const int *rate = codec->supported_samplerates; *rate; rate++) {
        if (std::abs(*rate - requested) < std::abs(best - requested))
            best = *rate;
    }
    return best;
}

}  // namespace

bool CMP4Writer::OpenAudioEncoder(const AVOutputFormat *format)
{
    audioStream_ = AddAudioStream(output_.get(), output_->audio_codec, audioEncoder_,
                                  format->audio_codec, AV_SAMPLE_FMT_FLT, audioChannels_,
                                  audioSampleRate_, 32000);
    if (!audioStream_) {
        Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_NO_STREAM);
        return false;
    }
    audioFifo_.reset(av_audio_fifo_alloc(SampleFormatForBits(audioBits_), audioChannels_,
                                         audioEncoder_->sample_rate));
    if (!audioFifo_) {
        Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_FIFO);
        return false;
    }
    if (avcodec_open2(audioEncoder_.get(), output_->audio_codec, nullptr) < 0) {
        Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_CODEC_OPEN);
        return false;
    }
    if (avcodec_parameters_from_context(audioStream_->codecpar, audioEncoder_.get()) < 0) {
        Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_PARAMETERS);
        return false;
    }
    AVChannelLayout layout;
    av_channel_layout_default(&layout, audioChannels_);
    SwrContext *resampler = nullptr;
    const int rate = audioEncoder_->sample_rate;
    if (swr_alloc_set_opts2(&resampler, &audioEncoder_->ch_layout, audioEncoder_->sample_fmt, rate,
                            &layout, SampleFormatForBits(audioBits_), rate, 0, nullptr) < 0) {
        Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_RESAMPLER);
        return false;
    }
    resampler_.reset(resampler);
    if (swr_init(resampler_.get()) < 0) {
        resampler_.reset();
        Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_RESAMPLER);
        return false;
    }
    Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_READY);
    return true;
}

AVStream *CMP4Writer::AddAudioStream(AVFormatContext *output, const AVCodec *&codec,
                                     CodecContextPtr &context, AVCodecID codec_id,
                                     AVSampleFormat sample_format, int32_t channels,
                                     int32_t sample_rate, int64_t bit_rate)
{
    codec = avcodec_find_encoder(codec_id);
    if (!codec) {
        PrintLog("could not find encoder for '%s' \n", avcodec_get_name(codec_id));
        return nullptr;
    }
    AVStream *stream = FindOrAddStream(output, codec, codec_id);
    if (!stream)
        return nullptr;
    context.reset(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_from_context(stream->codecpar, context.get()) < 0)
        return nullptr;
    if (codec->type == AVMEDIA_TYPE_AUDIO) {
        context->sample_fmt = sample_format;
        context->bit_rate = bit_rate;
        context->codec_id = AV_CODEC_ID_AAC;
        context->codec_type = AVMEDIA_TYPE_AUDIO;
        context->sample_rate = SupportedSampleRate(codec, sample_rate);
        av_channel_layout_default(&context->ch_layout, channels);
        context->time_base = AVRational{1, context->sample_rate};
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return stream;
}

bool CMP4Writer::EncodeFifoFrame()
{
    const int n = audioEncoder_->frame_size;
    if (av_audio_fifo_size(audioFifo_.get()) < n)
        return false;
    // One encoder frame of mono 16-bit samples never exceeds this.
    int16_t scratch[8192];
    if (n <= 0 || n > static_cast<int>(sizeof scratch / sizeof scratch[0]))
        return false;
    void *planes[] = {scratch};
    if (av_audio_fifo_read(audioFifo_.get(), planes, n) != n)
        return false;
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return false;
    frame->nb_samples = n;
    frame->sample_rate = audioEncoder_->sample_rate;
    frame->format = audioEncoder_->sample_fmt;
    if (av_channel_layout_copy(&frame->ch_layout, &audioEncoder_->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0)
        return false;
    const uint8_t *input[] = {reinterpret_cast<const uint8_t *>(scratch)};
    if (swr_convert(resampler_.get(), frame->data, n, input, n) < 0)
        return false;
    return EncodeAudioFrame(frame.get());
}

// At close every sample goes out, whether or not the video got that far; the
// last partial frame is padded with silence rather than dropped.
void CMP4Writer::DrainAudio()
{
    if (!headerWritten_ || audioStopped_ || !audioFifo_ || !audioEncoder_ || !resampler_)
        return;
    const int n = audioEncoder_->frame_size;
    const int partial = n > 0 ? av_audio_fifo_size(audioFifo_.get()) % n : 0;
    if (partial > 0) {
        const std::vector<uint8_t> silence(static_cast<size_t>(n - partial) * 2, 0);
        if (!AppendToFifo(silence.data(), n - partial))
            return;
    }
    while (av_audio_fifo_size(audioFifo_.get()) >= n && EncodeFifoFrame()) {
    }
}

bool CMP4Writer::EncodeAudioFrame(AVFrame *frame)
{
    if (avcodec_send_frame(audioEncoder_.get(), frame) != 0)
        return false;
    PacketPtr packet(av_packet_alloc());
    if (!packet || avcodec_receive_packet(audioEncoder_.get(), packet.get()) != 0)
        return false;
    return WriteAudioPacket(packet->data, packet->size);
}

}  // namespace recmux
