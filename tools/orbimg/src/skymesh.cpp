// Sky mesh: trimmed CalcSky per tile, medians over the tiles, a bilinear map.
#include "skymesh.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>

namespace orbimg::tool {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// n + 1 edges of n tiles covering 0..size, n = size / tile rounded (at least 1).
std::vector<int> Edges(int size, int tile)
{
    const int n = std::max(1, static_cast<int>(std::lround(static_cast<double>(size) / std::max(tile, 1))));
    std::vector<int> edges(static_cast<std::size_t>(n) + 1);
    for (int i = 0; i <= n; ++i) {
        edges[static_cast<std::size_t>(i)] = static_cast<int>(static_cast<long long>(size) * i / n);
    }
    return edges;
}

/// Median (upper middle) of the values that are not NaN; NaN when none.
double MedianOf(std::vector<double> values)
{
    std::erase_if(values, [](double v) { return std::isnan(v); });
    if (values.empty()) {
        return kNaN;
    }
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

long long FiniteCount(const CKelImage& image, const CRect& r, int plane)
{
    long long count = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        const float* row = image.GetImageAdr(r.left, y, plane, 1, nullptr);
        for (int x = 0; x < r.right - r.left; ++x) {
            count += std::isfinite(row[x]) ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

SkyMesh SkyMesh::Measure(const CKelImage& image, int tile)
{
    return MeasureRows(image.GetWidth(), image.GetHeight(), image.GetPlanes(), tile,
                       [&](int plane, int y) { return image.GetImageAdr(0, y, plane, 1, nullptr); });
}

SkyMesh SkyMesh::Measure(const std::vector<float>& samples, int width, int height, int tile)
{
    if (width < 1 || height < 1) {
        width = height = 0;
    }
    return MeasureRows(width, height, 1, tile,
                       [&](int, int y) { return samples.data() + static_cast<std::size_t>(y) * width; });
}

SkyMesh SkyMesh::MeasureRows(int width, int height, int planes, int tile,
                             const std::function<const float*(int plane, int y)>& rowOf)
{
    SkyMesh mesh;
    mesh.m_width = std::max(width, 0);
    mesh.m_height = std::max(height, 0);
    mesh.m_planes = std::clamp(planes, 1, 3);
    mesh.m_level.assign(static_cast<std::size_t>(mesh.m_planes), kNaN);
    mesh.m_noise.assign(static_cast<std::size_t>(mesh.m_planes), kNaN);
    if (mesh.m_width < 1 || mesh.m_height < 1) {
        return mesh;
    }
    mesh.m_edgeX = Edges(mesh.m_width, tile);
    mesh.m_edgeY = Edges(mesh.m_height, tile);
    mesh.m_nx = static_cast<int>(mesh.m_edgeX.size()) - 1;
    mesh.m_ny = static_cast<int>(mesh.m_edgeY.size()) - 1;
    const std::size_t tiles = static_cast<std::size_t>(mesh.m_nx) * static_cast<std::size_t>(mesh.m_ny);
    mesh.m_tileSky.assign(tiles * static_cast<std::size_t>(mesh.m_planes), kNaN);
    std::vector<double> tileNoise(mesh.m_tileSky.size(), kNaN);
    int stripRows = 0;
    for (int ty = 0; ty < mesh.m_ny; ++ty) {
        stripRows = std::max(stripRows, mesh.m_edgeY[ty + 1] - mesh.m_edgeY[ty]);
    }

    // CalcSky belongs to CImgPixelInfo, which measures its own samples. The
    // frame is not copied into one: each task copies a row of tiles at a
    // time into a strip of its own and measures the tiles there (CalcSky of
    // a rectangle reads only the rectangle's samples). Tile rows are shared
    // among the tasks in contiguous runs.
    const int tasks = std::min(mesh.m_ny, 64);
    Concurrency::parallel_for(0, tasks, [&](int task) {
        CImgPixelInfo strip;
        {
            const CKelImage shape(mesh.m_width, stripRows, mesh.m_planes, -32, 1.0, 0.0, 1);
            if (shape.GetWidth() != mesh.m_width || shape.GetHeight() != stripRows) {
                throw std::bad_alloc();
            }
            strip = shape;
        }
        const int first = static_cast<int>(static_cast<long long>(mesh.m_ny) * task / tasks);
        const int last = static_cast<int>(static_cast<long long>(mesh.m_ny) * (task + 1) / tasks);
        for (int ty = first; ty < last; ++ty) {
            const int top = mesh.m_edgeY[ty];
            const int rows = mesh.m_edgeY[ty + 1] - top;
            for (int p = 0; p < mesh.m_planes; ++p) {
                for (int y = 0; y < rows; ++y) {
                    const float* in = rowOf(p, top + y);
                    std::copy(in, in + mesh.m_width, strip.GetImageAdr(0, y, p, 0, nullptr));
                }
            }
            for (int tx = 0; tx < mesh.m_nx; ++tx) {
                const CRect r(mesh.m_edgeX[tx], 0, mesh.m_edgeX[tx + 1], rows);
                double stddev[3] = {};
                double median[3] = {};
                strip.CalcSky(r, kTrim, kTrim, nullptr, nullptr, nullptr, stddev, median);
                const long long area = static_cast<long long>(r.Width()) * r.Height();
                for (int p = 0; p < mesh.m_planes; ++p) {
                    if (2 * FiniteCount(strip, r, p) < area) {
                        continue;
                    }
                    const std::size_t at = static_cast<std::size_t>(p) * tiles +
                                           static_cast<std::size_t>(ty) * mesh.m_nx + static_cast<std::size_t>(tx);
                    mesh.m_tileSky[at] = median[p];
                    tileNoise[at] = stddev[p] / kTrimmedSpread;
                }
            }
        }
    });
    for (int p = 0; p < mesh.m_planes; ++p) {
        const auto first = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(p) * tiles);
        const auto last = first + static_cast<std::ptrdiff_t>(tiles);
        mesh.m_level[p] = MedianOf({mesh.m_tileSky.begin() + first, mesh.m_tileSky.begin() + last});
        mesh.m_noise[p] = MedianOf({tileNoise.begin() + first, tileNoise.begin() + last});
        for (auto it = mesh.m_tileSky.begin() + first; it != mesh.m_tileSky.begin() + last; ++it) {
            if (std::isnan(*it)) {
                *it = mesh.m_level[p];
            }
        }
    }
    return mesh;
}

std::vector<float> SkyMesh::Map(int plane) const
{
    std::vector<float> map(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height));
    if (map.empty() || plane < 0 || plane >= m_planes) {
        std::fill(map.begin(), map.end(), std::numeric_limits<float>::quiet_NaN());
        return map;
    }
    const double* sky = m_tileSky.data() + static_cast<std::size_t>(plane) * m_nx * m_ny;
    // Position of a pixel between tile centres: index of the centre at or
    // before it and the weight of the next one.
    const auto place = [](const std::vector<int>& edges, int n, int at, int& i0, double& w) {
        // Tile centres at (edge[i] + edge[i + 1] - 1) / 2.
        double c0 = (edges[0] + edges[1] - 1) * 0.5;
        if (n == 1 || at <= c0) {
            i0 = 0;
            w = 0.0;
            return;
        }
        for (int i = 0; i + 1 < n; ++i) {
            const double a = (edges[i] + edges[i + 1] - 1) * 0.5;
            const double b = (edges[i + 1] + edges[i + 2] - 1) * 0.5;
            if (at <= b) {
                i0 = i;
                w = (at - a) / (b - a);
                return;
            }
        }
        i0 = n - 1;
        w = 0.0;
    };
    std::vector<int> ix(static_cast<std::size_t>(m_width));
    std::vector<double> wx(static_cast<std::size_t>(m_width));
    for (int x = 0; x < m_width; ++x) {
        place(m_edgeX, m_nx, x, ix[x], wx[x]);
    }
    for (int y = 0; y < m_height; ++y) {
        int iy = 0;
        double wy = 0.0;
        place(m_edgeY, m_ny, y, iy, wy);
        const double* r0 = sky + static_cast<std::size_t>(iy) * m_nx;
        const double* r1 = iy + 1 < m_ny ? r0 + m_nx : r0;
        float* out = map.data() + static_cast<std::size_t>(y) * m_width;
        for (int x = 0; x < m_width; ++x) {
            const int i1 = ix[x] + 1 < m_nx ? ix[x] + 1 : ix[x];
            const double top = r0[ix[x]] + (r0[i1] - r0[ix[x]]) * wx[x];
            const double bottom = r1[ix[x]] + (r1[i1] - r1[ix[x]]) * wx[x];
            out[x] = static_cast<float>(top + (bottom - top) * wy);
        }
    }
    return map;
}

}  // namespace orbimg::tool
