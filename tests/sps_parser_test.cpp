#include "video/sps_parser.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>
#include <vector>

#include "media_fixture.h"
#include "platform/library_log.h"
#include "test_files.h"

namespace recmux {
namespace {

const std::string kStartCode("\0\0\0\1", 4);

// Width, height, and whether frames may be coded as fields.
using Size = std::array<int32_t, 3>;
// Sentinels show whether a failed call touched the outputs.
constexpr Size kUntouched{-7, -7, -7};

void Keep(void *text, int32_t, const char *line)
{
    *static_cast<std::string *>(text) += line;
}

// Parses an exact-size heap copy, so that ASan sees every byte read past the
// end; the debug line goes to `message`.
bool Parse(const std::string &frame, Size &out, std::string *message = nullptr)
{
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    std::string text;
    platform::SetLogCallback(Keep, &text, platform::kLogDebug);
    const bool ok = GetResulotion(bytes.data(), static_cast<uint32_t>(bytes.size()), out[0], out[1], out[2]);
    platform::SetLogCallback(nullptr, nullptr, 0);
    if (message)
        *message = std::move(text);
    return ok;
}

// The first frame of a one-frame libx264 encoding of the test pattern.
std::string EncodeFrame(const std::string &size, const std::string &options)
{
    return test::ReadAll(test::Fixture(size + options + ".h264", "-f lavfi -i testsrc=size=" + size +
                                                                  " -frames:v 1 -c:v libx264 " + options + " -f h264"));
}

// The NAL unit at the front of a stream, without the start code behind it.
std::string FirstUnit(const std::string &stream)
{
    size_t end = stream.find(std::string("\0\0\1", 3), 4);
    while (end != std::string::npos && end > 4 && stream[end - 1] == 0)
        --end;
    return stream.substr(0, end);
}

// FFmpeg's own reading of pic_width_in_mbs_minus1 and pic_height_in_map_units_minus1.
std::vector<std::string> PeerSize(const std::string &sps)
{
    static const test::TempDir dir;
    const std::string path = dir.Path("written-sps.h264");
    test::WriteAll(path, sps);
    return test::Lines("ffmpeg -nostdin -v trace -f h264 -i '" + path +
                       "' -c copy -bsf:v trace_headers -f null - 2>&1 |"
                       " sed -n 's/.* pic_\\(width_in_mbs\\|height_in_map_units\\)_minus1 .* = //p' | head -n 2");
}

// Writes parameter sets bit by bit, as an encoder would, escaped for Annex B.
struct BitWriter {
    std::vector<bool> bits;

    void U(int n, uint64_t value)
    {
        for (int i = n - 1; i >= 0; --i)
            bits.push_back((value >> i) & 1);
    }
    void Ue(uint64_t value) { U(2 * std::bit_width(value + 1) - 1, value + 1); }
    void Se(int64_t value) { Ue(value > 0 ? 2 * value - 1 : -2 * value); }

    std::string Nal(uint8_t header)
    {
        bits.push_back(true);  // rbsp_stop_one_bit
        bits.resize((bits.size() + 7) / 8 * 8);
        std::string nal = kStartCode + static_cast<char>(header);
        for (size_t i = 0; i < bits.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t b = 0; b < 8; ++b)
                byte = static_cast<uint8_t>(byte << 1 | bits[i + b]);
            if (byte <= 3 && nal.ends_with(std::string(2, '\0')))
                nal += '\3';
            nal += static_cast<char>(byte);
        }
        return nal;
    }
};

struct SpsFields {
    uint32_t profile_idc = 66;  // 244 brings chroma_format_idc 3
    // One entry per scaling list: its delta_scale codes, none when absent.
    std::vector<std::vector<int32_t>> scalingLists = {};
    uint32_t pic_order_cnt_type = 0;
    std::vector<int64_t> offsetForRefFrame = {};
    uint64_t pic_width_in_mbs_minus1 = 19;
    uint64_t pic_height_in_map_units_minus1 = 14;
    bool frame_mbs_only_flag = true;
};

std::string MakeSps(const SpsFields &f)
{
    BitWriter w;
    w.U(24, f.profile_idc << 16 | 30);  // no constraint flags, level_idc 30
    w.Ue(0);
    if (f.profile_idc != 66) {
        w.Ue(f.profile_idc == 244 ? 3 : 1);
        if (f.profile_idc == 244)
            w.U(1, 0);
        w.Ue(0);  // bit depths
        w.Ue(0);
        w.U(2, !f.scalingLists.empty());
        for (const std::vector<int32_t> &deltas : f.scalingLists) {
            w.U(1, !deltas.empty());
            for (int32_t delta : deltas)
                w.Se(delta);
        }
    }
    w.Ue(0);
    w.Ue(f.pic_order_cnt_type);
    if (f.pic_order_cnt_type == 0)
        w.Ue(2);
    if (f.pic_order_cnt_type == 1) {
        w.U(1, 0);
        w.Se(0);
        w.Se(-2);
        w.Ue(f.offsetForRefFrame.size());
        for (int64_t offset : f.offsetForRefFrame)
            w.Se(offset);
    }
    w.Ue(1);
    w.U(1, 0);
    w.Ue(f.pic_width_in_mbs_minus1);
    w.Ue(f.pic_height_in_map_units_minus1);
    w.U(1, f.frame_mbs_only_flag);
    w.U(3, 0b100);  // direct_8x8_inference, no cropping, no VUI
    return w.Nal(0x67);
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
        Size got = kUntouched;
        ASSERT_TRUE(Parse(frame, got));
        EXPECT_EQ(got, s.expected);
        const std::string sps = FirstUnit(frame);
        const std::string pps = FirstUnit(frame.substr(sps.size()));
        ASSERT_EQ(pps[4] & 0x1F, 8);
        bool succeeded = false;
        for (size_t length = 0; length <= sps.size(); ++length) {
            got = kUntouched;
            const bool ok = Parse(sps.substr(0, length), got);
            EXPECT_EQ(got, ok ? s.expected : kUntouched) << length;
            EXPECT_TRUE(ok || !succeeded) << "longer prefix failed at " << length;
            EXPECT_TRUE(ok || !Parse(sps.substr(0, length) + pps, got)) << length;
            succeeded |= ok;
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
        Size got = kUntouched;
        std::string message;
        EXPECT_FALSE(Parse(frame, got, &message));
        EXPECT_EQ(got, kUntouched);
        EXPECT_EQ(message, "");
    }
    Size got = kUntouched;
    EXPECT_FALSE(GetResulotion(nullptr, 100, got[0], got[1], got[2]));
    EXPECT_EQ(got, kUntouched);
}

std::vector<std::vector<int32_t>> Lists(std::vector<std::vector<int32_t>> lists, size_t count)
{
    lists.resize(count);
    return lists;
}

// Parameter sets no encoder at hand writes: scaling lists, long picture order
// cycles, escaped bytes, the size limits. FFmpeg must read every accepted one alike.
TEST(SpsParser, WrittenParameterSetsAsFfmpegReadsThem)
{
    const std::vector<int32_t> full4(16, 1), full8(64, 1);
    // Full lists, one cut short by a zero scale, "use the default", absent lists.
    const auto high = Lists({full4, {-8}, {}, {5, -13}, {}, std::vector<int32_t>(16, 0), full8, {4, -12}}, 8);
    const auto high444 = Lists({full4, {-8}, {}, {5, -13}, {}, {}, full8, {4, -12}, {}, full8, {-8}}, 12);
    const SpsFields escaped{.pic_order_cnt_type = 1, .offsetForRefFrame = {int64_t{1} << 23}};  // a run of zero bits
    ASSERT_NE(MakeSps(escaped).find(std::string("\0\0\3", 3)), std::string::npos);
    const struct {
        const char *what;
        SpsFields fields;
        Size expected;
    } cases[] = {
        {"scaling lists", {.profile_idc = 100, .scalingLists = high}, {320, 240, 0}},
        {"4:4:4 scaling lists",
         {.profile_idc = 244, .scalingLists = high444, .pic_width_in_mbs_minus1 = 44, .frame_mbs_only_flag = false},
         {720, 480, 1}},
        // Each list ends on a zero scale, so only the range can make these fail.
        {"delta_scale at its limits", {.profile_idc = 100, .scalingLists = Lists({{127, -128, -7}}, 8)}, {320, 240, 0}},
        {"delta_scale 128", {.profile_idc = 100, .scalingLists = Lists({{128, -128, -8}}, 8)}, kUntouched},
        {"delta_scale -129", {.profile_idc = 100, .scalingLists = Lists({{-129, -128, -7}}, 8)}, kUntouched},
        {"255 frames in the cycle", {.pic_order_cnt_type = 1, .offsetForRefFrame = std::vector<int64_t>(255, -3)},
         {320, 240, 0}},
        {"256 frames in the cycle", {.pic_order_cnt_type = 1, .offsetForRefFrame = std::vector<int64_t>(256, -3)},
         kUntouched},
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
        Size got = kUntouched;
        Parse(sps, got);
        EXPECT_EQ(got, c.expected);
        if (c.expected == kUntouched)
            continue;
        EXPECT_EQ(PeerSize(sps), (std::vector<std::string>{std::to_string(c.fields.pic_width_in_mbs_minus1),
                                                           std::to_string(c.fields.pic_height_in_map_units_minus1)}));
    }
}

}  // namespace
}  // namespace recmux
