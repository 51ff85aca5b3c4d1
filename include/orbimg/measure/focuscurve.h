// CFocusCurve: the best focuser position from the median HFR of frames taken
// at several positions, by a fitted hyperbola and a parabola.
//
// Conventions
//   - Points are (focuser position, median HFR, its standard error) in any
//     units and any order. A point whose position or HFR is not finite, or
//     whose HFR is not above 0, is left out (a frame without stars). The
//     error weighs the point by 1 / error^2; when any point kept lacks a
//     positive finite error, every point weighs 1.
//   - Hyperbola: HFR(x) = a sqrt(1 + ((x - c) / b)^2), a, b > 0 (the shape of
//     a defocused star's size through focus: a the HFR at focus c, a / b the
//     slope of the asymptotes). Fitted by Levenberg-Marquardt from the
//     smallest point and the mean outer slope; at least 4 points.
//   - Parabola: HFR = p0 + p1 x + p2 x^2 by weighted linear least squares
//     over the points nearest the smallest one in position: the smallest
//     HFR and up to two points on either side (at least 3 points);
//     positions are centred and scaled by their spread first. Its vertex
//     -p1 / (2 p2) needs p2 > 0.
//   - Uncertainties: the parameters' covariance (J'WJ)^-1 scaled by the
//     reduced chi-square when there are more points than parameters (so
//     that the scatter about the curve counts even when the errors given
//     are too small); for the parabola the vertex's error follows by first
//     order propagation. Quality: the reduced chi-square and R^2 (the
//     weighted share of the HFR's variance about its mean that the curve
//     explains).
//   - A fit is refused (ok false, a reason given) when it has too few
//     points, does not converge, opens downward, or when its minimum lies
//     outside the positions sampled (below the least or above the greatest).
//     The best position is the hyperbola's when it is accepted, else the
//     parabola's; with neither, the curve is refused with the hyperbola's
//     reason (or "too few frames with stars" when fewer than 3 points).
#pragma once

#include <limits>
#include <string>
#include <vector>

#include "platform/export.h"

struct FocusPoint {
    double position = 0.0;
    double hfr = 0.0;
    double error = 0.0;  ///< standard error of the HFR; <= 0 or NaN: none
};

struct FocusFitResult {
    bool ok = false;
    std::string reason;                                      ///< why it was refused (empty when ok)
    double best = std::numeric_limits<double>::quiet_NaN();  ///< position of the minimum (NaN: none found)
    double bestError = std::numeric_limits<double>::quiet_NaN();
    double minimum = std::numeric_limits<double>::quiet_NaN();  ///< HFR at the minimum
    double chi2 = 0.0;                                          ///< reduced chi-square
    double r2 = 0.0;
    int points = 0;                 ///< points used
    double p[3] = {0.0, 0.0, 0.0};  ///< hyperbola a, b, c; parabola p0, p1, p2 (unscaled x)
};

struct FocusCurveResult {
    bool ok = false;
    std::string reason;
    double best = std::numeric_limits<double>::quiet_NaN();  ///< best focuser position (NaN when refused)
    double bestError = std::numeric_limits<double>::quiet_NaN();
    bool fromHyperbola = false;
    FocusFitResult hyperbola;
    FocusFitResult parabola;
};

class ORBIMG_API CFocusCurve {
public:
    void Add(double position, double hfr, double error = 0.0) { m_points.push_back({position, hfr, error}); }
    void Clear() { m_points.clear(); }
    const std::vector<FocusPoint>& GetPoints() const { return m_points; }
    /// Fits both curves (see Conventions).
    FocusCurveResult Fit() const;
    /// The hyperbola's and the parabola's value at a position.
    static double Hyperbola(const FocusFitResult& fit, double x);
    static double Parabola(const FocusFitResult& fit, double x);

private:
    std::vector<FocusPoint> m_points;
};
