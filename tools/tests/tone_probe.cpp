// Reads mono s16le PCM on stdin and prints the dominant whole frequency of
// its middle second, the share of that second's energy in it, and the RMS
// level in dBFS: a wrongly decoded tone keeps little energy in one bin.
// usage: tone_probe RATE
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

// |X(f)|^2 of the samples at frequency f (Goertzel).
double PowerAt(const std::vector<double> &x, double f, int rate)
{
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * f / rate);
    double s1 = 0;
    double s2 = 0;
    for (double sample : x) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

}  // namespace

int main(int argc, char **argv)
{
    const int rate = argc == 2 ? std::atoi(argv[1]) : 0;
    if (rate < 1000 || rate > 96000) {
        std::fprintf(stderr, "usage: tone_probe RATE < mono.s16le\n");
        return 2;
    }
    std::vector<double> all;
    short sample = 0;
    while (std::fread(&sample, sizeof sample, 1, stdin) == 1)
        all.push_back(sample / 32768.0);
    const size_t window = static_cast<size_t>(rate);
    if (all.size() < window) {
        std::fprintf(stderr, "tone_probe: less than a second of audio\n");
        return 1;
    }
    const size_t start = (all.size() - window) / 2;
    const std::vector<double> x(all.begin() + static_cast<std::ptrdiff_t>(start),
                                all.begin() + static_cast<std::ptrdiff_t>(start + window));
    double energy = 0;
    for (double value : x)
        energy += value * value;
    int best = 0;
    double best_power = -1;
    // A one-second window puts every whole frequency on a bin of its own.
    for (int f = 20; f < rate / 2; f++) {
        const double power = PowerAt(x, f, rate);
        if (power > best_power) {
            best_power = power;
            best = f;
        }
    }
    const double share = energy > 0 ? 2 * best_power / (static_cast<double>(window) * energy) : 0;
    const double rms_db = 10 * std::log10(std::max(energy / static_cast<double>(window), 1e-12));
    std::printf("%d %.3f %.2f\n", best, share, rms_db);
    return 0;
}
