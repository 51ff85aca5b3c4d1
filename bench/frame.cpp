// The standard benchmark frame and the copy floor every benchmark is
// compared with.
#include "frame.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orbimg::bench {

namespace {

// xorshift: fast, deterministic on every platform.
struct Rng {
    std::uint64_t s;
    std::uint64_t Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
};

}  // namespace

void FillFrame(CKelImage& image, unsigned seed)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    Rng rng{0x9E3779B97F4A7C15ull ^ seed};
    for (int p = 0; p < image.GetPlanes(); ++p) {
        const float base = 1000.0f + 40.0f * static_cast<float>(p);
        for (int y = 0; y < height; ++y) {
            float* row = image.GetImageAdr(0, y, p, 0, nullptr);
            for (int x = 0; x < width; ++x) {
                // Sum of four uniforms: a cheap bell-shaped noise of sigma ~ 17.
                const double n = rng.Uniform() + rng.Uniform() + rng.Uniform() + rng.Uniform() - 2.0;
                row[x] = base + static_cast<float>(n * 30.0) + static_cast<float>(y) * 0.01f;
            }
        }
    }
    // Stars: one per 10000 pixels, peak 500 .. 40000, sigma 1.2 .. 3.
    const int stars = width * height / 10000;
    for (int i = 0; i < stars; ++i) {
        const double cx = rng.Uniform() * width;
        const double cy = rng.Uniform() * height;
        const double peak = 500.0 + rng.Uniform() * rng.Uniform() * 39500.0;
        const double sigma = 1.2 + rng.Uniform() * 1.8;
        const int r = static_cast<int>(std::ceil(sigma * 4.0));
        for (int p = 0; p < image.GetPlanes(); ++p) {
            const double gain = 1.0 - 0.15 * p;
            for (int y = static_cast<int>(cy) - r; y <= static_cast<int>(cy) + r; ++y) {
                float* row = image.GetImageAdr(0, y, p, 0, nullptr);
                if (!row) {
                    continue;
                }
                for (int x = static_cast<int>(cx) - r; x <= static_cast<int>(cx) + r; ++x) {
                    if (x < 0 || x >= width) {
                        continue;
                    }
                    const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    row[x] += static_cast<float>(gain * peak * std::exp(-d2 / (2.0 * sigma * sigma)));
                }
            }
        }
    }
}

const CKelImage& StandardFrame()
{
    static const CKelImage frame = [] {
        CKelImage image(kFrameWidth, kFrameHeight, 3, -32, 1.0, 0.0, 1);
        FillFrame(image);
        for (int p = 0; p < 3; ++p) {
            image.SetLevel(p, 900.0, 3000.0);
        }
        return image;
    }();
    return frame;
}

const CKelImage& StandardMonoFrame()
{
    static const CKelImage frame = [] {
        CKelImage image(kFrameWidth, kFrameHeight, 1, -32, 1.0, 0.0, 1);
        FillFrame(image);
        image.SetLevel(0, 900.0, 3000.0);
        return image;
    }();
    return frame;
}

namespace {

// The floor: one copy of the colour frame's samples, row by row through the
// image core, into a second image.
void CopyFloor(benchmark::State& state)
{
    const CKelImage& src = StandardFrame();
    CKelImage dst(src.GetWidth(), src.GetHeight(), src.GetPlanes(), -32, 1.0, 0.0, 1);
    const std::size_t rowBytes = static_cast<std::size_t>(src.GetWidth()) * sizeof(float);
    for (auto _ : state) {
        for (int p = 0; p < src.GetPlanes(); ++p) {
            for (int y = 0; y < src.GetHeight(); ++y) {
                std::memcpy(dst.GetImageAdr(0, y, p, 0, nullptr), src.GetImageAdr(0, y, p, 1, nullptr), rowBytes);
            }
        }
        benchmark::DoNotOptimize(dst.GetImageAdr(0, 0, 0, 1, nullptr));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(rowBytes) * src.GetHeight() * src.GetPlanes());
}
BENCHMARK(CopyFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

void GetAvrGrayRaw(benchmark::State& state)
{
    CKelImage& frame = const_cast<CKelImage&>(StandardFrame());
    for (auto _ : state) {
        for (int p = 0; p < 3; ++p) {
            benchmark::DoNotOptimize(frame.GetAvrGrayRaw(p));
        }
    }
}
BENCHMARK(GetAvrGrayRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace orbimg::bench
