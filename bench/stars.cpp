// Stars: background, detection and measurement (CStarField::Detect with the
// default settings) of a 6000 x 4000 mono frame holding 3000 stars. With
// ORBIMG_BENCH_STARS_FRAME=path the frame is also written there as raw
// float32 (row-major), so that bench/stars_vs_sep.py can time SEP on it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "frame.h"

namespace orbimg::bench {

namespace {

constexpr int kStars = 3000;

/// Sky 1000 rising 0.01 per row, noise of sigma ~ 17, and 3000 Gaussian stars
/// (peak 500 .. 40000, sigma 1.2 .. 3) at pixel centres.
const CKelImage& StarFrame()
{
    static const CKelImage frame = [] {
        CKelImage image(kFrameWidth, kFrameHeight, 1, -32, 1.0, 0.0, 1);
        std::uint64_t s = 0x2545F4914F6CDD1Dull;
        const auto uniform = [&s] {
            s ^= s << 13;
            s ^= s >> 7;
            s ^= s << 17;
            return static_cast<double>(s >> 11) * (1.0 / 9007199254740992.0);
        };
        for (int y = 0; y < kFrameHeight; ++y) {
            float* row = image.GetImageAdr(0, y, 0, 0, nullptr);
            for (int x = 0; x < kFrameWidth; ++x) {
                const double n = uniform() + uniform() + uniform() + uniform() - 2.0;
                row[x] = static_cast<float>(1000.0 + n * 30.0 + y * 0.01);
            }
        }
        for (int i = 0; i < kStars; ++i) {
            const double cx = uniform() * kFrameWidth;
            const double cy = uniform() * kFrameHeight;
            const double peak = 500.0 + uniform() * uniform() * 39500.0;
            const double sigma = 1.2 + uniform() * 1.8;
            const int r = static_cast<int>(std::ceil(sigma * 5.0));
            for (int y = static_cast<int>(cy) - r; y <= static_cast<int>(cy) + r; ++y) {
                float* row = image.GetImageAdr(0, y, 0, 0, nullptr);
                for (int x = static_cast<int>(cx) - r; row && x <= static_cast<int>(cx) + r; ++x) {
                    if (x >= 0 && x < kFrameWidth) {
                        const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                        row[x] += static_cast<float>(peak * std::exp(-d2 / (2.0 * sigma * sigma)));
                    }
                }
            }
        }
        if (const char* path = std::getenv("ORBIMG_BENCH_STARS_FRAME")) {
            if (std::FILE* out = std::fopen(path, "wb")) {
                for (int y = 0; y < kFrameHeight; ++y) {
                    std::fwrite(image.GetImageAdr(0, y, 0, 0, nullptr), sizeof(float), kFrameWidth, out);
                }
                std::fclose(out);
            }
        }
        return image;
    }();
    return frame;
}

void StarFieldDetect(benchmark::State& state)
{
    const CKelImage& frame = StarFrame();
    CStarField field(&frame);
    for (auto _ : state) {
        benchmark::DoNotOptimize(field.Detect());
    }
    state.counters["stars"] = static_cast<double>(field.GetStars().size());
    state.counters["good"] = static_cast<double>(field.GetSummary().good);
}
BENCHMARK(StarFieldDetect)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace orbimg::bench
