// Demosaicing kernels shared by the methods of CImgDebayer (internal).
//
// Conventions
//   - A mosaic is plane 0 of a float image; its colour filter is described by
//     a BayerPhase: red at the pixels with x mod 2 == rx and y mod 2 == ry,
//     blue at the pixels where both parities differ, green elsewhere.
//   - Every kernel writes the rows it is given and reads the source only, so
//     bands may run on any threads in any order with the same result.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/kelimage.h"

namespace orbimg::detail {

struct BayerPhase {
    int rx;  ///< column parity of the red sites
    int ry;  ///< row parity of the red sites
};

/// Phase of a pattern (CImgDebayer::Pattern) with its cell offsets.
BayerPhase PhaseOf(int pattern, int xOffset, int yOffset);

/// Colour plane of pixel (x, y): 0 red, 1 green, 2 blue.
inline int SiteColour(BayerPhase ph, int x, int y)
{
    const int dx = (x ^ ph.rx) & 1;
    const int dy = (y ^ ph.ry) & 1;
    return dx == dy ? (dx == 0 ? 0 : 2) : 1;
}

/// Rows y - 1, y and y + 1 of a mosaic; `up` and `down` null outside it.
struct MosaicRows {
    const float* up;
    const float* row;
    const float* down;
    int width;
};

MosaicRows RowsAround(const CKelImage& mosaic, int y);

/// The bilinear value of `plane` at (x, y): the sample itself for its own
/// colour, else the mean of the finite neighbours of that colour in the
/// 3 x 3 window (float sum in row order, then / count), NaN when there is
/// none.
float BilinearAt(const MosaicRows& rows, BayerPhase ph, int x, int y, int plane);

/// Columns 1 .. n - 2 of an interior bilinear row whose red or blue sites
/// (colour A, at columns of parity a) are on this row and the other chroma
/// C on the rows above and below; means of the 3 x 3 window in its row
/// order (a NaN neighbour makes a mean NaN: the caller mends those).
void BilinearInteriorRow(const float* up, const float* s, const float* dn, int n, int a, float* outA, float* outG,
                         float* outC);
/// Number of NaN samples among n of each of three rows.
int CountNaN(const float* a, const float* b, const float* c, int n);
/// One output row of super-pixels (n pixels) from the cell rows t and b.
void SuperPixelRow(const float* t, const float* b, int n, BayerPhase ph, float* r, float* g, float* bl);
/// Extremes of the finite samples of a row as order-preserving integer keys
/// (key of a float: its bits with the magnitude bits flipped when negative),
/// folded into *low and *high.
void KeyExtremes(const float* row, int n, std::int32_t* low, std::int32_t* high);

/// Rows y0 .. y1 - 1 of the bilinear result into planes 0..2 of dst.
void BilinearRows(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, int y0, int y1);

/// Output rows y0 .. y1 - 1 of the super-pixel result into planes 0..2 of dst.
void SuperPixelRows(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, int y0, int y1);

/// The 0..1 scale RCD works in: n = (v - lo) x inv, back v = n x range + lo.
struct RcdScale {
    float lo;
    float range;
    float inv;
    float least;     ///< the least finite sample: estimates are held to least .. most
    float greatest;  ///< the greatest finite sample
};

/// The scale of a mosaic: lo = min(0, least finite sample), range = greatest
/// finite sample - lo (1 when not positive); least and greatest the finite
/// samples' extremes (-inf and +inf when there is none).
RcdScale MeasureRcdScale(const CKelImage& mosaic);

/// Working buffers of one thread's RCD tiles.
struct RcdWorkspace {
    std::vector<float> cfa, hpA, hpB, vh, lpf, green, pq, red, blue;
    std::vector<float> out[3];
};

/// Rows y0 .. y1 - 1 of the RCD result into planes 0..2 of dst, in tiles of
/// at most tileWidth columns.
void RcdRows(const CKelImage& mosaic, CKelImage& dst, BayerPhase ph, const RcdScale& scale, int y0, int y1,
             int tileWidth, RcdWorkspace& ws);

}  // namespace orbimg::detail
