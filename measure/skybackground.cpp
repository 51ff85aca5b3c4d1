// CSkyBackground: sigma-clipped tiles, a median filter over the mesh, and
// bilinear maps between tile centres.
#include "measure/skybackground.h"

#include <algorithm>
#include <cmath>

#include "imagecore/image.h"
#include "measure/signalrows.h"
#include "platform/ppl.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
/// Standard deviation of a unit Gaussian cut at +-3.
constexpr double kClippedSpread = 0.98657;
constexpr int kMaxClipRounds = 10;
constexpr int kMinTileSamples = 16;

/// Median of the first n values of v, all within [lo, hi], from a histogram
/// of kMedianBins bins over that range, interpolated within the bin that
/// holds the middle value (index n / 2).
double HistogramMedian(const std::vector<float>& v, std::size_t n, double lo, double hi)
{
    constexpr int kMedianBins = 512;
    int counts[kMedianBins] = {};
    const double width = (hi - lo) / kMedianBins;
    if (!(width > 0.0)) {
        return lo;
    }
    const double scale = 1.0 / width;
    for (std::size_t i = 0; i < n; ++i) {
        const int b = static_cast<int>((v[i] - lo) * scale);
        ++counts[std::clamp(b, 0, kMedianBins - 1)];
    }
    const double target = static_cast<double>(n / 2) + 0.5;
    double below = 0.0;
    for (int b = 0; b < kMedianBins; ++b) {
        if (below + counts[b] >= target) {
            return lo + (b + (target - below) / counts[b]) * width;
        }
        below += counts[b];
    }
    return hi;
}

/// Sky and noise of one tile's usable samples (v reordered); NaN when too few.
void ClipTile(std::vector<float>& v, std::size_t n, std::size_t area, double clip, double& sky, double& noise)
{
    sky = kNaN;
    noise = kNaN;
    if (n < static_cast<std::size_t>(kMinTileSamples) || n * 4 < area) {
        return;
    }
    double mean = 0.0;
    double sigma = 0.0;
    double lo = v[0];
    double hi = v[0];
    {
        double sum = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += v[i];
            lo = std::min(lo, static_cast<double>(v[i]));
            hi = std::max(hi, static_cast<double>(v[i]));
        }
        mean = sum / static_cast<double>(n);
        double squares = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = v[i] - mean;
            squares += d * d;
        }
        sigma = std::sqrt(squares / static_cast<double>(n));
    }
    double centre = mean;
    std::size_t kept = n;
    for (int round = 0; round < kMaxClipRounds && sigma > 0.0; ++round) {
        const double wlo = centre - clip * sigma;
        const double whi = centre + clip * sigma;
        // Keep the samples inside the window at the front.
        const auto end = std::partition(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(kept),
                                        [wlo, whi](float s) { return s >= wlo && s <= whi; });
        const std::size_t now = static_cast<std::size_t>(end - v.begin());
        if (now < static_cast<std::size_t>(kMinTileSamples)) {
            break;
        }
        lo = std::max(lo, wlo);
        hi = std::min(hi, whi);
        double sum = 0.0;
        for (std::size_t i = 0; i < now; ++i) {
            sum += v[i];
        }
        mean = sum / static_cast<double>(now);
        double squares = 0.0;
        for (std::size_t i = 0; i < now; ++i) {
            const double d = v[i] - mean;
            squares += d * d;
        }
        sigma = std::sqrt(squares / static_cast<double>(now)) / kClippedSpread;
        centre = mean;
        const bool done = now == kept;
        kept = now;
        if (done) {
            break;
        }
    }
    const double median = HistogramMedian(v, kept, lo, hi);
    noise = sigma;
    sky = (sigma > 0.0 && (mean - median) / sigma < 0.3) ? 2.5 * median - 1.5 * mean : median;
}

/// Fills tiles without a value with the mean of their nearest valued tiles
/// (growing rings), in place.
void FillHoles(std::vector<double>& mesh, int nx, int ny)
{
    std::vector<double> next = mesh;
    for (bool holes = true; holes;) {
        holes = false;
        bool changed = false;
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                const std::size_t at = static_cast<std::size_t>(j) * nx + i;
                if (!std::isnan(mesh[at])) {
                    continue;
                }
                double sum = 0.0;
                int count = 0;
                for (int dj = -1; dj <= 1; ++dj) {
                    for (int di = -1; di <= 1; ++di) {
                        const int ii = i + di;
                        const int jj = j + dj;
                        if (ii < 0 || jj < 0 || ii >= nx || jj >= ny) {
                            continue;
                        }
                        const double v = mesh[static_cast<std::size_t>(jj) * nx + ii];
                        if (!std::isnan(v)) {
                            sum += v;
                            ++count;
                        }
                    }
                }
                if (count > 0) {
                    next[at] = sum / count;
                    changed = true;
                } else {
                    holes = true;
                }
            }
        }
        mesh = next;
        if (!changed) {
            break;
        }
    }
}

/// Median over filter x filter tiles (tiles inside the mesh only).
std::vector<double> MedianFilter(const std::vector<double>& mesh, int nx, int ny, int filter)
{
    if (filter <= 1) {
        return mesh;
    }
    const int h = filter / 2;
    std::vector<double> out(mesh.size());
    std::vector<double> window;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            window.clear();
            const double centre = mesh[static_cast<std::size_t>(j) * nx + i];
            for (int jj = j - h; jj <= j + h; ++jj) {
                for (int ii = i - h; ii <= i + h; ++ii) {
                    if (ii >= 0 && jj >= 0 && ii < nx && jj < ny) {
                        window.push_back(mesh[static_cast<std::size_t>(jj) * nx + ii]);
                        continue;
                    }
                    // Beyond the mesh: the tile reflected through the centre
                    // tile, so that a sky gradient stays unbiased at the edges.
                    const int ri = 2 * i - ii;
                    const int rj = 2 * j - jj;
                    if (ri >= 0 && rj >= 0 && ri < nx && rj < ny) {
                        window.push_back(2.0 * centre - mesh[static_cast<std::size_t>(rj) * nx + ri]);
                    }
                }
            }
            std::sort(window.begin(), window.end());
            const std::size_t n = window.size();
            out[static_cast<std::size_t>(j) * nx + i] =
                n % 2 == 1 ? window[n / 2] : 0.5 * (window[n / 2 - 1] + window[n / 2]);
        }
    }
    return out;
}

double MedianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? kNaN : n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

int TileCount(int size, int tile)
{
    return std::max(1, static_cast<int>(std::lround(static_cast<double>(size) / tile)));
}

}  // namespace

namespace orbimg::detail {

std::vector<const float*> SignalRows(const CKelImage& image, int plane, std::vector<float>& store)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int planes = image.GetPlanes();
    std::vector<const float*> rows;
    if (width < 1 || height < 1 || plane < -1 || plane >= planes) {
        return rows;
    }
    rows.resize(static_cast<std::size_t>(height));
    if (plane >= 0 || planes < 3) {
        const int p = std::max(plane, 0);
        for (int y = 0; y < height; ++y) {
            rows[static_cast<std::size_t>(y)] = image.GetImageAdr(0, y, p, 0, nullptr);
        }
        return rows;
    }
    store.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const auto body = [&](int y) {
        const float* r = image.GetImageAdr(0, y, 0, 0, nullptr);
        const float* g = image.GetImageAdr(0, y, 1, 0, nullptr);
        const float* b = image.GetImageAdr(0, y, 2, 0, nullptr);
        float* out = store.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int x = 0; x < width; ++x) {
            out[x] = static_cast<float>((CKelImage::kBrightG * g[x] + CKelImage::kBrightR * r[x]) +
                                        CKelImage::kBrightB * b[x]);
        }
    };
    if (CVmManager::GetCurrentSwapSize() != 0) {
        for (int y = 0; y < height; ++y) {
            body(y);
        }
    } else {
        Concurrency::parallel_for(0, height, body);
    }
    for (int y = 0; y < height; ++y) {
        rows[static_cast<std::size_t>(y)] =
            store.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    }
    return rows;
}

}  // namespace orbimg::detail

CSkyBackground::CSkyBackground(const CKelImage& image, int plane, const SkyBackgroundParams& params)
{
    std::vector<float> store;
    const std::vector<const float*> rows = orbimg::detail::SignalRows(image, plane, store);
    if (rows.empty()) {
        return;
    }
    m_width = image.GetWidth();
    m_height = image.GetHeight();
    Measure(rows.data(), params);
}

CSkyBackground::CSkyBackground(const float* const* rows, int width, int height, const SkyBackgroundParams& params)
{
    if (!rows || width < 1 || height < 1) {
        return;
    }
    m_width = width;
    m_height = height;
    Measure(rows, params);
}

void CSkyBackground::Measure(const float* const* rows, const SkyBackgroundParams& params)
{
    const int tile = std::max(params.tile, 8);
    int filter = std::max(params.filter, 1);
    filter += (filter % 2 == 0) ? 1 : 0;
    const double clip = params.clip > 0.0 ? params.clip : 3.0;
    const double saturation = params.saturation;
    const bool hasSaturation = !std::isnan(saturation);

    m_nx = TileCount(m_width, tile);
    m_ny = TileCount(m_height, tile);
    std::vector<int> edgeX(static_cast<std::size_t>(m_nx) + 1);
    std::vector<int> edgeY(static_cast<std::size_t>(m_ny) + 1);
    for (int i = 0; i <= m_nx; ++i) {
        edgeX[static_cast<std::size_t>(i)] = static_cast<int>(static_cast<long long>(i) * m_width / m_nx);
    }
    for (int j = 0; j <= m_ny; ++j) {
        edgeY[static_cast<std::size_t>(j)] = static_cast<int>(static_cast<long long>(j) * m_height / m_ny);
    }
    m_centreX.resize(static_cast<std::size_t>(m_nx));
    m_centreY.resize(static_cast<std::size_t>(m_ny));
    for (int i = 0; i < m_nx; ++i) {
        m_centreX[static_cast<std::size_t>(i)] =
            0.5 * (edgeX[static_cast<std::size_t>(i)] + edgeX[static_cast<std::size_t>(i) + 1]) - 0.5;
    }
    for (int j = 0; j < m_ny; ++j) {
        m_centreY[static_cast<std::size_t>(j)] =
            0.5 * (edgeY[static_cast<std::size_t>(j)] + edgeY[static_cast<std::size_t>(j) + 1]) - 0.5;
    }

    const std::size_t tiles = static_cast<std::size_t>(m_nx) * static_cast<std::size_t>(m_ny);
    std::vector<double> level(tiles, kNaN);
    std::vector<double> noise(tiles, kNaN);
    const auto measureRow = [&](int j) {
        std::vector<float> samples;
        const int y0 = edgeY[static_cast<std::size_t>(j)];
        const int y1 = edgeY[static_cast<std::size_t>(j) + 1];
        for (int i = 0; i < m_nx; ++i) {
            const int x0 = edgeX[static_cast<std::size_t>(i)];
            const int x1 = edgeX[static_cast<std::size_t>(i) + 1];
            const std::size_t area = static_cast<std::size_t>(x1 - x0) * static_cast<std::size_t>(y1 - y0);
            samples.resize(area);
            std::size_t n = 0;
            for (int y = y0; y < y1; ++y) {
                const float* row = rows[y];
                for (int x = x0; x < x1; ++x) {
                    const float s = row[x];
                    const bool usable = std::isfinite(s) && !(hasSaturation && s >= saturation);
                    samples[n] = s;
                    n += usable ? 1 : 0;
                }
            }
            const std::size_t at = static_cast<std::size_t>(j) * m_nx + i;
            ClipTile(samples, n, area, clip, level[at], noise[at]);
        }
    };
    if (CVmManager::GetCurrentSwapSize() != 0) {
        for (int j = 0; j < m_ny; ++j) {
            measureRow(j);
        }
    } else {
        Concurrency::parallel_for(0, m_ny, measureRow);
    }

    bool any = false;
    for (const double v : level) {
        any = any || !std::isnan(v);
    }
    if (!any) {
        return;
    }
    FillHoles(level, m_nx, m_ny);
    FillHoles(noise, m_nx, m_ny);
    m_level = MedianFilter(level, m_nx, m_ny, filter);
    m_noise = MedianFilter(noise, m_nx, m_ny, filter);
    m_globalLevel = MedianOf(m_level);
    m_globalNoise = MedianOf(m_noise);
    m_valid = true;
}

void CSkyBackground::Axis(double t, const std::vector<double>& centres, bool extrapolate, int& i0, double& w1) const
{
    const int n = static_cast<int>(centres.size());
    if (n == 1) {
        i0 = 0;
        w1 = 0.0;
        return;
    }
    // The pair of centres about t (the outer pair beyond the ends).
    int i = 0;
    if (t >= centres[static_cast<std::size_t>(n) - 1]) {
        i = n - 2;
    } else if (t > centres[0]) {
        i = static_cast<int>(std::upper_bound(centres.begin(), centres.end(), t) - centres.begin()) - 1;
        i = std::clamp(i, 0, n - 2);
    }
    const double c0 = centres[static_cast<std::size_t>(i)];
    const double c1 = centres[static_cast<std::size_t>(i) + 1];
    double w = (t - c0) / (c1 - c0);
    if (!extrapolate) {
        w = std::clamp(w, 0.0, 1.0);
    }
    i0 = i;
    w1 = w;
}

double CSkyBackground::Interpolate(const std::vector<double>& grid, double x, double y, bool extrapolate) const
{
    if (!m_valid) {
        return kNaN;
    }
    int i = 0;
    int j = 0;
    double wx = 0.0;
    double wy = 0.0;
    Axis(x, m_centreX, extrapolate, i, wx);
    Axis(y, m_centreY, extrapolate, j, wy);
    const auto at = [&](int jj, int ii) { return grid[static_cast<std::size_t>(jj) * m_nx + ii]; };
    const int i1 = std::min(i + 1, m_nx - 1);
    const int j1 = std::min(j + 1, m_ny - 1);
    const double top = at(j, i) + wx * (at(j, i1) - at(j, i));
    const double bottom = at(j1, i) + wx * (at(j1, i1) - at(j1, i));
    return top + wy * (bottom - top);
}

double CSkyBackground::GetLevel(double x, double y) const { return Interpolate(m_level, x, y, true); }

double CSkyBackground::GetNoise(double x, double y) const { return Interpolate(m_noise, x, y, false); }

void CSkyBackground::GetRow(int y, int x0, int count, float* level, float* noise) const
{
    if (count < 1) {
        return;
    }
    if (!m_valid) {
        for (int k = 0; k < count; ++k) {
            if (level) {
                level[k] = static_cast<float>(kNaN);
            }
            if (noise) {
                noise[k] = static_cast<float>(kNaN);
            }
        }
        return;
    }
    // The mesh columns at this row, then linear along the row between them.
    int jl = 0;
    int jn = 0;
    double wl = 0.0;
    double wn = 0.0;
    Axis(y, m_centreY, true, jl, wl);
    Axis(y, m_centreY, false, jn, wn);
    const int jl1 = std::min(jl + 1, m_ny - 1);
    const int jn1 = std::min(jn + 1, m_ny - 1);
    thread_local std::vector<double> columnLevel;
    thread_local std::vector<double> columnNoise;
    columnLevel.resize(static_cast<std::size_t>(m_nx));
    columnNoise.resize(static_cast<std::size_t>(m_nx));
    for (int i = 0; i < m_nx; ++i) {
        const double a = m_level[static_cast<std::size_t>(jl) * m_nx + i];
        const double b = m_level[static_cast<std::size_t>(jl1) * m_nx + i];
        columnLevel[static_cast<std::size_t>(i)] = a + wl * (b - a);
        const double c = m_noise[static_cast<std::size_t>(jn) * m_nx + i];
        const double d = m_noise[static_cast<std::size_t>(jn1) * m_nx + i];
        columnNoise[static_cast<std::size_t>(i)] = c + wn * (d - c);
    }
    int i = 0;
    for (int k = 0; k < count; ++k) {
        const double x = x0 + k;
        // Advance to the pair of centres about x (the outer pair beyond the ends).
        while (i + 2 < m_nx && x >= m_centreX[static_cast<std::size_t>(i) + 1]) {
            ++i;
        }
        double w = 0.0;
        int i1 = i;
        if (m_nx > 1) {
            i1 = i + 1;
            w = (x - m_centreX[static_cast<std::size_t>(i)]) /
                (m_centreX[static_cast<std::size_t>(i1)] - m_centreX[static_cast<std::size_t>(i)]);
        }
        if (level) {
            const double a = columnLevel[static_cast<std::size_t>(i)];
            level[k] = static_cast<float>(a + w * (columnLevel[static_cast<std::size_t>(i1)] - a));
        }
        if (noise) {
            const double wc = std::clamp(w, 0.0, 1.0);
            const double a = columnNoise[static_cast<std::size_t>(i)];
            noise[k] = static_cast<float>(a + wc * (columnNoise[static_cast<std::size_t>(i1)] - a));
        }
    }
}
