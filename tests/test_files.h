// Scratch files for tests: a private directory that goes away with the test,
// and small fixtures made on the spot.
#pragma once

#include <string>

namespace recmux::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string Path(const std::string &name) const { return root_ + "/" + name; }

private:
    std::string root_;
};

bool Exists(const std::string &path);
std::string ReadAll(const std::string &path);
void WriteAll(const std::string &path, const std::string &bytes);
// A one-second MP4 made by the ffmpeg command-line tool; false when it failed.
bool MakeMp4WithFfmpeg(const std::string &path);

}  // namespace recmux::test
