// CImgEvaluateFocus: the focus figure from two Gaussian filters held in the
// image's extended filter slots 0 and 1.
#include "measure/focus.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "filter/filtermatrix.h"
#include "imagecore/registry.h"

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

    // Whole filtered rows per slot (the same values CalcFilterProcEx gives
    // pixel by pixel), then the squares summed in pixel order.
    const int columns = right > left ? static_cast<int>(right - left) : 0;
    std::vector<float> narrowRow(static_cast<std::size_t>(columns));
    std::vector<float> wideRow(static_cast<std::size_t>(columns));
    double sum = 0.0;
    long long count = 0;
    for (int p = 0; p < GetPlanes(); ++p) {
        SetFilterProcPlnEx(kNarrowSlot, p);
        SetFilterProcPlnEx(kWideSlot, p);
        if (columns == 0) {
            continue;
        }
        for (long long y = top; y < bottom; ++y) {
            CalcFilterProcExRow(kNarrowSlot, static_cast<int>(left), static_cast<int>(y), columns, narrowRow.data());
            CalcFilterProcExRow(kWideSlot, static_cast<int>(left), static_cast<int>(y), columns, wideRow.data());
            for (int i = 0; i < columns; ++i) {
                const double d = std::fabs(narrowRow[i] - wideRow[i]);
                sum += d * d;
            }
            count += columns;
        }
    }
    return count != 0 ? sum / static_cast<double>(count) : 0.0;
}
