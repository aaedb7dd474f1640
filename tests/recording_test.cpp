// Recordings made from real encoder output through the exported functions,
// judged by ffprobe and ffmpeg: faithful copies, continuation, and one codec
// per recording.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <cstdio>

#include <string>
#include <vector>

#include <recmux/recmux_writer.h>
#include "media_fixture.h"
#include "test_files.h"

namespace {

using namespace recmux::test;

constexpr uint64_t kStart = 5000000;
#ifdef _WIN32
constexpr bool kHeldFilesCanBeReplaced = false;
#else
constexpr bool kHeldFilesCanBeReplaced = true;
#endif

TEST(Recording, EveryCodecBecomesAFaithfulMp4)
{
    const struct {
        const char *what;
        std::string stream, options;  // the encoded fixture
        int file_type;                // 2: a callback recorder told to write plain
        std::string codec;
        bool same_frames = true;
    } cases[] = {
        {"H.264 plain", "h264-100.h264", kX264, 0, "h264"},
        {"H.264 fragmented", "h264-100.h264", kX264, 1, "h264"},
        {"H.264 through the callback", "h264-100.h264", kX264, 2, "h264"},
        {"H.264 baseline", "baseline.h264", "-c:v libx264 -profile:v baseline -g 25 -f h264", 0, "h264"},
        {"H.264 with B-frames", "bframes.h264", "-c:v libx264 -bf 2 -g 25 -f h264", 0, "h264", false},
        {"H.265", "plain.hevc", kX265, 0, "hevc"},
        {"MPEG-4", "plain.m4v", "-c:v mpeg4 -bf 0 -g 25 -f m4v", 1, "mpeg4"},
    };
    TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Units &units = Encoded(c.stream, 100, c.options);
        ASSERT_EQ(units.size(), 100u);
        // The name's bytes are not ASCII: they are the name.
        const std::string mp4 = dir.Path(std::string(c.what) + " \xE6\x9D\xB1_\xC3\x9C.mp4");
        std::string stream;
        recmux_writer *writer = c.file_type == 2 ? recmux_writer_open_and_set_callback(&stream, AppendTo)
                                                 : recmux_writer_open(mp4.c_str());
        ASSERT_EQ(recmux_writer_set_file_type(writer, c.file_type == 1), 0);
        ASSERT_EQ(WriteUnits(writer, units, kStart), 100u);
        // The end is the last frame that reached the output, not the last one given.
        uint64_t begin = 0, end = 0;
        EXPECT_EQ(recmux_writer_get_begin_pts(writer, &begin) + recmux_writer_get_end_pts(writer, &end), 0);
        EXPECT_EQ(begin, kStart);
        EXPECT_GT(end, kStart + 80 * 40000);
        EXPECT_LE(end, kStart + 99 * 40000);
        ASSERT_EQ(recmux_writer_close(&writer), 0);
        if (c.file_type == 2)
            WriteAll(mp4, stream);
        EXPECT_FALSE(Exists(mp4 + ".tmp"));
        EXPECT_EQ(ReadAll(mp4).find("moof") != std::string::npos, c.file_type > 0);
        EXPECT_EQ(Probe(mp4, "codec_name,width,height,nb_read_frames"), c.codec + ",640,360,100");
        EXPECT_NEAR(std::stod(Probe(mp4, "duration")), 4.0, 0.05);
        if (c.same_frames) {
            EXPECT_EQ(Probe(mp4, "r_frame_rate"), "25/1");
            EXPECT_EQ(DecodeErrors(mp4), "");
            EXPECT_EQ(FrameMd5s(mp4), FrameMd5s(EncodedPath(c.stream, 100, c.options)));
        }
    }
    EXPECT_EQ(Probe(dir.Path("H.264 baseline \xE6\x9D\xB1_\xC3\x9C.mp4"), "profile"), "Constrained Baseline");
}

// A one-slice frame as an MP4 sample carries it: the slice's length in place of its start code.
std::vector<uint8_t> LengthPrefixed(std::vector<uint8_t> frame)
{
    const size_t length = frame.size() - 4;
    for (size_t i = 0; i < 4; i++)
        frame[i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    return frame;
}

// A frame without a NAL unit behind a start code, given mid-recording, is
// refused and leaves no sample: an empty one would make a fragmented file unreadable.
TEST(Recording, AFrameWithoutAUnitIsRefusedAndTheRestRecorded)
{
    const Units &units = H264(100);
    ASSERT_EQ(units.size(), 100u);
    ASSERT_FALSE(units[60].key);
    ASSERT_EQ(units[60].bytes.at(3), 1);
    const struct {
        const char *what;
        std::vector<uint8_t> frame;
    } bad_frames[] = {
        {"16 zero bytes", std::vector<uint8_t>(16, 0)},
        {"a bare start code", {0, 0, 0, 1}},
        {"a length-prefixed P frame", LengthPrefixed(units[60].bytes)},
    };
    const std::vector<std::string> good = FrameMd5s(H264Path(100));
    TempDir dir;
    for (const auto &bad : bad_frames) {
        for (int file_type : {0, 1, 2}) {  // 2: through the callback
            SCOPED_TRACE(std::string(bad.what) + ", file type " + std::to_string(file_type));
            const std::string mp4 = dir.Path(bad.what + std::to_string(file_type) + ".mp4");
            std::string stream;
            recmux_writer *writer = file_type == 2 ? recmux_writer_open_and_set_callback(&stream, AppendTo)
                                                   : recmux_writer_open(mp4.c_str());
            ASSERT_EQ(recmux_writer_set_file_type(writer, file_type == 1), 0);
            const uint64_t middle = kStart + 60 * 40000;
            EXPECT_EQ(WriteUnits(writer, Units(units.begin(), units.begin() + 60), kStart), 60u);
            const auto size = static_cast<uint32_t>(bad.frame.size());
            EXPECT_EQ(recmux_writer_write_video(writer, bad.frame.data(), size, middle, 0), 1);
            EXPECT_EQ(WriteUnits(writer, Units(units.begin() + 60, units.end()), middle), 40u);
            ASSERT_EQ(recmux_writer_close(&writer), 0);
            if (file_type == 2)
                WriteAll(mp4, stream);
            EXPECT_EQ(Packets(mp4, "v:0", "size").size(), 100u);
            EXPECT_EQ(FrameMd5s(mp4), good);
        }
    }
}

struct Part {
    Units units;
    bool accepted;
};

// The same H.264 with every referenced NAL unit's nal_ref_idc set to idc, as some encoders write it.
Units WithNalRefIdc(Units units, int idc)
{
    for (AccessUnit &unit : units) {
        auto &b = unit.bytes;
        for (size_t i = 3; i < b.size(); i++) {
            if (b[i - 3] == 0 && b[i - 2] == 0 && b[i - 1] == 1 && (b[i] & 0x60))
                b[i] = static_cast<uint8_t>((b[i] & 0x9F) | (idc << 5));
        }
    }
    return units;
}

// Which file has the name: each close publishes a new one.
uint64_t FileNumber(const std::string &path)
{
#ifdef _WIN32
    const HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return known ? uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow : 0;
#else
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
#endif
}

// Each session an open and a close of the same name: the recording is continued,
// and key frames of another codec are refused with the frames after them.
TEST(Continuation, SessionsAppendAndKeepTheFirstCodec)
{
    const Units &h264 = H264(50), &h265 = Encoded("h265-50.hevc", 50, kX265);
    ASSERT_EQ(h264.size(), 50u);
    ASSERT_EQ(h265.size(), 50u);
    const struct {
        const char *what;
        std::vector<std::vector<Part>> sessions;
        const char *codec;
        bool init_h264 = false;  // the caller says H.264 and the size up front
    } cases[] = {
        {"H.264 continued", {{{h264, true}}, {{h264, true}}, {{h264, true}}}, "h264"},
        {"H.265 continued", {{{h265, true}}, {{h265, true}}}, "hevc"},
        {"H.264 continued with H.265", {{{h264, true}}, {{h265, false}, {h264, true}}}, "h264"},
        {"H.264 switching to H.265", {{{h264, true}, {h265, false}, {h264, true}}}, "h264"},
        {"H.265 switching to H.264 with nal_ref_idc 1",
         {{{h265, true}, {WithNalRefIdc(h264, 1), false}, {h265, true}}}, "hevc"},
        {"H.265 where H.264 was declared", {{{h265, false}, {h264, true}}}, "h264", true},
        {"H.264 with nal_ref_idc 1", {{{WithNalRefIdc(h264, 1), true}}}, "h264"},
        {"H.264 with nal_ref_idc 2", {{{WithNalRefIdc(h264, 2), true}}}, "h264"},
    };
    TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        // Latin-1, no UTF-8: the bytes are the name, and a rename replaces the file.
        const std::string mp4 = dir.Path(std::string(c.what) + " cam\xe9ra.mp4");
        size_t kept = 0;
        uint64_t last = 0;
        for (const auto &session : c.sessions) {
            // Held open, the old file's inode cannot pass to the new one. Windows
            // cannot replace a file held open without sharing its deletion.
            FILE *old_file = kHeldFilesCanBeReplaced ? std::fopen(mp4.c_str(), "rb") : nullptr;
            recmux_writer *writer = recmux_writer_open(mp4.c_str());
            ASSERT_NE(writer, nullptr);
            if (c.init_h264) {
                ASSERT_EQ(recmux_writer_init_video(writer, 0, 640, 360, 0), 0);
            }
            uint64_t pts = kStart;
            for (const Part &part : session) {
                const size_t accepted = WriteUnits(writer, part.units, pts);
                EXPECT_EQ(accepted, part.accepted ? part.units.size() : 0);
                kept += accepted;
                pts += part.units.size() * 40000;
            }
            ASSERT_EQ(recmux_writer_close(&writer), 0);
            EXPECT_NE(FileNumber(mp4), last);
            last = FileNumber(mp4);
            if (old_file)
                std::fclose(old_file);
        }
        EXPECT_FALSE(Exists(mp4 + ".tmp"));
        EXPECT_EQ(Probe(mp4, "codec_name,r_frame_rate,nb_read_frames"),
                  std::string(c.codec) + ",25/1," + std::to_string(kept));
        EXPECT_EQ(DecodeErrors(mp4), "");
        const auto dts = Packets(mp4, "v:0", "dts");
        for (size_t i = 1; i < dts.size(); i++)
            ASSERT_LT(std::stol(dts[i - 1]), std::stol(dts[i])) << i;
    }
}

TEST(Continuation, OthersFilesAreCopiedWholeOrNotOpened)
{
    TempDir dir;
    WriteAll(dir.Path("subs.srt"), "1\n00:00:00,000 --> 00:00:01,500\nhello\n\n");
    WriteAll(dir.Path("text.mp4"), "not a recording");
    const struct {
        std::string path;
        const char *frames;  // empty: refused, left as it was
    } cases[] = {
        {Fixture("big.mp4", "-f lavfi -i 'nullsrc=s=1920x1080:r=25,geq=lum=random(1)*255:cb=128:cr=128' "
                            "-frames:v 3 -c:v libx264 -preset ultrafast -qp 0 -g 1 -pix_fmt yuv420p"),
         "3"},
        {Fixture("subtitled.mp4", "-f lavfi -i testsrc2=s=320x240:r=25 -i '" + dir.Path("subs.srt") +
                                      "' -frames:v 40 -c:v libx264 -bf 0 -c:s mov_text"),
         "40"},
        {dir.Path("text.mp4"), ""},
        {Fixture("mjpeg.mp4", "-f lavfi -i testsrc2=s=320x240:r=25 -frames:v 10 -c:v mjpeg"), ""},
        {Fixture("tone.mp4", "-f lavfi -i sine=d=1 -c:a aac"), ""},
    };
    // Key frames above 2 MiB.
    ASSERT_GT(std::stol(Packets(cases[0].path, "v:0", "size").at(0)), 2l << 20);
    for (const auto &c : cases) {
        const std::string copy = dir.Path("copy.mp4");
        WriteAll(copy, ReadAll(c.path));
        recmux_writer *writer = recmux_writer_open(copy.c_str());
        EXPECT_EQ(writer != nullptr, *c.frames != 0) << c.path;
        EXPECT_EQ(recmux_writer_close(&writer), *c.frames ? 0 : 1);
        EXPECT_FALSE(Exists(copy + ".tmp"));
        if (*c.frames) {
            EXPECT_EQ(Probe(copy, "nb_read_frames"), c.frames) << c.path;
            EXPECT_EQ(DecodeErrors(copy), "") << c.path;
        } else {
            EXPECT_EQ(ReadAll(copy), ReadAll(c.path)) << c.path;
        }
    }
}

}  // namespace
