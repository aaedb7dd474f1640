#include "file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace recmux_tool {
namespace {

// An hour of 16 kHz WAV is about 115 MB; anything far beyond is not a voice file.
constexpr long kMaxAudioFile = 1L << 30;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool Fail(const std::string &path, const char *reason)
{
    std::fprintf(stderr, "recmux: %s: %s\n", path.c_str(), reason);
    return false;
}

}  // namespace

bool ReadAudioFile(const std::string &path, std::vector<uint8_t> &bytes)
{
    FilePtr in(std::fopen(path.c_str(), "rb"));
    if (!in || std::fseek(in.get(), 0, SEEK_END) != 0)
        return Fail(path, std::strerror(errno));
    const long size = std::ftell(in.get());
    if (size < 0)
        return Fail(path, std::strerror(errno));
    if (size > kMaxAudioFile)
        return Fail(path, "too large for an audio input");
    bytes.resize(static_cast<size_t>(size));
    std::rewind(in.get());
    if (std::fread(bytes.data(), 1, bytes.size(), in.get()) != bytes.size())
        return Fail(path,
                    std::ferror(in.get()) ? std::strerror(errno) : "it shrank while it was read");
    return true;
}

bool WriteWholeFile(const std::string &path, std::span<const uint8_t> bytes)
{
    FilePtr out(std::fopen(path.c_str(), "wb"));
    if (!out)
        return Fail(path, std::strerror(errno));
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size() &&
        std::fclose(out.release()) == 0)
        return true;
    // Half a file is worse than none.
    const int error = errno;
    std::remove(path.c_str());
    return Fail(path, std::strerror(error));
}

}  // namespace recmux_tool
