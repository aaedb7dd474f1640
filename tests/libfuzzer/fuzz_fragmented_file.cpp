// ReadFragmentedLayout and FinishFragmentedFile over arbitrary files. Input:
// the whole file. Whatever its boxes claim, nothing is read or written out of
// bounds, a layout never ends past the file, and a file that is refused stays
// byte for byte as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "recorder/fragmented_file.h"

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// One scratch file for the whole run, gone when the fuzzer exits.
struct ScratchFile {
    std::string path;
    ScratchFile()
    {
        char name[] = "/tmp/fuzz_fragmented_XXXXXX";
        const int fd = mkstemp(name);
        check(fd >= 0);
        close(fd);
        path = name;
    }
    ~ScratchFile() { unlink(path.c_str()); }
};

const std::string &Path()
{
    static const ScratchFile file;
    return file.path;
}

std::vector<uint8_t> Read(const std::string &path)
{
    std::vector<uint8_t> bytes;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    check(file != nullptr);
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(file);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::FILE *file = std::fopen(Path().c_str(), "wb");
    check(file != nullptr && std::fwrite(data, 1, size, file) == size);
    std::fclose(file);
    recmux::FragmentedLayout layout;
    if (recmux::ReadFragmentedLayout(Path().c_str(), layout))
        check(layout.end <= size);
    if (!recmux::FinishFragmentedFile(Path().c_str()))
        check(Read(Path()) == std::vector<uint8_t>(data, data + size));
    return 0;
}
