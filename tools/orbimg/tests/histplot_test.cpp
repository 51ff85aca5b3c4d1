// The histogram plot (its table: golden/runs.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "histplot.h"

namespace orbimg::tool {
namespace {

using Rgb = std::array<unsigned char, 3>;

Rgb Pixel(const Raster& r, int x, int y)
{
    const std::size_t at = (static_cast<std::size_t>(y) * r.width + x) * 3;
    return {r.samples[at], r.samples[at + 1], r.samples[at + 2]};
}

/// The rows of column x in colour c: the first and last (-1 when none).
std::pair<int, int> Span(const Raster& r, int x, Rgb c)
{
    std::pair<int, int> span{-1, -1};
    for (int y = 0; y < r.height; ++y) {
        if (Pixel(r, x, y) == c) {
            span = {span.first < 0 ? y : span.first, y};
        }
    }
    return span;
}

// Bars: the largest count reaches the top of the y axis, half of it half as
// high, empty bins nothing; a marker left of the window sits on its left edge.
TEST(HistogramPlot, BarsScaleToTheAxisAndMarkersClamp)
{
    HistogramPlot plot;
    plot.lo = 0.0;
    plot.hi = 4.0;
    plot.series = {HistogramSeries{'L', {0, 100, 50, 0}}};
    plot.markers = {HistogramMarker{-7.0, 'B'}};
    const Raster r = DrawHistogram(plot, 200, 120);
    ASSERT_EQ(r.width, 200);
    ASSERT_EQ(r.height, 120);
    // The marker is the first coloured column, right of the y axis.
    int axis = 0;
    while (Span(r, axis + 1, SeriesColour('B')).first < 0) {
        ASSERT_LT(++axis, r.width);
    }
    const int top = Span(r, axis, Rgb{0, 0, 0}).first;
    int bottom = 0;  // the x axis row
    while (Pixel(r, axis + 2, bottom) != Rgb{0, 0, 0}) {
        ASSERT_LT(++bottom, r.height);
    }
    std::vector<int> heights;  // per column right of the marker, 0 when no bar
    for (int x = axis + 2; x < r.width; ++x) {
        const int y = Span(r, x, SeriesColour('L')).first;
        heights.push_back(y < 0 ? 0 : bottom - y);
    }
    const int tallest = *std::max_element(heights.begin(), heights.end());
    EXPECT_EQ(tallest, bottom - top);
    EXPECT_GT(std::count(heights.begin(), heights.end(), tallest / 2), 10);
    EXPECT_EQ(heights.front(), 0);
    EXPECT_EQ(heights.back(), 0);
}

// Decades of a logarithmic count axis: every one while they stand 14 pixels
// apart, then every 2nd, 5th, 10th.
TEST(HistogramPlot, LogAxisTickedAtDecades)
{
    struct Case {
        int peak, height;
        std::vector<int> want;
    };
    const Case cases[] = {{0, 64, {0}},
                          {9999, 64, {0}},
                          {30000, 64, {0, 1, 2, 3}},
                          {36000, 64, {0, 1, 2, 3}},
                          {90000, 64, {0, 2, 4, 6, 8}},
                          {90000, 26, {0, 5}},
                          {90000, 5, {0}}};
    for (const Case& c : cases) {
        EXPECT_EQ(DecadeTicks(c.peak, c.height, 14), c.want) << "peak " << c.peak << ", height " << c.height;
    }
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
