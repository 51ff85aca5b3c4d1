// Auto level by median: the median of the window (optionally of s x s block
// sums), levels placed by multiples of the root-mean-square deviation from
// it, and the dispatchers that pick a method by number. Block rows and sums
// run over row bands on every core, with the serial loop's bits.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "autolevel/autolevel.h"
#include "autolevel/samples.h"
#include "platform/rowbands.h"

using orbimg::detail::ClipWindow;
using orbimg::detail::RmsDeviation;
using orbimg::detail::SampleSet;
using orbimg::detail::UpperMedian;
using orbimg::detail::Window;

namespace {

/// Windows above this many pixels may be measured on block sums.
constexpr long long kBlockThreshold = 50000;

/// Raw luminance of n pixels: (0.587 G + 0.299 R) + 0.114 B in double,
/// rounded to float; no levels involved.
void RawLuma(const float* r, const float* g, const float* b, int n, float* out)
{
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<float>(0.587 * static_cast<double>(g[i]) + 0.299 * static_cast<double>(r[i]) +
                                    0.114 * static_cast<double>(b[i]));
    }
}

/// Median of a window's values: plane samples, or the raw luminance when
/// rawLuma is set. With blocks, the values are float sums of s x s blocks
/// (rows of a block top to bottom, each left to right), blocks containing a
/// NaN dropped; the median sum, rounded to float, is divided by s x s in
/// float. False when there is no value (empty window, every block NaN, or a
/// plane that does not exist).
bool BlockMedian(const CKelImage& image, const Window& w, bool blockSampling, bool rawLuma, int plane, float& median)
{
    if (w.Empty()) {
        return false;
    }
    const long long pixels = w.Pixels();
    long long size = 1;
    if (blockSampling && pixels > kBlockThreshold) {
        size = static_cast<long long>(std::sqrt(static_cast<double>(pixels / kBlockThreshold)) + 0.5);
        // At most the shorter side, so that a window always has a block.
        size = std::min<long long>(size, std::min(w.Width(), w.Height()));
    }
    const int s = static_cast<int>(size);
    const int columns = w.Width() / s;
    const int rows = w.Height() / s;
    const int span = columns * s;

    // Block rows over row bands on every core, each block's sum into its
    // place; the values then taken in block order.
    std::vector<float> sums(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    std::atomic<bool> missing{false};
    orbimg::platform::ForRowBands(
        0, rows,
        [&](int begin, int end) {
            std::vector<float> luma(rawLuma ? span : 0);
            for (int k = begin; k < end; ++k) {
                float* blockSums = sums.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(columns);
                for (int r = 0; r < s; ++r) {
                    const int y = w.top + k * s + r;
                    const float* row;
                    if (rawLuma) {
                        const float* red = image.GetImageAdr(w.left, y, 0, 1, nullptr);
                        const float* green = image.GetImageAdr(w.left, y, 1, 1, nullptr);
                        const float* blue = image.GetImageAdr(w.left, y, 2, 1, nullptr);
                        if (!red || !green || !blue) {
                            missing = true;
                            return;
                        }
                        RawLuma(red, green, blue, span, luma.data());
                        row = luma.data();
                    } else {
                        row = image.GetImageAdr(w.left, y, plane, 1, nullptr);
                        if (!row) {
                            missing = true;
                            return;
                        }
                    }
                    // Column offset outside, blocks inside: each block still
                    // adds its samples left to right, and the blocks are
                    // independent sums.
                    for (int c = 0; c < s; ++c) {
                        const float* v = row + c;
                        for (int j = 0; j < columns; ++j) {
                            blockSums[j] += v[static_cast<std::size_t>(j) * s];
                        }
                    }
                }
            }
        },
        1);
    if (missing) {
        return false;
    }
    std::vector<double> values;
    values.reserve(sums.size());
    for (const float sum : sums) {
        if (sum == sum) {
            values.push_back(sum);
        }
    }
    if (values.empty()) {
        return false;
    }
    median = static_cast<float>(UpperMedian(values)) / static_cast<float>(s * s);
    return true;
}

/// Median m and root-mean-square deviation d of every value of the window
/// from m (full resolution, double, window order).
struct MedianSpread {
    float median = 0.0f;
    double deviation = 0.0;
    bool valid = false;
};

MedianSpread Measure(const CKelImage& image, const Window& w, bool luminance, int plane)
{
    MedianSpread m;
    m.valid = BlockMedian(image, w, true, luminance, plane, m.median) &&
              RmsDeviation(image, w, luminance ? SampleSet::LumaRaw : SampleSet::Plane, plane,
                           static_cast<double>(m.median), m.deviation);
    return m;
}

}  // namespace

void CImgAutoLevel::GetMedian(float* median, int blockSampling, int luminance, int plane, CRect* rect)
{
    const Window w = ClipWindow(*this, rect);
    const bool color = IsColor();
    float m = 0.0f;
    if (!BlockMedian(*this, w, blockSampling != 0, color && luminance != 0, color ? plane : 0, m)) {
        m = 0.0f;
    }
    *median = m;
}

void CImgAutoLevel::DoByMedian(double low, double high, int perPlane, CRect* rect)
{
    const Window w = ClipWindow(*this, rect);
    const auto pass = [&](bool luminance, int plane, int levelPlane) {
        const MedianSpread m = Measure(*this, w, luminance, plane);
        if (m.valid) {
            const double median = m.median;
            SetLevel(levelPlane, median - m.deviation * low, m.deviation * high + median);
        }
    };
    if (!IsColor()) {
        pass(false, 0, -1);
    } else if (perPlane != 0) {
        for (int p = 0; p < GetPlanes(); ++p) {
            pass(false, p, p);
        }
    } else {
        pass(true, 0, -1);
    }
}

void CImgAutoLevel::GetByMedian(double& low, double& high, CRect* rect)
{
    low = 0.0;
    high = 1.0;
    const Window w = ClipWindow(*this, rect);
    const MedianSpread m = Measure(*this, w, IsColor() != 0, 0);
    if (!m.valid || m.deviation == 0.0) {
        return;  // empty or flat window: the neutral parameters
    }
    const double median = m.median;
    low = (median - GetLevelMin(0)) / m.deviation;
    high = (GetLevelMax(0) - median) / m.deviation;
}

void CImgAutoLevel::Do(double low, double high, int method, int perPlane, CRect* rect)
{
    switch (method) {
    case 1:
        DoByMean(low, high, perPlane, rect);
        break;
    case 2:
        DoByMedian(low, high, perPlane, rect);
        break;
    default:
        DoByNormal(low, high, perPlane, rect);
        break;
    }
}

void CImgAutoLevel::Get(double& low, double& high, int method, CRect* rect)
{
    switch (method) {
    case 1:
        GetByMean(low, high, rect);
        break;
    case 2:
        GetByMedian(low, high, rect);
        break;
    default:
        GetByNormal(low, high, rect);
        break;
    }
}
