// New fragments written at the end of a fragmented recording, in place: the
// file keeps its own header, so the muxer's (ftyp, moov) is dropped, and every
// byte from the muxer's first moof on follows the file's last whole fragment.
#pragma once

#include <cstdint>
#include <string>

#include "platform/regular_files.h"

namespace recmux {

class FragmentAppender {
public:
    // The file is cut to end, its index and any fragment a crash cut short
    // taken off, only when the first fragment comes: until then it stays as it was.
    FragmentAppender(platform::UniqueFd file, uint64_t end) : file_(std::move(file)), end_(end) {}

    // The write callback of the output's I/O context, with this as opaque.
    static int Write(void *opaque, uint8_t *data, int size);
    int Fd() const { return file_.Get(); }
    // The name FFmpeg reads the file by.
    std::string Path() const { return file_.Path(); }
    bool Appended() const { return appending_; }

private:
    int Take(const uint8_t *data, int size);
    // Consumes header bytes of the muxer's boxes before its first moof.
    int DropHeader(const uint8_t *&data, int &size);

    platform::UniqueFd file_;
    uint64_t end_;
    bool appending_ = false;
    uint8_t header_[16] = {};
    int headerBytes_ = 0;
    uint64_t skip_ = 0;
};

}  // namespace recmux
