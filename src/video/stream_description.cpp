#include "video/stream_description.h"

#include <cstring>

#include "ffmpeg/av_owners.h"
#include "video/annexb.h"

namespace recmux {
namespace {

// The sample entry holds 16-bit sizes.
constexpr int kMaxDimension = 65535;

// FFmpeg's parser reads the headers up to the first slice without decoding a
// picture: size, profile and level as the stream states them.
void ParseHeaders(AVCodecID codec_id, const uint8_t *data, size_t size,
                  StreamDescription &description)
{
    ParserPtr parser(av_parser_init(codec_id));
    CodecContextPtr context(avcodec_alloc_context3(nullptr));
    // Parsers may read a little past the end: they get a padded copy.
    std::vector<uint8_t> padded(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    if (!parser || !context || size > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
        return;
    std::memcpy(padded.data(), data, size);
    context->codec_id = codec_id;
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    uint8_t *frame = nullptr;
    int frame_size = 0;
    av_parser_parse2(parser.get(), context.get(), &frame, &frame_size, padded.data(),
                     static_cast<int>(size), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (parser->width > 0 && parser->width <= kMaxDimension && parser->height > 0 &&
        parser->height <= kMaxDimension) {
        description.width = parser->width;
        description.height = parser->height;
    }
    description.profile = context->profile;
    description.level = context->level;
    description.format = static_cast<AVPixelFormat>(parser->format);
}

}  // namespace

bool DescribeKeyFrame(AVCodecID codec_id, const uint8_t *data, size_t size,
                      StreamDescription &description)
{
    StreamDescription described;
    described.parameterSets = LeadingParameterSets(codec_id, data, size);
    if (described.parameterSets.empty())
        return false;
    ParseHeaders(codec_id, data, size, described);
    description = std::move(described);
    return true;
}

}  // namespace recmux
