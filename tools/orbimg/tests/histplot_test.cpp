// Histogram table and plot.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "histplot.h"

namespace orbimg::tool {
namespace {

std::array<unsigned char, 3> Pixel(const Raster& r, int x, int y)
{
    const std::size_t at = (static_cast<std::size_t>(y) * r.width + x) * 3;
    return {r.samples[at], r.samples[at + 1], r.samples[at + 2]};
}

TEST(HistogramTable, EdgesAndCounts)
{
    HistogramPlot plot;
    plot.lo = 0.0;
    plot.hi = 100.0;
    plot.series = {HistogramSeries{'R', {1, 2, 3, 4}}, HistogramSeries{'G', {5, 6, 7, 8}}};
    std::ostringstream out;
    PrintHistogramTable(plot, "test", out);
    EXPECT_EQ(out.str(),
              "# test\n"
              "#          from            to       count R       count G\n"
              "              0            25             1             5\n"
              "             25            50             2             6\n"
              "             50            75             3             7\n"
              "             75           100             4             8\n");
}

TEST(HistogramPlot, BarsAxesAndMarkers)
{
    HistogramPlot plot;
    plot.lo = 0.0;
    plot.hi = 4.0;
    plot.series = {HistogramSeries{'L', {0, 100, 50, 0}}};
    plot.markers = {HistogramMarker{2.0, 'R'}, HistogramMarker{-7.0, 'B'}};
    const Raster r = DrawHistogram(plot, 200, 120);
    ASSERT_EQ(r.width, 200);
    ASSERT_EQ(r.height, 120);
    ASSERT_EQ(r.channels, 3);
    // Layout: the label "100" makes the left margin 30, the plot 154 wide
    // (columns 30..183), rows 12..95, the x axis on row 96.
    const std::array<unsigned char, 3> black{0, 0, 0};
    const std::array<unsigned char, 3> white{255, 255, 255};
    EXPECT_EQ(Pixel(r, 100, 96), black);
    EXPECT_EQ(Pixel(r, 29, 50), black);
    // Bin 1 (columns 68..106) reaches the top; bin 2 half way; bins 0 and 3 stay empty.
    EXPECT_EQ(Pixel(r, 80, 12), SeriesColour('L'));
    EXPECT_NE(Pixel(r, 80, 60), white);  // filled below the outline
    EXPECT_EQ(Pixel(r, 130, 40), white);
    EXPECT_NE(Pixel(r, 130, 80), white);
    EXPECT_EQ(Pixel(r, 40, 50), white);
    EXPECT_EQ(Pixel(r, 170, 50), white);
    // The marker at 2.0 is a dashed red column at the middle; the one left of
    // the window sits on the left edge.
    const int middle = 30 + static_cast<int>(std::lround(0.5 * 153));
    EXPECT_EQ(Pixel(r, middle, 16), SeriesColour('R'));
    EXPECT_EQ(Pixel(r, 30, 16), SeriesColour('B'));
}

// Decades of a logarithmic count axis: every one while they stand 14 pixels
// apart, then every 2nd, 5th, 10th.
TEST(HistogramPlot, LogAxisTickedAtDecades)
{
    struct Case {
        int peak, height;
        std::vector<int> want;
    };
    const Case cases[] = {{0, 64, {0}},           {9999, 64, {0}},          {30000, 64, {0, 1, 2, 3}},
                          {36000, 64, {0, 1, 2, 3}}, {90000, 64, {0, 2, 4, 6, 8}}, {90000, 26, {0, 5}},
                          {90000, 5, {0}}};
    for (const Case& c : cases) {
        EXPECT_EQ(DecadeTicks(c.peak, c.height, 14), c.want) << "peak " << c.peak << ", height " << c.height;
    }
    // Drawn: counts 1, 1000 and 100 (log counts 0, 30000, 20000) on a plot
    // 84 rows tall (rows 12..95): ticks left of the axis at rows 96, 68, 40, 12.
    HistogramPlot plot;
    plot.series = {HistogramSeries{'L', {0, 30000, 20000}}};
    plot.logCounts = true;
    const Raster r = DrawHistogram(plot, 200, 120);
    const std::array<unsigned char, 3> black{0, 0, 0};
    for (const int row : {96, 68, 40, 12}) {
        EXPECT_EQ(Pixel(r, 31, row), black) << "tick on row " << row;  // "1000" makes the left margin 33
    }
    EXPECT_NE(Pixel(r, 31, 54), black);
}

TEST(HistogramPlot, EmptyAndFlatInputsDrawOnlyTheFrame)
{
    HistogramPlot plot;
    plot.series = {HistogramSeries{'G', {0, 0, 0}}};
    plot.markers = {HistogramMarker{std::nan(""), 'G'}};
    plot.lo = plot.hi = 5.0;
    const Raster r = DrawHistogram(plot, 10, 10);  // raised to the least size
    EXPECT_EQ(r.width, 160);
    EXPECT_EQ(r.height, 100);
}

}  // namespace
}  // namespace orbimg::tool
