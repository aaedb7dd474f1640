#include <cstring>

#include "platform/library_log.h"
#include "recorder/CMP4Writer.h"
#include "recorder/recording_files.h"
#include "video/video_codec.h"

namespace recmux {
namespace {

// A fragment closes after this long even without a key frame, so a live
// viewer waits little and a crash loses little.
constexpr int64_t kFragmentMicroseconds = 200000;

// Moof-relative addressing lets a fragment be read without what came before
// it (browsers insist on it). The moov waits for the first fragment so that it
// can hold the audio's edit list. FFmpeg's index at the end would list every
// fragment as a random-access point: the file gets its own at close
// (fragmented_file.cpp), a stream none.
constexpr char kMovFlags[] = "frag_keyframe+empty_moov+default_base_moof+delay_moov+skip_trailer";
// Fragments appended to a recording continue its tracks' decode times.
constexpr char kContinuedMovFlags[] =
    "frag_keyframe+empty_moov+default_base_moof+delay_moov+skip_trailer+frag_discont";

// The describing encoder's settings shape no packet: it never encodes.
void DescribeVideo(AVCodecContext *context, const AVFormatContext *output, AVCodecID codec_id,
                   int32_t width, int32_t height, AVRational rate)
{
    context->codec_id = codec_id;
    context->codec_type = AVMEDIA_TYPE_VIDEO;
    context->bit_rate = 400000;
    context->width = width;
    context->height = height;
    // Only for opening the describing encoder, which limits what it takes;
    // packets are timed in the timeline's ticks.
    context->time_base = rate.num > 0 && rate.num <= 65535 && rate.den > 0 ? av_inv_q(rate)
                                                                          : AVRational{1, 25};
    context->framerate = rate;
    context->gop_size = 12;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->max_b_frames = 1;
    if (codec_id == AV_CODEC_ID_H264) {
        context->qmin = 10;
        context->qmax = 51;
        context->qcompress = 0.6f;
    }
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // The encoder only ever describes the stream: no worker threads for it.
    context->thread_count = 1;
}

// A failed set-up leaves its streams behind: a later attempt reuses them.
AVStream *FindOrAddStream(AVFormatContext *output, AVCodecID codec_id)
{
    AVStream *stream = nullptr;
    for (unsigned i = 0; i < output->nb_streams && !stream; i++) {
        if (output->streams[i]->codecpar->codec_id == codec_id)
            stream = output->streams[i];
    }
    if (!stream) {
        stream = avformat_new_stream(output, nullptr);
        if (!stream)
            return nullptr;
        stream->codecpar->codec_id = codec_id;
    }
    stream->id = static_cast<int>(output->nb_streams) - 1;
    return stream;
}

}  // namespace

// Tried once, and only with a key frame to start from: a set-up that failed
// would fail again, and announce it on every frame.
bool CMP4Writer::EnsureOutputOpen()
{
    if (headerWritten_ || setupClosed_ || video_.WaitingForKey())
        return headerWritten_;
    headerWritten_ = OpenOutput(video_.Codec(), video_.Width(), video_.Height(),
                                video_.Timeline().FrameRate());
    if (!headerWritten_) {
        setupClosed_ = true;
        MarkOutputFailed(RECMUX_MSG_OUTPUT_SETUP);
    }
    return headerWritten_;
}

// At the first key frame, so that one the file cannot describe is refused
// when it is given, not a second later with the frames held behind it.
bool CMP4Writer::DescribeVideoStream()
{
    const AVCodecID codec_id = VideoCodecId(video_.Codec());
    if (codec_id == AV_CODEC_ID_NONE || videoCodecContext_ ||
        OpenVideoStream(codec_id, video_.Width(), video_.Height(), video_.Timeline().FrameRate()))
        return true;
    setupClosed_ = true;
    MarkOutputFailed(RECMUX_MSG_OUTPUT_SETUP);
    return false;
}

bool CMP4Writer::OpenOutput(int32_t codec, int32_t width, int32_t height, AVRational rate)
{
    if (!output_ || width < 1 || height < 1 || setupClosed_)
        return false;
    // FFmpeg's output formats are read-only here: the codec is not recorded in "mp4".
    const AVCodecID codec_id = VideoCodecId(codec);
    if (codec_id != AV_CODEC_ID_NONE && !videoCodecContext_ &&
        !OpenVideoStream(codec_id, width, height, rate))
        return false;
    // Described at the first key frame, before the rate was known.
    if (videoStream_)
        videoStream_->avg_frame_rate = rate;
    // A track that never gets a sample would make players wait for it; a
    // continued recording keeps one for the old sound and any new sound.
    if ((audio_.Initialised() || finalAtOpen_) && !audio_.IsOpen()) {
        if (!OpenAudioStream())
            return false;
    } else if (!audio_.IsOpen()) {
        // Callers wait for both sides to be announced, even one with nothing to set up.
        Notify(RECMUX_MSG_AUDIO, RECMUX_MSG_AUDIO_READY);
    }
    // The recorder interleaves itself: libavformat must not hold video back
    // while the audio stream has no packet yet.
    output_->max_interleave_delta = 1;
    if (!(output_->oformat->flags & AVFMT_NOFILE)) {
        const bool opened = IsCallbackOutput() ? Init() : OpenFile();
        if (!opened)
            return false;
    }
    av_dump_format(output_.get(), 0, output_->url ? output_->url : "", 1);
    return true;
}

bool CMP4Writer::OpenVideoStream(AVCodecID codec_id, int32_t width, int32_t height,
                                 AVRational rate)
{
    const AVCodec *encoder = avcodec_find_encoder(codec_id);
    if (!encoder)
        platform::PrintLog("could not find encoder for '%s' \n", avcodec_get_name(codec_id));
    videoStream_ = encoder ? FindOrAddStream(output_.get(), codec_id) : nullptr;
    if (videoStream_)
        videoCodecContext_.reset(avcodec_alloc_context3(encoder));
    if (!videoStream_ || !videoCodecContext_) {
        Notify(RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_NO_STREAM);
        ReleaseVideo();
        return false;
    }
    DescribeVideo(videoCodecContext_.get(), output_.get(), codec_id, width, height, rate);
    videoStream_->time_base = FrameTimeline::kTimeBase;
    videoStream_->avg_frame_rate = rate;
    if (avcodec_open2(videoCodecContext_.get(), encoder, nullptr) < 0) {
        Notify(RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_CODEC_OPEN);
        ReleaseVideo();
        return false;
    }
    if (avcodec_parameters_from_context(videoStream_->codecpar, videoCodecContext_.get()) < 0) {
        Notify(RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_PARAMETERS);
        ReleaseVideo();
        return false;
    }
    videoPacket_.reset(av_packet_alloc());
    if (!videoPacket_) {
        ReleaseVideo();
        return false;
    }
    UseStreamParameterSets();
    Notify(RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_READY);
    return true;
}

// Told as RECMUX_MSG_AUDIO: ready, or the step that failed.
bool CMP4Writer::OpenAudioStream()
{
    audioStream_ = FindOrAddStream(output_.get(), AV_CODEC_ID_AAC);
    int32_t status = audioStream_ ? audio_.Open(output_->oformat->flags & AVFMT_GLOBALHEADER)
                                  : RECMUX_MSG_AUDIO_NO_STREAM;
    if (status == RECMUX_MSG_AUDIO_READY &&
        avcodec_parameters_from_context(audioStream_->codecpar, audio_.Encoder()) < 0)
        status = RECMUX_MSG_AUDIO_PARAMETERS;
    Notify(RECMUX_MSG_AUDIO, status);
    if (status == RECMUX_MSG_AUDIO_READY)
        return true;
    audio_.Release();
    return false;
}

// Players configure their decoder from the sample entry, so it must hold the
// stream's own parameter sets, not those of the encoder that described it.
// The encoder is then dropped: its threads and buffers would otherwise stay
// for the whole recording, while only its parameters are ever used.
void CMP4Writer::UseStreamParameterSets()
{
    AVCodecParameters *par = videoStream_->codecpar;
    const std::vector<uint8_t> &sets = video_.ParameterSets();
    if (!sets.empty()) {
        auto *extradata = static_cast<uint8_t *>(
            av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (extradata) {
            std::memcpy(extradata, sets.data(), sets.size());
            av_freep(&par->extradata);
            par->extradata = extradata;
            par->extradata_size = static_cast<int>(sets.size());
            par->profile = FF_PROFILE_UNKNOWN;
            par->level = FF_LEVEL_UNKNOWN;
        }
    }
    // Packets carry pts = dts: the file announces no reordering.
    par->video_delay = 0;
    // The describing encoder's rate is not the stream's: without one, a plain
    // file states the measured rate and a fragmented one none.
    par->bit_rate = 0;
    // Apple's players take only hvc1; the parameter sets are in the sample entry.
    if (par->codec_id == AV_CODEC_ID_HEVC)
        par->codec_tag = MKTAG('h', 'v', 'c', '1');
    CodecContextPtr description(avcodec_alloc_context3(nullptr));
    if (description && avcodec_parameters_to_context(description.get(), par) >= 0) {
        description->time_base = FrameTimeline::kTimeBase;
        videoCodecContext_ = std::move(description);
    }
}

bool CMP4Writer::IsCallbackOutput() const
{
    return callbackOutput_;
}

// Every recording is written fragmented, a plain one too until close: a
// crash keeps all but the fragment in progress.
int CMP4Writer::WriteHeader()
{
    setupClosed_ = true;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", continuedFd_ ? kContinuedMovFlags : kMovFlags, 0);
    av_dict_set_int(&options, "frag_duration", kFragmentMicroseconds, 0);
    // Every finished fragment leaves at once, so a killed process leaves a readable file.
    output_->flush_packets = 1;
    const int result = avformat_write_header(output_.get(), &options);
    av_dict_free(&options);
    return result;
}

bool CMP4Writer::OpenFile()
{
    // The working file was made at open; whatever has its name now is not ours.
    if (!platform::IsSameFile(output_->url, workingFile_) || !AttachSink()) {
        setupClosed_ = true;
        CloseOutputIo();
        return false;
    }
    if (WriteHeader() < 0) {
        // Log watchers match these lines as they stand, and only fragmented files ever logged one.
        if (fileType_ == 1)
            platform::PrintLog("=================== CMP4Writer::OpenFile() Error occurred when "
                               "opening output file ==============\n");
        CloseOutputIo();
        return false;
    }
    if (continuedFd_ ? !ResumeInPlace() : finalAtOpen_ && !ContinueRecording(finalPath_.c_str())) {
        CloseOutputIo();
        return false;
    }
    return true;
}

// The output's bytes go to the sink, through an I/O context of our own: to
// the working file, or to the end of the recording continued in place.
bool CMP4Writer::AttachSink()
{
    sink_ = continuedFd_ ? std::make_unique<FragmentSink>(continuedFd_.Get(), appendAt_)
                         : std::make_unique<FragmentSink>(workingFd_.Get(), std::nullopt);
    constexpr int kBufferSize = 1 << 16;
    auto *buffer = static_cast<uint8_t *>(av_malloc(kBufferSize));
    AVIOContext *io = buffer ? avio_alloc_context(buffer, kBufferSize, 1, sink_.get(), nullptr,
                                                  FragmentSink::Write, nullptr)
                             : nullptr;
    if (!io) {
        av_free(buffer);
        return false;
    }
    output_->pb = io;
    output_->flags |= AVFMT_FLAG_CUSTOM_IO;
    return true;
}

bool CMP4Writer::Init()
{
    if (WriteHeader() >= 0)
        return true;
    platform::PrintLog("=================== CMP4Writer::Init() Error occurred when opening "
                       "output file ==============\n");
    CloseOutputIo();
    return false;
}

void CMP4Writer::ReleaseVideo()
{
    videoPacket_.reset();
    videoCodecContext_.reset();
}

bool CMP4Writer::CloseOutputIo()
{
    // A buffer not yet handed to an I/O context is still ours.
    ioBuffer_.reset();
    return ReleaseOutputIo(output_.get());
}

}  // namespace recmux
