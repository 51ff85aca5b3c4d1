// CFocusCurve: a hyperbola by Levenberg-Marquardt and a parabola by linear
// least squares through HFR against focuser position.
#include "measure/focuscurve.h"

#include <algorithm>
#include <cmath>

#include "measure/lmfit.h"

namespace {

struct Scaled {
    std::vector<double> x;  // (position - centre) / scale
    std::vector<double> y;
    std::vector<double> w;
    double centre = 0.0;
    double scale = 1.0;
    double lo = 0.0;  // sampled positions, unscaled
    double hi = 0.0;
};

Scaled Prepare(const std::vector<FocusPoint>& points)
{
    Scaled s;
    bool weighted = true;
    std::vector<FocusPoint> kept;
    for (const FocusPoint& p : points) {
        if (std::isfinite(p.position) && std::isfinite(p.hfr) && p.hfr > 0.0) {
            kept.push_back(p);
            weighted = weighted && std::isfinite(p.error) && p.error > 0.0;
        }
    }
    // By position; equal positions keep the order they were added in.
    std::vector<std::size_t> order(kept.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&kept](std::size_t i, std::size_t j) {
        return kept[i].position < kept[j].position || (kept[i].position == kept[j].position && i < j);
    });
    std::vector<FocusPoint> sorted;
    sorted.reserve(kept.size());
    for (const std::size_t i : order) {
        sorted.push_back(kept[i]);
    }
    kept.swap(sorted);
    if (kept.empty()) {
        return s;
    }
    double sum = 0.0;
    for (const FocusPoint& p : kept) {
        sum += p.position;
    }
    s.centre = sum / static_cast<double>(kept.size());
    double squares = 0.0;
    for (const FocusPoint& p : kept) {
        squares += (p.position - s.centre) * (p.position - s.centre);
    }
    s.scale = std::sqrt(squares / static_cast<double>(kept.size()));
    if (!(s.scale > 0.0)) {
        s.scale = 1.0;
    }
    s.lo = kept.front().position;
    s.hi = kept.back().position;
    for (const FocusPoint& p : kept) {
        s.x.push_back((p.position - s.centre) / s.scale);
        s.y.push_back(p.hfr);
        s.w.push_back(weighted ? 1.0 / (p.error * p.error) : 1.0);
    }
    return s;
}

/// Reduced chi-square and R^2 of the residuals r.
void Quality(const std::vector<double>& y, const std::vector<double>& w, const std::vector<double>& model, int params,
             FocusFitResult& out)
{
    double sw = 0.0;
    double swy = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        sw += w[i];
        swy += w[i] * y[i];
    }
    const double mean = swy / sw;
    double res = 0.0;
    double tot = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        res += w[i] * (y[i] - model[i]) * (y[i] - model[i]);
        tot += w[i] * (y[i] - mean) * (y[i] - mean);
    }
    const int dof = static_cast<int>(y.size()) - params;
    out.chi2 = dof > 0 ? res / dof : 0.0;
    out.r2 = tot > 0.0 ? 1.0 - res / tot : 1.0;
}

class HyperbolaProblem : public orbimg::detail::LmProblem {
public:
    explicit HyperbolaProblem(const Scaled& s) : m_s(s) {}
    int Count() const override { return 3; }
    bool Valid(const double* p) const override { return p[0] > 0.0 && p[1] > 0.0 && std::isfinite(p[2]); }
    double Evaluate(const double* p, double* jtj, double* jtr) const override
    {
        if (jtj) {
            std::fill(jtj, jtj + 9, 0.0);
            std::fill(jtr, jtr + 3, 0.0);
        }
        double rss = 0.0;
        for (std::size_t i = 0; i < m_s.x.size(); ++i) {
            const double t = (m_s.x[i] - p[2]) / p[1];
            const double root = std::sqrt(1.0 + t * t);
            const double r = m_s.y[i] - p[0] * root;
            rss += m_s.w[i] * r * r;
            if (jtj) {
                const double g[3] = {root, -p[0] * t * t / (p[1] * root), -p[0] * t / (p[1] * root)};
                for (int a = 0; a < 3; ++a) {
                    jtr[a] += m_s.w[i] * g[a] * r;
                    for (int b = 0; b < 3; ++b) {
                        jtj[a * 3 + b] += m_s.w[i] * g[a] * g[b];
                    }
                }
            }
        }
        return rss;
    }

private:
    const Scaled& m_s;
};

FocusFitResult FitHyperbola(const Scaled& s)
{
    FocusFitResult out;
    const int n = static_cast<int>(s.x.size());
    out.points = n;
    if (n < 4) {
        out.reason = "the hyperbola needs at least 4 frames with stars";
        return out;
    }
    const std::size_t m = static_cast<std::size_t>(std::min_element(s.y.begin(), s.y.end()) - s.y.begin());
    double p[orbimg::detail::kLmMaxParams] = {s.y[m], 1.0, s.x[m]};
    double slope = 0.0;
    int slopes = 0;
    for (int i = 0; i < n; ++i) {
        const double d = std::fabs(s.x[static_cast<std::size_t>(i)] - p[2]);
        const double rise = s.y[static_cast<std::size_t>(i)] * s.y[static_cast<std::size_t>(i)] - p[0] * p[0];
        if (d > 0.0 && rise > 0.0) {
            slope += std::sqrt(rise) / d;
            ++slopes;
        }
    }
    p[0] *= 0.95;
    p[1] = slopes > 0 && slope > 0.0 ? p[0] / (slope / slopes) : 1.0;
    const HyperbolaProblem problem(s);
    const orbimg::detail::LmResult result = orbimg::detail::SolveLm(problem, p, 200);
    if (!result.converged || !problem.Valid(p)) {
        out.reason = "the hyperbola fit did not converge";
        return out;
    }
    std::vector<double> model;
    for (int i = 0; i < n; ++i) {
        const double t = (s.x[static_cast<std::size_t>(i)] - p[2]) / p[1];
        model.push_back(p[0] * std::sqrt(1.0 + t * t));
    }
    Quality(s.y, s.w, model, 3, out);
    double jtj[9];
    double jtr[3];
    double cov[9];
    problem.Evaluate(p, jtj, jtr);
    const double scale = out.chi2 > 0.0 ? out.chi2 : 1.0;
    const double errC = orbimg::detail::CholeskyInverse(jtj, 3, cov) ? std::sqrt(cov[8] * scale) : NAN;
    out.p[0] = p[0];
    out.p[1] = p[1] * s.scale;
    out.p[2] = s.centre + p[2] * s.scale;
    out.best = out.p[2];
    out.bestError = errC * s.scale;
    out.minimum = p[0];
    if (out.best < s.lo || out.best > s.hi) {
        out.reason = "the hyperbola's minimum lies outside the positions sampled";
        return out;
    }
    out.ok = true;
    return out;
}

FocusFitResult FitParabola(const Scaled& all)
{
    FocusFitResult out;
    const int n = static_cast<int>(all.x.size());
    if (n < 3) {
        out.reason = "the parabola needs at least 3 frames with stars";
        out.points = n;
        return out;
    }
    const int m = static_cast<int>(std::min_element(all.y.begin(), all.y.end()) - all.y.begin());
    const int i0 = std::max(0, std::min(m - 2, n - 5));
    const int i1 = std::min(n - 1, std::max(m + 2, 4));
    std::vector<double> x(all.x.begin() + i0, all.x.begin() + i1 + 1);
    std::vector<double> y(all.y.begin() + i0, all.y.begin() + i1 + 1);
    std::vector<double> w(all.w.begin() + i0, all.w.begin() + i1 + 1);
    out.points = static_cast<int>(x.size());
    double a[9] = {};
    double b[3] = {};
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double g[3] = {1.0, x[i], x[i] * x[i]};
        for (int r = 0; r < 3; ++r) {
            b[r] += w[i] * g[r] * y[i];
            for (int c = 0; c < 3; ++c) {
                a[r * 3 + c] += w[i] * g[r] * g[c];
            }
        }
    }
    double q[3];
    double cov[9];
    if (!orbimg::detail::CholeskySolve(a, 3, b, q) || !orbimg::detail::CholeskyInverse(a, 3, cov)) {
        out.reason = "the parabola's positions do not fix it";
        return out;
    }
    std::vector<double> model;
    for (const double xi : x) {
        model.push_back(q[0] + q[1] * xi + q[2] * xi * xi);
    }
    Quality(y, w, model, 3, out);
    const double k = all.scale;
    const double c = all.centre;
    out.p[2] = q[2] / (k * k);
    out.p[1] = q[1] / k - 2.0 * q[2] * c / (k * k);
    out.p[0] = q[0] - q[1] * c / k + q[2] * c * c / (k * k);
    if (!(q[2] > 0.0)) {
        out.reason = "the parabola opens downward: no minimum";
        return out;
    }
    const double vertex = -q[1] / (2.0 * q[2]);
    const double g1 = -1.0 / (2.0 * q[2]);
    const double g2 = q[1] / (2.0 * q[2] * q[2]);
    const double var = g1 * g1 * cov[4] + 2.0 * g1 * g2 * cov[5] + g2 * g2 * cov[8];
    const double scale = out.chi2 > 0.0 ? out.chi2 : 1.0;
    out.best = c + vertex * k;
    out.bestError = std::sqrt(std::max(var, 0.0) * scale) * k;
    out.minimum = q[0] + q[1] * vertex + q[2] * vertex * vertex;
    if (out.best < all.lo || out.best > all.hi) {
        out.reason = "the parabola's minimum lies outside the positions sampled";
        return out;
    }
    out.ok = true;
    return out;
}

}  // namespace

FocusCurveResult CFocusCurve::Fit() const
{
    FocusCurveResult result;
    const Scaled s = Prepare(m_points);
    result.hyperbola = FitHyperbola(s);
    result.parabola = FitParabola(s);
    if (result.hyperbola.ok) {
        result.ok = true;
        result.fromHyperbola = true;
        result.best = result.hyperbola.best;
        result.bestError = result.hyperbola.bestError;
    } else if (result.parabola.ok) {
        result.ok = true;
        result.best = result.parabola.best;
        result.bestError = result.parabola.bestError;
    } else {
        result.reason = s.x.size() < 3 ? "too few frames with stars (" + std::to_string(s.x.size()) + ", at least 3)"
                                       : result.hyperbola.reason;
    }
    return result;
}

double CFocusCurve::Hyperbola(const FocusFitResult& fit, double x)
{
    const double t = (x - fit.p[2]) / fit.p[1];
    return fit.p[0] * std::sqrt(1.0 + t * t);
}

double CFocusCurve::Parabola(const FocusFitResult& fit, double x) { return fit.p[0] + fit.p[1] * x + fit.p[2] * x * x; }
