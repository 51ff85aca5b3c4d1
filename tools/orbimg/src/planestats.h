// Statistics of one plane, computed by the tool itself (the figures `orbimg
// info` prints before any library measurement).
//
// Conventions
//   - Only finite samples count; NaN and infinite samples are counted as
//     blank and otherwise ignored.
//   - mean: sum of the samples in double, in row order, divided by the
//     count. std dev: the population standard deviation (divided by the
//     count, not count - 1), from a second pass about the mean, in double.
//   - median: the sample at index count / 2 of the sorted finite samples,
//     the upper of the two middle ones for an even count (as the library's
//     own medians).
//   - A plane without finite samples has count 0 and every figure NaN.
#pragma once

#include <cmath>
#include <optional>
#include <utility>

#include "orbimg.h"

namespace orbimg::tool {

struct PlaneStats {
    long long finite = 0;  ///< samples that count
    long long blank = 0;   ///< NaN or infinite samples
    double min = 0.0;
    double max = 0.0;
    double mean = 0.0;
    double stddev = 0.0;
    double median = 0.0;
};

/// Statistics of one plane of the whole image, in two passes over it and no
/// copy of it. `withMedian` false skips the median; it is then NaN.
PlaneStats MeasurePlane(const CKelImage& image, int plane, bool withMedian = true);

/// Replaces every sample of the plane that is not finite by `value`;
/// returns how many were replaced.
long long FillBlanks(CKelImage& image, int plane, float value);

/// Lowers lo and raises hi to the least and greatest finite sample of
/// row[0 .. width - 1]; NaN and infinite samples are skipped.
void ExtendFiniteExtremes(const float* row, int width, float& lo, float& hi);
/// Least and greatest finite sample of a plane; nothing when there is none.
std::optional<std::pair<float, float>> FiniteExtremes(const CKelImage& image, int plane);

/// The upper end of a window over flat data at `low`: low + 1, or the next
/// double above low where low + 1 rounds back to low (|low| >= 2^53).
inline double LevelAbove(double low) { return low + 1.0 != low ? low + 1.0 : std::nextafter(low, HUGE_VAL); }

}  // namespace orbimg::tool
