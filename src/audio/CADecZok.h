// The recorder's decoder for device audio: one voice-codec decoder state bound to
// an audio type code, turning one voice frame at a time into 16-bit PCM.
#pragma once

#include <cstdint>

#include <recmux/zk_voice.h>

namespace recmux {

// The order of the virtual operations is the order of the slots.
class CADecZok {
public:
    CADecZok() = default;
    virtual ~CADecZok() = default;
    // The active state points into the object itself.
    CADecZok(const CADecZok &) = delete;
    CADecZok &operator=(const CADecZok &) = delete;

    // 1 once a decoder state has been selected; a known code keeps it selected for good.
    virtual int32_t IsReady();
    // A code of the table selects and resets its family's state (1); any other
    // leaves the active state as it was (0).
    virtual int32_t Reset(int32_t audioTypeCode);
    virtual int32_t ReservedA();
    // 1 when the frame decoded into pcm (ZK_VOICE_PCM_MAX samples of room). Nothing
    // is read past length: a frame under 4 bytes or announcing more than length
    // gives 0 without a codec call, as does a decoder that is not ready.
    virtual int32_t Decode(uint8_t *frame, int32_t length, int16_t *pcm, uint16_t *samples);
    virtual int32_t ReservedB();

    // The voice-codec identifier of the active state, 0 when none is selected.
    int16_t CodecIdentifier() const { return active_ ? active_->codec : 0; }

private:
    // The voice codec touches only its family's bytes, so each family gets just the room it needs.
    union G711Block {
        VoiceG711State state;
        unsigned char bytes[8];
    };
    union AdpcmBlock {
        VoiceAdpcmState state;
        unsigned char bytes[16];
    };
    static_assert(sizeof(G711Block) == 8 && sizeof(AdpcmBlock) == 16);
    static_assert(sizeof(VoiceCodecState) == 128, "the G.726 block is a whole state record");

    G711Block g711_{};
    VoiceCodecState g726_{};
    AdpcmBlock adpcm_{};
    VoiceCodecState *active_ = nullptr;
};

}  // namespace recmux
