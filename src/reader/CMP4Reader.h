// An MP4 file read back one packet at a time: video of the first video stream
// through the bitstream filter of its codec, audio as stored.
#pragma once

#include <cstdint>
#include <optional>

#include "reader/IReader.h"
#include "ffmpeg/av_owners.h"

namespace recmux {

// Index of the first video stream, in stream order; -1 when there is none.
int FirstVideoStream(const AVFormatContext &input);

// The average rate when its denominator is positive, else the real base rate
// when its denominator is; a zero numerator gives 0.
std::optional<double> StreamFrameRate(AVRational average, AVRational base);
// Milliseconds of `frames` frames at `average`, clamped to 0..INT32_MAX;
// none unless both terms of the rate are positive.
std::optional<int32_t> DurationFromFrameCount(int64_t frames, AVRational average);

class CMP4Reader : public IReader {
public:
    // Packet: copied, size/mediaType/keyFlag set. TooSmall: the packet is kept
    // for the next call, size (and mediaType/keyFlag) describe it, nothing
    // copied. Skipped: nothing to return this time (another track, a corrupt
    // packet, a filter that wants more input); reading on is fine. End: end of
    // file or a read error.
    enum class ReadStatus { Packet, TooSmall, Skipped, End };

    CMP4Reader() = default;
    CMP4Reader(const CMP4Reader &) = delete;
    CMP4Reader &operator=(const CMP4Reader &) = delete;
    ~CMP4Reader() override = default;

    bool Open(const char *path) override;
    bool IsOpen() override;
    bool Close() override;
    bool GetFps(double *fps) override;
    bool GetDuration(int32_t *ms) override;
    // A packet larger than *size is consumed: false with *size set to its size.
    bool ReadFrame(uint8_t *buffer, int32_t *size, int64_t *pts, int32_t *mediaType,
                   int32_t *keyFlag) override;

    // Never loses a packet: one that does not fit stays for the next call.
    ReadStatus ReadNext(uint8_t *buffer, int32_t capacity, int32_t &size, int32_t &mediaType,
                        int32_t &keyFlag);
    // Presentation time, decode time and duration of the packet ReadNext last
    // described, in microseconds.
    int64_t PacketTime() const { return packetTime_; }
    int64_t PacketDecodeTime() const { return packetDecodeTime_; }
    int64_t PacketDuration() const { return packetDuration_; }

private:
    bool OpenInput(const char *path);
    bool OpenFilter();
    const AVStream &VideoStream() const;
    // Gets the next packet to hand out into packet_ (Packet), unless held already.
    ReadStatus Prepare();
    ReadStatus ReadAndFilter();
    bool ReceiveFiltered();
    void Hold(AVMediaType type);
    void Release();
    void Describe(int32_t &size, int32_t &mediaType, int32_t &keyFlag);
    void CopyAndRelease(uint8_t *buffer);

    BsfContextPtr filter_;
    InputContextPtr input_;
    PacketPtr packet_;
    int videoIndex_ = -1;
    bool held_ = false;  // packet_ holds a packet not yet handed out
    AVMediaType heldType_ = AVMEDIA_TYPE_UNKNOWN;
    bool draining_ = false;  // the filter may have more output for what it was sent
    bool flushed_ = false;   // the input has ended and the filter was told so
    int64_t packetTime_ = 0;
    int64_t packetDecodeTime_ = 0;
    int64_t packetDuration_ = 0;
};

}  // namespace recmux
