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
    if (codec_id == AV_CODEC_ID_NONE || VideoDescribed() ||
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
    if (codec_id != AV_CODEC_ID_NONE && !VideoDescribed() &&
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
    videoStream_ = FindOrAddStream(output_.get(), codec_id);
    videoPacket_.reset(videoStream_ ? av_packet_alloc() : nullptr);
    if (!videoPacket_) {
        Notify(RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_NO_STREAM);
        ReleaseVideo();
        return false;
    }
    videoStream_->time_base = FrameTimeline::kTimeBase;
    videoStream_->avg_frame_rate = rate;
    if (!DescribeVideo(videoStream_->codecpar, codec_id, width, height)) {
        Notify(RECMUX_MSG_VIDEO, RECMUX_MSG_VIDEO_PARAMETERS);
        ReleaseVideo();
        return false;
    }
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
    // The priming never reaches the file: no edit list hides it (Firefox stalls on
    // one). The encoder spends what the sound needs, often far below its target:
    // fragments cannot know the rate and state none (the plain copy states its own).
    if (status == RECMUX_MSG_AUDIO_READY) {
        audioStream_->codecpar->initial_padding = 0;
        audioStream_->codecpar->bit_rate = 0;
    }
    Notify(RECMUX_MSG_AUDIO, status);
    if (status == RECMUX_MSG_AUDIO_READY)
        return true;
    audio_.Release();
    return false;
}

// Players configure their decoder from the sample entry, so it holds the
// stream's own parameter sets; the muxer makes the avcC/hvcC record of them.
bool CMP4Writer::DescribeVideo(AVCodecParameters *par, AVCodecID codec_id, int32_t width,
                               int32_t height)
{
    const StreamDescription &description = video_.Description();
    const std::vector<uint8_t> &sets = description.parameterSets;
    auto *extradata = static_cast<uint8_t *>(av_mallocz(sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!extradata)
        return false;
    if (!sets.empty())
        std::memcpy(extradata, sets.data(), sets.size());
    av_freep(&par->extradata);
    par->extradata = extradata;
    par->extradata_size = static_cast<int>(sets.size());
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = codec_id;
    par->width = width;
    par->height = height;
    par->profile = description.profile;
    par->level = description.level;
    par->format = description.format == AV_PIX_FMT_NONE ? AV_PIX_FMT_YUV420P : description.format;
    par->sample_aspect_ratio = AVRational{0, 1};
    // Reordering shows in the packet times alone (ctts).
    par->video_delay = 0;
    // Apple's players take only hvc1; the parameter sets are in the sample entry.
    if (codec_id == AV_CODEC_ID_HEVC)
        par->codec_tag = MKTAG('h', 'v', 'c', '1');
    return true;
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
}

// The stream outlives a failed set-up (it cannot be removed); its packet does not.
bool CMP4Writer::VideoDescribed() const
{
    return videoPacket_ != nullptr;
}

bool CMP4Writer::CloseOutputIo()
{
    // A buffer not yet handed to an I/O context is still ours.
    ioBuffer_.reset();
    return ReleaseOutputIo(output_.get());
}

}  // namespace recmux
