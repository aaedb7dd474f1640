// What the tool tests share: a file that lives as long as the test, and draining a source.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

namespace recmux_tool {

class TempFile {
public:
    TempFile(const std::string &name, const std::vector<uint8_t> &bytes)
        : path_(std::filesystem::temp_directory_path() / ("recmux_" + std::to_string(getpid()) + "_" + name))
    {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::filesystem::remove(path_); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Everything the source gives; it must end without failing.
template <typename Unit, typename Source>
std::vector<Unit> Drain(Source &source)
{
    std::vector<Unit> units;
    Unit unit;
    while (source.Next(unit))
        units.push_back(unit);
    EXPECT_FALSE(source.Failed());
    return units;
}

}  // namespace recmux_tool
