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
//      blended by the diagonal discrimination P / (P + Q) (the same 7-tap
//      high-pass along the two diagonals); then at the green sites from the
//      four cardinal colour differences, blended by VH.
// The samples are scaled to 0..1 (RcdScale) as the method expects, with its
// constants eps = 1e-5 and eps^2 = 1e-10. Estimates, restored to the
// mosaic's scale, are held to its least .. greatest finite sample.
//
// Tiles. The image is worked in tiles of band rows x at most tileWidth
// columns; a tile reads the mosaic 10 pixels beyond its edges and recomputes
// everything it needs there, so every output sample depends on the mosaic
// alone. Pixels closer than 5 to the image's edges, and any estimate that
// meets a NaN sample, take the bilinear value instead.
//
// Layout. Within a tile every row is kept as two halves, its even and its
// odd columns, so that the sites of one colour in a row are contiguous: the
// kernels below walk index j of a half, which is column x0 + 2 j + parity
// (x0 the tile's first column read, always even). For a site of parity p,
// "same" is the half of parity p of a row (same[j] = column x, same[j +- 1] =
// x +- 2) and "other" the half of the other parity shifted so that other[j]
// = column x - 1 and other[j + 1] = column x + 1 (other[j - 1] = x - 3,
// other[j + 2] = x + 3).
#include <algorithm>
#include <cmath>
#include <limits>

#include "colour/mosaicrows.h"

// The whole tile pass is built for each instruction set (platform/simd.h):
// plain loops, the same operations in the same order on every build.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "colour/rcd.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

constexpr float kEps = 1e-5f;
constexpr float kEpsSq = 1e-10f;
constexpr int kMargin = 10;  // mosaic read around a tile
constexpr int kBorder = 5;   // pixels this close to an edge are bilinear
constexpr int kPad = 4;      // floats kept before and after each half

struct Box {
    int x0, y0, x1, y1;

    Box Grow(int m) const { return {x0 - m, y0 - m, x1 + m, y1 + m}; }
    Box Clip(const Box& b) const
    {
        return {std::max(x0, b.x0), std::max(y0, b.y0), std::min(x1, b.x1), std::min(y1, b.y1)};
    }
    bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

// ---- row kernels: j0 .. j1 - 1 of halves; each element on its own ----------

// Larger of v and e, NaN kept (std::max(e, NaN) would give e and hide it).
inline float AtLeast(float v, float e) { return v < e ? e : v; }

// The squared 7-tap high-pass from its taps in order.
inline float HighPass(float m3, float m2, float m1, float c, float p1, float p2, float p3)
{
    const float v = ((((m3 - m1) - p1) + p3) - 3.0f * (m2 + p2)) + 6.0f * c;
    return v * v;
}

// The centre, or the mean of the four diagonal neighbours (NW, NE, SW, SE)
// when that is the more decided one.
inline float Refined(float centre, float nw, float ne, float sw, float se)
{
    const float around = 0.25f * (((nw + ne) + sw) + se);
    return std::fabs(0.5f - centre) < std::fabs(0.5f - around) ? around : centre;
}

// A row split into halves, scaled to 0..1.
void SplitRow(const float* __restrict src, int pairs, float lo, float inv, float* __restrict even,
              float* __restrict odd)
{
    for (int j = 0; j < pairs; ++j) {
        even[j] = (src[2 * j] - lo) * inv;
        odd[j] = (src[2 * j + 1] - lo) * inv;
    }
}

// Squared high-pass along the columns: rows y - 3 .. y + 3 of one half.
void HighPassColumns(const float* const* __restrict r, int j0, int j1, float* __restrict out)
{
    const float* m3 = r[0];
    const float* m2 = r[1];
    const float* m1 = r[2];
    const float* c = r[3];
    const float* p1 = r[4];
    const float* p2 = r[5];
    const float* p3 = r[6];
    for (int j = j0; j < j1; ++j) {
        out[j] = HighPass(m3[j], m2[j], m1[j], c[j], p1[j], p2[j], p3[j]);
    }
}

// Squared high-pass along the row.
void HighPassRow(const float* __restrict same, const float* __restrict other, int j0, int j1, float* __restrict out)
{
    for (int j = j0; j < j1; ++j) {
        out[j] = HighPass(other[j - 1], same[j - 1], other[j], same[j], other[j + 1], same[j + 1], other[j + 2]);
    }
}

// VH from the column high-pass of rows y - 1, y, y + 1 and the row
// high-pass of row y (same and other halves).
void Discriminate(const float* __restrict up, const float* __restrict mid, const float* __restrict down,
                  const float* __restrict rowSame, const float* __restrict rowOther, int j0, int j1,
                  float* __restrict out)
{
    for (int j = j0; j < j1; ++j) {
        const float vs = AtLeast((up[j] + mid[j]) + down[j], kEpsSq);
        const float hs = AtLeast((rowOther[j] + rowSame[j]) + rowOther[j + 1], kEpsSq);
        out[j] = vs / (vs + hs);
    }
}

// The low-pass [1 2 1; 2 4 2; 1 2 1] / 4.
void LowPassRow(const float* __restrict upSame, const float* __restrict upOther, const float* __restrict same,
                const float* __restrict other, const float* __restrict downSame, const float* __restrict downOther,
                int j0, int j1, float* __restrict out)
{
    for (int j = j0; j < j1; ++j) {
        out[j] = (same[j] + 0.5f * (((upSame[j] + other[j]) + other[j + 1]) + downSame[j])) +
                 0.25f * (((upOther[j] + upOther[j + 1]) + downOther[j]) + downOther[j + 1]);
    }
}

// Inputs of green at the chroma sites of one row.
struct GreenTaps {
    const float* c[9];    // mosaic, same halves of rows y - 4 .. y + 4
    const float* cRow;    // mosaic, other half of row y
    const float* l[3];    // low-pass, same halves of rows y - 2, y, y + 2
    const float* vh;      // VH, same half of row y
    const float* vhUp;    // VH, other half of row y - 1
    const float* vhDown;  // VH, other half of row y + 1
};

int GreenRow(const GreenTaps& t, int j0, int j1, float* __restrict out)
{
    int nan = 0;
    const float* __restrict cm4 = t.c[0];
    const float* __restrict cm3 = t.c[1];
    const float* __restrict cm2 = t.c[2];
    const float* __restrict cm1 = t.c[3];
    const float* __restrict c0 = t.c[4];
    const float* __restrict cp1 = t.c[5];
    const float* __restrict cp2 = t.c[6];
    const float* __restrict cp3 = t.c[7];
    const float* __restrict cp4 = t.c[8];
    const float* __restrict d = t.cRow;
    const float* __restrict lm2 = t.l[0];
    const float* __restrict l0 = t.l[1];
    const float* __restrict lp2 = t.l[2];
    const float* __restrict vh = t.vh;
    const float* __restrict vu = t.vhUp;
    const float* __restrict vd = t.vhDown;
    for (int j = j0; j < j1; ++j) {
        const float north = cm1[j];
        const float south = cp1[j];
        const float west = d[j];
        const float east = d[j + 1];
        const float centre = c0[j];
        const float nGrad =
            (((kEps + std::fabs(north - south)) + std::fabs(centre - cm2[j])) + std::fabs(north - cm3[j])) +
            std::fabs(cm2[j] - cm4[j]);
        const float sGrad =
            (((kEps + std::fabs(north - south)) + std::fabs(centre - cp2[j])) + std::fabs(south - cp3[j])) +
            std::fabs(cp2[j] - cp4[j]);
        const float wGrad =
            (((kEps + std::fabs(west - east)) + std::fabs(centre - c0[j - 1])) + std::fabs(west - d[j - 1])) +
            std::fabs(c0[j - 1] - c0[j - 2]);
        const float eGrad =
            (((kEps + std::fabs(west - east)) + std::fabs(centre - c0[j + 1])) + std::fabs(east - d[j + 2])) +
            std::fabs(c0[j + 1] - c0[j + 2]);
        const float l = l0[j];
        const float twice = l + l;
        const float nEst = north * twice / ((kEps + l) + lm2[j]);
        const float sEst = south * twice / ((kEps + l) + lp2[j]);
        const float wEst = west * twice / ((kEps + l) + l0[j - 1]);
        const float eEst = east * twice / ((kEps + l) + l0[j + 1]);
        const float vEst = (sGrad * nEst + nGrad * sEst) / (nGrad + sGrad);
        const float hEst = (eGrad * wEst + wGrad * eEst) / (eGrad + wGrad);
        const float disc = Refined(vh[j], vu[j], vu[j + 1], vd[j], vd[j + 1]);
        const float v = disc * hEst + (1.0f - disc) * vEst;
        out[j] = v;
        nan += static_cast<int>(v != v);
    }
    return nan;
}

// Squared high-pass along the two diagonals at the chroma sites of a row:
// the mosaic's same halves of rows y - 2, y, y + 2 and other halves of rows
// y - 3, y - 1, y + 1, y + 3.
void HighPassDiagonals(const float* const* __restrict same, const float* const* __restrict other, int j0, int j1,
                       float* __restrict p, float* __restrict q)
{
    const float* sm2 = same[0];
    const float* s0 = same[1];
    const float* sp2 = same[2];
    const float* om3 = other[0];
    const float* om1 = other[1];
    const float* op1 = other[2];
    const float* op3 = other[3];
    for (int j = j0; j < j1; ++j) {
        // P: up-left to down-right; Q: up-right to down-left.
        p[j] = HighPass(om3[j - 1], sm2[j - 1], om1[j], s0[j], op1[j + 1], sp2[j + 1], op3[j + 2]);
        q[j] = HighPass(om3[j + 2], sm2[j + 1], om1[j + 1], s0[j], op1[j], sp2[j - 1], op3[j - 1]);
    }
}

// PQ from the diagonal high-passes: same halves of row y, other halves of
// rows y - 1 and y + 1.
void DiscriminateDiagonals(const float* __restrict p, const float* __restrict pUp, const float* __restrict pDown,
                           const float* __restrict q, const float* __restrict qUp, const float* __restrict qDown,
                           int j0, int j1, float* __restrict out)
{
    for (int j = j0; j < j1; ++j) {
        const float ps = AtLeast((pUp[j] + p[j]) + pDown[j + 1], kEpsSq);
        const float qs = AtLeast((qUp[j + 1] + q[j]) + qDown[j], kEpsSq);
        out[j] = ps / (ps + qs);
    }
}

// Inputs of the other chroma at the chroma sites of one row.
struct DiagonalTaps {
    const float* cUp3;  // mosaic, other halves of rows y - 3, y - 1, y + 1, y + 3
    const float* cUp;
    const float* cDown;
    const float* cDown3;
    const float* g;  // green, same halves of rows y - 2, y, y + 2
    const float* gUp2;
    const float* gDown2;
    const float* gUp;  // green, other halves of rows y - 1 and y + 1
    const float* gDown;
    const float* pq;  // PQ, same half of row y, other halves of rows y - 1, y + 1
    const float* pqUp;
    const float* pqDown;
};

int DiagonalChromaRow(const DiagonalTaps& t, int j0, int j1, float* __restrict out)
{
    int nan = 0;
    const float* __restrict u3 = t.cUp3;
    const float* __restrict u1 = t.cUp;
    const float* __restrict d1 = t.cDown;
    const float* __restrict d3 = t.cDown3;
    const float* __restrict g = t.g;
    const float* __restrict gu2 = t.gUp2;
    const float* __restrict gd2 = t.gDown2;
    const float* __restrict gu = t.gUp;
    const float* __restrict gd = t.gDown;
    const float* __restrict pq = t.pq;
    const float* __restrict pqu = t.pqUp;
    const float* __restrict pqd = t.pqDown;
    for (int j = j0; j < j1; ++j) {
        const float nw = u1[j];
        const float ne = u1[j + 1];
        const float sw = d1[j];
        const float se = d1[j + 1];
        const float centre = g[j];
        const float nwGrad = ((kEps + std::fabs(nw - se)) + std::fabs(nw - u3[j - 1])) + std::fabs(centre - gu2[j - 1]);
        const float neGrad = ((kEps + std::fabs(ne - sw)) + std::fabs(ne - u3[j + 2])) + std::fabs(centre - gu2[j + 1]);
        const float swGrad = ((kEps + std::fabs(sw - ne)) + std::fabs(sw - d3[j - 1])) + std::fabs(centre - gd2[j - 1]);
        const float seGrad = ((kEps + std::fabs(se - nw)) + std::fabs(se - d3[j + 2])) + std::fabs(centre - gd2[j + 1]);
        const float nwEst = nw - gu[j];
        const float neEst = ne - gu[j + 1];
        const float swEst = sw - gd[j];
        const float seEst = se - gd[j + 1];
        const float pEst = (nwGrad * seEst + seGrad * nwEst) / (nwGrad + seGrad);
        const float qEst = (neGrad * swEst + swGrad * neEst) / (neGrad + swGrad);
        const float disc = Refined(pq[j], pqu[j], pqu[j + 1], pqd[j], pqd[j + 1]);
        const float v = centre + (disc * qEst + (1.0f - disc) * pEst);
        out[j] = v;
        nan += static_cast<int>(v != v);
    }
    return nan;
}

// Inputs of red and blue at the green sites of one row.
struct CardinalTaps {
    const float* g[5];    // green, same halves of rows y - 2 .. y + 2
    const float* gRow;    // green, other half of row y
    const float* red[4];  // red, same halves of rows y - 3, y - 1, y + 1, y + 3
    const float* redRow;  // red, other half of row y
    const float* blue[4];
    const float* blueRow;
    const float* vh;  // VH, same half of row y, other halves of rows y - 1, y + 1
    const float* vhUp;
    const float* vhDown;
};

// One chroma at a green site from its four cardinal colour differences.
inline float Cardinal(float centre, float gn2, float gs2, float gw2, float ge2, float gn, float gs, float gw, float ge,
                      float xn3, float xn, float xs, float xs3, float xw3, float xw, float xe, float xe3, float disc)
{
    const float nGrad = ((kEps + std::fabs(centre - gn2)) + std::fabs(xn - xs)) + std::fabs(xn - xn3);
    const float sGrad = ((kEps + std::fabs(centre - gs2)) + std::fabs(xs - xn)) + std::fabs(xs - xs3);
    const float wGrad = ((kEps + std::fabs(centre - gw2)) + std::fabs(xw - xe)) + std::fabs(xw - xw3);
    const float eGrad = ((kEps + std::fabs(centre - ge2)) + std::fabs(xe - xw)) + std::fabs(xe - xe3);
    const float nEst = xn - gn;
    const float sEst = xs - gs;
    const float wEst = xw - gw;
    const float eEst = xe - ge;
    const float vEst = (nGrad * sEst + sGrad * nEst) / (nGrad + sGrad);
    const float hEst = (eGrad * wEst + wGrad * eEst) / (eGrad + wGrad);
    return centre + (disc * hEst + (1.0f - disc) * vEst);
}

int CardinalChromaRow(const CardinalTaps& t, int j0, int j1, float* __restrict red, float* __restrict blue)
{
    int nan = 0;
    const float* __restrict gm2 = t.g[0];
    const float* __restrict gm1 = t.g[1];
    const float* __restrict g0 = t.g[2];
    const float* __restrict gp1 = t.g[3];
    const float* __restrict gp2 = t.g[4];
    const float* __restrict gr = t.gRow;
    const float* __restrict rm3 = t.red[0];
    const float* __restrict rm1 = t.red[1];
    const float* __restrict rp1 = t.red[2];
    const float* __restrict rp3 = t.red[3];
    const float* __restrict rr = t.redRow;
    const float* __restrict bm3 = t.blue[0];
    const float* __restrict bm1 = t.blue[1];
    const float* __restrict bp1 = t.blue[2];
    const float* __restrict bp3 = t.blue[3];
    const float* __restrict br = t.blueRow;
    const float* __restrict vh = t.vh;
    const float* __restrict vu = t.vhUp;
    const float* __restrict vd = t.vhDown;
    for (int j = j0; j < j1; ++j) {
        const float disc = Refined(vh[j], vu[j], vu[j + 1], vd[j], vd[j + 1]);
        const float centre = g0[j];
        const float r = Cardinal(centre, gm2[j], gp2[j], g0[j - 1], g0[j + 1], gm1[j], gp1[j], gr[j], gr[j + 1], rm3[j],
                                 rm1[j], rp1[j], rp3[j], rr[j - 1], rr[j], rr[j + 1], rr[j + 2], disc);
        const float b = Cardinal(centre, gm2[j], gp2[j], g0[j - 1], g0[j + 1], gm1[j], gp1[j], gr[j], gr[j + 1], bm3[j],
                                 bm1[j], bp1[j], bp3[j], br[j - 1], br[j], br[j + 1], br[j + 2], disc);
        red[j] = r;
        blue[j] = b;
        nan += static_cast<int>(r != r) + static_cast<int>(b != b);
    }
    return nan;
}

// n x range + lo, held to the mosaic's finite samples least .. greatest
// (NaN kept): the ratios can overshoot next to a saturated star, and no
// estimate should pass the sensor's saturation or fall below its floor.
void RestoreRow(const float* n, int j0, int j1, const RcdScale& scale, float* out)
{
    const float range = scale.range;
    const float lo = scale.lo;
    const float least = scale.least;
    const float greatest = scale.greatest;
    for (int j = j0; j < j1; ++j) {
        float v = n[j] * range + lo;
        v = v < least ? least : v;
        v = v > greatest ? greatest : v;
        out[j] = v;
    }
}

// Columns x0 .. x0 + count - 1 of a row from its halves (x0 even; even[0]
// and odd[0] are columns x0 and x0 + 1).
void JoinRow(const float* __restrict even, const float* __restrict odd, int count, float* __restrict out)
{
    const int pairs = count / 2;
    for (int j = 0; j < pairs; ++j) {
        out[2 * j] = even[j];
        out[2 * j + 1] = odd[j];
    }
    if (count & 1) {
        out[count - 1] = even[pairs];
    }
}

// The same with the columns of parity `own` taken from the mosaic row src
// (src[0] is column x0), the others from `half`.
void JoinRowOwn(const float* __restrict src, const float* __restrict half, int own, int count, float* __restrict out)
{
    const int pairs = count / 2;
    if (own == 0) {
        for (int j = 0; j < pairs; ++j) {
            out[2 * j] = src[2 * j];
            out[2 * j + 1] = half[j];
        }
        if (count & 1) {
            out[count - 1] = src[count - 1];
        }
    } else {
        for (int j = 0; j < pairs; ++j) {
            out[2 * j] = half[j];
            out[2 * j + 1] = src[2 * j + 1];
        }
        if (count & 1) {
            out[count - 1] = half[pairs];
        }
    }
}

// ---- a tile -------------------------------------------------------------------

// The buffers of a tile, in halves.
class Halves {
public:
    void Shape(std::vector<float>& store, int y0, int rows, int half)
    {
        m_y0 = y0;
        m_half = half;
        m_stride = 2 * static_cast<std::ptrdiff_t>(half) + 4 * kPad;
        const std::size_t n = static_cast<std::size_t>(m_stride) * static_cast<std::size_t>(rows);
        if (store.size() < n) {
            store.resize(n);
        }
        m_base = store.data();
    }
    /// Half of parity `parity` of row y.
    float* Half(int y, int parity) const
    {
        return m_base + (y - m_y0) * m_stride + (parity ? 3 * kPad + m_half : kPad);
    }
    /// For sites of parity p: the same half of row y.
    float* Same(int y, int p) const { return Half(y, p); }
    /// For sites of parity p: the other half of row y, [j] at x - 1.
    float* Other(int y, int p) const { return Half(y, p ^ 1) - (p == 0 ? 1 : 0); }

private:
    float* m_base = nullptr;
    std::ptrdiff_t m_stride = 0;
    int m_y0 = 0;
    int m_half = 0;
};

class Tile {
public:
    Tile(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, const RcdScale& scale, RcdWorkspace& ws, Box t)
        : m_mosaic(mosaic), m_dst(dst), m_ph(ph), m_scale(scale), m_t(t)
    {
        m_width = mosaic.GetWidth();
        m_height = mosaic.GetHeight();
        m_image = {0, 0, m_width, m_height};
        m_e = t.Grow(kMargin).Clip(m_image);
        m_e.x0 -= m_e.x0 & 1;  // an even first column: parity of x is parity of j's half
        m_chroma = (ph.rx + ph.ry) & 1;
        const int half = (m_e.x1 - m_e.x0 + 1) / 2;
        const int rows = m_e.y1 - m_e.y0;
        m_cfa.Shape(ws.cfa, m_e.y0, rows, half);
        m_hpA.Shape(ws.hpA, m_e.y0, rows, half);
        m_hpB.Shape(ws.hpB, m_e.y0, rows, half);
        m_vh.Shape(ws.vh, m_e.y0, rows, half);
        m_lpf.Shape(ws.lpf, m_e.y0, rows, half);
        m_green.Shape(ws.green, m_e.y0, rows, half);
        m_pq.Shape(ws.pq, m_e.y0, rows, half);
        m_red.Shape(ws.red, m_e.y0, rows, half);
        m_blue.Shape(ws.blue, m_e.y0, rows, half);
        for (int p = 0; p < 3; ++p) {
            m_out[p].Shape(ws.out[p], m_e.y0, rows, half);
        }
    }

    void Run()
    {
        Load();
        Discrimination();
        LowPass();
        Green();
        Diagonals();
        ChromaAtChromaSites();
        ChromaAtGreenSites();
        Write();
    }

private:
    struct Range {
        int j0, j1;
    };
    // Indices of the columns a .. b - 1 of parity p.
    Range Columns(int a, int b, int p) const
    {
        const int first = a + ((a ^ p) & 1);
        const int j0 = (first - m_e.x0) >> 1;
        const int count = b > first ? (b - first + 1) / 2 : 0;
        return {j0, j0 + count};
    }
    // Parity of the red and blue sites of row y.
    int ChromaParity(int y) const { return (m_chroma ^ y) & 1; }
    int Column(int j, int p) const { return m_e.x0 + 2 * j + p; }
    Box Interior(int k) const { return {k, k, m_width - k, m_height - k}; }
    float Normalised(float v) const { return (v - m_scale.lo) * m_scale.inv; }
    bool InTile(int x, int y) const { return x >= m_t.x0 && x < m_t.x1 && y >= m_t.y0 && y < m_t.y1; }
    float Bilinear(int x, int y, int plane) const { return BilinearAt(RowsAround(m_mosaic, y), m_ph, x, y, plane); }

    // The bilinear value instead of an estimate: into the scaled buffer, and
    // into the output when the pixel is the tile's.
    void Fallback(Halves& buffer, int j, int y, int p, int plane)
    {
        const int x = Column(j, p);
        const float raw = Bilinear(x, y, plane);
        buffer.Same(y, p)[j] = Normalised(raw);
        if (InTile(x, y)) {
            m_out[plane].Same(y, p)[j] = raw;
        }
    }

    // Estimates of row y (parity p) done over `valid`: the tile's restored
    // into the output, NaN ones and those of `all` outside `valid` replaced
    // by the bilinear value.
    void Settle(Halves& buffer, int y, int p, Range all, Range valid, int nan, int plane)
    {
        const bool tileRow = y >= m_t.y0 && y < m_t.y1;
        if (tileRow) {
            const Range t = Columns(m_t.x0, m_t.x1, p);
            const Range r = {std::max(t.j0, valid.j0), std::min(t.j1, valid.j1)};
            if (r.j0 < r.j1) {
                RestoreRow(buffer.Same(y, p), r.j0, r.j1, m_scale, m_out[plane].Same(y, p));
            }
        }
        float* v = buffer.Same(y, p);
        if (nan > 0) {
            for (int j = valid.j0; j < valid.j1; ++j) {
                if (v[j] != v[j]) {
                    Fallback(buffer, j, y, p, plane);
                }
            }
        }
        for (int j = all.j0; j < std::min(all.j1, valid.j0); ++j) {
            Fallback(buffer, j, y, p, plane);
        }
        for (int j = std::max(all.j0, valid.j1); j < all.j1; ++j) {
            Fallback(buffer, j, y, p, plane);
        }
    }

    void Load()
    {
        const int pairs = (m_e.x1 - m_e.x0) / 2;
        for (int y = m_e.y0; y < m_e.y1; ++y) {
            const float* src = m_mosaic.GetImageAdr(m_e.x0, y, 0, 1, nullptr);
            float* even = m_cfa.Half(y, 0);
            SplitRow(src, pairs, m_scale.lo, m_scale.inv, even, m_cfa.Half(y, 1));
            if ((m_e.x1 - m_e.x0) & 1) {
                even[pairs] = Normalised(src[2 * pairs]);
            }
        }
    }

    // Step 1: VH over the tile and 6 pixels around it.
    void Discrimination()
    {
        const Box b = m_t.Grow(6).Clip(Interior(4));
        if (b.Empty()) {
            return;
        }
        for (int p = 0; p < 2; ++p) {
            const Range r = Columns(b.x0, b.x1, p);
            for (int y = b.y0 - 1; y < b.y1 + 1; ++y) {
                const float* rows[7];
                for (int k = -3; k <= 3; ++k) {
                    rows[k + 3] = m_cfa.Same(y + k, p);
                }
                HighPassColumns(rows, r.j0, r.j1, m_hpA.Same(y, p));
            }
            // The row high-pass one column beyond both ends.
            const Range wide = Columns(b.x0 - 1, b.x1 + 1, p);
            for (int y = b.y0; y < b.y1; ++y) {
                HighPassRow(m_cfa.Same(y, p), m_cfa.Other(y, p), wide.j0, wide.j1, m_hpB.Same(y, p));
            }
        }
        for (int p = 0; p < 2; ++p) {
            const Range r = Columns(b.x0, b.x1, p);
            for (int y = b.y0; y < b.y1; ++y) {
                Discriminate(m_hpA.Same(y - 1, p), m_hpA.Same(y, p), m_hpA.Same(y + 1, p), m_hpB.Same(y, p),
                             m_hpB.Other(y, p), r.j0, r.j1, m_vh.Same(y, p));
            }
        }
    }

    // Step 2: the low-pass at the chroma sites, 7 pixels around the tile.
    void LowPass()
    {
        const Box b = m_t.Grow(7).Clip(Interior(1));
        for (int y = b.y0; y < b.y1; ++y) {
            const int p = ChromaParity(y);
            const Range r = Columns(b.x0, b.x1, p);
            LowPassRow(m_cfa.Same(y - 1, p), m_cfa.Other(y - 1, p), m_cfa.Same(y, p), m_cfa.Other(y, p),
                       m_cfa.Same(y + 1, p), m_cfa.Other(y + 1, p), r.j0, r.j1, m_lpf.Same(y, p));
        }
    }

    // Step 3: green everywhere 5 pixels around the tile.
    void Green()
    {
        const Box b = m_t.Grow(5).Clip(m_image);
        const Box rcd = b.Clip(Interior(kBorder));
        for (int y = b.y0; y < b.y1; ++y) {
            const int p = ChromaParity(y);
            // Green sites: the mosaic.
            const Range g = Columns(b.x0, b.x1, p ^ 1);
            std::copy(m_cfa.Same(y, p ^ 1) + g.j0, m_cfa.Same(y, p ^ 1) + g.j1, m_green.Same(y, p ^ 1) + g.j0);
            const Range all = Columns(b.x0, b.x1, p);
            Range valid = {0, 0};
            int nan = 0;
            if (y >= rcd.y0 && y < rcd.y1) {
                valid = Columns(rcd.x0, rcd.x1, p);
                GreenTaps t{};
                for (int k = -4; k <= 4; ++k) {
                    t.c[k + 4] = m_cfa.Same(y + k, p);
                }
                t.cRow = m_cfa.Other(y, p);
                t.l[0] = m_lpf.Same(y - 2, p);
                t.l[1] = m_lpf.Same(y, p);
                t.l[2] = m_lpf.Same(y + 2, p);
                t.vh = m_vh.Same(y, p);
                t.vhUp = m_vh.Other(y - 1, p);
                t.vhDown = m_vh.Other(y + 1, p);
                nan = GreenRow(t, valid.j0, valid.j1, m_green.Same(y, p));
            }
            Settle(m_green, y, p, all, valid, nan, 1);
        }
    }

    // Step 4.1: the diagonal discrimination PQ at the chroma sites, 4 pixels
    // around the tile.
    void Diagonals()
    {
        const Box b = m_t.Grow(4).Clip(Interior(4));
        if (b.Empty()) {
            return;
        }
        for (int y = b.y0 - 1; y < b.y1 + 1; ++y) {
            const int p = ChromaParity(y);
            const Range r = Columns(b.x0 - 1, b.x1 + 1, p);
            const float* same[3] = {m_cfa.Same(y - 2, p), m_cfa.Same(y, p), m_cfa.Same(y + 2, p)};
            const float* other[4] = {m_cfa.Other(y - 3, p), m_cfa.Other(y - 1, p), m_cfa.Other(y + 1, p),
                                     m_cfa.Other(y + 3, p)};
            HighPassDiagonals(same, other, r.j0, r.j1, m_hpA.Same(y, p), m_hpB.Same(y, p));
        }
        for (int y = b.y0; y < b.y1; ++y) {
            const int p = ChromaParity(y);
            const Range r = Columns(b.x0, b.x1, p);
            DiscriminateDiagonals(m_hpA.Same(y, p), m_hpA.Other(y - 1, p), m_hpA.Other(y + 1, p), m_hpB.Same(y, p),
                                  m_hpB.Other(y - 1, p), m_hpB.Other(y + 1, p), r.j0, r.j1, m_pq.Same(y, p));
        }
    }

    // Step 4.2: red at the blue sites and blue at the red sites, 3 pixels
    // around the tile.
    void ChromaAtChromaSites()
    {
        const Box b = m_t.Grow(3).Clip(m_image);
        const Box rcd = b.Clip(Interior(kBorder));
        for (int y = b.y0; y < b.y1; ++y) {
            const int p = ChromaParity(y);
            const bool redRow = ((y ^ m_ph.ry) & 1) == 0;
            Halves& own = redRow ? m_red : m_blue;
            Halves& other = redRow ? m_blue : m_red;
            const Range all = Columns(b.x0, b.x1, p);
            std::copy(m_cfa.Same(y, p) + all.j0, m_cfa.Same(y, p) + all.j1, own.Same(y, p) + all.j0);
            Range valid = {0, 0};
            int nan = 0;
            if (y >= rcd.y0 && y < rcd.y1) {
                valid = Columns(rcd.x0, rcd.x1, p);
                DiagonalTaps t{};
                t.cUp3 = m_cfa.Other(y - 3, p);
                t.cUp = m_cfa.Other(y - 1, p);
                t.cDown = m_cfa.Other(y + 1, p);
                t.cDown3 = m_cfa.Other(y + 3, p);
                t.g = m_green.Same(y, p);
                t.gUp2 = m_green.Same(y - 2, p);
                t.gDown2 = m_green.Same(y + 2, p);
                t.gUp = m_green.Other(y - 1, p);
                t.gDown = m_green.Other(y + 1, p);
                t.pq = m_pq.Same(y, p);
                t.pqUp = m_pq.Other(y - 1, p);
                t.pqDown = m_pq.Other(y + 1, p);
                nan = DiagonalChromaRow(t, valid.j0, valid.j1, other.Same(y, p));
            }
            Settle(other, y, p, all, valid, nan, redRow ? 2 : 0);
        }
    }

    // Step 4.3: red and blue at the green sites of the tile.
    void ChromaAtGreenSites()
    {
        const Box rcd = m_t.Clip(Interior(kBorder));
        for (int y = m_t.y0; y < m_t.y1; ++y) {
            const int p = ChromaParity(y) ^ 1;  // the green sites
            const Range all = Columns(m_t.x0, m_t.x1, p);
            Range valid = {0, 0};
            int nan = 0;
            if (y >= rcd.y0 && y < rcd.y1) {
                valid = Columns(rcd.x0, rcd.x1, p);
                CardinalTaps t{};
                for (int k = -2; k <= 2; ++k) {
                    t.g[k + 2] = m_green.Same(y + k, p);
                }
                t.gRow = m_green.Other(y, p);
                const int ks[4] = {-3, -1, 1, 3};
                for (int i = 0; i < 4; ++i) {
                    t.red[i] = m_red.Same(y + ks[i], p);
                    t.blue[i] = m_blue.Same(y + ks[i], p);
                }
                t.redRow = m_red.Other(y, p);
                t.blueRow = m_blue.Other(y, p);
                t.vh = m_vh.Same(y, p);
                t.vhUp = m_vh.Other(y - 1, p);
                t.vhDown = m_vh.Other(y + 1, p);
                // Straight into the tile's output rows, restored below.
                nan = CardinalChromaRow(t, valid.j0, valid.j1, m_out[0].Same(y, p), m_out[2].Same(y, p));
            }
            for (int plane : {0, 2}) {
                float* v = m_out[plane].Same(y, p);
                if (valid.j0 < valid.j1) {
                    RestoreRow(v, valid.j0, valid.j1, m_scale, v);
                    if (nan > 0) {
                        for (int j = valid.j0; j < valid.j1; ++j) {
                            if (v[j] != v[j]) {
                                v[j] = Bilinear(Column(j, p), y, plane);
                            }
                        }
                    }
                }
                for (int j = all.j0; j < all.j1; ++j) {
                    if (j < valid.j0 || j >= valid.j1) {
                        v[j] = Bilinear(Column(j, p), y, plane);
                    }
                }
            }
        }
    }

    // The tile's rows joined into the destination, the own colours straight
    // from the mosaic.
    void Write()
    {
        const Range even = Columns(m_t.x0, m_t.x1, 0);
        const int count = m_t.x1 - m_t.x0;
        for (int y = m_t.y0; y < m_t.y1; ++y) {
            const int p = ChromaParity(y);
            const bool redRow = ((y ^ m_ph.ry) & 1) == 0;
            const float* src = m_mosaic.GetImageAdr(m_t.x0, y, 0, 1, nullptr);
            const int own = redRow ? 0 : 2;
            const int other = redRow ? 2 : 0;
            JoinRowOwn(src, m_out[1].Half(y, p) + even.j0, p ^ 1, count, m_dst.GetImageAdr(m_t.x0, y, 1, 0, nullptr));
            JoinRowOwn(src, m_out[own].Half(y, p ^ 1) + even.j0, p, count,
                       m_dst.GetImageAdr(m_t.x0, y, own, 0, nullptr));
            JoinRow(m_out[other].Half(y, 0) + even.j0, m_out[other].Half(y, 1) + even.j0, count,
                    m_dst.GetImageAdr(m_t.x0, y, other, 0, nullptr));
        }
    }

    const CKelImage& m_mosaic;
    CKelImage& m_dst;
    BayerPhase m_ph;
    RcdScale m_scale;
    Box m_t;  // the tile: output pixels
    Box m_e;  // the mosaic read: the tile and kMargin around, inside the image, from an even column
    Box m_image;
    int m_width = 0;
    int m_height = 0;
    int m_chroma = 0;  // (x + y) parity of the red and blue sites
    Halves m_cfa, m_hpA, m_hpB, m_vh, m_lpf, m_green, m_pq, m_red, m_blue;
    Halves m_out[3];
};

void RcdRowsTarget(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, const RcdScale& scale, int y0, int y1,
                   int tileWidth, RcdWorkspace& ws)
{
    const int width = mosaic.GetWidth();
    for (int x0 = 0; x0 < width; x0 += tileWidth) {
        Tile tile(mosaic, dst, ph, scale, ws, Box{x0, y0, std::min(width, x0 + tileWidth), y1});
        tile.Run();
    }
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {

HWY_EXPORT(RcdRowsTarget);

void RcdRows(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, const RcdScale& scale, int y0, int y1,
             int tileWidth, RcdWorkspace& ws)
{
    HWY_DYNAMIC_DISPATCH(RcdRowsTarget)(mosaic, dst, ph, scale, y0, y1, tileWidth, ws);
}

}  // namespace orbimg::detail
#endif  // HWY_ONCE
