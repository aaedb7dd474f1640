#include "file_bytes.h"

#include <cstdio>
#include <fstream>

namespace recmux_tool {
namespace {

// An hour of 16 kHz WAV is about 115 MB; anything far beyond is not a voice file.
constexpr uintmax_t kMaxAudioFile = 1u << 30;

}  // namespace

bool ReadAudioFile(const std::string &path, std::vector<uint8_t> &bytes)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        std::fprintf(stderr, "recmux: cannot read %s\n", path.c_str());
        return false;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uintmax_t>(size) > kMaxAudioFile) {
        std::fprintf(stderr, "recmux: %s is too large for an audio input\n", path.c_str());
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char *>(bytes.data()), size)) {
        std::fprintf(stderr, "recmux: cannot read %s\n", path.c_str());
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string &path, std::span<const uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "recmux: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace recmux_tool
