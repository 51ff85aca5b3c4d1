// The adaptive palette: lightness bands with quotas, the most frequent
// colours of each band, spread picks farthest from the colours taken, and the
// nearest-entry lookup.
#include "display/palette.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orbimg::detail {

namespace {

constexpr int kBands = 8;
constexpr int kHeldBack = 16;  // slots kept for the spread picks
constexpr int kBandSlots = kPaletteSize - kHeldBack;
constexpr double kBandWeight[kBands] = {20, 28, 37, 48, 45, 32, 20, 10};
constexpr int kFarthest = 3 * 255 * 255;  // start of the least distance
constexpr int kDistanceCap = 65536;

// Bucket centres and lightness of every colour, and for each band the
// colours whose lightness lies in its window 224 - 32b .. 256 - 32b (both
// ends inclusive, so boundary colours belong to two bands), ascending.
struct ColorSpace {
    int red[kColorCodes];
    int green[kColorCodes];
    int blue[kColorCodes];
    int lightness[kColorCodes];
    std::vector<int> window[kBands];

    ColorSpace()
    {
        for (int c = 0; c < kColorCodes; ++c) {
            red[c] = ((c >> 10) & 31) * 8 + 4;
            green[c] = ((c >> 5) & 31) * 8 + 4;
            blue[c] = (c & 31) * 8 + 4;
            const int hi = std::max({red[c], green[c], blue[c]});
            const int lo = std::min({red[c], green[c], blue[c]});
            lightness[c] = (hi + lo) / 2;
        }
        for (int b = 0; b < kBands; ++b) {
            const int lo = 224 - 32 * b;
            const int hi = 256 - 32 * b;
            for (int c = 0; c < kColorCodes; ++c) {
                if (lo <= lightness[c] && lightness[c] <= hi) {
                    window[b].push_back(c);
                }
            }
        }
    }
};

const ColorSpace& Colors()
{
    static const ColorSpace space;
    return space;
}

// Squared distance of every colour's centre to one entry, capped at `cap`,
// lowering dist[c] where smaller (all colours: the loop vectorises; callers
// use only the entries they need).
void LowerDistances(const ColorSpace& cs, const RGBQUAD& e, int cap, int* dist)
{
    const int er = e.rgbRed;
    const int eg = e.rgbGreen;
    const int eb = e.rgbBlue;
    for (int c = 0; c < kColorCodes; ++c) {
        const int dr = cs.red[c] - er;
        const int dg = cs.green[c] - eg;
        const int db = cs.blue[c] - eb;
        int d = dr * dr + dg * dg + db * db;
        d = d < cap ? d : cap;
        dist[c] = d < dist[c] ? d : dist[c];
    }
}

void SetEntry(const ColorSpace& cs, int c, RGBQUAD& e)
{
    e.rgbRed = static_cast<BYTE>(cs.red[c]);
    e.rgbGreen = static_cast<BYTE>(cs.green[c]);
    e.rgbBlue = static_cast<BYTE>(cs.blue[c]);
    e.rgbReserved = 0;
}

// Slot boundaries of the bands: bound[b] .. bound[b + 1] - 1 belong to band
// b. False when the table holds no colour.
bool BandBounds(const ColorSpace& cs, const int* table, int bound[kBands + 1])
{
    long long sum[kBands] = {};
    int distinct[kBands] = {};
    for (int c = 0; c < kColorCodes; ++c) {
        if (table[c] > 0) {
            const int b = (255 - cs.lightness[c]) / 32;
            sum[b] += table[c];
            ++distinct[b];
        }
    }
    double root[kBands];
    double total = 0.0;
    for (int b = 0; b < kBands; ++b) {
        root[b] = std::sqrt(static_cast<double>(sum[b]));
        total += root[b];
    }
    if (!(total > 0.0)) {
        return false;
    }
    double quota[kBands];
    double quotaSum = 0.0;
    for (int b = 0; b < kBands; ++b) {
        double q = kBandWeight[b] * root[b] / total * 8.0;
        if (q < 8.0) {
            q = 8.0;
        }
        if (distinct[b] < q) {
            q = distinct[b];
        }
        if (1.5 * kBandWeight[b] < q) {
            q = 1.5 * kBandWeight[b];
        }
        quota[b] = q;
        quotaSum += q;
    }
    const double scale = static_cast<double>(kBandSlots) / quotaSum;
    double acc = 0.0;
    bound[0] = 0;
    for (int b = 0; b < kBands; ++b) {
        acc += quota[b] * scale;
        // The sum comes to kBandSlots; the bound only guards the arrays.
        bound[b + 1] = std::min(static_cast<int>(acc + 0.5), kBandSlots);
    }
    return true;
}

}  // namespace

void MakePalette(int* table, RGBQUAD* palette)
{
    const ColorSpace& cs = Colors();
    for (int s = 0; s < kPaletteSize; ++s) {
        palette[s] = RGBQUAD{0, 0, 0, 0};
    }
    int bound[kBands + 1];
    if (!BandBounds(cs, table, bound)) {
        std::fill(table, table + kColorCodes, 0);
        return;
    }

    // Band picks: each slot takes the band's most frequent colour left, the
    // higher colour on equal counts; colour 0 when none is left.
    for (int b = 0; b < kBands; ++b) {
        const std::vector<int>& window = cs.window[b];
        for (int s = bound[b]; s < bound[b + 1]; ++s) {
            int best = 0;
            int bestCount = 0;
            for (const int c : window) {
                if (table[c] > 0 && table[c] >= bestCount) {
                    best = c;
                    bestCount = table[c];
                }
            }
            SetEntry(cs, best, palette[s]);
            table[best] = -s;
        }
    }

    // Least distance of every colour to the band picks.
    std::vector<int> dist(kColorCodes, kFarthest);
    const int bandEnd = bound[kBands];
    for (int s = 0; s < bandEnd; ++s) {
        LowerDistances(cs, palette[s], kDistanceCap, dist.data());
    }
    for (int c = 0; c < kColorCodes; ++c) {
        if (table[c] > 0) {
            table[c] = std::min(kDistanceCap, dist[c]);
        }
    }

    // Spread picks: the colour farthest from every entry so far, the lower
    // colour on equal distances; colour 0 when none is left.
    for (int s = bandEnd; s < kPaletteSize; ++s) {
        if (s > 0) {
            LowerDistances(cs, palette[s - 1], kDistanceCap, dist.data());
        }
        int best = 0;
        int bestDist = 0;
        for (int c = 0; c < kColorCodes; ++c) {
            if (table[c] > 0) {
                table[c] = std::min(table[c], dist[c]);
                if (table[c] > bestDist) {
                    best = c;
                    bestDist = table[c];
                }
            }
        }
        SetEntry(cs, best, palette[s]);
        table[best] = -s;
    }

    // Lookup: picked colours keep their slot, colours never seen index 0,
    // the rest the nearest entry (the lower entry on equal distances).
    std::vector<int> nearest(kColorCodes, 0);
    std::fill(dist.begin(), dist.end(), kFarthest + 1);
    for (int s = 0; s < kPaletteSize; ++s) {
        const int er = palette[s].rgbRed;
        const int eg = palette[s].rgbGreen;
        const int eb = palette[s].rgbBlue;
        for (int c = 0; c < kColorCodes; ++c) {
            const int dr = cs.red[c] - er;
            const int dg = cs.green[c] - eg;
            const int db = cs.blue[c] - eb;
            const int d = dr * dr + dg * dg + db * db;
            const bool closer = d < dist[c];
            dist[c] = closer ? d : dist[c];
            nearest[c] = closer ? s : nearest[c];
        }
    }
    for (int c = 0; c < kColorCodes; ++c) {
        const int t = table[c];
        table[c] = t < 0 ? -t : (t == 0 ? 0 : nearest[c]);
    }
}

}  // namespace orbimg::detail
