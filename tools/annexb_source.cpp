#include "annexb_source.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "ffmpeg/av_owners.h"
#include "file_problems.h"
#include "platform/interrupts.h"
#include "platform/regular_files.h"

namespace recmux_tool {

using recmux::CodecContextPtr;
using recmux::ParserPtr;
using recmux::platform::UniqueFd;

namespace {

constexpr size_t kChunkSize = 64 * 1024;

class AnnexBSource final : public FrameSource {
public:
    AnnexBSource(std::string path, UniqueFd fd, uintmax_t size, CodecContextPtr context,
                 ParserPtr parser)
        // The parser may read past the end of what it is given, so the chunk
        // carries FFmpeg's zeroed padding behind it.
        : path_(std::move(path)), fd_(std::move(fd)), size_(size), context_(std::move(context)),
          parser_(std::move(parser)), chunk_(kChunkSize + AV_INPUT_BUFFER_PADDING_SIZE, 0)
    {
    }
    bool Next(AccessUnit &unit) override
    {
        while (!done_) {
            if (offset_ == filled_ && !end_of_file_ && !Refill())
                return false;
            // At the end of the file an empty input makes the parser hand out its last unit.
            const bool flushing = offset_ == filled_;
            uint8_t *out = nullptr;
            int out_size = 0;
            const int used = av_parser_parse2(parser_.get(), context_.get(), &out, &out_size,
                                              flushing ? nullptr : chunk_.data() + offset_,
                                              static_cast<int>(filled_ - offset_), AV_NOPTS_VALUE,
                                              AV_NOPTS_VALUE, 0);
            if (used < 0) {
                ReportProblem(path_, "FFmpeg's parser failed on it");
                failed_ = true;
                return false;
            }
            offset_ += static_cast<size_t>(used);
            done_ = flushing;
            if (out_size > 0 && TakeUnit(out, static_cast<size_t>(out_size), unit))
                return true;
        }
        return false;
    }

    bool Failed() const override { return failed_; }
    double Fraction() const override
    {
        return size_ > 0 ? static_cast<double>(read_) / static_cast<double>(size_) : -1;
    }

private:
    // The HEVC parser cuts between the zero byte of a four-byte start code and
    // the rest of it. A NAL unit never ends in 0x00, so trailing zeros belong to
    // the start code of the next unit; they move there and every unit begins
    // with the stream's own start code.
    bool TakeUnit(const uint8_t *out, size_t out_size, AccessUnit &unit)
    {
        unit.bytes.assign(zeros_ahead_, 0);
        unit.bytes.insert(unit.bytes.end(), out, out + out_size);
        zeros_ahead_ = 0;
        while (!done_ && !unit.bytes.empty() && unit.bytes.back() == 0) {
            unit.bytes.pop_back();
            zeros_ahead_++;
        }
        // The MPEG-4 parser reports only the picture type.
        unit.key = parser_->key_frame == 1 || parser_->pict_type == AV_PICTURE_TYPE_I;
        WarnOfReordering(unit.key);
        return !unit.bytes.empty();
    }

    // Frames without timestamps are stamped in the order they come, which
    // shows B-frames out of place: said once, as the recording is then wrong.
    void WarnOfReordering(bool key)
    {
        const int shown = parser_->output_picture_number;
        const bool reordered = parser_->pict_type == AV_PICTURE_TYPE_B ||
                               (!key && context_->codec_id != AV_CODEC_ID_MPEG4 && shown < latest_shown_);
        latest_shown_ = key ? shown : std::max(latest_shown_, shown);
        if (!reordered || warned_)
            return;
        warned_ = true;
        ReportProblem(path_, "warning: it has B-frames and no timestamps, so its pictures are recorded "
                             "in decode order; record a capture with its own timestamps");
    }

    // What a pipe holds so far is parsed at once, not after a whole chunk.
    bool Refill()
    {
        const long got = ReadSome();
        if (got < 0) {
            ReportProblem(path_, SystemReason(errno));
            failed_ = true;
            return false;
        }
        filled_ = static_cast<size_t>(got);
        std::fill_n(chunk_.begin() + got, AV_INPUT_BUFFER_PADDING_SIZE, 0);
        read_ += filled_;
        offset_ = 0;
        end_of_file_ = got == 0;
        return true;
    }

    // A signal cuts a wait on a pipe short; the one that stops the recording
    // ends the input there.
    long ReadSome()
    {
        for (;;) {
            const long got = recmux::platform::ReadSome(fd_.Get(), chunk_.data(), kChunkSize);
            if (got >= 0 || errno != EINTR)
                return got;
            if (recmux::platform::InterruptSignal() != 0)
                return 0;
        }
    }

    std::string path_;
    UniqueFd fd_;
    uintmax_t size_;
    uintmax_t read_ = 0;
    CodecContextPtr context_;
    ParserPtr parser_;
    std::vector<uint8_t> chunk_;
    size_t filled_ = 0;
    size_t offset_ = 0;
    size_t zeros_ahead_ = 0;
    int latest_shown_ = 0;
    bool warned_ = false;
    bool end_of_file_ = false;
    bool done_ = false;
    bool failed_ = false;
};

}  // namespace

bool EndsWith(const std::string &text, const char *suffix)
{
    const std::string tail(suffix);
    return text.size() >= tail.size() &&
           std::equal(tail.rbegin(), tail.rend(), text.rbegin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

std::optional<VideoCodec> CodecFromExtension(const std::string &path)
{
    if (EndsWith(path, ".h264") || EndsWith(path, ".264"))
        return VideoCodec::H264;
    if (EndsWith(path, ".hevc") || EndsWith(path, ".h265") || EndsWith(path, ".265"))
        return VideoCodec::H265;
    if (EndsWith(path, ".m4v"))
        return VideoCodec::Mpeg4;
    return std::nullopt;
}

std::unique_ptr<FrameSource> OpenAnnexBFile(const std::string &path, VideoCodec codec)
{
    UniqueFd fd = recmux::platform::OpenToRead(path.c_str());
    if (!fd) {
        ReportProblem(path, SystemReason(errno));
        return nullptr;
    }
    const AVCodecID id = codec == VideoCodec::H264   ? AV_CODEC_ID_H264
                         : codec == VideoCodec::H265 ? AV_CODEC_ID_HEVC
                                                     : AV_CODEC_ID_MPEG4;
    ParserPtr parser(av_parser_init(id));
    CodecContextPtr context(avcodec_alloc_context3(nullptr));
    if (!parser || !context) {
        std::fprintf(stderr, "recmux: cannot set up FFmpeg's %s parser\n", avcodec_get_name(id));
        return nullptr;
    }
    context->codec_id = id;
    std::error_code unknown;
    const uintmax_t size = std::filesystem::file_size(path, unknown);
    return std::make_unique<AnnexBSource>(path, std::move(fd), unknown ? 0 : size, std::move(context),
                                          std::move(parser));
}

}  // namespace recmux_tool
