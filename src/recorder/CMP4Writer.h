#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/device_audio.h"
#include "platform/file_ops.h"
#include "platform/regular_files.h"
#include "recorder/IWriter.h"
#include "recorder/av_ptr.h"
#include "recorder/call_guard.h"
#include "video/TConQue.h"
#include "audio/audio_placement.h"
#include "video/frame_timeline.h"

namespace recmux {

class CMP4Writer final : public IWriter {
public:
    struct AVFrameInfo {
        int32_t isKey = 0;
        uint64_t pts = 0;
        std::vector<uint8_t> data;
    };

    explicit CMP4Writer(const platform::FileOps &files = platform::SystemFileOps());
    ~CMP4Writer() override;
    CMP4Writer(const CMP4Writer &) = delete;
    CMP4Writer &operator=(const CMP4Writer &) = delete;

    bool Open(const char *path) override;
    bool OpenWithCallback(void *opaque, recmux_write_callback write) override;
    bool IsOpen() override;
    bool Close() override;
    bool SetFileType(int32_t type) override;
    bool InitVideo(int32_t codec, int32_t width, int32_t height, int32_t reserved) override;
    bool InitAudio(int32_t audio_type, int32_t channels, int32_t sample_rate,
                   int32_t bits_per_sample) override;
    bool WriteVideo(const uint8_t *data, uint32_t size, uint64_t pts, int32_t key) override;
    bool WriteAudio(const uint8_t *data, uint32_t size, uint64_t pts) override;
    bool SetMsgNotify(void *user, MsgNotifyCallback notify) override;
    bool GetBeginPts(uint64_t *pts) override;
    bool GetEndPts(uint64_t *pts) override;
    bool Kept() override { return !outputFailed_; }

    int32_t FileType() const { return fileType_; }
    int32_t BufferedAudioSamples() const
    {
        return audioFifo_ ? av_audio_fifo_size(audioFifo_.get()) : 0;
    }

private:
    bool EnsureOutputOpen();
    bool ProbeVideoSize(const uint8_t *data, uint32_t size, int32_t &width, int32_t &height);
    bool AcceptFirstKeyFrame(const uint8_t *data, uint32_t size, uint64_t pts, int32_t key);
    bool KeepsRecordingCodec(const uint8_t *data, uint32_t size, int32_t key);
    // The set-up ended without a header, or the output broke: nothing given
    // now could ever be written.
    bool CannotWrite() const { return (setupClosed_ && !headerWritten_) || outputFailed_; }
    // The output is broken for good: told once, and every later frame is refused.
    void MarkOutputFailed(int32_t reason);
    // Whether the output took what was just written; FFmpeg keeps a write error in the I/O context.
    bool OutputTook(int result);

    bool OpenOutput(int32_t codec, int32_t width, int32_t height, AVRational rate);
    bool OpenVideoStream(AVCodecID codec_id, int32_t width, int32_t height, AVRational rate);
    AVStream *AddVideoStream(AVFormatContext *output, const AVCodec *&encoder,
                             CodecContextPtr &context, AVCodecID codec_id, int32_t width,
                             int32_t height, AVRational rate);
    static AVStream *FindOrAddStream(AVFormatContext *output, const AVCodec *codec,
                                     AVCodecID codec_id);
    void UseStreamParameterSets();
    bool IsCallbackOutput() const;
    bool IsFragmented() const;
    bool OpenFile();
    bool Init();
    int WriteHeader();
    bool OpenOutputFromExisting(const char *final_path);
    bool ReadVideoProperties(const char *path, AVCodecID &codec_id, int32_t &width,
                             int32_t &height, AVRational &rate);
    bool ContinueRecording(const char *final_path);

    bool OpenAudioEncoder(const AVOutputFormat *format);
    AVStream *AddAudioStream(AVFormatContext *output, const AVCodec *&codec,
                             CodecContextPtr &context, AVCodecID codec_id,
                             AVSampleFormat sample_format, int32_t channels, int32_t sample_rate,
                             int64_t bit_rate);
    bool EncodeFifoFrame();
    void DrainAudio();
    bool EncodeAudioFrame(AVFrame *frame);
    void FillAudioGap(int64_t video_end_ticks);
    void FillSilenceUntilSound();

    int64_t PlayingSamples(uint32_t bytes) const;
    void ConvertQueuedAudio();
    bool DecodeAudioFrame(const uint8_t *data, uint32_t size, uint64_t pts);
    bool WritePcmToFifo(const uint8_t *pcm, int32_t bytes);
    bool ConvertRate(const uint8_t *pcm, int samples);
    bool AppendToFifo(const uint8_t *pcm, int samples);
    bool AppendSilence(int64_t microseconds);
    int64_t NextAudioTime() const;

    int64_t VideoEndTicks() const;
    bool AudioDue() const;
    bool WriteInterleaved(uint32_t budget);
    bool WriteVideoPacket(const uint8_t *data, int32_t size, uint64_t pts, int32_t isKey);
    bool WriteVideoPacketAt(const uint8_t *data, int32_t size, int64_t ticks, uint64_t pts,
                            int32_t isKey);
    bool WriteAudioPacket(const uint8_t *data, int32_t size);
    void DrainVideoQueue();
    void FlushEncoder(AVCodecContext *context);
    bool FinaliseFile(const std::string &working);
    void Notify(int32_t category, int32_t value);

    bool ReleaseVideo();
    bool ReleaseAudio();
    bool CloseOutputIo();

    const platform::FileOps &files_;
    CallLock callLock_;

    TConQue<AVFrameInfo> audioQueue_;
    TConQue<AVFrameInfo> videoQueue_;
    void *msgUser_ = nullptr;
    MsgNotifyCallback msgNotify_ = nullptr;
    uint64_t audioSamplePosition_ = 0;
    AVStream *audioStream_ = nullptr;
    CodecContextPtr audioEncoder_;
    uint64_t videoFrameCount_ = 0;
    AVStream *videoStream_ = nullptr;
    CodecContextPtr videoCodecContext_;
    bool headerWritten_ = false;
    bool videoInitialised_ = false;
    bool waitingForKey_ = true;
    // No set-up is tried again: a header was attempted, or the final file cannot be continued.
    bool setupClosed_ = false;
    bool outputFailed_ = false;
    int32_t videoCodec_ = 0;
    // The recording's codec is known (continued file, InitVideo with a size, or
    // the first key frame): one of another codec would ruin its track.
    bool codecSettled_ = false;
    // A key frame of another codec came: frames are refused until one of ours.
    bool otherCodec_ = false;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t videoReserved_ = 0;
    DeviceAudio deviceAudio_;
    bool audioInitialised_ = false;
    int32_t audioTypeCode_ = 0;
    int32_t audioChannels_ = 1;
    int32_t audioSampleRate_ = 8000;
    int32_t audioBits_ = 16;
    // Samples of encoder priming that the first packet starts before time 0.
    int64_t audioStartOffset_ = 0;
    // Set when an audio step kept failing at close: the rest of the video goes without audio.
    bool audioStopped_ = false;
    // Whether any of the caller's sound has reached the FIFO; silence stands in
    // for it until then in fragmented output.
    bool soundArrived_ = false;
    ResamplerPtr rateConverter_;
    int32_t rateConverterInputRate_ = 0;
    PacketPtr videoPacket_;
    AudioFifoPtr audioFifo_;
    OutputContextPtr output_;
    ResamplerPtr resampler_;
    uint64_t endPts_ = 0;
    uint64_t beginPts_ = 0;
    FrameTimeline timeline_;
    // The file time of the last video packet, in the timeline's ticks.
    int64_t lastVideoTicks_ = -1;
    AudioPlacement audioPlacement_;
    // Samples at the encoder's rate appended to the FIFO since the audio began:
    // where the next one plays.
    int64_t audioNextSample_ = 0;
    std::vector<uint8_t> parameterSets_;
    // Bytes of video queued before the output opened.
    uint64_t heldVideoBytes_ = 0;
    // Device samples the queued audio plays for, as far as its codec tells.
    int64_t queuedAudioSamples_ = 0;
    std::string finalPath_;
    platform::FileIdentity workingFile_;
    int32_t fileType_ = 0;
    AvBufferPtr ioBuffer_;
    int32_t ioBufferSize_ = 0x100000;
};

}  // namespace recmux
