#include "video/sps_parser.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "media_fixture.h"
#include "test_files.h"

namespace recmux {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const std::string kStartCode("\0\0\0\1", 4);
const std::string kBaseline = "-profile:v baseline -pix_fmt yuv420p";

struct Size {
    int32_t width, height, fieldCoded;
    bool operator==(const Size &) const = default;
};

void PrintTo(const Size &size, std::ostream *out)
{
    *out << size.width << "x" << size.height << (size.fieldCoded ? " fields" : " frames");
}

// Sentinels show whether a failed call touched the outputs.
constexpr Size kUntouched{-7, -7, -7};

// Parses an exact-size heap copy, so that ASan sees every byte read past the
// end; the debug line goes to `message` rather than into the test log.
bool Parse(const std::string &frame, Size &out, std::string *message = nullptr)
{
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    testing::internal::CaptureStderr();
    const bool ok = GetResulotion(bytes.data(), static_cast<uint32_t>(bytes.size()), out.width,
                                  out.height, out.fieldCoded);
    std::string text = testing::internal::GetCapturedStderr();
    if (message)
        *message = std::move(text);
    return ok;
}

// The NAL units of an Annex B stream, each behind a four-byte start code.
std::vector<std::string> SplitNalUnits(const std::string &stream)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= stream.size(); ++i) {
        if (stream.compare(i, 3, std::string("\0\0\1", 3)) == 0)
            starts.push_back(i + 3);
    }
    std::vector<std::string> units;
    for (size_t n = 0; n < starts.size(); ++n) {
        size_t end = n + 1 < starts.size() ? starts[n + 1] - 3 : stream.size();
        while (end > starts[n] && stream[end - 1] == 0)
            --end;
        units.push_back(kStartCode + stream.substr(starts[n], end - starts[n]));
    }
    return units;
}

// The first frame of a one-frame libx264 encoding of the test pattern.
std::string EncodeFrame(const std::string &size, const std::string &options)
{
    return ReadAll(test::Fixture(size + options + ".h264", "-f lavfi -i testsrc=size=" + size +
                                                            " -frames:v 1 -c:v libx264 " + options + " -f h264"));
}

std::string SpsOf(const std::string &stream)
{
    for (const std::string &unit : SplitNalUnits(stream)) {
        if ((unit[4] & 0x1F) == 7)
            return unit;
    }
    ADD_FAILURE() << "no sequence parameter set";
    return {};
}

// What FFmpeg's own parser makes of the first parameter set in a stream.
std::map<std::string, long> TraceHeaders(const std::string &stream)
{
    TempDir dir;
    WriteAll(dir.Path("in.h264"), stream);
    std::map<std::string, long> fields;
    for (const std::string &line : test::Lines("ffmpeg -nostdin -v trace -f h264 -i '" + dir.Path("in.h264") +
                                               "' -c copy -bsf:v trace_headers -f null - 2>&1")) {
        char name[128];
        long value = 0;
        const size_t body = line.find("] ");
        if (body != std::string::npos && std::sscanf(line.c_str() + body, "] %*d %127s %*s = %ld", name, &value) == 2)
            fields.try_emplace(name, value);
    }
    return fields;
}

// Writes parameter sets bit by bit, as an encoder would, escaped for Annex B.
class BitWriter {
public:
    void U(int n, uint64_t value)
    {
        for (int i = n - 1; i >= 0; --i)
            bits_.push_back((value >> i) & 1);
    }
    void Ue(uint64_t value)
    {
        const int length = std::bit_width(value + 1);
        U(length - 1, 0);
        U(length, value + 1);
    }
    void Se(int64_t value) { Ue(value > 0 ? 2 * value - 1 : -2 * value); }

    std::string Nal(uint8_t header) const
    {
        std::vector<bool> bits = bits_;
        bits.push_back(true);  // rbsp_stop_one_bit
        while (bits.size() % 8)
            bits.push_back(false);
        std::string nal = kStartCode + static_cast<char>(header);
        int zeros = 0;
        for (size_t i = 0; i < bits.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t b = 0; b < 8; ++b)
                byte = static_cast<uint8_t>(byte << 1 | bits[i + b]);
            if (zeros >= 2 && byte <= 3) {
                nal += '\3';
                zeros = 0;
            }
            nal += static_cast<char>(byte);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
        return nal;
    }

private:
    std::vector<bool> bits_;
};

struct SpsFields {
    uint32_t profile_idc = 66;
    uint32_t chroma_format_idc = 1;
    // One entry per scaling list: its delta_scale codes, none when absent.
    std::vector<std::vector<int32_t>> scalingLists;
    uint32_t pic_order_cnt_type = 0;
    int64_t offset_for_non_ref_pic = 0;
    std::vector<int64_t> offsetForRefFrame;
    uint64_t pic_width_in_mbs_minus1 = 19;
    uint64_t pic_height_in_map_units_minus1 = 14;
    bool frame_mbs_only_flag = true;
};

std::string MakeSps(const SpsFields &f)
{
    BitWriter w;
    w.U(8, f.profile_idc);
    w.U(8, 0);
    w.U(8, 30);  // level_idc
    w.Ue(0);
    if (f.profile_idc != 66) {
        w.Ue(f.chroma_format_idc);
        if (f.chroma_format_idc == 3)
            w.U(1, 0);
        w.Ue(0);
        w.Ue(0);
        w.U(1, 0);
        w.U(1, !f.scalingLists.empty());
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
        w.Se(f.offset_for_non_ref_pic);
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

struct RealStream {
    const char *name, *size, *options;
    Size expected;
};

const RealStream kRealStreams[] = {
    {"baseline_320x240", "320x240", "-profile:v baseline -pix_fmt yuv420p", {320, 240, 0}},
    {"high_640x360", "640x360", "-profile:v high -pix_fmt yuv420p", {640, 368, 0}},
    {"ultrafast_1080p", "1920x1080", "-preset ultrafast -pix_fmt yuv420p", {1920, 1088, 0}},
    {"interlaced_1080i", "1920x1080", "-pix_fmt yuv420p -flags +ilme+ildct", {1920, 1088, 1}},
    {"high444_352x288", "352x288", "-pix_fmt yuv444p", {352, 288, 0}},
};

class SpsParserRealStreams : public testing::TestWithParam<RealStream> {};

// The caller hands us the access unit (SPS, PPS, SEI, slice) or the SPS alone,
// perhaps cut short: bits are never invented, so a success reads the same size.
TEST_P(SpsParserRealStreams, CodedSizeOfTheEncodersParameterSet)
{
    const std::string frame = EncodeFrame(GetParam().size, GetParam().options);
    Size got = kUntouched;
    ASSERT_TRUE(Parse(frame, got));
    EXPECT_EQ(got, GetParam().expected);
    const std::string sps = SpsOf(frame);
    bool succeeded = false;
    for (size_t length = 0; length <= sps.size(); ++length) {
        got = kUntouched;
        const bool ok = Parse(sps.substr(0, length), got);
        EXPECT_EQ(got, ok ? GetParam().expected : kUntouched) << length;
        EXPECT_TRUE(ok || !succeeded) << "longer prefix failed at " << length;
        succeeded |= ok;
    }
    EXPECT_TRUE(succeeded);
}

INSTANTIATE_TEST_SUITE_P(X264, SpsParserRealStreams, testing::ValuesIn(kRealStreams),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SpsParserHeader, FramesNotStartingWithAnSpsFailSilently)
{
    const std::string sps = SpsOf(EncodeFrame("320x240", kBaseline));
    const std::string withAud = EncodeFrame("320x240", kBaseline + " -x264-params aud=1");
    ASSERT_EQ(withAud[4], 0x09);
    const std::string silent[] = {
        withAud,
        kStartCode + std::string("\x06\x05\x01\x00\x80", 5) + sps,  // SEI first
        kStartCode + std::string("\x42\x01\x01\x01\x60\x00\x00\x03", 8),  // H.265 SPS
        sps.substr(1),                                  // three-byte start code
        std::string("\0\0\1\1", 4) + sps.substr(4),  // not a start code
        sps.substr(0, 4),
        std::string(),
    };
    for (const std::string &frame : silent) {
        Size got = kUntouched;
        std::string message;
        EXPECT_FALSE(Parse(frame, got, &message));
        EXPECT_EQ(got, kUntouched);
        EXPECT_EQ(message, "");
    }
    Size got = kUntouched;
    EXPECT_FALSE(GetResulotion(nullptr, 100, got.width, got.height, got.fieldCoded));
    EXPECT_EQ(got, kUntouched);
}

Size ParseOrUntouched(const SpsFields &fields)
{
    Size got = kUntouched;
    Parse(MakeSps(fields), got);
    return got;
}

std::vector<int32_t> Deltas(size_t count, int32_t delta)
{
    return std::vector<int32_t>(count, delta);
}

TEST(SpsParserScalingMatrix, ListsAreParsedAsFfmpegReadsThem)
{
    SpsFields high;
    high.profile_idc = 100;
    // Full lists, a list cut short by a zero scale, "use the default", absent lists.
    high.scalingLists = {Deltas(16, 1), {-8}, {}, {5, -13}, {}, Deltas(16, 0), Deltas(64, 1), {4, -12}};
    SpsFields high444 = high;
    high444.profile_idc = 244;
    high444.chroma_format_idc = 3;
    high444.scalingLists.insert(high444.scalingLists.end(), {{}, Deltas(64, 2), {-8}, {}});
    high444.pic_width_in_mbs_minus1 = 44;
    high444.frame_mbs_only_flag = false;

    for (const SpsFields &fields : {high, high444}) {
        const std::string sps = MakeSps(fields);
        std::map<std::string, long> peer = TraceHeaders(sps);
        ASSERT_EQ(peer["pic_width_in_mbs_minus1"], static_cast<long>(fields.pic_width_in_mbs_minus1));
        ASSERT_EQ(peer["pic_height_in_map_units_minus1"], 14);
        const Size expected{static_cast<int32_t>(fields.pic_width_in_mbs_minus1 + 1) * 16,
                            fields.frame_mbs_only_flag ? 240 : 480, !fields.frame_mbs_only_flag};
        EXPECT_EQ(ParseOrUntouched(fields), expected) << fields.profile_idc;
    }
}

TEST(SpsParserScalingMatrix, DeltaScaleOutsideItsRangeFails)
{
    SpsFields fields;
    fields.profile_idc = 100;
    // Each list ends on a zero scale, so only the range can make these fail.
    fields.scalingLists = {{127, -128, -7}, {}, {}, {}, {}, {}, {}, {}};
    EXPECT_EQ(ParseOrUntouched(fields), (Size{320, 240, 0}));
    fields.scalingLists[0] = {128, -128, -8};
    EXPECT_EQ(ParseOrUntouched(fields), kUntouched);
    fields.scalingLists[0] = {-129, -128, -7};
    EXPECT_EQ(ParseOrUntouched(fields), kUntouched);
}

TEST(SpsParserLimits, PicOrderCountCycleOfMoreThan255Fails)
{
    SpsFields fields;
    fields.pic_order_cnt_type = 1;
    fields.offsetForRefFrame = std::vector<int64_t>(255, -3);
    EXPECT_EQ(ParseOrUntouched(fields), (Size{320, 240, 0}));
    fields.offsetForRefFrame.push_back(-3);
    EXPECT_EQ(ParseOrUntouched(fields), kUntouched);
}

TEST(SpsParserLimits, SizesAbove16384FailEvenWhen32BitsWouldWrap)
{
    SpsFields fields;
    fields.pic_width_in_mbs_minus1 = 1023;
    fields.pic_height_in_map_units_minus1 = 1023;
    EXPECT_EQ(ParseOrUntouched(fields), (Size{16384, 16384, 0}));
    fields.pic_width_in_mbs_minus1 = 0;
    fields.pic_height_in_map_units_minus1 = 0;
    EXPECT_EQ(ParseOrUntouched(fields), (Size{16, 16, 0}));

    fields.pic_height_in_map_units_minus1 = 1024;
    EXPECT_EQ(ParseOrUntouched(fields), kUntouched);
    fields.pic_height_in_map_units_minus1 = 511;
    fields.frame_mbs_only_flag = false;
    EXPECT_EQ(ParseOrUntouched(fields), (Size{16, 16384, 1}));
    fields.pic_height_in_map_units_minus1 = 512;
    EXPECT_EQ(ParseOrUntouched(fields), kUntouched);

    // (2^28 + 20) * 16 is 320 in 32-bit arithmetic.
    fields = {};
    fields.pic_width_in_mbs_minus1 = (uint64_t{1} << 28) + 19;
    EXPECT_EQ(ParseOrUntouched(fields), kUntouched);
    fields.pic_width_in_mbs_minus1 = 0xFFFFFFFE;
    EXPECT_EQ(ParseOrUntouched(fields), kUntouched);
}

TEST(SpsParserLimits, EmulationPreventionBytesAreNotData)
{
    SpsFields fields;
    fields.pic_order_cnt_type = 1;
    fields.offset_for_non_ref_pic = int64_t{1} << 23;  // a long run of zero bits
    const std::string sps = MakeSps(fields);
    ASSERT_NE(sps.find(std::string("\0\0\3", 3)), std::string::npos);
    ASSERT_EQ(TraceHeaders(sps)["pic_width_in_mbs_minus1"], 19);
    EXPECT_EQ(ParseOrUntouched(fields), (Size{320, 240, 0}));
}

TEST(SpsParserLimits, ShortSpsDoesNotBorrowBitsOfTheNextNalUnit)
{
    const std::vector<std::string> units = SplitNalUnits(EncodeFrame("320x240", kBaseline));
    ASSERT_GE(units.size(), 2u);
    const std::string &sps = units[0], &pps = units[1];
    ASSERT_EQ(pps[4] & 0x1F, 8);
    // The zero bits of the start code would otherwise pass for frame_mbs_only_flag.
    for (size_t length = 5; length < sps.size(); ++length) {
        Size got = kUntouched;
        if (Parse(sps.substr(0, length), got))
            break;
        EXPECT_FALSE(Parse(sps.substr(0, length) + pps, got)) << length;
        EXPECT_EQ(got, kUntouched);
    }
}

}  // namespace
}  // namespace recmux
