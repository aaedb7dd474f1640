#include "pattern_painter.h"

#include <cstdint>

namespace recmux_tool {
namespace {

struct Yuv {
    uint8_t y, u, v;
};

// 75% colour bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Yuv kBars[] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                         {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
constexpr int kBarCount = sizeof kBars / sizeof kBars[0];
constexpr int kSquare = 64;

// Bars above, a scrolling grey ramp in the bottom quarter, and a white square
// crossing the bars, so that every frame differs from the one before.
Yuv PixelAt(int x, int y, int width, int height, int n)
{
    if (y >= height * 3 / 4)
        return {static_cast<uint8_t>(16 + (x + 4 * n) % 220), 128, 128};
    const int square_x = (8 * n) % (width - kSquare);
    if (x >= square_x && x < square_x + kSquare && y >= 40 && y < 40 + kSquare)
        return {235, 128, 128};
    return kBars[x * kBarCount / width];
}

}  // namespace

void PaintPattern(AVFrame &frame, int n)
{
    for (int y = 0; y < frame.height; y++) {
        uint8_t *luma = frame.data[0] + y * frame.linesize[0];
        for (int x = 0; x < frame.width; x++)
            luma[x] = PixelAt(x, y, frame.width, frame.height, n).y;
    }
    for (int y = 0; y < frame.height / 2; y++) {
        uint8_t *u = frame.data[1] + y * frame.linesize[1];
        uint8_t *v = frame.data[2] + y * frame.linesize[2];
        for (int x = 0; x < frame.width / 2; x++) {
            const Yuv pixel = PixelAt(2 * x, 2 * y, frame.width, frame.height, n);
            u[x] = pixel.u;
            v[x] = pixel.v;
        }
    }
}

}  // namespace recmux_tool
