// CStarField: detection in row bands, 8-connected objects from runs, a
// watershed deblend, and the measurement of each star.
#include "measure/starfield.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "imagecore/image.h"
#include "measure/lmfit.h"
#include "measure/signalrows.h"
#include "platform/ppl.h"

namespace {

using orbimg::detail::FitSample;
using orbimg::detail::ProfileFit;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;
constexpr double kSigmaToFwhm = 2.3548200450309493;        // 2 sqrt(2 ln 2)
constexpr double kHalfRadiusOfSigma = 1.1774100225154747;  // sqrt(2 ln 2)
constexpr double kPixelVariance = 1.0 / 12.0;
constexpr int kBandRows = 32;
constexpr int kMaxFitHalf = 40;
constexpr double kMaxAperture = 60.0;
constexpr int kSubPixels = 5;
/// Bins of the squared radius per px^2: 1/64 px wide at a radius of 1 px.
constexpr double kSquareBins = 32.0;
/// Mean square of the sub-pixel offsets along one axis, (1 - 1/25) / 12.
constexpr double kSubMeanSquare = (1.0 - 1.0 / (kSubPixels * kSubPixels)) / 12.0;

/// Runs the body for 0 .. count - 1 in parallel, or serially while part of
/// the sample store is swapped out.
template <typename Body>
void ForEach(int count, const Body& body)
{
    if (CVmManager::GetCurrentSwapSize() != 0) {
        for (int i = 0; i < count; ++i) {
            body(i);
        }
    } else {
        Concurrency::parallel_for(0, count, body);
    }
}

struct Run {
    int y;
    int x0;
    int x1;  // inclusive
};

int Find(std::vector<int>& parent, int i)
{
    while (parent[static_cast<std::size_t>(i)] != i) {
        const int up = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
        parent[static_cast<std::size_t>(i)] = up;
        i = up;
    }
    return i;
}

/// The signal, its background and the settings shared by every star.
struct Frame {
    const std::vector<const float*>& rows;
    int width;
    int height;
    const CSkyBackground& sky;
    const StarParams& params;
    double saturation;  // +inf: none
};

/// An object: its bounding box and a label per box pixel (0 outside it;
/// after deblending 1 .. n, one per star).
struct Object {
    int x0 = 0;
    int y0 = 0;
    int w = 0;
    int h = 0;
    std::vector<float> residual;  // box pixels, object pixels only meaningful
    std::vector<int> label;
    int stars = 1;
    double noise = 0.0;  // at the peak
};

/// Splits an object at its saddles (see the header); labels 1 .. stars.
void Deblend(Object& object, const StarParams& params)
{
    const int w = object.w;
    std::vector<int> pixels;
    double total = 0.0;
    for (int i = 0; i < static_cast<int>(object.label.size()); ++i) {
        if (object.label[static_cast<std::size_t>(i)] != 0) {
            pixels.push_back(i);
            total += object.residual[static_cast<std::size_t>(i)];
        }
    }
    std::sort(pixels.begin(), pixels.end(), [&](int a, int b) {
        const float ra = object.residual[static_cast<std::size_t>(a)];
        const float rb = object.residual[static_cast<std::size_t>(b)];
        return ra > rb || (ra == rb && a < b);
    });
    const std::size_t boxSize = object.label.size();
    std::vector<int> parent(boxSize, -1);
    std::vector<double> sum(boxSize, 0.0);
    std::vector<int> count(boxSize, 0);
    std::vector<float> peak(boxSize, 0.0f);
    std::vector<char> final(boxSize, 0);
    const double minFlux = params.deblendContrast * total;
    const double minHeight = params.deblendSigma * object.noise;
    const int minArea = std::max(params.minArea, 1);
    int roots[8];
    for (const int p : pixels) {
        const int px = p % w;
        const int py = p / w;
        const float v = object.residual[static_cast<std::size_t>(p)];
        int n = 0;
        int brightest = -1;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int qx = px + dx;
                const int qy = py + dy;
                if ((dx == 0 && dy == 0) || qx < 0 || qy < 0 || qx >= w || qy >= object.h) {
                    continue;
                }
                const int q = qy * w + qx;
                if (parent[static_cast<std::size_t>(q)] < 0) {
                    continue;
                }
                const int root = Find(parent, q);
                if (brightest < 0 || object.residual[static_cast<std::size_t>(q)] >
                                         object.residual[static_cast<std::size_t>(brightest)]) {
                    brightest = q;
                }
                if (std::find(roots, roots + n, root) == roots + n) {
                    roots[n++] = root;
                }
            }
        }
        if (n == 0) {
            parent[static_cast<std::size_t>(p)] = p;
            sum[static_cast<std::size_t>(p)] = v;
            count[static_cast<std::size_t>(p)] = 1;
            peak[static_cast<std::size_t>(p)] = v;
            continue;
        }
        if (n > 1) {
            // Significant branches at this saddle stay apart; the others join
            // the significant (else the brightest) branch with the highest peak.
            int significant = 0;
            int keep = -1;
            for (int k = 0; k < n; ++k) {
                const auto r = static_cast<std::size_t>(roots[k]);
                const bool big = final[r] || (sum[r] - count[r] * static_cast<double>(v) >= minFlux &&
                                              peak[r] - static_cast<double>(v) >= minHeight && count[r] >= minArea);
                if (big) {
                    ++significant;
                }
            }
            for (int k = 0; k < n; ++k) {
                const auto r = static_cast<std::size_t>(roots[k]);
                const bool big = final[r] || (sum[r] - count[r] * static_cast<double>(v) >= minFlux &&
                                              peak[r] - static_cast<double>(v) >= minHeight && count[r] >= minArea);
                if ((significant >= 2 && big) || significant < 2) {
                    if (keep < 0 || peak[r] > peak[static_cast<std::size_t>(keep)] ||
                        (peak[r] == peak[static_cast<std::size_t>(keep)] && roots[k] < keep)) {
                        keep = roots[k];
                    }
                }
                if (significant >= 2 && big) {
                    final[r] = 1;
                }
            }
            for (int k = 0; k < n; ++k) {
                const auto r = static_cast<std::size_t>(roots[k]);
                if (roots[k] == keep || final[r]) {
                    continue;
                }
                parent[r] = keep;
                sum[static_cast<std::size_t>(keep)] += sum[r];
                count[static_cast<std::size_t>(keep)] += count[r];
                peak[static_cast<std::size_t>(keep)] = std::max(peak[static_cast<std::size_t>(keep)], peak[r]);
            }
        }
        const int root = Find(parent, brightest);
        parent[static_cast<std::size_t>(p)] = root;
        sum[static_cast<std::size_t>(root)] += v;
        count[static_cast<std::size_t>(root)] += 1;
    }
    // Number the branches by their root pixel (each root is its branch's peak).
    std::vector<int> rootsFound;
    for (const int p : pixels) {
        rootsFound.push_back(Find(parent, p));
    }
    std::vector<int> distinct = rootsFound;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    object.stars = static_cast<int>(distinct.size());
    for (std::size_t k = 0; k < pixels.size(); ++k) {
        const int index =
            static_cast<int>(std::lower_bound(distinct.begin(), distinct.end(), rootsFound[k]) - distinct.begin());
        object.label[static_cast<std::size_t>(pixels[k])] = index + 1;
    }
}

/// Residuals of a square window of the frame, with what each pixel may be
/// used for.
struct Window {
    int x0 = 0;
    int y0 = 0;
    int w = 0;
    int h = 0;
    bool cut = false;        // the square asked for left the frame
    bool blank = false;      // holds a sample that is not finite
    bool saturated = false;  // holds a sample at or above saturation
    std::vector<float> r;    // NaN where not usable
    std::vector<char> saturatedAt;
};

/// The window [cx - half, cx + half]^2 clipped to the frame; pixels of other
/// stars of the same object are NaN (not blank).
Window MakeWindow(const Frame& frame, const Object& object, int label, int cx, int cy, int half)
{
    Window win;
    const int x0 = cx - half;
    const int y0 = cy - half;
    const int x1 = cx + half;
    const int y1 = cy + half;
    win.x0 = std::max(x0, 0);
    win.y0 = std::max(y0, 0);
    const int xe = std::min(x1, frame.width - 1);
    const int ye = std::min(y1, frame.height - 1);
    win.cut = x0 < 0 || y0 < 0 || x1 >= frame.width || y1 >= frame.height;
    win.w = std::max(0, xe - win.x0 + 1);
    win.h = std::max(0, ye - win.y0 + 1);
    win.r.assign(static_cast<std::size_t>(win.w) * static_cast<std::size_t>(win.h), static_cast<float>(kNaN));
    win.saturatedAt.assign(win.r.size(), 0);
    std::vector<float> level(static_cast<std::size_t>(win.w));
    for (int j = 0; j < win.h; ++j) {
        const int y = win.y0 + j;
        frame.sky.GetRow(y, win.x0, win.w, level.data(), nullptr);
        const float* row = frame.rows[static_cast<std::size_t>(y)] + win.x0;
        for (int i = 0; i < win.w; ++i) {
            const int x = win.x0 + i;
            const int ox = x - object.x0;
            const int oy = y - object.y0;
            if (ox >= 0 && oy >= 0 && ox < object.w && oy < object.h) {
                const int l = object.label[static_cast<std::size_t>(oy) * object.w + ox];
                if (l != 0 && l != label) {
                    continue;
                }
            }
            const float s = row[i];
            if (!std::isfinite(s)) {
                win.blank = true;
                continue;
            }
            if (s >= frame.saturation) {
                win.saturated = true;
                win.saturatedAt[static_cast<std::size_t>(j) * win.w + i] = 1;
            }
            win.r[static_cast<std::size_t>(j) * win.w + i] = s - level[static_cast<std::size_t>(i)];
        }
    }
    return win;
}

/// Half-widths at half maximum along the principal axes of a fitted
/// profile, corrected for the pixel width (see the header), and the angle
/// of the major axis.
void Shape(const ProfileFit& fit, bool moffat, double refX, double refY, StarProfile& out)
{
    // The Moffat's form (1 + Q / beta)^-beta is (1 + Q')^-beta with Q' = Q / beta.
    const double form = moffat ? 1.0 / fit.p[7] : 1.0;
    const double a = fit.p[4] * form;
    const double b = fit.p[5] * form;
    const double c = fit.p[6] * form;
    const double mean = 0.5 * (a + c);
    const double diff = std::sqrt(0.25 * (a - c) * (a - c) + b * b);
    const double lMajor = mean - diff;  // smaller curvature: the long axis
    const double lMinor = mean + diff;
    double halfMajor = 0.0;
    double halfMinor = 0.0;
    if (!moffat) {
        halfMajor = kHalfRadiusOfSigma * std::sqrt(std::max(1.0 / lMajor - kPixelVariance, 0.01));
        halfMinor = kHalfRadiusOfSigma * std::sqrt(std::max(1.0 / lMinor - kPixelVariance, 0.01));
    } else {
        const double beta = fit.p[7];
        const double uh = std::pow(2.0, 1.0 / beta) - 1.0;
        // g(u) = (1 + u)^-beta, its derivatives at 0 and at the half maximum.
        const double g1h = -beta * std::pow(1.0 + uh, -beta - 1.0);
        const double g2h = beta * (beta + 1.0) * std::pow(1.0 + uh, -beta - 2.0);
        const double g10 = -beta;
        const auto half = [&](double l1, double l2) {
            const double xh = std::sqrt(uh / l1);
            const double lap0 = 2.0 * (l1 + l2) * g10;
            const double laph = 2.0 * l1 * g1h + 4.0 * l1 * l1 * xh * xh * g2h + 2.0 * l2 * g1h;
            const double delta = 0.5 * kPixelVariance * (0.5 * lap0 - laph) / (2.0 * l1 * xh * g1h);
            return std::max(xh - delta, 0.05 * xh);
        };
        halfMajor = half(lMajor, lMinor);
        halfMinor = half(lMinor, lMajor);
        out.beta = beta;
    }
    if (!(std::isfinite(refX + fit.p[2]) && std::isfinite(refY + fit.p[3]) && std::isfinite(halfMajor) &&
          std::isfinite(halfMinor))) {
        return;  // a fit that ran off to infinity or NaN gives no profile
    }
    out.ok = true;
    out.x = refX + fit.p[2];
    out.y = refY + fit.p[3];
    out.amplitude = fit.p[1];
    out.fwhmMajor = 2.0 * halfMajor;
    out.fwhmMinor = 2.0 * halfMinor;
    out.fwhm = std::sqrt(out.fwhmMajor * out.fwhmMinor);
    out.ellipticity = 1.0 - halfMinor / halfMajor;
    double angle = 0.5 * std::atan2(2.0 * b, a - c) + 0.5 * kPi;  // the minor axis turned a right angle
    if (angle > 0.5 * kPi) {
        angle -= kPi;
    }
    out.angle = angle;
    out.rss = fit.rss;
}

/// Windowed centroid (see the header), from (x, y), in the window.
void WindowedCentroid(const Window& win, double sigma, double& x, double& y)
{
    if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(sigma))) {
        return;  // nothing to refine from
    }
    const double limit2 = 16.0 * sigma * sigma;
    const double inv = 1.0 / (2.0 * sigma * sigma);
    for (int round = 0; round < 16; ++round) {
        double sw = 0.0;
        double sx = 0.0;
        double sy = 0.0;
        const double reach = 4.0 * sigma + 1.0;
        const int j0 = std::max(0, static_cast<int>(std::floor(y - reach)) - win.y0);
        const int j1 = std::min(win.h - 1, static_cast<int>(std::ceil(y + reach)) - win.y0);
        const int i0 = std::max(0, static_cast<int>(std::floor(x - reach)) - win.x0);
        const int i1 = std::min(win.w - 1, static_cast<int>(std::ceil(x + reach)) - win.x0);
        for (int j = j0; j <= j1; ++j) {
            const double dy = win.y0 + j - y;
            for (int i = i0; i <= i1; ++i) {
                const float v = win.r[static_cast<std::size_t>(j) * win.w + i];
                if (std::isnan(v)) {
                    continue;
                }
                const double dx = win.x0 + i - x;
                const double d2 = dx * dx + dy * dy;
                if (d2 >= limit2) {
                    continue;
                }
                const double wv = std::exp(-d2 * inv) * v;
                sw += wv;
                sx += wv * dx;
                sy += wv * dy;
            }
        }
        if (!(sw > 0.0)) {
            return;
        }
        const double mx = 2.0 * sx / sw;
        const double my = 2.0 * sy / sw;
        if (!std::isfinite(mx) || !std::isfinite(my) || std::fabs(mx) > 2.0 || std::fabs(my) > 2.0) {
            return;
        }
        x += mx;
        y += my;
        if (mx * mx + my * my < 1e-8) {
            return;
        }
    }
}

/// Aperture flux and half-flux radius about (x, y) within radius R.
void HalfFluxRadius(const Window& win, double x, double y, double radius, double& flux, double& hfr)
{
    if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(radius))) {
        flux = kNaN;
        hfr = kNaN;
        return;
    }
    const double radius2 = radius * radius;
    const int bins = static_cast<int>(std::ceil(radius2 * kSquareBins)) + 1;
    thread_local std::vector<double> ring;
    ring.assign(static_cast<std::size_t>(bins), 0.0);
    const double outer = radius + 0.7072;
    const double step = 1.0 / kSubPixels;
    double total = 0.0;
    const auto at = [&](int i, int j) -> float {
        if (i < 0 || j < 0 || i >= win.w || j >= win.h) {
            return static_cast<float>(kNaN);
        }
        return win.r[static_cast<std::size_t>(j) * win.w + i];
    };
    for (int j = 0; j < win.h; ++j) {
        const double py = win.y0 + j - y;
        if (std::fabs(py) > outer) {
            continue;
        }
        for (int i = 0; i < win.w; ++i) {
            const double px = win.x0 + i - x;
            if (px * px + py * py > outer * outer) {
                continue;
            }
            const float v = at(i, j);
            if (std::isnan(v)) {
                continue;
            }
            // The slope across the pixel: central differences, else one-sided, else flat.
            const float l = at(i - 1, j);
            const float r = at(i + 1, j);
            const float u = at(i, j - 1);
            const float d = at(i, j + 1);
            double gx = 0.0;
            double gy = 0.0;
            double cxx = 0.0;
            double cyy = 0.0;
            const float ll = at(i - 2, j);
            const float rr = at(i + 2, j);
            const float uu = at(i, j - 2);
            const float dd = at(i, j + 2);
            if (!std::isnan(l) && !std::isnan(r) && !std::isnan(ll) && !std::isnan(rr)) {
                gx = ((8.0 * (static_cast<double>(r) - l)) - (static_cast<double>(rr) - ll)) / 12.0;
                cxx = (static_cast<double>(r) + l) - 2.0 * v;
            } else if (!std::isnan(l) && !std::isnan(r)) {
                gx = 0.5 * (static_cast<double>(r) - l);
                cxx = (static_cast<double>(r) + l) - 2.0 * v;
            } else if (!std::isnan(r)) {
                gx = static_cast<double>(r) - v;
            } else if (!std::isnan(l)) {
                gx = static_cast<double>(v) - l;
            }
            if (!std::isnan(u) && !std::isnan(d) && !std::isnan(uu) && !std::isnan(dd)) {
                gy = ((8.0 * (static_cast<double>(d) - u)) - (static_cast<double>(dd) - uu)) / 12.0;
                cyy = (static_cast<double>(d) + u) - 2.0 * v;
            } else if (!std::isnan(u) && !std::isnan(d)) {
                gy = 0.5 * (static_cast<double>(d) - u);
                cyy = (static_cast<double>(d) + u) - 2.0 * v;
            } else if (!std::isnan(d)) {
                gy = static_cast<double>(d) - v;
            } else if (!std::isnan(u)) {
                gy = static_cast<double>(v) - u;
            }
            for (int sj = 0; sj < kSubPixels; ++sj) {
                const double oy = (sj + 0.5) * step - 0.5;
                const double qy = py + oy;
                for (int si = 0; si < kSubPixels; ++si) {
                    const double ox = (si + 0.5) * step - 0.5;
                    const double qx = px + ox;
                    const double dist2 = qx * qx + qy * qy;
                    if (dist2 >= radius2) {
                        continue;
                    }
                    const double share = (v + gx * ox + gy * oy + 0.5 * cxx * (ox * ox - kSubMeanSquare) +
                                          0.5 * cyy * (oy * oy - kSubMeanSquare)) *
                                         (step * step);
                    ring[static_cast<std::size_t>(dist2 * kSquareBins)] += share;
                    total += share;
                }
            }
        }
    }
    flux = total;
    hfr = kNaN;
    if (!(total > 0.0)) {
        return;
    }
    const double half = 0.5 * total;
    double cumulative = 0.0;
    for (int k = 0; k < bins; ++k) {
        const double next = cumulative + ring[static_cast<std::size_t>(k)];
        if (next >= half) {
            const double f =
                ring[static_cast<std::size_t>(k)] > 0.0 ? (half - cumulative) / ring[static_cast<std::size_t>(k)] : 0.0;
            hfr = std::sqrt((k + f) / kSquareBins);
            return;
        }
        cumulative = next;
    }
}

/// The better fitted profile of a star, without its constant, in frame
/// coordinates: the light it spreads onto its neighbours.
struct WingModel {
    bool ok = false;
    bool moffat = false;
    double p[orbimg::detail::kLmMaxParams] = {};
    double reach = 0.0;  // beyond this distance its light is not looked at

    double At(double x, double y) const
    {
        const double dx = x - p[2];
        const double dy = y - p[3];
        const double q = p[4] * dx * dx + 2.0 * p[5] * dx * dy + p[6] * dy * dy;
        return moffat ? p[1] * std::pow(1.0 + q / p[7], -p[7]) : p[1] * std::exp(-0.5 * q);
    }
};

/// Measures star `label` of an object.
StarInfo MeasureStar(const Frame& frame, const Object& object, int label, WingModel& wing)
{
    const StarParams& params = frame.params;
    StarInfo star;
    if (object.stars > 1) {
        star.flags |= kStarBlended;
    }
    // 1. Isophotal figures.
    double sum = 0.0;
    double sx = 0.0;
    double sy = 0.0;
    float peak = -std::numeric_limits<float>::infinity();
    std::vector<float> values;
    for (int j = 0; j < object.h; ++j) {
        for (int i = 0; i < object.w; ++i) {
            const std::size_t k = static_cast<std::size_t>(j) * object.w + i;
            if (object.label[k] != label) {
                continue;
            }
            const float v = object.residual[k];
            const int x = object.x0 + i;
            const int y = object.y0 + j;
            ++star.area;
            values.push_back(v);
            if (v > peak) {
                peak = v;
                star.peakX = x;
                star.peakY = y;
            }
            if (v > 0.0f) {
                sum += v;
                sx += v * static_cast<double>(x);
                sy += v * static_cast<double>(y);
            }
            if (x == 0 || y == 0 || x == frame.width - 1 || y == frame.height - 1) {
                star.flags |= kStarEdge;
            }
            if (frame.rows[static_cast<std::size_t>(y)][x] >= frame.saturation) {
                star.flags |= kStarSaturated;
            }
        }
    }
    star.peak = peak;
    const double baryX = sum > 0.0 ? sx / sum : star.peakX;
    const double baryY = sum > 0.0 ? sy / sum : star.peakY;
    double isoEllipticity = 0.0;
    {
        double xx = 0.0;
        double yy = 0.0;
        double xy = 0.0;
        for (int j = 0; j < object.h; ++j) {
            for (int i = 0; i < object.w; ++i) {
                const std::size_t k = static_cast<std::size_t>(j) * object.w + i;
                const float v = object.residual[k];
                if (object.label[k] != label || !(v > 0.0f)) {
                    continue;
                }
                const double dx = object.x0 + i - baryX;
                const double dy = object.y0 + j - baryY;
                xx += v * dx * dx;
                yy += v * dy * dy;
                xy += v * dx * dy;
            }
        }
        if (sum > 0.0) {
            xx /= sum;
            yy /= sum;
            xy /= sum;
            const double m = 0.5 * (xx + yy);
            const double d = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
            if (m + d > 0.0) {
                isoEllipticity = 1.0 - std::sqrt(std::max(m - d, 0.0) / (m + d));
            }
        }
    }
    // The Gaussian sigma of the area above half the peak.
    int halfArea = 0;
    for (const float v : values) {
        halfArea += v >= 0.5f * peak ? 1 : 0;
    }
    const double s0 = std::max(0.5, std::sqrt(halfArea / kPi) / kHalfRadiusOfSigma);

    // 2. and 3. Fits.
    const int half = std::clamp(static_cast<int>(std::ceil(3.0 * s0)) + 1, 3, kMaxFitHalf);
    Window fitBox = MakeWindow(frame, object, label, star.peakX, star.peakY, half);
    if (fitBox.cut) {
        star.flags |= kStarEdge;
    }
    if (fitBox.blank) {
        star.flags |= kStarBlank;
    }
    if (fitBox.saturated) {
        star.flags |= kStarSaturated;
    }
    double fwhmEstimate = kSigmaToFwhm * s0;
    double cx = baryX;
    double cy = baryY;
    const StarProfile* better = nullptr;
    if (params.fit) {
        std::vector<FitSample> samples;
        samples.reserve(fitBox.r.size());
        for (int j = 0; j < fitBox.h; ++j) {
            for (int i = 0; i < fitBox.w; ++i) {
                const std::size_t k = static_cast<std::size_t>(j) * fitBox.w + i;
                const float v = fitBox.r[k];
                const int dx = fitBox.x0 + i - star.peakX;
                const int dy = fitBox.y0 + j - star.peakY;
                if (std::isnan(v) || fitBox.saturatedAt[k] || dx * dx + dy * dy > (half + 0.5) * (half + 0.5)) {
                    continue;
                }
                samples.push_back(FitSample{static_cast<float>(fitBox.x0 + i - star.peakX),
                                            static_cast<float>(fitBox.y0 + j - star.peakY), v});
            }
        }
        const double inv = 1.0 / (s0 * s0);
        const double gStart[8] = {
            0.0, std::max(static_cast<double>(peak), 1e-30), baryX - star.peakX, baryY - star.peakY, inv, 0.0, inv,
            0.0};
        const ProfileFit gauss = orbimg::detail::FitGaussian(samples, gStart, half);
        if (gauss.ok) {
            Shape(gauss, false, star.peakX, star.peakY, star.gaussian);
        }
        // Moffat from the Gaussian (or the first guess): the same half width, beta 3.
        const double* base = gauss.ok ? gauss.p : gStart;
        const double scale = 3.0 * (std::pow(2.0, 1.0 / 3.0) - 1.0) / (2.0 * std::log(2.0));
        const double mStart[8] = {base[0],         base[1],         base[2],         base[3],
                                  base[4] * scale, base[5] * scale, base[6] * scale, 3.0};
        const ProfileFit moffat = orbimg::detail::FitMoffat(samples, mStart, half);
        if (moffat.ok) {
            Shape(moffat, true, star.peakX, star.peakY, star.moffat);
        }
        if (star.gaussian.ok && (!star.moffat.ok || star.gaussian.rss <= star.moffat.rss)) {
            better = &star.gaussian;
        } else if (star.moffat.ok) {
            better = &star.moffat;
        }
        if (better) {
            const ProfileFit& fit = better == &star.gaussian ? gauss : moffat;
            wing.ok = true;
            wing.moffat = better == &star.moffat;
            std::copy(fit.p, fit.p + orbimg::detail::kLmMaxParams, wing.p);
            wing.p[2] += star.peakX;
            wing.p[3] += star.peakY;
            wing.reach = 30.0 * better->fwhmMajor;
            fwhmEstimate = better->fwhm;
            cx = better->x;
            cy = better->y;
        } else {
            star.flags |= kStarFitFailed;
        }
    }

    // 4. and 5. Centroid, aperture, HFR.
    const double radius =
        params.hfrAperture > 0.0 ? params.hfrAperture : std::min(std::max(3.0, 3.0 * fwhmEstimate), kMaxAperture);
    const int apHalf = static_cast<int>(std::ceil(radius)) + 3;
    Window aperture =
        MakeWindow(frame, object, label, static_cast<int>(std::lround(cx)), static_cast<int>(std::lround(cy)), apHalf);
    if (aperture.cut) {
        star.flags |= kStarEdge;
    }
    if (aperture.blank) {
        star.flags |= kStarBlank;
    }
    WindowedCentroid(aperture, std::max(0.5, fwhmEstimate / kSigmaToFwhm), cx, cy);
    star.x = cx;
    star.y = cy;
    star.aperture = radius;
    HalfFluxRadius(aperture, cx, cy, radius, star.flux, star.hfr);
    if (std::isnan(star.hfr)) {
        star.flags |= kStarNoHfr;
    }
    star.background = frame.sky.GetLevel(cx, cy);
    star.noise = frame.sky.GetNoise(cx, cy);
    star.snr = star.noise > 0.0 ? star.flux / (star.noise * std::sqrt(kPi * radius * radius)) : kNaN;
    if (better) {
        star.fwhm = better->fwhm;
        star.ellipticity = better->ellipticity;
        star.angle = better->angle;
    } else if (!params.fit) {
        star.fwhm = 2.0 * star.hfr;  // exact for a Gaussian
    }
    const double e = better ? star.ellipticity : isoEllipticity;
    if (e > params.maxEllipticity) {
        star.flags |= kStarElongated;
    }
    return star;
}

double Median(std::vector<double> v)
{
    if (v.empty()) {
        return kNaN;
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double Spread(const std::vector<double>& v, double median)
{
    std::vector<double> d;
    d.reserve(v.size());
    for (const double x : v) {
        d.push_back(std::fabs(x - median));
    }
    return 1.4826 * Median(d);
}

}  // namespace

CStarField::CStarField(const CKelImage* image) : m_image(image) {}

CStarField::~CStarField() = default;

int CStarField::Detect(const StarParams& given)
{
    m_stars.clear();
    m_background.reset();
    if (!m_image) {
        return 0;
    }
    StarParams params = given;
    params.minArea = std::max(params.minArea, 1);
    if (!(params.threshold > 0.0)) {
        params.threshold = 5.0;
    }
    if (std::isnan(params.background.saturation)) {
        params.background.saturation = params.saturation;
    }
    std::vector<float> store;
    const std::vector<const float*> rows = orbimg::detail::SignalRows(*m_image, params.plane, store);
    if (rows.empty()) {
        return 0;
    }
    const int width = m_image->GetWidth();
    const int height = m_image->GetHeight();
    // An aperture wider than the frame measures the same as one as wide.
    params.hfrAperture = std::min(params.hfrAperture, static_cast<double>(std::max(width, height)));
    m_background = std::make_unique<CSkyBackground>(rows.data(), width, height, params.background);
    if (!m_background->IsValid()) {
        return 0;
    }
    const CSkyBackground& sky = *m_background;
    const double saturation =
        std::isnan(params.saturation) ? std::numeric_limits<double>::infinity() : params.saturation;
    const Frame frame{rows, width, height, sky, params, saturation};

    // Runs of pixels above the threshold, band by band.
    const int bands = (height + kBandRows - 1) / kBandRows;
    std::vector<std::vector<Run>> bandRuns(static_cast<std::size_t>(bands));
    const float k = static_cast<float>(params.threshold);
    ForEach(bands, [&](int band) {
        std::vector<float> level(static_cast<std::size_t>(width));
        std::vector<float> noise(static_cast<std::size_t>(width));
        std::vector<Run>& out = bandRuns[static_cast<std::size_t>(band)];
        const int y1 = std::min(height, (band + 1) * kBandRows);
        for (int y = band * kBandRows; y < y1; ++y) {
            sky.GetRow(y, 0, width, level.data(), noise.data());
            const float* row = rows[static_cast<std::size_t>(y)];
            int start = -1;
            for (int x = 0; x < width; ++x) {
                const bool above = row[x] - level[static_cast<std::size_t>(x)] > k * noise[static_cast<std::size_t>(x)];
                if (above && start < 0) {
                    start = x;
                } else if (!above && start >= 0) {
                    out.push_back(Run{y, start, x - 1});
                    start = -1;
                }
            }
            if (start >= 0) {
                out.push_back(Run{y, start, width - 1});
            }
        }
    });
    std::vector<Run> runs;
    for (const auto& band : bandRuns) {
        runs.insert(runs.end(), band.begin(), band.end());
    }
    bandRuns.clear();

    // 8-connected objects: runs of adjacent rows that overlap or touch diagonally.
    const int runCount = static_cast<int>(runs.size());
    std::vector<int> parent(static_cast<std::size_t>(runCount));
    std::iota(parent.begin(), parent.end(), 0);
    int prevStart = 0;
    int prevEnd = 0;
    for (int i = 0; i < runCount;) {
        const int y = runs[static_cast<std::size_t>(i)].y;
        int end = i;
        while (end < runCount && runs[static_cast<std::size_t>(end)].y == y) {
            ++end;
        }
        if (prevEnd > prevStart && runs[static_cast<std::size_t>(prevStart)].y == y - 1) {
            int a = prevStart;
            for (int b = i; b < end; ++b) {
                const Run& cur = runs[static_cast<std::size_t>(b)];
                while (a < prevEnd && runs[static_cast<std::size_t>(a)].x1 < cur.x0 - 1) {
                    ++a;
                }
                for (int c = a; c < prevEnd && runs[static_cast<std::size_t>(c)].x0 <= cur.x1 + 1; ++c) {
                    const int ra = Find(parent, c);
                    const int rb = Find(parent, b);
                    if (ra != rb) {
                        parent[static_cast<std::size_t>(std::max(ra, rb))] = std::min(ra, rb);
                    }
                }
            }
        }
        prevStart = i;
        prevEnd = end;
        i = end;
    }
    std::vector<int> objectOf(static_cast<std::size_t>(runCount), -1);
    std::vector<std::vector<int>> objectRuns;
    for (int i = 0; i < runCount; ++i) {
        const int root = Find(parent, i);
        if (objectOf[static_cast<std::size_t>(root)] < 0) {
            objectOf[static_cast<std::size_t>(root)] = static_cast<int>(objectRuns.size());
            objectRuns.emplace_back();
        }
        objectRuns[static_cast<std::size_t>(objectOf[static_cast<std::size_t>(root)])].push_back(i);
    }

    // Each object: deblended and its stars measured.
    const int objects = static_cast<int>(objectRuns.size());
    std::vector<std::vector<StarInfo>> found(static_cast<std::size_t>(objects));
    std::vector<std::vector<WingModel>> wings(static_cast<std::size_t>(objects));
    ForEach(objects, [&](int o) {
        const std::vector<int>& list = objectRuns[static_cast<std::size_t>(o)];
        int area = 0;
        Object object;
        int x0 = width;
        int x1 = -1;
        int y0 = height;
        int y1 = -1;
        for (const int r : list) {
            const Run& run = runs[static_cast<std::size_t>(r)];
            area += run.x1 - run.x0 + 1;
            x0 = std::min(x0, run.x0);
            x1 = std::max(x1, run.x1);
            y0 = std::min(y0, run.y);
            y1 = std::max(y1, run.y);
        }
        if (area < params.minArea) {
            return;
        }
        object.x0 = x0;
        object.y0 = y0;
        object.w = x1 - x0 + 1;
        object.h = y1 - y0 + 1;
        const std::size_t box = static_cast<std::size_t>(object.w) * static_cast<std::size_t>(object.h);
        object.residual.assign(box, 0.0f);
        object.label.assign(box, 0);
        std::vector<float> level(static_cast<std::size_t>(object.w));
        float best = -std::numeric_limits<float>::infinity();
        int bestX = x0;
        int bestY = y0;
        for (const int r : list) {
            const Run& run = runs[static_cast<std::size_t>(r)];
            const int n = run.x1 - run.x0 + 1;
            sky.GetRow(run.y, run.x0, n, level.data(), nullptr);
            const float* row = rows[static_cast<std::size_t>(run.y)];
            for (int x = run.x0; x <= run.x1; ++x) {
                const std::size_t at = static_cast<std::size_t>(run.y - y0) * object.w + (x - x0);
                const float v = row[x] - level[static_cast<std::size_t>(x - run.x0)];
                object.residual[at] = v;
                object.label[at] = 1;
                if (v > best) {
                    best = v;
                    bestX = x;
                    bestY = run.y;
                }
            }
        }
        object.noise = sky.GetNoise(bestX, bestY);
        Deblend(object, params);
        std::vector<StarInfo>& stars = found[static_cast<std::size_t>(o)];
        std::vector<WingModel>& models = wings[static_cast<std::size_t>(o)];
        for (int label = 1; label <= object.stars; ++label) {
            models.emplace_back();
            StarInfo star = MeasureStar(frame, object, label, models.back());
            if (std::isfinite(star.x) && std::isfinite(star.y)) {
                stars.push_back(star);
            } else {
                models.pop_back();  // infinite samples left no position: not a star
            }
        }
    });
    std::vector<StarInfo> all;
    std::vector<WingModel> models;
    for (std::size_t o = 0; o < found.size(); ++o) {
        all.insert(all.end(), found[o].begin(), found[o].end());
        models.insert(models.end(), wings[o].begin(), wings[o].end());
    }
    std::vector<int> order(all.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&all](int i, int j) {
        const StarInfo& a = all[static_cast<std::size_t>(i)];
        const StarInfo& b = all[static_cast<std::size_t>(j)];
        if (a.flux != b.flux) {
            return a.flux > b.flux;
        }
        if (a.peakY != b.peakY || a.peakX != b.peakX) {
            return a.peakY < b.peakY || (a.peakY == b.peakY && a.peakX < b.peakX);
        }
        return i < j;
    });
    // Cleaning: a star whose peak no longer clears the threshold once the
    // wings of the brighter stars kept are taken off it is a piece of those
    // wings, not a star.
    std::vector<int> kept;
    for (const int j : order) {
        const StarInfo& star = all[static_cast<std::size_t>(j)];
        double wingLight = 0.0;
        for (const int i : kept) {
            const WingModel& model = models[static_cast<std::size_t>(i)];
            const StarInfo& other = all[static_cast<std::size_t>(i)];
            if (model.ok && std::fabs(other.peakX - star.peakX) < model.reach &&
                std::fabs(other.peakY - star.peakY) < model.reach) {
                wingLight += model.At(star.peakX, star.peakY);
            }
        }
        const double noise = sky.GetNoise(star.peakX, star.peakY);
        if (!params.clean || star.peak - wingLight > params.threshold * noise) {
            kept.push_back(j);
        }
    }
    for (const int j : kept) {
        m_stars.push_back(all[static_cast<std::size_t>(j)]);
    }
    return static_cast<int>(m_stars.size());
}

StarSummary CStarField::GetSummary() const
{
    StarSummary summary;
    summary.detected = static_cast<int>(m_stars.size());
    if (m_background) {
        summary.skyLevel = m_background->GetGlobalLevel();
        summary.skyNoise = m_background->GetGlobalNoise();
    }
    std::vector<double> hfr;
    std::vector<double> fwhm;
    std::vector<double> ellipticity;
    for (const StarInfo& star : m_stars) {
        if (star.flags != 0) {
            continue;
        }
        ++summary.good;
        hfr.push_back(star.hfr);
        if (!std::isnan(star.fwhm)) {
            fwhm.push_back(star.fwhm);
        }
        if (!std::isnan(star.ellipticity)) {
            ellipticity.push_back(star.ellipticity);
        }
    }
    summary.hfr = Median(hfr);
    summary.hfrSpread = hfr.empty() ? kNaN : Spread(hfr, summary.hfr);
    summary.hfrError = hfr.empty() ? kNaN : 1.2533 * summary.hfrSpread / std::sqrt(static_cast<double>(hfr.size()));
    summary.fwhm = Median(fwhm);
    summary.fwhmSpread = fwhm.empty() ? kNaN : Spread(fwhm, summary.fwhm);
    summary.ellipticity = Median(ellipticity);
    return summary;
}
