// Scratch files for tests: a private directory that goes away with the test.
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

}  // namespace recmux::test
