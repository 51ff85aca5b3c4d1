// Sums of many values in a fixed order, on every core (internal).
//
// Conventions
//   - A sum adds its terms one by one in the order given, each addition
//     rounded as `sum += term` rounds in double: the result has the bits of
//     that plain loop, whichever way the work is shared out.
//   - A value v (float) gives the term v, or (v - center)^2 with squares set,
//     both in double. With skipNaN set a NaN value gives the term +0.0 and is
//     not counted (a sum that does not start at -0.0 is unchanged by it);
//     otherwise every value is counted and NaN reaches the sum.
//   - How the bits are kept in parallel: while the running sum s stays in
//     one binade [2^E, 2^(E+1)) (or its negative), s is a multiple of
//     u = 2^(E-52) and RN(s + t) = s + u k with k the nearest integer to t / u
//     (at a tie, t / u half way between two integers, the even neighbour of
//     s / u + t / u: after a tie s / u is even, so only a row's first tie
//     depends on where the row starts, through one parity). So the terms of
//     a row reduce, all but independently of s, to integers whose sums are
//     exact; the rows are reduced on every core, E guessed from rough sums
//     of the rows, and then applied in order, each after a check that its E
//     was right and every partial sum stays inside the binade by a margin.
//     A row that fails a check (the first rows, a row where s changes
//     binade, NaN or infinite terms) is added term by term.
//   - Each row is read (or made, from a RowSource) once, on its band, and
//     reduced on the binade predicted for it: from the sum before the call,
//     the rows before the band at the last call's rate per row (else at
//     the band's own) and the band's rows so far. Its integer sums then
//     stand for its rough sum (a row without a prediction is summed
//     roughly); the guesses follow in order, and a row reduced on another
//     binade than its guess is reduced again. Guesses only choose the route
//     of a row; the checks keep the bits.
//   - While part of the sample store is swapped out, everything runs on the
//     calling thread, term by term.
#pragma once

#include <functional>
#include <vector>

namespace orbimg::platform {

/// How a value becomes a term of a sum.
struct SumTerms {
    double center = 0.0;   ///< subtracted before squaring (squares only)
    bool squares = false;  ///< terms (v - center)^2 rather than v
    bool skipNaN = true;   ///< NaN values add +0.0 and are not counted
};

/// Row r of a sum computed on demand: source(r, buffer) returns the row's
/// values (in buffer, width floats, or elsewhere), or null for a row that
/// does not exist. Called from any thread, and more than once for a row.
using RowSource = std::function<const float*(int row, float* buffer)>;

/// A running sum in a fixed order.
class OrderedSum {
public:
    explicit OrderedSum(SumTerms terms, double start = 0.0) : m_terms(terms), m_sum(start) {}

    /// Adds the terms of rows[0][0 .. width - 1], rows[1][...], ... in that
    /// order (a null row adds nothing).
    void AddRows(const float* const* rows, int count, int width);
    /// Adds the terms of rows 0 .. count - 1 of source, in that order. With
    /// costlyRows (rows that take long to make again) a row whose predicted
    /// binade is in doubt is also reduced on the neighbouring binade, so that
    /// a guess one binade out needs no second call of source for the row, and
    /// the first rows whose terms must be added one by one are made in
    /// parallel and kept (at most 64 rows) for the in-order pass.
    void AddRows(const RowSource& source, int count, int width, bool costlyRows = false);
    /// Adds the terms of values[0 .. n - 1] in order, on this thread.
    void AddSerial(const float* values, long long n);

    double Value() const { return m_sum; }
    long long Count() const { return m_count; }

private:
    SumTerms m_terms;
    double m_sum;
    long long m_count = 0;
    /// A row reduced to integers on one binade.
    struct RowGrid {
        double plus = 0.0;   ///< sum of the positive integers
        double minus = 0.0;  ///< sum of the negative integers
        long long count = 0;
        int gridded = 0;  ///< the binade the integers are on, or kNoGuess (orderedsum.cpp)
        int first = 0;    ///< the first tie (orderedsum.cpp), 0 for none
    };
    std::vector<double> m_rough;        // per row: rough sum
    double m_rate = 0.0;                // the last call's sum per row, 0 for none
    std::vector<int> m_exponent;        // per row: the binade guessed, or kNoGuess
    std::vector<RowGrid> m_grids;       // per row: on the binade predicted for it
    std::vector<RowGrid> m_alternates;  // per row, costly rows only: on the binade next to it
};

}  // namespace orbimg::platform
