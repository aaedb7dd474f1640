// G.711: every input against spandsp and the G.191 sweep, every code against both
// expansions, and the byte order of the swapped identifiers.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <spandsp.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

#include "voice_test_support.h"

using namespace voice_test;

namespace {

// All 65536 inputs, -32768 first.
std::vector<int16_t> every_input()
{
    std::vector<int16_t> pcm(65536);
    std::iota(pcm.begin(), pcm.end(), int16_t(-32768));
    return pcm;
}

std::vector<uint8_t> encode_codes(int16_t codec, const std::vector<int16_t> &pcm)
{
    std::vector<uint8_t> codes;
    for (const Frame &frame : encode_stream(codec, pcm, 480)) {
        const std::vector<uint8_t> payload = payload_of(frame);
        codes.insert(codes.end(), payload.begin(), payload.end());
    }
    codes.resize(pcm.size());
    return codes;
}

// Code bytes in sample order, two per frame word, as identifiers 1 and 2 lay them.
std::vector<int16_t> decode_codes(int16_t codec, const std::vector<uint8_t> &codes)
{
    std::vector<Frame> frames;
    for (size_t at = 0; at < codes.size(); at += 480) {
        Frame frame = {0x00, 0x01, 240, 0x00};
        frame.insert(frame.end(), codes.begin() + at, codes.begin() + std::min(at + 480, codes.size()));
        frame.resize(4 + 480, 0xD5);
        frames.push_back(frame);
    }
    std::vector<int16_t> pcm = decode_stream(codec, frames);
    pcm.resize(codes.size());
    return pcm;
}

std::vector<uint8_t> all_codes()
{
    std::vector<uint8_t> codes(256);
    std::iota(codes.begin(), codes.end(), uint8_t(0));
    return codes;
}

struct CodecContextDeleter {
    void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct PacketDeleter {
    void operator()(AVPacket *pkt) const { av_packet_free(&pkt); }
};
struct FrameDeleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};

// FFmpeg's pcm_alaw / pcm_mulaw decoder on one packet of codes.
std::vector<int16_t> ffmpeg_decode(AVCodecID id, const std::vector<uint8_t> &codes)
{
    const AVCodec *codec = avcodec_find_decoder(id);
    std::unique_ptr<AVCodecContext, CodecContextDeleter> ctx(avcodec_alloc_context3(codec));
    std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!codec || !ctx || !pkt || !frame)
        return {};
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0 || av_new_packet(pkt.get(), static_cast<int>(codes.size())) < 0)
        return {};
    std::memcpy(pkt->data, codes.data(), codes.size());
    if (avcodec_send_packet(ctx.get(), pkt.get()) < 0 || avcodec_receive_frame(ctx.get(), frame.get()) < 0 ||
        frame->format != AV_SAMPLE_FMT_S16)
        return {};
    const int16_t *samples = reinterpret_cast<const int16_t *>(frame->data[0]);
    return {samples, samples + frame->nb_samples};
}

int ulaw_level(uint8_t code)
{
    return ~code & 0x7F;
}

} // namespace

TEST(G711Spandsp, AlawEncodingIdenticalOnEveryInput)
{
    const std::vector<int16_t> pcm = every_input();
    const std::vector<uint8_t> codes = encode_codes(ZK_VOICE_G711_ALAW, pcm);
    for (size_t i = 0; i < pcm.size(); ++i)
        ASSERT_EQ(codes[i], linear_to_alaw(pcm[i])) << "input " << pcm[i];
}

// Elsewhere our rounding of negative magnitudes is deliberate (see the G.191 test).
TEST(G711Spandsp, UlawEncodingIdenticalForNonNegativeAndNegativeMultiplesOfFour)
{
    const std::vector<int16_t> pcm = every_input();
    const std::vector<uint8_t> codes = encode_codes(ZK_VOICE_G711_ULAW, pcm);
    size_t compared = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        if (pcm[i] < 0 && pcm[i] % 4 != 0)
            continue;
        ASSERT_EQ(codes[i], linear_to_ulaw(pcm[i])) << "input " << pcm[i];
        ++compared;
    }
    EXPECT_EQ(compared, 32768u + 8192u);
}

TEST(G711Peers, DecodersOfSpandspAndFfmpegAgreeOnAll256Codes)
{
    const std::vector<uint8_t> codes = all_codes();
    const std::vector<int16_t> alaw = decode_codes(ZK_VOICE_G711_ALAW, codes);
    const std::vector<int16_t> ulaw = decode_codes(ZK_VOICE_G711_ULAW, codes);
    EXPECT_EQ(alaw, ffmpeg_decode(AV_CODEC_ID_PCM_ALAW, codes));
    EXPECT_EQ(ulaw, ffmpeg_decode(AV_CODEC_ID_PCM_MULAW, codes));
    for (unsigned c = 0; c < 256; ++c) {
        EXPECT_EQ(alaw[c], alaw_to_linear(static_cast<uint8_t>(c))) << "A-law code " << c;
        EXPECT_EQ(ulaw[c], ulaw_to_linear(static_cast<uint8_t>(c))) << "mu-law code " << c;
    }
}

TEST(G711G191, AlawSweepMatchesOnAllInputs)
{
    const std::vector<uint16_t> src = read_words("g191/g711/sweep.src");
    const std::vector<uint16_t> want = read_words("g191/g711/sweep-r.a");
    ASSERT_EQ(src.size(), 65536u);
    ASSERT_EQ(want.size(), src.size());
    const std::vector<uint8_t> codes = encode_codes(ZK_VOICE_G711_ALAW, {src.begin(), src.end()});
    for (size_t i = 0; i < src.size(); ++i)
        ASSERT_EQ(codes[i], want[i] & 0xFF) << "input " << int16_t(src[i]);
}

// -1 encodes to 0x7E where G.191 gives 0x7F: we take the magnitude of the shifted
// negative sample, which moves each negative decision boundary by one 14-bit step.
TEST(G711G191, UlawSweepDiffersOnlyByOneStepAtNegativeBoundaries)
{
    const std::vector<uint16_t> src = read_words("g191/g711/sweep.src");
    const std::vector<uint16_t> want = read_words("g191/g711/sweep-r.u");
    ASSERT_EQ(want.size(), src.size());
    const std::vector<uint8_t> codes = encode_codes(ZK_VOICE_G711_ULAW, {src.begin(), src.end()});
    size_t differences = 0;
    for (size_t i = 0; i < src.size(); ++i) {
        const uint8_t theirs = want[i] & 0xFF;
        if (codes[i] == theirs)
            continue;
        ++differences;
        const int16_t x = static_cast<int16_t>(src[i]);
        ASSERT_LT(x, 0);
        ASSERT_EQ(codes[i] & 0x80, theirs & 0x80);
        ASSERT_EQ(ulaw_level(codes[i]), ulaw_level(theirs) + 1) << "input " << x;
        // G.191 takes the one's complement, a 14-bit magnitude one smaller than
        // ours: the input lies on a boundary, and one magnitude step less lands on
        // G.191's level.
        const uint8_t nearer = encode_codes(ZK_VOICE_G711_ULAW, {int16_t(x + 4)})[0];
        ASSERT_EQ(ulaw_level(nearer), ulaw_level(theirs)) << "input " << x;
    }
    EXPECT_EQ(differences, 508u);
}

TEST(G711G191, DecodersMatchTheSweepExpansions)
{
    for (const auto &[codes_file, linear_file, codec] :
         {std::tuple{"sweep-r.a", "sweep-r.rea", ZK_VOICE_G711_ALAW},
          std::tuple{"sweep-r.u", "sweep-r.reu", ZK_VOICE_G711_ULAW}}) {
        SCOPED_TRACE(codes_file);
        const std::vector<uint16_t> in = read_words(std::string("g191/g711/") + codes_file);
        const std::vector<uint16_t> want = read_words(std::string("g191/g711/") + linear_file);
        ASSERT_EQ(in.size(), want.size());
        std::vector<uint8_t> codes(in.size());
        std::transform(in.begin(), in.end(), codes.begin(), [](uint16_t w) { return uint8_t(w); });
        const std::vector<int16_t> pcm = decode_codes(static_cast<int16_t>(codec), codes);
        for (size_t i = 0; i < pcm.size(); ++i)
            ASSERT_EQ(pcm[i], int16_t(want[i])) << "code " << int(codes[i]);
    }
}

TEST(G711Examples, EncoderAndDecoderValues)
{
    const std::vector<int16_t> inputs = {0, -1, 32767, -32768};
    EXPECT_EQ(encode_codes(ZK_VOICE_G711_ALAW, inputs), (std::vector<uint8_t>{0xD5, 0x55, 0xAA, 0x2A}));
    EXPECT_EQ(encode_codes(ZK_VOICE_G711_ULAW, inputs), (std::vector<uint8_t>{0xFF, 0x7E, 0x80, 0x00}));
    EXPECT_EQ(decode_codes(ZK_VOICE_G711_ALAW, {0xD5, 0x55, 0x80, 0xAA, 0x2A}),
              (std::vector<int16_t>{8, -8, 5504, 32256, -32256}));
    EXPECT_EQ(decode_codes(ZK_VOICE_G711_ULAW, {0xFF, 0x7F, 0x80, 0x00}),
              (std::vector<int16_t>{0, 0, 32124, -32124}));
}

TEST(G711ByteOrder, SwappedIdentifiersExchangeTheBytesOfEachWord)
{
    const std::vector<int16_t> pcm = {0, 32767};
    for (const auto &[plain, swapped] : {std::pair{ZK_VOICE_G711_ALAW, ZK_VOICE_G711_ALAW_SWAPPED},
                                         std::pair{ZK_VOICE_G711_ULAW, ZK_VOICE_G711_ULAW_SWAPPED}}) {
        SCOPED_TRACE(swapped);
        const Frame a = encode_stream(plain, speech_signal(), 160)[7];
        Frame b = encode_stream(swapped, speech_signal(), 160)[7];
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 4; i < a.size(); i += 2) {
            ASSERT_EQ(a[i], b[i + 1]);
            ASSERT_EQ(a[i + 1], b[i]);
        }
        EXPECT_EQ(decode_stream(plain, {a}), decode_stream(swapped, {b}));
    }
    EXPECT_EQ(payload_of(encode_stream(ZK_VOICE_G711_ALAW, pcm, 80)[0]).front(), 0xD5);
    const std::vector<uint8_t> swapped = payload_of(encode_stream(ZK_VOICE_G711_ALAW_SWAPPED, pcm, 80)[0]);
    EXPECT_EQ(swapped[0], 0xAA);
    EXPECT_EQ(swapped[1], 0xD5);
}
