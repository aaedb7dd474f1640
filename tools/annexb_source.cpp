#include "annexb_source.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "ffmpeg/av_owners.h"

namespace recmux_tool {

using recmux::CodecContextPtr;
using recmux::ParserPtr;

namespace {

constexpr size_t kChunkSize = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class AnnexBSource final : public FrameSource {
public:
    AnnexBSource(FilePtr file, uintmax_t size, CodecContextPtr context, ParserPtr parser)
        // The parser may read past the end of what it is given, so the chunk
        // carries FFmpeg's zeroed padding behind it.
        : file_(std::move(file)), size_(size), context_(std::move(context)),
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
                std::fprintf(stderr, "recmux: the parser failed on the input\n");
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
        return !unit.bytes.empty();
    }

    bool Refill()
    {
        filled_ = std::fread(chunk_.data(), 1, kChunkSize, file_.get());
        read_ += filled_;
        offset_ = 0;
        if (filled_ < kChunkSize) {
            end_of_file_ = true;
            if (std::ferror(file_.get())) {
                std::fprintf(stderr, "recmux: reading the input failed\n");
                failed_ = true;
                return false;
            }
        }
        return true;
    }

    FilePtr file_;
    uintmax_t size_;
    uintmax_t read_ = 0;
    CodecContextPtr context_;
    ParserPtr parser_;
    std::vector<uint8_t> chunk_;
    size_t filled_ = 0;
    size_t offset_ = 0;
    size_t zeros_ahead_ = 0;
    bool end_of_file_ = false;
    bool done_ = false;
    bool failed_ = false;
};

bool EndsWith(const std::string &text, const char *suffix)
{
    const std::string tail(suffix);
    return text.size() >= tail.size() &&
           std::equal(tail.rbegin(), tail.rend(), text.rbegin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

}  // namespace

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
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::fprintf(stderr, "recmux: cannot read %s\n", path.c_str());
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
    return std::make_unique<AnnexBSource>(std::move(file), unknown ? 0 : size, std::move(context),
                                          std::move(parser));
}

}  // namespace recmux_tool
