// Histograms as the `histogram` command shows them: a text table, or a PNG
// plot with axes, tick labels and the display levels marked.
//
// Conventions
//   - A histogram is `bins` counts over the value window lo..hi: bin i covers
//     lo + i (hi - lo) / bins up to the next edge. The counts come as the
//     library fills them (already logarithmic when asked for).
//   - Plot: white background, black axes; each series a filled outline in
//     its colour (see SeriesColour); each marker a dashed vertical line
//     (a midtone marker in finer dashes). The x axis is ticked at round
//     values (steps of 1, 2 or 5 times a power of ten) labelled as plain
//     numbers, never in exponent form.
//     Columns that cover several bins show the largest; the y axis runs from
//     0 to the largest count of all series (labelled 0 and that count), or
//     on a logarithmic plot from a count of 1 to the largest, ticked at the
//     decades 1, 10, 100, ... (see DecadeTicks). Values outside lo..hi put a
//     marker on the nearer edge.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "dibfile.h"

namespace orbimg::tool {

struct HistogramSeries {
    char name = 'L';          ///< 'R', 'G', 'B' or 'L': the colour it is drawn in
    std::vector<int> counts;  ///< one per bin
};

struct HistogramMarker {
    double value = 0.0;    ///< in sample units
    char series = 'L';     ///< drawn in that series' colour
    bool midtone = false;  ///< a stretch's midtone (finer dashes) rather than a level
};

struct HistogramPlot {
    double lo = 0.0;
    double hi = 1.0;
    std::vector<HistogramSeries> series;
    std::vector<HistogramMarker> markers;  ///< the display levels, say
    bool logCounts = false;                ///< counts are 10000 log10(count)
};

/// Colour of a series name: R red, G green, B blue, anything else dark grey.
std::array<unsigned char, 3> SeriesColour(char name);

/// The table: a comment line, then per bin its lower and upper edge and the
/// count of each series (%.6g edges).
void PrintHistogramTable(const HistogramPlot& plot, const std::string& title, std::ostream& out);

/// Draws the plot into an RGB raster of width x height (at least 160 x 100).
Raster DrawHistogram(const HistogramPlot& plot, int width = 800, int height = 400);

/// Round tick values within lo .. hi (both ends included): the multiples of
/// the smallest step of 1, 2 or 5 times a power of ten that gives at most
/// `most` of them. Empty when hi <= lo or either is not finite.
std::vector<double> TickValues(double lo, double hi, int most);
/// Decades of a logarithmic count axis (counts 10000 log10(count), `peak`
/// the largest, `height` pixels tall): the exponents 0, k, 2k, ... whose
/// count 10^e the axis reaches, k the least of 1, 2, 5, 10, 20, ... that
/// keeps the ticks at least `least` pixels apart. {0} when peak < 10000.
std::vector<int> DecadeTicks(int peak, int height, int least);
/// A tick value as a plain number with the decimals its step needs
/// ("20000", "0.0015", "-2.5").
std::string TickLabel(double value, double step);

}  // namespace orbimg::tool
