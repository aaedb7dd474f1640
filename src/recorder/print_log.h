#pragma once

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace recmux {

// printf to standard output: the recorder's few failure texts go there.
void PrintLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

AVSampleFormat SampleFormatForBits(int bits);

}  // namespace recmux
