// Levenberg-Marquardt least squares for small problems (a handful of
// parameters), and the star profiles fitted with it. Internal to the
// library.
//
// Conventions
//   - A problem gives, for parameters p, the residual sum of squares
//     sum w_i (y_i - f(p)_i)^2 and, on request, the normal equations J'WJ
//     and J'W(y - f) with J the model's derivatives. Steps solve
//     (J'WJ + lambda diag(J'WJ)) d = J'W(y - f) by Cholesky; lambda starts
//     at 1e-3, is divided by 10 after an accepted step and multiplied by 10
//     after a refused one (a worse sum, or parameters the problem calls
//     invalid once clamped to its bounds). The solve stops when a step lowers the sum by less than
//     1e-7 of it, when lambda passes 1e10, or after maxRounds accepted
//     steps.
//   - Everything is plain double arithmetic in a fixed order: the same
//     inputs give the same bits on every build.
#pragma once

#include <vector>

namespace orbimg::detail {

constexpr int kLmMaxParams = 8;

class LmProblem {
public:
    virtual ~LmProblem() = default;
    virtual int Count() const = 0;
    /// False for parameters outside the model's domain.
    virtual bool Valid(const double* p) const = 0;
    /// Moves a trial step's parameters onto their bounds (a bounded
    /// parameter then rests on its bound instead of stalling the solve).
    virtual void Clamp(double* /*p*/) const {}
    /// The weighted residual sum of squares; with jtj (Count() x Count(),
    /// row-major) and jtr not null, also the normal equations.
    virtual double Evaluate(const double* p, double* jtj, double* jtr) const = 0;
};

struct LmResult {
    bool converged = false;  ///< stopped on a small change (not on the round limit)
    int rounds = 0;
    double rss = 0.0;
};

/// Minimises the problem from p (updated in place).
LmResult SolveLm(const LmProblem& problem, double* p, int maxRounds = 50);

/// Solves a x = b for a symmetric positive definite n x n matrix (row-major)
/// by Cholesky; false when a pivot is not positive. x may alias b.
bool CholeskySolve(const double* a, int n, const double* b, double* x);
/// The inverse of a symmetric positive definite matrix; false when singular.
bool CholeskyInverse(const double* a, int n, double* inverse);

/// A pixel of a fit box: offsets from the box's reference pixel and the
/// residual there.
struct FitSample {
    float dx;
    float dy;
    float value;
};

/// Profile parameters: [0] constant, [1] amplitude, [2] x0, [3] y0 (offsets
/// like the samples'), [4..6] a, b, c of Q = a dx^2 + 2 b dx dy + c dy^2,
/// [7] Moffat beta.
struct ProfileFit {
    bool ok = false;
    double p[kLmMaxParams] = {};
    double rss = 0.0;
};

/// Gaussian constant + A exp(-Q / 2), starting from p (8 entries, [7]
/// unused). ok when converged with A > 0 and a positive definite Q whose
/// centre lies within `half` + 1 of the reference.
ProfileFit FitGaussian(const std::vector<FitSample>& samples, const double* start, double half);
/// Moffat constant + A (1 + Q / beta)^-beta with beta in [0.6, 30] (Q over
/// beta keeps the fit well posed as the profile nears a Gaussian,
/// exp(-Q), at large beta).
ProfileFit FitMoffat(const std::vector<FitSample>& samples, const double* start, double half);

}  // namespace orbimg::detail
