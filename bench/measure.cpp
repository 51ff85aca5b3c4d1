// Measurement: sky statistics of a large rectangle, star statistics in a
// circle, and PSF over a field of synthetic stars.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "frame.h"

namespace orbimg::bench {

namespace {

/// The colour standard frame as a CImgPixelInfo (copied once).
CImgPixelInfo& PixelInfoFrame()
{
    static CImgPixelInfo info = [] {
        CImgPixelInfo image;
        image = StandardFrame();
        return image;
    }();
    return info;
}

void CalcSkyTrimmedRect(benchmark::State& state)
{
    CImgPixelInfo& info = PixelInfoFrame();
    double max[3], min[3], mean[3], stddev[3], median[3];
    const CRect rect(2500, 1500, 3500, 2500);
    for (auto _ : state) {
        info.CalcSky(rect, 0.5, 0.5, max, min, mean, stddev, median);
        benchmark::DoNotOptimize(median);
    }
}
BENCHMARK(CalcSkyTrimmedRect)->Unit(benchmark::kMillisecond)->UseRealTime();

void CalcStarRadius20(benchmark::State& state)
{
    CImgPixelInfo& info = PixelInfoFrame();
    double max[3], min[3], mean[3], stddev[3], median[3], sixth[3], diameter[3];
    for (auto _ : state) {
        info.CalcStar(3000, 2000, 20, 0.5, 0.5, max, min, mean, stddev, median, sixth, diameter);
        benchmark::DoNotOptimize(diameter);
    }
}
BENCHMARK(CalcStarRadius20)->Unit(benchmark::kMillisecond)->UseRealTime();

/// 1000 x 1000 mono frame: the standard sky with 100 Gaussian stars on a
/// 10 x 10 grid (sigma 1.5 .. 3.3, peak 2000 .. 11900), and their centres.
struct StarField {
    CKelImage image{1000, 1000, 1, -32, 1.0, 0.0, 1};
    std::vector<CPoint> stars;
    StarField()
    {
        FillFrame(image, 777);
        for (int i = 0; i < 100; ++i) {
            const double cx = 50.0 + 100.0 * (i % 10) + 0.3;
            const double cy = 50.0 + 100.0 * (i / 10) - 0.2;
            const double sigma = 1.5 + 0.02 * i;
            const double peak = 2000.0 + 100.0 * i;
            for (int y = static_cast<int>(cy) - 20; y <= static_cast<int>(cy) + 20; ++y) {
                float* row = image.GetImageAdr(0, y, 0, 0, nullptr);
                for (int x = static_cast<int>(cx) - 20; x <= static_cast<int>(cx) + 20; ++x) {
                    const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    row[x] += static_cast<float>(peak * std::exp(-d2 / (2.0 * sigma * sigma)));
                }
            }
            stars.emplace_back(static_cast<int>(cx) + 1, static_cast<int>(cy) - 1);
        }
    }
};

void PsfAdd100Stars(benchmark::State& state)
{
    static StarField field;
    int kept = 0;
    for (auto _ : state) {
        PSF psf(&field.image);
        for (const CPoint& pt : field.stars) {
            psf.Add(pt);
        }
        double fwhm = 0.0;
        psf.GetMedianFWHM(&fwhm);
        benchmark::DoNotOptimize(fwhm);
        kept = psf.GetCount();
    }
    state.counters["kept"] = kept;
}
BENCHMARK(PsfAdd100Stars)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace orbimg::bench
