#include "test_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace recmux::test {
namespace {

// A name is read as UTF-8 when it is UTF-8, else as the system reads bytes
// (the ANSI code page on Windows), as the library reads it.
std::filesystem::path Native(const std::string &path)
{
    try {
        return std::filesystem::path(std::u8string(path.begin(), path.end()));
    } catch (const std::filesystem::filesystem_error &) {
        return std::filesystem::path(path);
    }
}

// Under Wine, RECMUX_TEST_TMP names a folder that Linux's peers see by the same name.
std::filesystem::path TempBase()
{
    const char *base = std::getenv("RECMUX_TEST_TMP");
    return base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
}

}  // namespace

TempDir::TempDir()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; attempt++) {
        const std::filesystem::path path = TempBase() / ("recmux-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path)) {
            root_ = path.generic_string();
            return;
        }
    }
    throw std::runtime_error("no private folder could be made");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool Exists(const std::string &path)
{
    std::error_code unknown;
    return std::filesystem::exists(Native(path), unknown);
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(Native(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteAll(const std::string &path, const std::string &bytes)
{
    std::ofstream(Native(path), std::ios::binary) << bytes;
}

}  // namespace recmux::test
