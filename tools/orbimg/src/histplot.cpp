// Histogram table and plot, with a small bitmap font for the tick labels.
#include "histplot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace orbimg::tool {
namespace {

using Rgb = std::array<unsigned char, 3>;

/// 5 x 7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char c;
    unsigned char rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}}, {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
};

class Canvas {
public:
    Canvas(int width, int height, Rgb background)
    {
        m_raster.width = width;
        m_raster.height = height;
        m_raster.channels = 3;
        m_raster.samples.resize(static_cast<std::size_t>(width) * height * 3);
        for (std::size_t i = 0; i < m_raster.samples.size(); i += 3) {
            std::copy(background.begin(), background.end(), m_raster.samples.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    void Dot(int x, int y, Rgb c)
    {
        if (x >= 0 && y >= 0 && x < m_raster.width && y < m_raster.height) {
            const std::size_t at = (static_cast<std::size_t>(y) * m_raster.width + x) * 3;
            std::copy(c.begin(), c.end(), m_raster.samples.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    void Column(int x, int y0, int y1, Rgb c, int dash = 0)
    {
        for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y) {
            if (dash == 0 || (y / dash) % 2 == 0) {
                Dot(x, y, c);
            }
        }
    }
    void Row(int y, int x0, int x1, Rgb c)
    {
        for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x) {
            Dot(x, y, c);
        }
    }
    /// Text with its top-left corner at (x, y); characters without a glyph are blank.
    void Text(int x, int y, const std::string& text, Rgb c)
    {
        for (const char ch : text) {
            for (const Glyph& g : kFont) {
                if (g.c != ch) {
                    continue;
                }
                for (int r = 0; r < 7; ++r) {
                    for (int k = 0; k < 5; ++k) {
                        if (g.rows[r] & (0x10 >> k)) {
                            Dot(x + k, y + r, c);
                        }
                    }
                }
            }
            x += 6;
        }
    }
    static int TextWidth(const std::string& text) { return static_cast<int>(text.size()) * 6 - 1; }
    Raster Take() { return std::move(m_raster); }

private:
    Raster m_raster;
};

// A count as a plain whole number.
std::string Label(double v)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.0f", v);
    return text;
}

// The step between the values TickValues gives.
double TickStep(double lo, double hi, int most)
{
    const double span = hi - lo;
    const double raw = span / std::max(1, most - 1);
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (;;) {
        for (const double m : {1.0, 2.0, 5.0}) {
            const double step = m * power;
            if (std::floor(hi / step) - std::ceil(lo / step) + 1 <= most) {
                return step;
            }
        }
        power *= 10.0;
    }
}

Rgb Lighter(Rgb c)
{
    return Rgb{static_cast<unsigned char>((c[0] + 3 * 255) / 4), static_cast<unsigned char>((c[1] + 3 * 255) / 4),
               static_cast<unsigned char>((c[2] + 3 * 255) / 4)};
}

}  // namespace

std::array<unsigned char, 3> SeriesColour(char name)
{
    switch (name) {
    case 'R':
        return {210, 40, 40};
    case 'G':
        return {30, 150, 40};
    case 'B':
        return {40, 80, 220};
    default:
        return {60, 60, 60};
    }
}

void PrintHistogramTable(const HistogramPlot& plot, const std::string& title, std::ostream& out)
{
    std::size_t bins = 0;
    out << "# " << title << "\n#          from            to";
    for (const auto& s : plot.series) {
        bins = std::max(bins, s.counts.size());
        out << (plot.logCounts ? " log10 count " : "       count ") << s.name;
    }
    out << '\n';
    char line[64];
    for (std::size_t i = 0; i < bins; ++i) {
        const double from = plot.lo + (plot.hi - plot.lo) * static_cast<double>(i) / static_cast<double>(bins);
        const double to = plot.lo + (plot.hi - plot.lo) * static_cast<double>(i + 1) / static_cast<double>(bins);
        std::snprintf(line, sizeof line, "%15.6g %13.6g", from, to);
        out << line;
        for (const auto& s : plot.series) {
            const int count = i < s.counts.size() ? s.counts[i] : 0;
            if (plot.logCounts) {
                std::snprintf(line, sizeof line, " %13.4f", count / 10000.0);
            } else {
                std::snprintf(line, sizeof line, " %13d", count);
            }
            out << line;
        }
        out << '\n';
    }
}

Raster DrawHistogram(const HistogramPlot& plot, int width, int height)
{
    width = std::max(width, 160);
    height = std::max(height, 100);
    constexpr Rgb kWhite{255, 255, 255};
    constexpr Rgb kBlack{0, 0, 0};
    Canvas canvas(width, height, kWhite);

    int peak = 0;
    for (const auto& s : plot.series) {
        for (const int c : s.counts) {
            peak = std::max(peak, c);
        }
    }
    const int top = 12;
    const int bottom = height - 24;  // the x axis row
    const int plotHeight = bottom - top;
    // The y labels: 0 and the largest count, or the decades of a logarithmic axis.
    std::vector<std::pair<int, std::string>> yLabels;  // (row, text)
    if (plot.logCounts) {
        for (const int e : DecadeTicks(peak, plotHeight, 14)) {
            const long long h = peak > 0 ? 10000LL * e * plotHeight / peak : 0;
            yLabels.emplace_back(bottom - static_cast<int>(h), Label(std::pow(10.0, e)));
        }
    } else {
        yLabels = {{bottom, "0"}, {top, std::to_string(peak)}};
    }
    int labelWidth = 0;
    for (const auto& label : yLabels) {
        labelWidth = std::max(labelWidth, Canvas::TextWidth(label.second));
    }
    const int left = std::max(labelWidth + 10, 30);
    const int right = width - 16;
    const int plotWidth = right - left;

    for (const auto& s : plot.series) {
        const Rgb colour = SeriesColour(s.name);
        const Rgb fill = Lighter(colour);
        const std::size_t bins = s.counts.size();
        int previous = -1;
        for (int c = 0; c < plotWidth && bins > 0; ++c) {
            // Bins under this column: the largest count shows.
            const std::size_t b0 = static_cast<std::size_t>(c) * bins / plotWidth;
            const std::size_t b1 = std::max(b0 + 1, static_cast<std::size_t>(c + 1) * bins / plotWidth);
            int count = 0;
            for (std::size_t b = b0; b < b1 && b < bins; ++b) {
                count = std::max(count, s.counts[b]);
            }
            const int h =
                peak > 0 ? static_cast<int>(static_cast<long long>(std::max(count, 0)) * plotHeight / peak) : 0;
            const int y = bottom - h;
            if (plot.series.size() == 1 && h > 0) {
                canvas.Column(left + c, bottom - 1, y + 1, fill);
            }
            canvas.Column(left + c, previous < 0 ? y : previous, y, colour);
            previous = y;
        }
    }

    const double span = plot.hi - plot.lo;
    for (const auto& marker : plot.markers) {
        double f = span > 0 ? (marker.value - plot.lo) / span : 0.0;
        f = std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0;
        const int x = left + static_cast<int>(std::lround(f * (plotWidth - 1)));
        canvas.Column(x, top, bottom - 1, SeriesColour(marker.series), marker.midtone ? 2 : 4);
    }

    // Axes, ticks and labels: round values, about one per 90 pixels.
    canvas.Row(bottom, left - 1, right, kBlack);
    canvas.Column(left - 1, top, bottom, kBlack);
    const int most = std::max(2, plotWidth / 90 + 1);
    const std::vector<double> ticks = TickValues(plot.lo, plot.hi, most);
    const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1.0;
    for (const double value : ticks) {
        const int x = left + static_cast<int>(std::lround((value - plot.lo) / span * (plotWidth - 1)));
        canvas.Column(x, bottom, bottom + 3, kBlack);
        const std::string text = TickLabel(value, step);
        const int w = Canvas::TextWidth(text);
        canvas.Text(std::clamp(x - w / 2, 0, width - w), bottom + 7, text, kBlack);
    }
    for (const auto& [row, text] : yLabels) {
        canvas.Row(row, left - 4, left - 1, kBlack);
        canvas.Text(left - 6 - Canvas::TextWidth(text), row - 3, text, kBlack);
    }
    return canvas.Take();
}

}  // namespace orbimg::tool

namespace orbimg::tool {

std::vector<double> TickValues(double lo, double hi, int most)
{
    std::vector<double> ticks;
    if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi) || most < 1) {
        return ticks;
    }
    const double step = TickStep(lo, hi, most);
    for (double k = std::ceil(lo / step); k <= std::floor(hi / step); k += 1.0) {
        // Multiples of the step, 0 as +0.
        ticks.push_back(k == 0.0 ? 0.0 : k * step);
    }
    return ticks;
}

std::vector<int> DecadeTicks(int peak, int height, int least)
{
    const int decades = std::max(0, peak) / 10000;
    int step = 1;
    bool found = decades == 0 || height <= 0;
    for (int power = 1; !found; power *= 10) {
        for (const int m : {1, 2, 5}) {
            step = m * power;
            // Ticks `step` decades apart stand 10000 step height / peak pixels apart.
            found = 10000LL * step * height >= static_cast<long long>(least) * peak || step >= decades;
            if (found) {
                break;
            }
        }
    }
    std::vector<int> ticks;
    for (int e = 0; e <= decades; e += step) {
        ticks.push_back(e);
    }
    return ticks;
}

std::string TickLabel(double value, double step)
{
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string label = text;
    if (label == "-0" || label.find_first_not_of("-0.") == std::string::npos) {
        label = std::string(decimals > 0 ? "0." + std::string(static_cast<std::size_t>(decimals), '0') : "0");
    }
    return label;
}

}  // namespace orbimg::tool
