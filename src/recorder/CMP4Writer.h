// The recorder: the IWriter operations under one call lock, the output and its
// files, the messages, and the writer that interleaves the video intake's
// frames with the audio track's packets.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "audio/audio_track.h"
#include "ffmpeg/av_owners.h"
#include "platform/file_ops.h"
#include "platform/regular_files.h"
#include "recorder/IWriter.h"
#include "recorder/call_guard.h"
#include "recorder/fragment_sink.h"
#include "video/video_intake.h"

namespace recmux {

class CMP4Writer final : public IWriter, private AudioPacketSink {
public:
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

private:
    // The set-up ended without a header, or the output broke: nothing given
    // now could ever be written.
    bool CannotWrite() const { return (setupClosed_ && !headerWritten_) || outputFailed_; }
    // The output is broken for good: told once, and every later frame is refused.
    void MarkOutputFailed(int32_t reason);
    // Whether the output took what was just written; FFmpeg keeps a write error in the I/O context.
    bool OutputTook(int result);
    void Notify(int32_t category, int32_t value);

    // output_setup.cpp: streams, header, working file.
    bool EnsureOutputOpen();
    bool DescribeVideoStream();
    bool OpenOutput(int32_t codec, int32_t width, int32_t height, AVRational rate);
    bool OpenVideoStream(AVCodecID codec_id, int32_t width, int32_t height, AVRational rate);
    bool OpenAudioStream();
    bool DescribeVideo(AVCodecParameters *par, AVCodecID codec_id, int32_t width, int32_t height);
    bool VideoDescribed() const;
    bool IsCallbackOutput() const;
    bool OpenFile();
    bool AttachSink();
    bool Init();
    int WriteHeader();
    void ReleaseVideo();
    bool CloseOutputIo();

    // continuation.cpp: an existing recording copied to the front of the new one.
    bool OpenOutputFromExisting(const char *final_path);
    bool ReadVideoProperties(const char *path, AVCodecID &codec_id, int32_t &width,
                             int32_t &height, AVRational &rate);
    bool ContinueRecording(const char *final_path);
    bool PrepareInPlace(const char *final_path);
    bool ResumeInPlace();

    // interleaved_writer.cpp
    int64_t VideoEndTicks() const;
    bool WriteInterleaved();
    bool WriteVideoPacket(const TimedFrame &frame);
    // A video packet's times, in the timeline's ticks.
    struct PacketTimes {
        int64_t pts;
        int64_t dts;
        int64_t duration;
    };
    bool WriteVideoPacketAt(const uint8_t *data, int32_t size, const PacketTimes &times,
                            uint64_t pts, int32_t isKey);
    bool WriteAudioPacket(AVPacket &packet, AVRational time_base) override;
    std::optional<int64_t> AudioFileTime(uint64_t pts) const override;
    void DrainVideoQueue();

    // recording_publish.cpp: the working file under its name, or beside it.
    bool ClaimName(const char *path);
    void FinishWorkingFile();
    void FinishInPlace();
    bool MakePlain(const std::string &source);
    void FinaliseFile();
    void KeepAside(int32_t reason);
    bool FinalFileReplaced() const;
    void SyncWhenDue();
    void CheckWorkingFile();

    const platform::FileOps &files_;
    CallLock callLock_;
    VideoIntake video_;
    AudioTrack audio_{*this};
    void *msgUser_ = nullptr;
    MsgNotifyCallback msgNotify_ = nullptr;

    // A fragmented recording continued in place, and where its fragments end.
    platform::UniqueFd continuedFd_;
    uint64_t appendAt_ = 0;
    std::unique_ptr<FragmentSink> sink_;
    OutputContextPtr output_;
    bool callbackOutput_ = false;
    AVStream *videoStream_ = nullptr;
    AVStream *audioStream_ = nullptr;
    PacketPtr videoPacket_;
    bool headerWritten_ = false;
    // Where the sound ends, for the plain copy (microseconds; AV_NOPTS_VALUE: none).
    int64_t soundEnd_ = AV_NOPTS_VALUE;
    // No set-up is tried again: a header was attempted, or the final file cannot be continued.
    bool setupClosed_ = false;
    bool outputFailed_ = false;
    int32_t fileType_ = 0;
    AvBufferPtr ioBuffer_;
    std::string finalPath_;
    std::string workingPath_;
    // Open and locked from open until the recording has its name: the name is ours meanwhile.
    platform::UniqueFd workingFd_;
    platform::FileIdentity workingFile_;
    // What the final name held at open: close replaces only that.
    std::optional<platform::FileIdentity> finalAtOpen_;
    std::chrono::steady_clock::time_point lastSync_;
    // Where the continued file's tracks end, in their own timescales.
    int64_t resumeVideoTicks_ = 0;
    int64_t resumeAudioSamples_ = 0;
    // Continued in place, the working file holds the recording only once a plain copy is made.
    bool workingHoldsRecording_ = true;

    // In the timeline's ticks: the decode time of the last video packet, and
    // the latest presentation time of any (-1: none yet).
    std::optional<int64_t> lastVideoDts_;
    int64_t lastVideoTicks_ = -1;
    // How long the track's first frame was decoded before it is shown.
    std::optional<int64_t> videoLead_;
    // Closing: frames held for their presentation order are let go.
    bool draining_ = false;
    uint64_t videoFrameCount_ = 0;
    uint64_t beginPts_ = 0;
    uint64_t endPts_ = 0;
};

}  // namespace recmux
