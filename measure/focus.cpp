// CImgEvaluateFocus: the focus figure from two Gaussian filters held in the
// image's extended filter slots 0 and 1.
#include "measure/focus.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "filter/filtermatrix.h"
#include "imagecore/registry.h"
#include "platform/orderedsum.h"
#include "platform/rowbands.h"

namespace {

constexpr int kNarrowSlot = 0;
constexpr int kWideSlot = 1;

/// Radius of the Gaussian for a standard deviation: trunc(max(1.0, s x 2.8 +
/// 1.0)). Radii past CFilterMatrix::kMaxRadius come out as kMaxRadius + 1,
/// which no matrix accepts (the filter then gives no value).
int GaussianRadius(double sigma)
{
    const double r = std::max(1.0, sigma * 2.8 + 1.0);
    return r < CFilterMatrix::kMaxRadius + 1.0 ? static_cast<int>(r) : CFilterMatrix::kMaxRadius + 1;
}

/// Builds extended slot `slot` of `image` for every plane from a Gaussian of
/// standard deviation `sigma` (a processor already built is kept).
void BuildSlot(CKelImage& image, int slot, double sigma)
{
    CFilterMatrix matrix;
    matrix.MakeGaussian(GaussianRadius(sigma), sigma);
    for (int p = 0; p < image.GetPlanes(); ++p) {
        image.MakeFilterProcEx(slot, &image, &matrix, p, 1);
    }
}

/// sum + d0^2 + d1^2 + ... in double, one by one in order, where di =
/// |narrow[i] - wide[i]| in float. Kept out of line so that the running sum
/// stays in a register (inlined, it is kept in memory across the caller's
/// calls, which doubles the cost of this dependent chain of additions).
__attribute__((noinline)) double AddSquaredDifferences(double sum, const float* narrow, const float* wide,
                                                       std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const double d = std::fabs(narrow[i] - wide[i]);
        sum += d * d;
    }
    return sum;
}

}  // namespace

double CImgEvaluateFocus::Do(int reserved) { return Do(nullptr, reserved); }

double CImgEvaluateFocus::Do(CRect* rect, int /*reserved*/)
{
    int narrow = 1;
    int wide = 10;
    CRegistry::Read(L"Eval", L"Min", 1, &narrow, 1);
    CRegistry::Read(L"Eval", L"Max", 10, &wide, 1);

    // The window, b inside both the rectangle and the image.
    const long long border = std::max(wide, 0);
    long long left = border;
    long long top = border;
    long long right = GetWidth() - border;
    long long bottom = GetHeight() - border;
    if (rect) {
        left = std::max(rect->left + border, border);
        top = std::max(rect->top + border, border);
        right = std::min(rect->right - border, right);
        bottom = std::min(rect->bottom - border, bottom);
    }

    BuildSlot(*this, kNarrowSlot, static_cast<double>(narrow));
    BuildSlot(*this, kWideSlot, static_cast<double>(wide));

    // Whole filtered rows per slot, a few at a time (the same values
    // CalcFilterProcEx gives pixel by pixel), then the squares summed in
    // pixel order.
    const int columns = right > left ? static_cast<int>(right - left) : 0;
    if (orbimg::platform::RowBandsParallel() && columns > 0 && bottom > top) {
        return EvaluateBands(static_cast<int>(left), static_cast<int>(top), columns, static_cast<int>(bottom - top));
    }
    constexpr int kRows = CFilterProc::kRowsAtOnce;
    std::vector<float> narrowRows(static_cast<std::size_t>(columns) * kRows);
    std::vector<float> wideRows(static_cast<std::size_t>(columns) * kRows);
    double sum = 0.0;
    long long count = 0;
    for (int p = 0; p < GetPlanes(); ++p) {
        SetFilterProcPlnEx(kNarrowSlot, p);
        SetFilterProcPlnEx(kWideSlot, p);
        if (columns == 0) {
            continue;
        }
        for (long long y = top; y < bottom; y += kRows) {
            const int rows = static_cast<int>(std::min<long long>(kRows, bottom - y));
            const int x = static_cast<int>(left);
            CalcFilterProcExRows(kNarrowSlot, x, static_cast<int>(y), columns, rows, narrowRows.data());
            CalcFilterProcExRows(kWideSlot, x, static_cast<int>(y), columns, rows, wideRows.data());
            const std::size_t values = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
            sum = AddSquaredDifferences(sum, narrowRows.data(), wideRows.data(), values);
            count += static_cast<long long>(values);
        }
    }
    return count != 0 ? sum / static_cast<double>(count) : 0.0;
}

double CImgEvaluateFocus::EvaluateBands(int left, int top, int columns, int height)
{
    // Each row of differences |n - w| is made on the thread that sums it, four
    // rows at a time from that thread's filter rings, and the squares are
    // added in pixel order (platform/orderedsum.h), so the figure has the
    // serial loop's bits. No row of differences is stored beyond the four.
    constexpr int kRows = CFilterProc::kRowsAtOnce;
    const std::size_t stride = static_cast<std::size_t>(columns);
    struct Made {        // per thread: the rows made last
        int plane = -1;  // of this plane,
        int first = 0;   // from this row of the window
        int rows = 0;    // on, this many
        std::vector<float> diff = {};
        std::vector<float> wide = {};
    };
    orbimg::platform::PerThread<Made> made;
    orbimg::platform::OrderedSum sum(orbimg::platform::SumTerms{0.0, true, false});
    for (int p = 0; p < GetPlanes(); ++p) {
        SetFilterProcPlnEx(kNarrowSlot, p);
        SetFilterProcPlnEx(kWideSlot, p);
        const auto source = [&](int r, float*) -> const float* {
            Made& m = made.Get([&] {
                return Made{-1, 0, 0, std::vector<float>(stride * kRows), std::vector<float>(stride * kRows)};
            });
            if (m.plane != p || r < m.first || r >= m.first + m.rows) {
                m.plane = p;
                m.first = r;
                m.rows = std::min(kRows, height - r);
                CalcFilterProcExRows(kNarrowSlot, left, top + r, columns, m.rows, m.diff.data());
                CalcFilterProcExRows(kWideSlot, left, top + r, columns, m.rows, m.wide.data());
                const std::size_t values = stride * static_cast<std::size_t>(m.rows);
                for (std::size_t k = 0; k < values; ++k) {
                    m.diff[k] = std::fabs(m.diff[k] - m.wide[k]);
                }
            }
            return m.diff.data() + static_cast<std::size_t>(r - m.first) * stride;
        };
        sum.AddRows(source, height, columns, true);
    }
    return sum.Count() != 0 ? sum.Value() / static_cast<double>(sum.Count()) : 0.0;
}
