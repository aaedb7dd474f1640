// ZK_VOICE_TransCodeFrame in all four modes. Input: byte 0 picks the mode, the rest is
// the frame, copied into a zero-filled heap buffer of exactly the 484 bytes a caller
// must offer, so that any read past it is caught. Each frame is converted twice, the
// second time on the state and the output of the first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <recmux/zk_voice.h>

namespace {

const int16_t modes[] = {ZK_VOICE_TRANS_ALAW_SWAPPED, ZK_VOICE_TRANS_ULAW_SWAPPED,
                         ZK_VOICE_TRANS_ADPCM_RAW, ZK_VOICE_TRANS_ADAPTIVE2};

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int16_t mode = modes[data[0] % (sizeof modes / sizeof modes[0])];
    auto record = std::make_unique<VoiceTransState>();
    check(ZK_VOICE_TransCodeReset(record.get(), mode) == ZK_VOICE_OK);

    constexpr size_t room = ZK_VOICE_ENCODED_MAX_BYTES;
    auto frame = std::make_unique<uint8_t[]>(room);
    std::memset(frame.get(), 0, room);
    std::memcpy(frame.get(), data + 1, std::min(size - 1, room));
    uint8_t before[room];
    for (int pass = 0; pass < 2; ++pass) {
        std::memcpy(before, frame.get(), room);
        const int32_t result = ZK_VOICE_TransCodeFrame(record.get(), frame.get());
        if (result != ZK_VOICE_OK) {
            check(std::memcmp(before, frame.get(), room) == 0);
            continue;
        }
        check(frame[2] <= 240);
        // The swap modes keep the header; the others write a fresh one.
        if (mode == ZK_VOICE_TRANS_ALAW_SWAPPED || mode == ZK_VOICE_TRANS_ULAW_SWAPPED)
            check(std::memcmp(before, frame.get(), 4) == 0);
        else
            check(frame[0] == 0 && frame[1] == 1 && frame[3] == 0);
        if (mode == ZK_VOICE_TRANS_ADAPTIVE2)
            check(frame[2] == before[2]);
    }
    return 0;
}
