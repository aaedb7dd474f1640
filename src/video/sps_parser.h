#pragma once

#include <cstdint>

namespace recmux {

// Coded picture size from an H.264 sequence parameter set at the very front of
// the frame (behind 00 00 00 01); the outputs are written only on success.
bool GetResulotion(const uint8_t *data, uint32_t size, int32_t &width, int32_t &height,
                   int32_t &fieldCoded);

// How many frames an H.264 decoder may hold back before showing one: the
// VUI's max_num_reorder_frames, else what the level's picture buffer holds at
// this size. payload follows the SPS's NAL header; false when it does not parse.
bool H264ReorderDepth(const uint8_t *payload, uint32_t size, uint32_t &depth);

// Reads the payload of one NAL unit most significant bit first, dropping the
// emulation-prevention byte of every 00 00 03 on the way. A read that would
// pass the end fails and leaves its output alone; the reader is then spent.
class RbspBitReader {
public:
    RbspBitReader(const uint8_t *data, uint32_t sizeBytes) : data_(data), size_(sizeBytes) {}

    // n from 0 to 32; n = 0 yields 0 without reading.
    bool ReadBits(int32_t n, uint32_t &value);
    // Exp-Golomb ue(v); more than 31 leading zeros cannot fit 32 bits and fail.
    bool ReadUe(uint32_t &value);
    // Exp-Golomb se(v).
    bool ReadSe(int32_t &value);

private:
    bool ReadBit(uint32_t &bit);

    const uint8_t *data_;
    uint32_t size_;
    uint32_t next_ = 0;       // index of the next byte to load
    uint32_t zeroBytes_ = 0;  // zero bytes just loaded, for spotting 00 00 03
    uint8_t byte_ = 0;
    int32_t bitsLeft_ = 0;    // unread bits of byte_
};

}  // namespace recmux
