// The focus figure on the standard frame with the default settings (sigma 1
// and 10: Gaussians of radius 3 and 29, three planes), and, when OpenCV is
// found, the same two Gaussian blurs of the whole frame by OpenCV.
#include <benchmark/benchmark.h>

#include "frame.h"

#ifdef ORBIMG_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace orbimg::bench {

namespace {

// Repeated evaluation of one object: the filters are built by the first call
// and reused, as a host evaluating successive frames in one object does.
void FocusDo(benchmark::State& state)
{
    CRegistry::Write(L"Eval", L"Min", 1);  // the defaults, whatever ran before
    CRegistry::Write(L"Eval", L"Max", 10);
    static CImgEvaluateFocus* image = [] {
        auto* img = new CImgEvaluateFocus;  // kept for the whole run
        *img = StandardFrame();
        return img;
    }();
    const SerialWhile serial(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(image->Do(0));
    }
}
BENCHMARK(FocusDo)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef ORBIMG_HAVE_OPENCV
// GaussianBlur with sigma 1 (7 x 7) and sigma 10 (59 x 59) of every plane of
// the frame as float; threads: OpenCV's default, or 1.
void OpenCvGaussianPair(benchmark::State& state, int threads)
{
    const CKelImage& frame = StandardFrame();
    const int previous = cv::getNumThreads();
    cv::setNumThreads(threads);
    cv::Mat narrow(frame.GetHeight(), frame.GetWidth(), CV_32F);
    cv::Mat wide(frame.GetHeight(), frame.GetWidth(), CV_32F);
    for (auto _ : state) {
        for (int p = 0; p < frame.GetPlanes(); ++p) {
            const cv::Mat src(frame.GetHeight(), frame.GetWidth(), CV_32F, frame.GetImageAdr(0, 0, p, 1, nullptr));
            cv::GaussianBlur(src, narrow, cv::Size(7, 7), 1.0);
            cv::GaussianBlur(src, wide, cv::Size(59, 59), 10.0);
        }
        benchmark::DoNotOptimize(narrow.data);
        benchmark::DoNotOptimize(wide.data);
    }
    cv::setNumThreads(previous);
}
void OpenCvGaussianPairDefaultThreads(benchmark::State& state) { OpenCvGaussianPair(state, -1); }
void OpenCvGaussianPairOneThread(benchmark::State& state) { OpenCvGaussianPair(state, 1); }
BENCHMARK(OpenCvGaussianPairDefaultThreads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpenCvGaussianPairOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

}  // namespace orbimg::bench
