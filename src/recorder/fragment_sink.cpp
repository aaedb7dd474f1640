#include "recorder/fragment_sink.h"

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/macros.h>
}

#include "platform/regular_files.h"
#include "recorder/fragmented_file.h"

namespace recmux {
namespace {

// FFmpeg's moov for two tracks takes a few kB; a larger one passes as it is.
constexpr uint64_t kMaxWidenedMoov = 1u << 20;

}  // namespace

int FragmentSink::Write(void *opaque, uint8_t *data, int size)
{
    return static_cast<FragmentSink *>(opaque)->Take(data, size);
}

int FragmentSink::Take(const uint8_t *data, int size)
{
    const int taken = size;
    while (size > 0 && !streaming_) {
        if (!Step(data, size))
            return AVERROR(errno ? errno : EIO);
    }
    if (size > 0 && !Put(data, static_cast<size_t>(size)))
        return AVERROR(errno ? errno : EIO);
    return taken;
}

bool FragmentSink::Step(const uint8_t *&data, int &size)
{
    if (left_ == 0) {
        const int wanted = headerBytes_ >= 8 && AV_RB32(header_) == 1 ? 16 : 8;
        const int n = std::min(wanted - headerBytes_, size);
        std::copy(data, data + n, header_ + headerBytes_);
        headerBytes_ += n;
        data += n;
        size -= n;
        const bool whole = headerBytes_ == wanted && (wanted == 16 || AV_RB32(header_) != 1);
        return !whole || StartBox();
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left_, static_cast<uint64_t>(size)));
    if (action_ == Action::Widen)
        moov_.insert(moov_.end(), data, data + n);
    else if (action_ == Action::Pass && !Put(data, n))
        return false;
    left_ -= n;
    data += n;
    size -= static_cast<int>(n);
    if (left_ == 0 && action_ == Action::Widen) {
        const std::vector<uint8_t> widened = WidenMovieHeader(moov_);
        moov_.clear();
        return Put(widened.data(), widened.size());
    }
    return true;
}

// Decides what becomes of the box whose header was just gathered.
bool FragmentSink::StartBox()
{
    const int header = headerBytes_;
    headerBytes_ = 0;
    const uint64_t box_size = header == 16 ? AV_RB64(header_ + 8) : AV_RB32(header_);
    const uint32_t type = AV_RB32(header_ + 4);
    if (type == MKBETAG('m', 'o', 'o', 'f')) {
        streaming_ = true;
        if (appendAt_ && !platform::CutAt(fd_, *appendAt_))
            return false;
        return Put(header_, static_cast<size_t>(header));
    }
    if (box_size < static_cast<uint64_t>(header)) {
        errno = EINVAL;
        return false;
    }
    left_ = box_size - static_cast<uint64_t>(header);
    if (appendAt_) {
        action_ = Action::Drop;
        return true;
    }
    action_ = type == MKBETAG('m', 'o', 'o', 'v') && header == 8 && left_ > 0 &&
                      box_size <= kMaxWidenedMoov
                  ? Action::Widen
                  : Action::Pass;
    if (action_ == Action::Widen) {
        moov_.assign(header_, header_ + header);
        return true;
    }
    return Put(header_, static_cast<size_t>(header));
}

bool FragmentSink::Put(const uint8_t *data, size_t size)
{
    return platform::WriteAll(fd_, data, size);
}

}  // namespace recmux
