// Medians of the cell positions of undeveloped colour mosaics held in plane
// 0: the four positions of the 2 x 2 Bayer cell and the eight photosites of
// the 4 x 4 honeycomb cell (reported as gains to the largest median).
#include <algorithm>
#include <cmath>
#include <vector>

#include "autolevel/autolevel.h"
#include "autolevel/samples.h"

using orbimg::detail::UpperMedian;

namespace {

/// Pixels (or pixels per position) above which blocks of k x k are summed,
/// k chosen so that about this many blocks remain.
constexpr long long kBlockThreshold = 50000;

/// (x, y) offsets of the positions within the cell, in output order.
constexpr int kBayer[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
constexpr int kHoneyComb[8][2] = {{1, 0}, {0, 1}, {1, 2}, {0, 3}, {3, 0}, {2, 1}, {3, 2}, {2, 3}};

/// The blocks of one mosaic: cells `step` samples apart, blocks of s x s
/// same-position samples, blockRows x blockColumns blocks from (left, top).
struct BlockGrid {
    int left;
    int top;
    int step;
    int size;
    int blockRows;
    int blockColumns;
};

/// Median of the block sums of the position at offset (dx, dy): each block
/// the double sum of the samples (x + step c, y + step r), r outer, c inner,
/// from 0. Blocks containing a NaN are dropped. False when no block is left.
/// `values` and `sums` are working storage reused across positions.
bool PositionMedian(const CKelImage& image, const BlockGrid& g, int dx, int dy, std::vector<double>& values,
                    std::vector<double>& sums, double& median)
{
    values.clear();
    const int stride = g.step * g.size;  // from one block to the next
    sums.resize(g.blockColumns);
    for (int k = 0; k < g.blockRows; ++k) {
        std::fill(sums.begin(), sums.end(), 0.0);
        for (int r = 0; r < g.size; ++r) {
            const float* row = image.GetImageAdr(0, g.top + dy + k * stride + r * g.step, 0, 1, nullptr);
            if (!row) {
                return false;
            }
            row += g.left + dx;
            // Column offset outside, blocks inside: each block still adds its
            // samples in order, and the blocks are independent sums.
            for (int c = 0; c < g.size; ++c) {
                const float* v = row + c * g.step;
                for (int j = 0; j < g.blockColumns; ++j) {
                    sums[j] += static_cast<double>(v[static_cast<std::size_t>(j) * stride]);
                }
            }
        }
        for (const double sum : sums) {
            if (sum == sum) {
                values.push_back(sum);
            }
        }
    }
    if (values.empty()) {
        return false;
    }
    median = UpperMedian(values);
    return true;
}

/// Working storage for the block values of one position.
std::vector<double> BlockValues(const BlockGrid& g)
{
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(std::max(g.blockRows, 0)) *
                   static_cast<std::size_t>(std::max(g.blockColumns, 0)));
    return values;
}

/// True when the camera model names the FinePix S2 Pro, in any letter case.
bool IsFinePixS2Pro(const CImage& image)
{
    CString model(image.GetHeader()->GetCameraModel());
    model.MakeLower();
    return model.Find(L"finepixs2pro") >= 0;
}

}  // namespace

void CImgAutoLevel::GetMedianBayer(float* medians, int blockSampling)
{
    const int width = GetWidth();
    const int height = GetHeight();
    const long long pixels = static_cast<long long>(width) * height;
    int s = 1;
    if (blockSampling && pixels > kBlockThreshold) {
        const int k = static_cast<int>(std::sqrt(static_cast<double>(pixels / kBlockThreshold)) + 0.5);
        s = std::max(static_cast<int>(k * 0.5), 1);  // k = 1 would give 0
    }
    const BlockGrid grid{0, 0, 2, s, height / (2 * s), width / (2 * s)};
    std::vector<double> values = BlockValues(grid);
    std::vector<double> sums;
    for (int q = 0; q < 4; ++q) {
        double median = 0.0;
        const bool found = PositionMedian(*this, grid, kBayer[q][0], kBayer[q][1], values, sums, median);
        medians[q] = found ? static_cast<float>(median / (static_cast<double>(s) * s)) : 0.0f;
    }
}

void CImgAutoLevel::GetMedianHoneyComb(double* gains, int blockSampling)
{
    int width = GetWidth();
    int height = GetHeight();
    int left = 0;
    int top = 0;
    if (IsFinePixS2Pro(*this)) {
        width -= 96;
        height -= 60;
        left = 48;
        top = 30;
    }
    std::fill(gains, gains + 8, 0.0);
    if (width <= 0 || height <= 0) {
        return;  // smaller than the margins: no position has a block
    }
    int s = 1;
    const double perPosition = static_cast<double>(static_cast<long long>(width) * height) * 0.0625;
    if (blockSampling && static_cast<long long>(perPosition) > kBlockThreshold) {
        s = static_cast<int>(std::sqrt(perPosition / static_cast<double>(kBlockThreshold)) + 0.5);
    }
    const BlockGrid grid{left, top, 4, s, height / (4 * s), width / (4 * s)};
    std::vector<double> values = BlockValues(grid);
    std::vector<double> sums;
    bool found[8] = {};
    for (int k = 0; k < 8; ++k) {
        double median = 0.0;
        found[k] = PositionMedian(*this, grid, kHoneyComb[k][0], kHoneyComb[k][1], values, sums, median);
        gains[k] = found[k] ? median / (static_cast<double>(s) * s) : 0.0;
    }
    bool any = false;
    double largest = 0.0;
    for (int k = 0; k < 8; ++k) {
        if (found[k] && (!any || gains[k] > largest)) {
            largest = gains[k];
            any = true;
        }
    }
    for (int k = 0; k < 8; ++k) {
        if (found[k]) {
            gains[k] = gains[k] == 0.0 ? 1.0 : largest / gains[k];
        }
    }
}
