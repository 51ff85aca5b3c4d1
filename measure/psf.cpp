// PSF: climb to a star's peak, sky from the four rays along its row and
// column, FWHM from the half-height crossings, and the mean or median over
// the stars kept.
#include "measure/psf.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstddef>

#include "imagecore/registry.h"

namespace {

constexpr double kFwhmToPsf = 0.4246609;
constexpr double kPsfToFwhm = 2.354820045829508;  // 1 / kFwhmToPsf as stored
constexpr double kMinValue = 1e-6;

/// The climb's answer when it read a value that is not finite.
const CPoint kNoPeak(-1, -1);

/// One ray from the peak: along the row (horizontal) or the column, toward
/// smaller (step -1) or larger (step +1) coordinates.
struct Ray {
    bool vertical;
    int step;
};

/// Left, right, up, down: the order of the walks.
constexpr std::array<Ray, 4> kRays = {{{false, -1}, {false, 1}, {true, -1}, {true, 1}}};

/// Background samples per ray, and pixels skipped beyond a descent.
constexpr int kSamplesPerRay = 12;
constexpr int kSkip = 2;

}  // namespace

PSF::PSF(CKelImage* image) : m_image(image), m_values(nullptr), m_count(0), m_limit(20.0)
{
    CRegistry::Read(CString(L"Psf"), CString(L"Max"), 20.0, &m_limit);
}

PSF::~PSF() = default;

double PSF::FwhmToPsf(double fwhm) const { return std::sqrt(fwhm) * kFwhmToPsf; }

double PSF::PsfToFwhm(double psf) const
{
    const double f = psf * kPsfToFwhm;
    return f * f;
}

double PSF::GetPixelValue(CPoint pt)
{
    const int planes = m_image->GetPlanes();
    double sum = 0.0;
    int counted = 0;
    for (int p = 0; p < planes; ++p) {
        const float* s = m_image->GetImageAdr(pt.x, pt.y, p, 1, nullptr);
        if (s) {
            sum += static_cast<double>(*s);
            ++counted;
        }
    }
    return counted > 0 ? sum / counted : 0.0;
}

CPoint PSF::ClimbToPeak(CPoint pt)
{
    const int width = m_image->GetWidth();
    const int height = m_image->GetHeight();
    CPoint c = pt;
    double best = GetPixelValue(c);
    if (!std::isfinite(best)) {
        return kNoPeak;
    }
    // Every move goes to a strictly greater value, so no pixel is visited
    // twice and the loop ends after at most width x height moves.
    for (;;) {
        CPoint next = c;
        for (int x = c.x - 1; x <= c.x + 1; ++x) {
            if (x < 0 || x >= width) {
                continue;
            }
            for (int y = c.y - 1; y <= c.y + 1; ++y) {
                if (y < 0 || y >= height) {
                    continue;
                }
                const double v = GetPixelValue(CPoint(x, y));
                if (!std::isfinite(v)) {
                    return kNoPeak;
                }
                if (v > best) {
                    best = v;
                    next = CPoint(x, y);
                }
            }
        }
        if (next == c) {
            return c;
        }
        c = next;
    }
}

int PSF::GetBase(CPoint peak, double* base)
{
    const double top = GetPixelValue(peak);
    if (!std::isfinite(top)) {
        return 0;
    }
    std::array<double, kRays.size() * kSamplesPerRay> samples;
    std::size_t n = 0;
    for (const Ray& ray : kRays) {
        const int size = ray.vertical ? m_image->GetHeight() : m_image->GetWidth();
        const int fixed = ray.vertical ? peak.x : peak.y;
        // Only called with 0 <= c < size.
        auto at = [&](long long c) {
            const int i = static_cast<int>(c);
            return GetPixelValue(ray.vertical ? CPoint(fixed, i) : CPoint(i, fixed));
        };

        // Descent: outward while the profile does not rise. Toward smaller
        // coordinates the walk ends at 0 without reading it; toward larger
        // ones it ends at the size. (64-bit: the skip may step past the size.)
        long long c = (ray.vertical ? peak.y : peak.x) + ray.step;
        double prev = top;
        while (ray.step < 0 ? c > 0 : c < size) {
            const double v = at(c);
            if (!std::isfinite(v)) {
                return 0;
            }
            if (v > prev) {
                break;
            }
            prev = v;
            c += ray.step;
        }

        // Skip two pixels beyond where it stopped, then gather.
        c += kSkip * ray.step;
        for (int i = 0; i < kSamplesPerRay && c >= 0 && c < size; ++i, c += ray.step) {
            const double v = at(c);
            if (!std::isfinite(v)) {
                return 0;
            }
            samples[n++] = v;
        }
    }
    if (n == 0) {
        return 0;
    }
    std::sort(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(n));
    *base = samples[n / 2];
    return 1;
}

int PSF::GetFWHM(CPoint peak, double base, double* fwhm)
{
    const double top = GetPixelValue(peak);
    const double half = (top + base) * 0.5;
    if (!std::isfinite(half)) {
        return 0;
    }
    std::array<double, kRays.size()> edge;
    for (std::size_t r = 0; r < kRays.size(); ++r) {
        const Ray& ray = kRays[r];
        const int size = ray.vertical ? m_image->GetHeight() : m_image->GetWidth();
        const int fixed = ray.vertical ? peak.x : peak.y;

        // Outward while above half; `inner` is the value one pixel inside
        // the current one (the peak's at the first step).
        int c = (ray.vertical ? peak.y : peak.x) + ray.step;
        double inner = top;
        double v;
        for (;;) {
            if (c < 0 || c >= size) {
                return 0;
            }
            v = GetPixelValue(ray.vertical ? CPoint(fixed, c) : CPoint(c, fixed));
            if (!std::isfinite(v)) {
                return 0;
            }
            if (!(v > half)) {
                break;
            }
            inner = v;
            c += ray.step;
        }
        // inner > half >= v, so the divisor is positive.
        const double t = (half - v) / (inner - v);
        edge[r] = ray.step < 0 ? static_cast<double>(c) + t : static_cast<double>(c) - t;
    }
    *fwhm = ((edge[1] - edge[0]) + (edge[3] - edge[2])) * 0.5;
    return 1;
}

int PSF::Add(CPoint pt)
{
    if (!m_image || pt.x < 0 || pt.y < 0 || pt.x >= m_image->GetWidth() || pt.y >= m_image->GetHeight()) {
        return 0;
    }
    const CPoint peak = ClimbToPeak(pt);
    if (peak == kNoPeak) {
        return 0;
    }
    double base = 0.0;
    if (!GetBase(peak, &base)) {
        return 0;
    }
    if (base >= GetPixelValue(peak)) {
        return 0;
    }
    double f = 0.0;
    if (!GetFWHM(peak, base, &f)) {
        return 0;
    }
    if (f < 0.0 || f >= m_limit) {
        return 0;
    }
    if (m_count == INT_MAX) {
        return 0;
    }
    // Grow by exactly one entry; on failure the old block stays ours.
    const std::size_t bytes = (static_cast<std::size_t>(m_count) + 1) * sizeof(double);
    double* grown = static_cast<double*>(std::realloc(m_values.get(), bytes));
    if (!grown) {
        return 0;
    }
    (void)m_values.release();
    m_values.reset(grown);
    m_values[m_count] = FwhmToPsf(f);
    ++m_count;
    return 1;
}

int PSF::GetMeanPSF(double* psf)
{
    if (m_count < 1) {
        return 0;
    }
    double sum = 0.0;
    for (int i = 0; i < m_count; ++i) {
        sum += m_values[i];
    }
    const double mean = sum / m_count;
    if (mean > kMinValue && m_limit > mean) {
        *psf = mean;
        return 1;
    }
    return 0;
}

int PSF::GetMedianPSF(double* psf)
{
    if (m_count < 1) {
        return 0;
    }
    double* values = m_values.get();
    std::sort(values, values + m_count);
    const double median = values[m_count / 2];
    if (median > kMinValue && m_limit > median) {
        *psf = median;
        return 1;
    }
    return 0;
}

int PSF::GetMeanFWHM(double* fwhm)
{
    double p = 0.0;
    const int r = GetMeanPSF(&p);
    *fwhm = r ? PsfToFwhm(p) : 0.0;
    return r;
}

int PSF::GetMedianFWHM(double* fwhm)
{
    double p = 0.0;
    const int r = GetMedianPSF(&p);
    *fwhm = r ? PsfToFwhm(p) : 0.0;
    return r;
}
