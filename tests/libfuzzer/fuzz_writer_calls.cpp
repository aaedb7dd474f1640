// Call sequences on a callback recorder, decided by the input: every export
// with odd arguments and timestamps. Byte 0 says after how many bytes the
// write callback starts refusing (0: never); then each call is an opcode byte
// and the bytes it takes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <recmux/recmux_writer.h>

namespace {

const int32_t kCodecs[] = {0, 264, 1, 265, 256, 2, 3, -1};
// An IDR slice: with a size given to init_video it is taken as it is.
const uint8_t kKeyFrame[] = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x33, 0xff};

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    int32_t Int()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; i++)
            value = value << 8 | Byte();
        return static_cast<int32_t>(value);
    }
    // Up to 255 bytes of the input itself.
    const uint8_t *Bytes(uint32_t &length)
    {
        length = Byte();
        length = length < size_ - at_ ? length : static_cast<uint32_t>(size_ - at_);
        const uint8_t *bytes = data_ + at_;
        at_ += length;
        return bytes;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

int Take(void *opaque, uint8_t *, int size)
{
    auto &left = *static_cast<int64_t *>(opaque);
    if (left < 0)
        return size;
    if (left < size)
        return -5;
    left -= size;
    return size;
}

int32_t RECMUX_STDCALL Ignore(void *, int32_t, int32_t)
{
    return 0;
}

uint64_t NextPts(Input &in, uint64_t pts)
{
    switch (in.Byte() % 4) {
    case 0: return pts + 40000;
    case 1: return pts + static_cast<uint64_t>(static_cast<int16_t>(in.Int()));
    case 2: return static_cast<uint64_t>(in.Int()) << (in.Byte() % 33);
    default: return pts;
    }
}

void Call(recmux_writer *writer, Input &in, uint64_t &pts)
{
    uint32_t length = 0;
    uint64_t value = 0;
    switch (in.Byte() % 10) {
    case 0: {
        const int32_t codec = kCodecs[in.Byte() % (sizeof kCodecs / sizeof kCodecs[0])];
        const int32_t width = static_cast<int16_t>(in.Int());
        recmux_writer_init_video(writer, codec, width, static_cast<int16_t>(in.Int()), 0);
        break;
    }
    case 1: {
        const int32_t type = in.Byte() % 20;
        const int32_t channels = static_cast<int8_t>(in.Byte());
        recmux_writer_init_audio(writer, type, channels, in.Int(), static_cast<int8_t>(in.Byte()));
        break;
    }
    case 2:
        pts = NextPts(in, pts);
        recmux_writer_write_video(writer, kKeyFrame, sizeof kKeyFrame, pts, 1);
        break;
    case 3: {
        pts = NextPts(in, pts);
        const int32_t key = in.Byte() & 1;
        const uint8_t *bytes = in.Bytes(length);
        recmux_writer_write_video(writer, bytes, length, pts, key);
        break;
    }
    case 4: {
        const uint8_t *bytes = in.Bytes(length);
        recmux_writer_write_audio(writer, bytes, length, NextPts(in, pts));
        break;
    }
    case 5: {
        const int32_t media = static_cast<int8_t>(in.Byte()) % 3;
        const uint8_t *bytes = in.Bytes(length);
        recmux_writer_write_frame(writer, media, bytes, length, NextPts(in, pts), in.Byte() & 1);
        break;
    }
    case 6:
        recmux_writer_set_file_type(writer, static_cast<int8_t>(in.Byte()));
        break;
    case 7:
        recmux_writer_get_begin_pts(writer, in.Byte() & 1 ? &value : nullptr);
        recmux_writer_get_end_pts(writer, &value);
        break;
    case 8:
        recmux_writer_set_msg_notify(writer, nullptr, in.Byte() & 1 ? Ignore : nullptr);
        break;
    default:
        recmux_writer_is_open(writer);
        recmux_writer_write_video(writer, nullptr, in.Byte(), pts, 1);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    const uint8_t refuse = in.Byte();
    int64_t left = refuse == 0 ? -1 : int64_t{refuse} * 1024;
    recmux_writer *writer = recmux_writer_open_and_set_callback(&left, Take);
    if (!writer)
        return 0;
    uint64_t pts = 1000000;
    for (int calls = 0; !in.Empty() && calls < 400; calls++)
        Call(writer, in, pts);
    recmux_writer_close(&writer);
    return 0;
}
