// Levenberg-Marquardt with Cholesky steps, and the Gaussian and Moffat star
// profiles.
#include "measure/lmfit.h"

#include <algorithm>
#include <cmath>

namespace orbimg::detail {

bool CholeskySolve(const double* a, int n, const double* b, double* x)
{
    double l[kLmMaxParams * kLmMaxParams] = {};
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            double s = a[i * n + j];
            for (int k = 0; k < j; ++k) {
                s -= l[i * n + k] * l[j * n + k];
            }
            if (i == j) {
                if (!(s > 0.0)) {
                    return false;
                }
                l[i * n + i] = std::sqrt(s);
            } else {
                l[i * n + j] = s / l[j * n + j];
            }
        }
    }
    double y[kLmMaxParams];
    for (int i = 0; i < n; ++i) {
        double s = b[i];
        for (int k = 0; k < i; ++k) {
            s -= l[i * n + k] * y[k];
        }
        y[i] = s / l[i * n + i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = y[i];
        for (int k = i + 1; k < n; ++k) {
            s -= l[k * n + i] * x[k];
        }
        x[i] = s / l[i * n + i];
    }
    return true;
}

bool CholeskyInverse(const double* a, int n, double* inverse)
{
    for (int c = 0; c < n; ++c) {
        double e[kLmMaxParams] = {};
        e[c] = 1.0;
        double column[kLmMaxParams];
        if (!CholeskySolve(a, n, e, column)) {
            return false;
        }
        for (int r = 0; r < n; ++r) {
            inverse[r * n + c] = column[r];
        }
    }
    return true;
}

LmResult SolveLm(const LmProblem& problem, double* p, int maxRounds)
{
    constexpr double kTolerance = 1e-7;
    const int n = problem.Count();
    double jtj[kLmMaxParams * kLmMaxParams];
    double jtr[kLmMaxParams];
    double a[kLmMaxParams * kLmMaxParams];
    double step[kLmMaxParams];
    double trial[kLmMaxParams];
    LmResult result;
    result.rss = problem.Evaluate(p, jtj, jtr);
    if (!std::isfinite(result.rss)) {
        return result;
    }
    double lambda = 1e-3;
    while (result.rounds < maxRounds) {
        bool accepted = false;
        while (lambda <= 1e10) {
            std::copy(jtj, jtj + n * n, a);
            for (int i = 0; i < n; ++i) {
                const double d = jtj[i * n + i];
                a[i * n + i] = d + lambda * (d > 0.0 ? d : 1e-12);
            }
            if (CholeskySolve(a, n, jtr, step)) {
                for (int i = 0; i < n; ++i) {
                    trial[i] = p[i] + step[i];
                }
                problem.Clamp(trial);
                if (problem.Valid(trial)) {
                    const double rss = problem.Evaluate(trial, nullptr, nullptr);
                    if (rss < result.rss) {
                        const double gain = result.rss - rss;
                        std::copy(trial, trial + n, p);
                        lambda = std::max(lambda * 0.1, 1e-12);
                        accepted = true;
                        ++result.rounds;
                        if (gain <= kTolerance * result.rss) {
                            result.rss = rss;
                            result.converged = true;
                            return result;
                        }
                        result.rss = rss;
                        break;
                    }
                }
            }
            lambda *= 10.0;
        }
        if (!accepted) {
            // No step lowers the sum: a minimum (within rounding).
            result.converged = true;
            return result;
        }
        result.rss = problem.Evaluate(p, jtj, jtr);
    }
    return result;
}

namespace {

/// Adds one sample's row of derivatives to the normal equations (upper
/// triangle; the lower one is mirrored at the end).
inline void AddRow(double* jtj, double* jtr, const double* g, int n, double r)
{
    for (int i = 0; i < n; ++i) {
        jtr[i] += g[i] * r;
        for (int j = i; j < n; ++j) {
            jtj[i * n + j] += g[i] * g[j];
        }
    }
}

inline void Mirror(double* jtj, int n)
{
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < i; ++j) {
            jtj[i * n + j] = jtj[j * n + i];
        }
    }
}

bool ShapeValid(const double* p, double half)
{
    return p[1] > 0.0 && p[4] > 0.0 && p[6] > 0.0 && p[4] * p[6] - p[5] * p[5] > 0.0 && std::fabs(p[2]) <= half + 1.0 &&
           std::fabs(p[3]) <= half + 1.0 && std::isfinite(p[0]);
}

// Sum of squared residuals of a profile model over the samples; with jtj and jtr also
// the normal equations. The model gets the offsets from the centre (p[2], p[3]) and the
// quadratic form q of the shape (p[4..6]), fills the gradient g when it is not null and
// returns the model's value.
template <int N, class Model>
double SumSquares(const std::vector<FitSample>& samples, const double* p, double* jtj, double* jtr, Model model)
{
    const bool normal = jtj != nullptr;
    if (normal) {
        std::fill(jtj, jtj + N * N, 0.0);
        std::fill(jtr, jtr + N, 0.0);
    }
    double rss = 0.0;
    double g[N];
    for (const FitSample& s : samples) {
        const double dx = s.dx - p[2];
        const double dy = s.dy - p[3];
        const double ax = p[4] * dx + p[5] * dy;
        const double ay = p[5] * dx + p[6] * dy;
        const double q = dx * ax + dy * ay;
        const double r = s.value - model(dx, dy, ax, ay, q, normal ? g : nullptr);
        rss += r * r;
        if (normal) {
            AddRow(jtj, jtr, g, N, r);
        }
    }
    if (normal) {
        Mirror(jtj, N);
    }
    return rss;
}

class GaussianProblem : public LmProblem {
public:
    GaussianProblem(const std::vector<FitSample>& samples, double half) : m_samples(samples), m_half(half) {}
    int Count() const override { return 7; }
    bool Valid(const double* p) const override { return ShapeValid(p, m_half); }
    double Evaluate(const double* p, double* jtj, double* jtr) const override
    {
        return SumSquares<7>(
            m_samples, p, jtj, jtr, [p](double dx, double dy, double ax, double ay, double q, double* g) {
                const double e = std::exp(-0.5 * q);
                const double ae = p[1] * e;
                if (g != nullptr) {
                    const double row[7] = {
                        1.0, e, ae * ax, ae * ay, -0.5 * ae * dx * dx, -ae * dx * dy, -0.5 * ae * dy * dy};
                    std::copy(row, row + 7, g);
                }
                return p[0] + ae;
            });
    }

private:
    const std::vector<FitSample>& m_samples;
    double m_half;
};

constexpr double kBetaMin = 0.6;
constexpr double kBetaMax = 30.0;

class MoffatProblem : public LmProblem {
public:
    MoffatProblem(const std::vector<FitSample>& samples, double half) : m_samples(samples), m_half(half) {}
    int Count() const override { return 8; }
    bool Valid(const double* p) const override { return ShapeValid(p, m_half) && p[7] >= kBetaMin && p[7] <= kBetaMax; }
    void Clamp(double* p) const override { p[7] = std::clamp(p[7], kBetaMin, kBetaMax); }
    double Evaluate(const double* p, double* jtj, double* jtr) const override
    {
        const double beta = p[7];
        const double inverse = 1.0 / beta;
        return SumSquares<8>(m_samples, p, jtj, jtr,
                             [p, beta, inverse](double dx, double dy, double ax, double ay, double q, double* g) {
                                 const double u = 1.0 + q * inverse;
                                 const double lu = std::log(u);
                                 const double m = std::exp(-beta * lu);
                                 const double am = p[1] * m;
                                 if (g != nullptr) {
                                     const double k = am / u;  // -d(am)/dq
                                     const double row[8] = {1.0,          m,
                                                            2.0 * k * ax, 2.0 * k * ay,
                                                            -k * dx * dx, -2.0 * k * dx * dy,
                                                            -k * dy * dy, am * (q * inverse / u - lu)};
                                     std::copy(row, row + 8, g);
                                 }
                                 return p[0] + am;
                             });
    }

private:
    const std::vector<FitSample>& m_samples;
    double m_half;
};

ProfileFit Fit(const LmProblem& problem, const double* start)
{
    ProfileFit fit;
    std::copy(start, start + kLmMaxParams, fit.p);
    if (!problem.Valid(fit.p)) {
        return fit;
    }
    const LmResult result = SolveLm(problem, fit.p);
    fit.rss = result.rss;
    fit.ok = result.converged && problem.Valid(fit.p) && std::isfinite(result.rss);
    return fit;
}

}  // namespace

ProfileFit FitGaussian(const std::vector<FitSample>& samples, const double* start, double half)
{
    if (samples.size() < 8) {
        return ProfileFit{};
    }
    return Fit(GaussianProblem(samples, half), start);
}

ProfileFit FitMoffat(const std::vector<FitSample>& samples, const double* start, double half)
{
    if (samples.size() < 9) {
        return ProfileFit{};
    }
    return Fit(MoffatProblem(samples, half), start);
}

}  // namespace orbimg::detail
