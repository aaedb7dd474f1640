// A recording keeps one codec: key frames of another are refused with the
// frames after them, and the file stays whole, through the exported functions.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "media_fixture.h"
#include <recmux/recmux_writer.h>
#include "test_files.h"

namespace {

using recmux::test::AccessUnit;
using recmux::test::TempDir;
using Units = std::vector<AccessUnit>;

constexpr uint64_t kStart = 5000000;

// Two seconds of each camera stream, made once per test binary.
const Units &Encoded(const std::string &name, const std::string &options)
{
    static TempDir dir;
    static std::map<std::string, Units> made;
    const auto found = made.find(name);
    if (found != made.end())
        return found->second;
    const std::string path = dir.Path(name);
    Units units;
    if (recmux::test::MakeElementaryStream(path, 50, options))
        units = recmux::test::SplitAccessUnits(path);
    return made.emplace(name, std::move(units)).first->second;
}

const Units &H264()
{
    return Encoded("cam.h264", "-c:v libx264 -bf 0 -g 25 -f h264");
}

const Units &H265()
{
    return Encoded("cam.hevc", "-c:v libx265 -x265-params log-level=error:bframes=0:keyint=25 -f hevc");
}

// The same H.264 with every referenced NAL unit's nal_ref_idc set to `idc`,
// as some encoders write it.
Units WithNalRefIdc(const Units &units, int idc)
{
    Units rewritten = units;
    for (AccessUnit &unit : rewritten) {
        auto &b = unit.bytes;
        for (size_t i = 3; i < b.size(); i++) {
            if (b[i - 3] == 0 && b[i - 2] == 0 && b[i - 1] == 1 && (b[i] & 0x60))
                b[i] = static_cast<uint8_t>((b[i] & 0x9F) | (idc << 5));
        }
    }
    return rewritten;
}

struct Part {
    Units units;
    bool accepted;
};

struct Case {
    const char *what;
    std::vector<std::vector<Part>> sessions;  // each one an open and a close of the same name
    const char *codec;
    bool init_h264 = false;  // the caller says H.264 and the size up front
};

TEST(CodecChange, KeyFramesOfAnotherCodecAreRefusedAndTheFileStaysWhole)
{
    ASSERT_EQ(H264().size(), 50u);
    ASSERT_EQ(H265().size(), 50u);
    const Case cases[] = {
        {"H.264 continued with H.265", {{{H264(), true}}, {{H265(), false}, {H264(), true}}}, "h264"},
        {"H.264 switching to H.265", {{{H264(), true}, {H265(), false}, {H264(), true}}}, "h264"},
        {"H.265 switching to H.264 with nal_ref_idc 1",
         {{{H265(), true}, {WithNalRefIdc(H264(), 1), false}, {H265(), true}}}, "hevc"},
        {"H.265 where H.264 was declared", {{{H265(), false}, {H264(), true}}}, "h264", true},
        {"H.264 with nal_ref_idc 1", {{{WithNalRefIdc(H264(), 1), true}}}, "h264"},
        {"H.264 with nal_ref_idc 2", {{{WithNalRefIdc(H264(), 2), true}}}, "h264"},
    };
    TempDir dir;
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string mp4 = dir.Path("cam" + std::to_string(n++) + ".mp4");
        size_t kept = 0;
        for (const auto &session : c.sessions) {
            recmux_writer *writer = recmux_writer_open(mp4.c_str());
            ASSERT_NE(writer, nullptr);
            if (c.init_h264) {
                ASSERT_EQ(recmux_writer_init_video(writer, 0, 640, 360, 0), 0);
            }
            uint64_t pts = kStart;
            for (const Part &part : session) {
                size_t accepted = 0;
                for (const AccessUnit &unit : part.units) {
                    accepted += recmux_writer_write_video(writer, unit.bytes.data(),
                                                          static_cast<uint32_t>(unit.bytes.size()),
                                                          pts, unit.key) == 0;
                    pts += 40000;
                }
                EXPECT_EQ(accepted, part.accepted ? part.units.size() : 0);
                kept += accepted;
            }
            ASSERT_EQ(recmux_writer_close(&writer), 0);
        }
        EXPECT_EQ(recmux::test::ProbeVideo(mp4, "codec_name"), c.codec);
        EXPECT_EQ(recmux::test::ProbeVideo(mp4, "nb_read_frames"), std::to_string(kept));
        EXPECT_EQ(recmux::test::DecodeErrors(mp4), "");
    }
}

}  // namespace
