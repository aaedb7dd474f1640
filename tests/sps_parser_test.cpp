#include "video/sps_parser.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>
#include <vector>

#include "media_fixture.h"
#include "platform/library_log.h"
#include "test_files.h"
#include "video/annexb.h"
#include "video/reorder_depth.h"

namespace recmux {
namespace {

const std::string kStartCode("\0\0\0\1", 4);

// Width, height, and whether frames may be coded as fields.
using Size = std::array<int32_t, 3>;
constexpr Size kUntouched{-7, -7, -7};  // what a failed call must leave alone

// The outputs for an exact-size heap copy (ASan sees any read past its end); the debug line goes to log.
Size Parse(const std::string &frame, std::string *log = nullptr)
{
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    std::string ignored, &text = log ? *log : ignored;
    const auto keep = [](void *sink, int32_t, const char *line) { *static_cast<std::string *>(sink) += line; };
    platform::SetLogCallback(keep, &text, platform::kLogDebug);
    Size out = kUntouched;
    const bool ok = GetResulotion(bytes.data(), static_cast<uint32_t>(bytes.size()), out[0], out[1], out[2]);
    platform::SetLogCallback(nullptr, nullptr, 0);
    EXPECT_EQ(ok, out != kUntouched) << "for " << frame.size() << " bytes";
    return out;
}

// The first frame of a one-frame libx264 encoding of the test pattern.
std::string EncodeFrame(const std::string &size, const std::string &options)
{
    return test::ReadAll(test::Fixture(size + options + ".h264", "-f lavfi -i testsrc=size=" + size +
                                                                  " -frames:v 1 -c:v libx264 " + options + " -f h264"));
}

// The NAL unit at the front of a stream, without the start code (and zero bytes) behind it.
std::string FirstUnit(const std::string &stream)
{
    return stream.substr(0, stream.find_last_not_of('\0', stream.find(std::string("\0\0\1", 3), 4) - 1) + 1);
}

// FFmpeg's own reading of pic_width_in_mbs_minus1 and pic_height_in_map_units_minus1.
std::vector<std::string> PeerSize(const std::string &sps)
{
    static const test::TempDir dir;
    test::WriteAll(dir.Path("written-sps.h264"), sps);
    return test::Lines("ffmpeg -nostdin -v trace -f h264 -i '" + dir.Path("written-sps.h264") +
                       "' -c copy -bsf:v trace_headers -f null - 2>&1 |"
                       " sed -n 's/.* pic_\\(width_in_mbs\\|height_in_map_units\\)_minus1 .* = //p' | head -n 2");
}

struct SpsFields {
    uint32_t profile_idc = 66;  // 244 brings chroma_format_idc 3
    // Each scaling list's delta_scale codes, none when absent; no lists, no matrix.
    std::vector<std::vector<int32_t>> scalingLists = {};
    std::vector<int64_t> offsetForRefFrame = {};  // pic_order_cnt_type 1 with any, else 0
    uint64_t pic_width_in_mbs_minus1 = 19;
    uint64_t pic_height_in_map_units_minus1 = 14;
    bool frame_mbs_only_flag = true;
};

// Written bit by bit, as an encoder would, and escaped for Annex B.
std::string MakeSps(SpsFields f)
{
    std::string bits;  // '0' and '1'; ue(0) is "1"
    const auto u = [&](int n, uint64_t value) { while (n--) bits += "01"[(value >> n) & 1]; };
    const auto ue = [&](uint64_t value) { u(2 * std::bit_width(value + 1) - 1, value + 1); };
    const auto se = [&](int64_t value) { ue(value > 0 ? 2 * value - 1 : -2 * value); };
    u(24, f.profile_idc << 16 | 30);  // no constraint flags, level_idc 30
    bits += '1';                      // seq_parameter_set_id
    if (f.profile_idc != 66) {
        bits += f.profile_idc == 244 ? "001000110" : "010110";  // chroma_format_idc 3 or 1, 8 bits, no bypass
        bits += f.scalingLists.empty() ? '0' : '1';
        f.scalingLists.resize(f.scalingLists.empty() ? 0 : f.profile_idc == 244 ? 12 : 8);
        for (const std::vector<int32_t> &deltas : f.scalingLists) {
            bits += deltas.empty() ? '0' : '1';
            for (int32_t delta : deltas)
                se(delta);
        }
    }
    bits += '1';  // log2_max_frame_num_minus4
    if (f.offsetForRefFrame.empty()) {
        bits += "1011";  // pic_order_cnt_type 0, log2_max_pic_order_cnt_lsb_minus4 2
    } else {
        bits += "0100100101";  // pic_order_cnt_type 1, no delta_pic_order_always_zero, offsets 0 and -2
        ue(f.offsetForRefFrame.size());
        for (int64_t offset : f.offsetForRefFrame)
            se(offset);
    }
    bits += "0100";  // max_num_ref_frames 1, no gaps in frame_num
    ue(f.pic_width_in_mbs_minus1);
    ue(f.pic_height_in_map_units_minus1);
    bits += f.frame_mbs_only_flag ? "11001" : "01001";  // direct_8x8_inference, no cropping or VUI, stop bit
    bits.resize((bits.size() + 7) / 8 * 8, '0');
    std::string nal = kStartCode + "\x67";
    for (size_t i = 0; i < bits.size(); i += 8) {
        const int byte = std::stoi(bits.substr(i, 8), nullptr, 2);
        if (byte <= 3 && nal.ends_with(std::string(2, '\0')))
            nal += '\3';
        nal += static_cast<char>(byte);
    }
    return nal;
}

// The caller hands us the access unit or the SPS alone, perhaps cut short: bits
// are never invented, not even from the start code of the NAL unit behind it.
TEST(SpsParser, CodedSizeOfRealEncodersParameterSetsAndOfEveryPrefix)
{
    const struct {
        const char *size, *options;
        Size expected;
    } streams[] = {
        {"320x240", "-profile:v baseline -pix_fmt yuv420p", {320, 240, 0}},
        {"640x360", "-profile:v high -pix_fmt yuv420p", {640, 368, 0}},
        {"1920x1080", "-pix_fmt yuv420p -flags +ilme+ildct", {1920, 1088, 1}},
        {"352x288", "-pix_fmt yuv444p", {352, 288, 0}},
    };
    for (const auto &s : streams) {
        SCOPED_TRACE(s.options);
        const std::string frame = EncodeFrame(s.size, s.options);
        ASSERT_EQ(Parse(frame), s.expected);
        const std::string sps = FirstUnit(frame), pps = FirstUnit(frame.substr(sps.size()));
        ASSERT_EQ(pps[4] & 0x1F, 8);
        bool succeeded = false;
        for (size_t length = 0; length <= sps.size(); ++length) {
            const Size got = Parse(sps.substr(0, length));
            EXPECT_TRUE(got == s.expected || got == kUntouched) << length;
            EXPECT_TRUE(got == s.expected || !succeeded) << "longer prefix failed at " << length;
            EXPECT_TRUE(got == s.expected || Parse(sps.substr(0, length) + pps) == kUntouched) << length;
            succeeded = got == s.expected;
        }
        EXPECT_TRUE(succeeded);
    }
}

TEST(SpsParser, FramesNotStartingWithAnSpsFailSilently)
{
    const std::string sps = FirstUnit(EncodeFrame("320x240", "-profile:v baseline -pix_fmt yuv420p"));
    const std::string silent[] = {
        kStartCode + std::string("\x06\x05\x01\x00\x80", 5) + sps,        // SEI first
        kStartCode + std::string("\x42\x01\x01\x01\x60\x00\x00\x03", 8),  // H.265 SPS
        sps.substr(1),                                                     // three-byte start code
        std::string("\0\0\1\1", 4) + sps.substr(4),
    };
    for (const std::string &frame : silent) {
        std::string log;
        EXPECT_EQ(Parse(frame, &log), kUntouched);
        EXPECT_EQ(log, "");
    }
    Size got = kUntouched;
    EXPECT_FALSE(GetResulotion(nullptr, 100, got[0], got[1], got[2]));
    EXPECT_EQ(got, kUntouched);
}

// Parameter sets no encoder at hand writes: scaling lists, long picture order
// cycles, escaped bytes, the size limits. FFmpeg must read every accepted one alike.
TEST(SpsParser, WrittenParameterSetsAsFfmpegReadsThem)
{
    using Lists = std::vector<std::vector<int32_t>>;
    const std::vector<int32_t> full4(16, 1), full8(64, 1), zero4(16, 0);
    // Full lists, one cut short by a zero scale, "use the default", absent lists.
    const Lists high = {full4, {-8}, {}, {5, -13}, {}, zero4, full8, {4, -12}};
    const Lists high444 = {full4, {-8}, {}, {5, -13}, {}, {}, full8, {4, -12}, {}, full8, {-8}};
    const SpsFields escaped{.offsetForRefFrame = {int64_t{1} << 23}};  // a run of zero bits
    ASSERT_NE(MakeSps(escaped).find(std::string("\0\0\3", 3)), std::string::npos);
    const struct {
        const char *what;
        SpsFields fields;
        Size expected;
    } cases[] = {
        {"scaling lists", {.profile_idc = 100, .scalingLists = high}, {320, 240, 0}},
        {"4:4:4 scaling lists", {.profile_idc = 244, .scalingLists = high444, .pic_width_in_mbs_minus1 = 44,
                                 .frame_mbs_only_flag = false}, {720, 480, 1}},
        // Each list ends on a zero scale, so only the range can make these fail.
        {"delta_scale at its limits", {.profile_idc = 100, .scalingLists = {{127, -128, -7}}}, {320, 240, 0}},
        {"delta_scale 128", {.profile_idc = 100, .scalingLists = {{128, -128, -8}}}, kUntouched},
        {"delta_scale -129", {.profile_idc = 100, .scalingLists = {{-129, -128, -7}}}, kUntouched},
        {"255 frames in the cycle", {.offsetForRefFrame = std::vector<int64_t>(255, -3)}, {320, 240, 0}},
        {"256 frames in the cycle", {.offsetForRefFrame = std::vector<int64_t>(256, -3)}, kUntouched},
        {"escaped zero run", escaped, {320, 240, 0}},
        {"largest", {.pic_width_in_mbs_minus1 = 1023, .pic_height_in_map_units_minus1 = 1023}, {16384, 16384, 0}},
        {"too high", {.pic_height_in_map_units_minus1 = 1024}, kUntouched},
        {"largest fields", {.pic_height_in_map_units_minus1 = 511, .frame_mbs_only_flag = false}, {320, 16384, 1}},
        {"fields too high", {.pic_height_in_map_units_minus1 = 512, .frame_mbs_only_flag = false}, kUntouched},
        // (2^28 + 20) * 16 is 320 in 32-bit arithmetic.
        {"width wrapping 32 bits", {.pic_width_in_mbs_minus1 = (uint64_t{1} << 28) + 19}, kUntouched},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string sps = MakeSps(c.fields);
        EXPECT_EQ(Parse(sps), c.expected);
        if (c.expected == kUntouched)
            continue;
        EXPECT_EQ(PeerSize(sps), (std::vector<std::string>{std::to_string(c.fields.pic_width_in_mbs_minus1),
                                                           std::to_string(c.fields.pic_height_in_map_units_minus1)}));
    }
}

// How many frames a decoder holds back: what FFmpeg's decoder reads from real
// encoders' parameter sets, and what the level allows where the VUI is silent.
TEST(ReorderDepth, AsFfmpegReadsItOrAsTheLevelAllows)
{
    for (const char *encoder : {"libx264 -bf 0", "libx264 -bf 2", "libx264 -bf 3 -x264-params b-pyramid=none",
                                "libx264 -profile:v baseline -pix_fmt yuv420p", "libx265 -x265-params log-level=error:bframes=0",
                                "libx265 -x265-params log-level=error:bframes=4"}) {
        const bool hevc = std::string(encoder).starts_with("libx265");
        const AVCodecID codec = hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
        const std::string path = test::Fixture(std::string(encoder) + (hevc ? ".hevc" : ".h264"),
                                               std::string("-f lavfi -i testsrc=size=320x240 -frames:v 10 -c:v ") + encoder +
                                                   (hevc ? " -f hevc" : " -f h264"));
        const std::string stream = test::ReadAll(path);
        const auto *bytes = reinterpret_cast<const uint8_t *>(stream.data());
        EXPECT_EQ(std::to_string(ReorderDepth(codec, LeadingParameterSets(codec, bytes, stream.size()))),
                  test::Probe(path, "has_b_frames")) << encoder;
    }
    // High profile at level 3 without a VUI: 8100 macroblocks of pictures, at most 16.
    for (const auto &[width_mbs, height_mbs, depth] : {std::array<uint32_t, 3>{20, 15, 16}, {40, 23, 8}}) {
        const std::string sps = MakeSps({.profile_idc = 100, .pic_width_in_mbs_minus1 = width_mbs - 1,
                                         .pic_height_in_map_units_minus1 = height_mbs - 1});
        EXPECT_EQ(ReorderDepth(AV_CODEC_ID_H264, std::vector<uint8_t>(sps.begin(), sps.end())), depth);
    }
    EXPECT_EQ(ReorderDepth(AV_CODEC_ID_H264, {}), 16u);
    EXPECT_EQ(ReorderDepth(AV_CODEC_ID_MPEG4, {}), 1u);
}

}  // namespace
}  // namespace recmux
