// The recorder's messages as lines of the library's log.
#pragma once

#include <cstdint>

namespace recmux {

struct EventLine {
    int32_t level;     // 0: the message makes no line
    const char *text;  // what happened, and what it means for the recording
};

EventLine DescribeEvent(int32_t category, int32_t value);

}  // namespace recmux
