#include "recorder/fragment_appender.h"

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/macros.h>
}

namespace recmux {

int FragmentAppender::Write(void *opaque, uint8_t *data, int size)
{
    return static_cast<FragmentAppender *>(opaque)->Take(data, size);
}

int FragmentAppender::Take(const uint8_t *data, int size)
{
    const int taken = size;
    if (!appending_) {
        const int dropped = DropHeader(data, size);
        if (dropped < 0)
            return dropped;
    }
    if (size > 0 && !platform::WriteAll(file_.Get(), data, static_cast<size_t>(size)))
        return AVERROR(errno ? errno : EIO);
    return taken;
}

int FragmentAppender::DropHeader(const uint8_t *&data, int &size)
{
    while (size > 0 && !appending_) {
        if (skip_ > 0) {
            const int n = static_cast<int>(std::min<uint64_t>(skip_, static_cast<uint64_t>(size)));
            skip_ -= static_cast<uint64_t>(n);
            data += n;
            size -= n;
            continue;
        }
        const int wanted = headerBytes_ >= 8 && AV_RB32(header_) == 1 ? 16 : 8;
        const int n = std::min(wanted - headerBytes_, size);
        std::copy(data, data + n, header_ + headerBytes_);
        headerBytes_ += n;
        data += n;
        size -= n;
        if (headerBytes_ < wanted || (wanted == 8 && AV_RB32(header_) == 1))
            continue;
        const uint64_t box_size = wanted == 16 ? AV_RB64(header_ + 8) : AV_RB32(header_);
        if (AV_RB32(header_ + 4) == MKBETAG('m', 'o', 'o', 'f')) {
            if (!platform::CutAt(file_.Get(), end_) ||
                !platform::WriteAll(file_.Get(), header_, static_cast<size_t>(headerBytes_)))
                return AVERROR(errno ? errno : EIO);
            appending_ = true;
        } else if (box_size < static_cast<uint64_t>(headerBytes_)) {
            return AVERROR_INVALIDDATA;
        } else {
            skip_ = box_size - static_cast<uint64_t>(headerBytes_);
        }
        headerBytes_ = 0;
    }
    return 0;
}

}  // namespace recmux
