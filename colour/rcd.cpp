// RCD, Ratio Corrected Demosaicing, after the description of its author
// (L. Sanz Rodriguez, "RCD-Demosaicing", 2017, version 2.3):
//   1. Directional discrimination: at every pixel the squared response of a
//      7-tap high-pass [1 -3 -1 6 -1 -3 1] along the columns and along the
//      rows, summed over the pixel and its two neighbours in that direction,
//      gives V and H; VH = V / (V + H) (0.5: no preferred direction).
//   2. Low-pass: at the red and blue sites the mosaic through the kernel
//      [1 2 1; 2 4 2; 1 2 1] / 4, a soft grey image.
//   3. Green at the red and blue sites: from each of the four neighbours the
//      ratio-corrected estimate G(n) x 2 L(0) / (L(0) + L(2n)) (L the
//      low-pass), the two of a direction weighted by the inverse of their
//      one-sided gradients, and the vertical and horizontal results blended
//      by VH (or by the mean VH of the four diagonal neighbours when that is
//      further from 0.5).
//   4. Red and blue: at blue and red sites from the four diagonal colour
//      differences (chroma - green), weighted by diagonal gradients and
//      blended by the diagonal discrimination P / (P + Q); then at the green
//      sites from the four cardinal colour differences, blended by VH.
// The samples are scaled to 0..1 (RcdScale) as the method expects, with its
// constants eps = 1e-5 and eps^2 = 1e-10.
//
// The image is worked in tiles of band rows x at most tileWidth columns; a
// tile reads the mosaic 10 pixels beyond its edges and recomputes everything
// it needs there, so every output sample depends on the mosaic alone. The
// tile's buffers are rows of the image's full width (indexed by image
// column), of which the tile uses its own columns and the margin. Pixels
// closer than 5 to the image's edges, and any estimate that meets a NaN
// sample, take the bilinear value instead.
#include <algorithm>
#include <cmath>

#include "colour/mosaicrows.h"

namespace orbimg::detail {
namespace {

constexpr float kEps = 1e-5f;
constexpr float kEpsSq = 1e-10f;
constexpr int kMargin = 10;  // mosaic read around a tile
constexpr int kBorder = 5;   // pixels this close to an edge are bilinear

struct Box {
    int x0, y0, x1, y1;

    Box Grow(int m) const { return {x0 - m, y0 - m, x1 + m, y1 + m}; }
    Box Clip(const Box& b) const
    {
        return {std::max(x0, b.x0), std::max(y0, b.y0), std::min(x1, b.x1), std::min(y1, b.y1)};
    }
    bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// Larger of v and e, NaN kept (std::max(e, NaN) would give e and hide it).
inline float AtLeast(float v, float e)
{
    return v < e ? e : v;
}

inline float Square(float v)
{
    return v * v;
}

// The 7-tap high-pass through p along steps of `s`, squared.
inline float HighPass(const float* p, std::ptrdiff_t s)
{
    const float v = ((((p[-3 * s] - p[-s]) - p[s]) + p[3 * s]) - 3.0f * (p[-2 * s] + p[2 * s])) + 6.0f * p[0];
    return Square(v);
}

// VH (or PQ) at the centre, or the mean of its four diagonal neighbours when
// that is the more decided one.
inline float Refined(const float* d, std::ptrdiff_t w)
{
    const float centre = d[0];
    const float around = 0.25f * (((d[-w - 1] + d[-w + 1]) + d[w - 1]) + d[w + 1]);
    return std::fabs(0.5f - centre) < std::fabs(0.5f - around) ? around : centre;
}

// First x >= x0 with (x + y) mod 2 == parity.
inline int FirstOfParity(int x0, int y, int parity)
{
    return x0 + ((x0 + y + parity) & 1);
}

class Tile {
public:
    Tile(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, const RcdScale& scale, RcdWorkspace& ws, Box t)
        : m_mosaic(mosaic), m_dst(dst), m_ph(ph), m_scale(scale), m_ws(ws), m_t(t)
    {
        m_width = mosaic.GetWidth();
        m_height = mosaic.GetHeight();
        m_image = {0, 0, m_width, m_height};
        m_e = t.Grow(kMargin).Clip(m_image);
        m_stride = m_width;
        m_chroma = ((ph.rx + ph.ry) & 1);  // (x + y) parity of the red and blue sites
        const std::size_t n = static_cast<std::size_t>(m_stride) * static_cast<std::size_t>(m_e.y1 - m_e.y0);
        for (auto* buffer : {&ws.cfa, &ws.hpA, &ws.hpB, &ws.vh, &ws.lpf, &ws.green, &ws.pq, &ws.red, &ws.blue}) {
            if (buffer->size() < n) {
                buffer->resize(n);
            }
        }
    }

    void Run()
    {
        LoadMosaic();
        Discrimination();
        LowPass();
        Green();
        Diagonals();
        ChromaAtChromaSites();
        ChromaAtGreenSites();
    }

private:
    std::ptrdiff_t Index(int x, int y) const
    {
        return static_cast<std::ptrdiff_t>(y - m_e.y0) * m_stride + x;
    }
    float* At(std::vector<float>& buffer, int x, int y) { return buffer.data() + Index(x, y); }
    Box Interior(int k) const { return {k, k, m_width - k, m_height - k}; }
    float Normalised(float v) const { return (v - m_scale.lo) * m_scale.inv; }
    float Restored(float n) const { return n * m_scale.range + m_scale.lo; }
    float* Out(int plane, int y) const { return m_dst.GetImageAdr(0, y, plane, 0, nullptr); }

    void LoadMosaic()
    {
        const float lo = m_scale.lo;
        const float inv = m_scale.inv;
        for (int y = m_e.y0; y < m_e.y1; ++y) {
            const float* __restrict src = m_mosaic.GetImageAdr(m_e.x0, y, 0, 1, nullptr);
            float* __restrict c = At(m_ws.cfa, m_e.x0, y);
            for (int i = 0; i < m_e.x1 - m_e.x0; ++i) {
                c[i] = (src[i] - lo) * inv;
            }
        }
    }

    // Step 1: VH over the tile and 6 pixels around it.
    void Discrimination()
    {
        const Box vh = m_t.Grow(6).Clip(Interior(4));
        if (vh.x0 >= vh.x1 || vh.y0 >= vh.y1) {
            return;
        }
        const std::ptrdiff_t w = m_stride;
        for (int y = vh.y0 - 1; y < vh.y1 + 1; ++y) {
            const float* c = At(m_ws.cfa, 0, y);
            float* v = At(m_ws.hpA, 0, y);
            for (int x = vh.x0; x < vh.x1; ++x) {
                v[x] = HighPass(c + x, w);
            }
        }
        for (int y = vh.y0; y < vh.y1; ++y) {
            const float* c = At(m_ws.cfa, 0, y);
            float* h = At(m_ws.hpB, 0, y);
            for (int x = vh.x0 - 1; x < vh.x1 + 1; ++x) {
                h[x] = HighPass(c + x, 1);
            }
        }
        for (int y = vh.y0; y < vh.y1; ++y) {
            const float* v = At(m_ws.hpA, 0, y);
            const float* h = At(m_ws.hpB, 0, y);
            float* d = At(m_ws.vh, 0, y);
            for (int x = vh.x0; x < vh.x1; ++x) {
                const float vs = AtLeast((v[x - w] + v[x]) + v[x + w], kEpsSq);
                const float hs = AtLeast((h[x - 1] + h[x]) + h[x + 1], kEpsSq);
                d[x] = vs / (vs + hs);
            }
        }
    }

    // Step 2: the low-pass at the chroma sites, 7 pixels around the tile.
    void LowPass()
    {
        const Box b = m_t.Grow(7).Clip(Interior(1));
        const std::ptrdiff_t w = m_stride;
        for (int y = b.y0; y < b.y1; ++y) {
            const float* c = At(m_ws.cfa, 0, y);
            float* l = At(m_ws.lpf, 0, y);
            for (int x = FirstOfParity(b.x0, y, m_chroma); x < b.x1; x += 2) {
                const float* p = c + x;
                l[x] = (p[0] + 0.5f * (((p[-w] + p[-1]) + p[1]) + p[w])) +
                       0.25f * (((p[-w - 1] + p[-w + 1]) + p[w - 1]) + p[w + 1]);
            }
        }
    }

    // Bilinear value of a plane at (x, y) from the mosaic itself.
    float Bilinear(int x, int y, int plane) const { return BilinearAt(RowsAround(m_mosaic, y), m_ph, x, y, plane); }

    // Step 3: green everywhere 5 pixels around the tile; the tile's own
    // green at the chroma sites goes to the output.
    void Green()
    {
        const Box b = m_t.Grow(5).Clip(m_image);
        const Box rcd = Interior(kBorder);
        const std::ptrdiff_t w = m_stride;
        for (int y = b.y0; y < b.y1; ++y) {
            const float* c = At(m_ws.cfa, 0, y);
            const float* l = At(m_ws.lpf, 0, y);
            const float* d = At(m_ws.vh, 0, y);
            float* g = At(m_ws.green, 0, y);
            for (int x = FirstOfParity(b.x0, y, m_chroma ^ 1); x < b.x1; x += 2) {
                g[x] = c[x];
            }
            const bool inTileRow = y >= m_t.y0 && y < m_t.y1;
            float* out = inTileRow ? Out(1, y) : nullptr;
            for (int x = FirstOfParity(b.x0, y, m_chroma); x < b.x1; x += 2) {
                float v = std::numeric_limits<float>::quiet_NaN();
                if (rcd.Contains(x, y)) {
                    const float* p = c + x;
                    const float* q = l + x;
                    const float nGrad = ((kEps + std::fabs(p[-w] - p[w])) + std::fabs(p[0] - p[-2 * w])) +
                                        std::fabs(p[-w] - p[-3 * w]) + std::fabs(p[-2 * w] - p[-4 * w]);
                    const float sGrad = ((kEps + std::fabs(p[-w] - p[w])) + std::fabs(p[0] - p[2 * w])) +
                                        std::fabs(p[w] - p[3 * w]) + std::fabs(p[2 * w] - p[4 * w]);
                    const float wGrad = ((kEps + std::fabs(p[-1] - p[1])) + std::fabs(p[0] - p[-2])) +
                                        std::fabs(p[-1] - p[-3]) + std::fabs(p[-2] - p[-4]);
                    const float eGrad = ((kEps + std::fabs(p[-1] - p[1])) + std::fabs(p[0] - p[2])) +
                                        std::fabs(p[1] - p[3]) + std::fabs(p[2] - p[4]);
                    const float twice = q[0] + q[0];
                    const float nEst = p[-w] * twice / ((kEps + q[0]) + q[-2 * w]);
                    const float sEst = p[w] * twice / ((kEps + q[0]) + q[2 * w]);
                    const float wEst = p[-1] * twice / ((kEps + q[0]) + q[-2]);
                    const float eEst = p[1] * twice / ((kEps + q[0]) + q[2]);
                    const float vEst = (sGrad * nEst + nGrad * sEst) / (nGrad + sGrad);
                    const float hEst = (eGrad * wEst + wGrad * eEst) / (eGrad + wGrad);
                    const float disc = Refined(d + x, w);
                    v = disc * hEst + (1.0f - disc) * vEst;
                }
                if (v == v) {
                    g[x] = v;
                    if (out && x >= m_t.x0 && x < m_t.x1) {
                        out[x] = Restored(v);
                    }
                } else {
                    const float raw = Bilinear(x, y, 1);
                    g[x] = Normalised(raw);
                    if (out && x >= m_t.x0 && x < m_t.x1) {
                        out[x] = raw;
                    }
                }
            }
        }
    }

    // Step 4.1: the diagonal discrimination PQ at the chroma sites, 4 pixels
    // around the tile.
    void Diagonals()
    {
        const Box pq = m_t.Grow(4).Clip(Interior(4));
        if (pq.x0 >= pq.x1 || pq.y0 >= pq.y1) {
            return;
        }
        const std::ptrdiff_t w = m_stride;
        for (int y = pq.y0 - 1; y < pq.y1 + 1; ++y) {
            const float* c = At(m_ws.cfa, 0, y);
            float* p = At(m_ws.hpA, 0, y);
            float* q = At(m_ws.hpB, 0, y);
            for (int x = FirstOfParity(pq.x0 - 1, y, m_chroma); x < pq.x1 + 1; x += 2) {
                p[x] = HighPass(c + x, w + 1);
                q[x] = HighPass(c + x, w - 1);
            }
        }
        for (int y = pq.y0; y < pq.y1; ++y) {
            const float* p = At(m_ws.hpA, 0, y);
            const float* q = At(m_ws.hpB, 0, y);
            float* d = At(m_ws.pq, 0, y);
            for (int x = FirstOfParity(pq.x0, y, m_chroma); x < pq.x1; x += 2) {
                const float ps = AtLeast((p[x - w - 1] + p[x]) + p[x + w + 1], kEpsSq);
                const float qs = AtLeast((q[x - w + 1] + q[x]) + q[x + w - 1], kEpsSq);
                d[x] = ps / (ps + qs);
            }
        }
    }

    // Step 4.2: red at the blue sites and blue at the red sites, 3 pixels
    // around the tile; the tile's own go to the output.
    void ChromaAtChromaSites()
    {
        const Box b = m_t.Grow(3).Clip(m_image);
        const Box rcd = Interior(kBorder);
        const std::ptrdiff_t w = m_stride;
        for (int y = b.y0; y < b.y1; ++y) {
            const bool redRow = ((y ^ m_ph.ry) & 1) == 0;
            const int otherPlane = redRow ? 2 : 0;
            const float* c = At(m_ws.cfa, 0, y);
            const float* g = At(m_ws.green, 0, y);
            const float* d = At(m_ws.pq, 0, y);
            float* own = At(redRow ? m_ws.red : m_ws.blue, 0, y);
            float* other = At(redRow ? m_ws.blue : m_ws.red, 0, y);
            const bool inTileRow = y >= m_t.y0 && y < m_t.y1;
            float* out = inTileRow ? Out(otherPlane, y) : nullptr;
            for (int x = FirstOfParity(b.x0, y, m_chroma); x < b.x1; x += 2) {
                own[x] = c[x];
                float v = std::numeric_limits<float>::quiet_NaN();
                if (rcd.Contains(x, y)) {
                    const float* p = c + x;
                    const float* q = g + x;
                    const float nwGrad = ((kEps + std::fabs(p[-w - 1] - p[w + 1])) +
                                          std::fabs(p[-w - 1] - p[-3 * w - 3])) +
                                         std::fabs(q[0] - q[-2 * w - 2]);
                    const float neGrad = ((kEps + std::fabs(p[-w + 1] - p[w - 1])) +
                                          std::fabs(p[-w + 1] - p[-3 * w + 3])) +
                                         std::fabs(q[0] - q[-2 * w + 2]);
                    const float swGrad = ((kEps + std::fabs(p[w - 1] - p[-w + 1])) +
                                          std::fabs(p[w - 1] - p[3 * w - 3])) +
                                         std::fabs(q[0] - q[2 * w - 2]);
                    const float seGrad = ((kEps + std::fabs(p[w + 1] - p[-w - 1])) +
                                          std::fabs(p[w + 1] - p[3 * w + 3])) +
                                         std::fabs(q[0] - q[2 * w + 2]);
                    const float nwEst = p[-w - 1] - q[-w - 1];
                    const float neEst = p[-w + 1] - q[-w + 1];
                    const float swEst = p[w - 1] - q[w - 1];
                    const float seEst = p[w + 1] - q[w + 1];
                    const float pEst = (nwGrad * seEst + seGrad * nwEst) / (nwGrad + seGrad);
                    const float qEst = (neGrad * swEst + swGrad * neEst) / (neGrad + swGrad);
                    const float disc = Refined(d + x, w);
                    v = q[0] + (disc * qEst + (1.0f - disc) * pEst);
                }
                if (v == v) {
                    other[x] = v;
                    if (out && x >= m_t.x0 && x < m_t.x1) {
                        out[x] = Restored(v);
                    }
                } else {
                    const float raw = Bilinear(x, y, otherPlane);
                    other[x] = Normalised(raw);
                    if (out && x >= m_t.x0 && x < m_t.x1) {
                        out[x] = raw;
                    }
                }
            }
            if (inTileRow) {
                // The chroma sites' own colour: the sample itself.
                const float* src = m_mosaic.GetImageAdr(0, y, 0, 1, nullptr);
                float* mine = Out(redRow ? 0 : 2, y);
                for (int x = FirstOfParity(m_t.x0, y, m_chroma); x < m_t.x1; x += 2) {
                    mine[x] = src[x];
                }
            }
        }
    }

    // Step 4.3: red and blue at the green sites of the tile.
    void ChromaAtGreenSites()
    {
        const Box rcd = Interior(kBorder);
        const std::ptrdiff_t w = m_stride;
        for (int y = m_t.y0; y < m_t.y1; ++y) {
            const float* src = m_mosaic.GetImageAdr(0, y, 0, 1, nullptr);
            const float* g = At(m_ws.green, 0, y);
            const float* d = At(m_ws.vh, 0, y);
            float* out[3] = {Out(0, y), Out(1, y), Out(2, y)};
            for (int x = FirstOfParity(m_t.x0, y, m_chroma ^ 1); x < m_t.x1; x += 2) {
                out[1][x] = src[x];
                const bool inside = rcd.Contains(x, y);
                const float disc = inside ? Refined(d + x, w) : 0.0f;
                for (int plane : {0, 2}) {
                    const float* k = At(plane == 0 ? m_ws.red : m_ws.blue, x, y);
                    const float* q = g + x;
                    float v = std::numeric_limits<float>::quiet_NaN();
                    if (inside) {
                        const float nGrad = ((kEps + std::fabs(q[0] - q[-2 * w])) + std::fabs(k[-w] - k[w])) +
                                            std::fabs(k[-w] - k[-3 * w]);
                        const float sGrad = ((kEps + std::fabs(q[0] - q[2 * w])) + std::fabs(k[w] - k[-w])) +
                                            std::fabs(k[w] - k[3 * w]);
                        const float wGrad = ((kEps + std::fabs(q[0] - q[-2])) + std::fabs(k[-1] - k[1])) +
                                            std::fabs(k[-1] - k[-3]);
                        const float eGrad = ((kEps + std::fabs(q[0] - q[2])) + std::fabs(k[1] - k[-1])) +
                                            std::fabs(k[1] - k[3]);
                        const float nEst = k[-w] - q[-w];
                        const float sEst = k[w] - q[w];
                        const float wEst = k[-1] - q[-1];
                        const float eEst = k[1] - q[1];
                        const float vEst = (nGrad * sEst + sGrad * nEst) / (nGrad + sGrad);
                        const float hEst = (eGrad * wEst + wGrad * eEst) / (eGrad + wGrad);
                        v = q[0] + (disc * hEst + (1.0f - disc) * vEst);
                    }
                    out[plane][x] = v == v ? Restored(v) : Bilinear(x, y, plane);
                }
            }
        }
    }

    const CKelImage& m_mosaic;
    CKelImage& m_dst;
    BayerPhase m_ph;
    RcdScale m_scale;
    RcdWorkspace& m_ws;
    Box m_t;       // the tile: output pixels
    Box m_e;       // the mosaic read: the tile and kMargin around, inside the image
                   // (buffers: rows m_e.y0 .. m_e.y1 - 1 of the image's width)
    Box m_image;
    int m_width = 0;
    int m_height = 0;
    int m_chroma = 0;
    std::ptrdiff_t m_stride = 0;
};

}  // namespace

void RcdRows(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, const RcdScale& scale, int y0, int y1,
             int tileWidth, RcdWorkspace& ws)
{
    const int width = mosaic.GetWidth();
    for (int x0 = 0; x0 < width; x0 += tileWidth) {
        Tile tile(mosaic, dst, ph, scale, ws, Box{x0, y0, std::min(width, x0 + tileWidth), y1});
        tile.Run();
    }
}

}  // namespace orbimg::detail
