// Ordered sums on every core: rows reduced to exact integer sums on the grid
// of the running sum's binade, applied in order (see orderedsum.h). The row
// kernels (rough sums, sums on the grid) are built for each instruction set
// (platform/simd.h); their integer sums are exact in every build, and the
// rough sums only guide the guess that the exact checks confirm, so every
// build gives the same bits.
#include "platform/orderedsum.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/rowbands.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "platform/orderedsum.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::platform::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

/// 1.5 x 2^52: (q + kRound) - kRound is q rounded to an integer, ties to
/// even, for |q| < 2^51.
constexpr double kRound = 0x1.8p52;
/// Largest |t / u| taken: far below 2^51, so a row's integer sums stay exact
/// below 2^53 or are seen to pass it.
constexpr double kLargest = 0x1p50;

/// The terms of the floats at v as doubles (lanes of D).
template <bool kSquares, bool kSkipNaN, class D, class V = hn::Vec<D>>
HWY_INLINE V TermsOf(V x, V center)
{
    V t = x;
    if constexpr (kSquares) {
        const V c = hn::Sub(x, center);
        t = hn::Mul(c, c);
    }
    if constexpr (kSkipNaN) {
        t = hn::IfThenElseZero(hn::Eq(x, x), t);
    }
    return t;
}

template <bool kSquares, bool kSkipNaN, class D, class V = hn::Vec<D>>
HWY_INLINE V Terms(D d, const float* v, V center)
{
    const hn::Rebind<float, D> df;
    return TermsOf<kSquares, kSkipNaN, D>(hn::PromoteTo(d, hn::LoadU(df, v)), center);
}

template <bool kSquares, bool kSkipNaN>
double Rough(const float* v, int n, double center, long long& count)
{
    const hn::ScalableTag<double> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const auto c = hn::Set(d, center);
    const auto one = hn::Set(d, 1.0);
    auto sum0 = hn::Zero(d);
    auto sum1 = hn::Zero(d);
    auto counted = hn::Zero(d);  // exact: n < 2^53
    int i = 0;
    for (; i + 2 * lanes <= n; i += 2 * lanes) {
        sum0 = hn::Add(sum0, Terms<kSquares, kSkipNaN>(d, v + i, c));
        sum1 = hn::Add(sum1, Terms<kSquares, kSkipNaN>(d, v + i + lanes, c));
        if constexpr (kSkipNaN) {
            const hn::Rebind<float, decltype(d)> df;
            const auto x0 = hn::PromoteTo(d, hn::LoadU(df, v + i));
            const auto x1 = hn::PromoteTo(d, hn::LoadU(df, v + i + lanes));
            counted = hn::Add(
                counted, hn::Add(hn::IfThenElseZero(hn::Eq(x0, x0), one), hn::IfThenElseZero(hn::Eq(x1, x1), one)));
        }
    }
    double sum = hn::GetLane(hn::SumOfLanes(d, hn::Add(sum0, sum1)));
    count = kSkipNaN ? static_cast<long long>(hn::GetLane(hn::SumOfLanes(d, counted))) : n;
    for (; i < n; ++i) {
        const double x = static_cast<double>(v[i]);
        const double t = kSquares ? (x - center) * (x - center) : x;
        sum += (kSkipNaN && v[i] != v[i]) ? 0.0 : t;
        count += (kSkipNaN && v[i] == v[i]) ? 1 : 0;
    }
    return sum;
}

/// One vector of terms on the grid: rounded into pos or neg (kSigned:
/// terms of both signs; squares are never negative); wrong where the route
/// does not take it; tie where a term lies half way between two integers,
/// odd where its rounded integer is odd.
template <bool kSigned, class D, class V = hn::Vec<D>, class M = hn::Mask<D>>
HWY_INLINE void OnGrid(D d, V t, V scale, V& pos, V& neg, M& wrong, M& tie, M& odd)
{
    const hn::RebindToUnsigned<D> du;
    const V q = hn::Mul(t, scale);
    // In [2^52, 2^53) the spacing is 1: the low bit of the sum is the
    // parity of the rounded integer (kRound is even).
    const V big = hn::Add(q, hn::Set(d, kRound));
    const V rounded = hn::Sub(big, hn::Set(d, kRound));
    const V rest = hn::Sub(q, rounded);  // exact
    const M taken = hn::Lt(hn::Abs(q), hn::Set(d, kLargest));
    wrong = hn::Or(wrong, hn::Not(taken));
    tie = hn::Eq(hn::Abs(rest), hn::Set(d, 0.5));
    odd = hn::RebindMask(d, hn::Ne(hn::And(hn::BitCast(du, big), hn::Set(du, 1)), hn::Zero(du)));
    if constexpr (kSigned) {
        pos = hn::Add(pos, hn::Max(rounded, hn::Zero(d)));
        neg = hn::Add(neg, hn::Min(rounded, hn::Zero(d)));
    } else {
        pos = hn::Add(pos, rounded);
    }
}

/// The bits of a mask, lane 0 in bit 0 (Lanes(d) is a power of two, at
/// most 64).
template <class D, class M = hn::Mask<D>>
HWY_INLINE std::uint64_t MaskWord(D d, M mask)
{
    std::uint8_t bytes[8] = {};
    hn::StoreMaskBits(d, mask, bytes);
    std::uint64_t word = 0;
    for (std::size_t k = 0; k < (hn::Lanes(d) + 7) / 8; ++k) {
        word |= static_cast<std::uint64_t>(bytes[k]) << (8 * k);
    }
    return word;
}

/// A row on the grid, and the count of its terms. Without kBits: 2 at the
/// first tie, nothing else set (most rows have no tie, and need no bit
/// rows). With kBits the bit rows are written word by word.
template <bool kSquares, bool kSkipNaN, bool kBits>
int Grid(const float* v, int n, double center, double scale, double& plus, double& minus, long long& count,
         std::uint64_t* ties, std::uint64_t* odds)
{
    const hn::ScalableTag<double> d;
    const hn::Rebind<float, decltype(d)> df;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const auto c = hn::Set(d, center);
    const auto s = hn::Set(d, scale);
    auto pos = hn::Zero(d);
    auto neg = hn::Zero(d);
    auto wrong = hn::FirstN(d, 0);
    auto nan = wrong;
    auto anyTie = wrong;
    auto tie = wrong;
    auto odd = wrong;
    std::uint64_t tieWord = 0;
    std::uint64_t oddWord = 0;
    int i = 0;
    if constexpr (!kBits) {
        // Two vectors side by side, on sums of their own: integer sums of one
        // sign are exact in any order below 2^53 (and stay at least 2^53
        // beyond it, as above).
        auto pos1 = pos;
        auto neg1 = neg;
        auto tie1 = tie;
        auto odd1 = odd;
        for (; i + 2 * lanes <= n; i += 2 * lanes) {
            const auto x0 = hn::PromoteTo(d, hn::LoadU(df, v + i));
            const auto x1 = hn::PromoteTo(d, hn::LoadU(df, v + i + lanes));
            if constexpr (kSkipNaN) {
                nan = hn::Or(nan, hn::Or(hn::IsNaN(x0), hn::IsNaN(x1)));
            }
            OnGrid<!kSquares>(d, TermsOf<kSquares, kSkipNaN, decltype(d)>(x0, c), s, pos, neg, wrong, tie, odd);
            OnGrid<!kSquares>(d, TermsOf<kSquares, kSkipNaN, decltype(d)>(x1, c), s, pos1, neg1, wrong, tie1, odd1);
            if (!hn::AllFalse(d, hn::Or(tie, tie1))) {
                return 2;
            }
        }
        pos = hn::Add(pos, pos1);
        neg = hn::Add(neg, neg1);
    }
    for (; i + lanes <= n; i += lanes) {
        const auto x = hn::PromoteTo(d, hn::LoadU(df, v + i));
        if constexpr (kSkipNaN) {
            nan = hn::Or(nan, hn::IsNaN(x));
        }
        OnGrid<!kSquares>(d, TermsOf<kSquares, kSkipNaN, decltype(d)>(x, c), s, pos, neg, wrong, tie, odd);
        if constexpr (kBits) {
            anyTie = hn::Or(anyTie, tie);
            tieWord |= MaskWord(d, tie) << (i % 64);
            oddWord |= MaskWord(d, odd) << (i % 64);
            if ((i + lanes) % 64 == 0) {
                ties[i / 64] = tieWord;
                odds[i / 64] = oddWord;
                tieWord = 0;
                oddWord = 0;
            }
        } else if (!hn::AllFalse(d, tie)) {
            return 2;
        }
    }
    if (i < n) {
        // The last values, the other lanes +0.0 (even, no tie).
        HWY_ALIGN float tail[HWY_MAX_BYTES / sizeof(double)] = {};
        for (int k = 0; i + k < n; ++k) {
            tail[k] = v[i + k];
        }
        const auto x = hn::PromoteTo(d, hn::Load(df, tail));
        nan = hn::Or(nan, hn::IsNaN(x));
        const auto t = TermsOf<kSquares, kSkipNaN, decltype(d)>(x, c);
        OnGrid<!kSquares>(d, hn::IfThenElseZero(hn::FirstN(d, static_cast<std::size_t>(n - i)), t), s, pos, neg, wrong,
                          tie, odd);
        anyTie = hn::Or(anyTie, tie);
        tieWord |= MaskWord(d, tie) << (i % 64);
        oddWord |= MaskWord(d, odd) << (i % 64);
    }
    if (kBits && (i % 64 != 0 || i < n)) {
        ties[i / 64] = tieWord;
        odds[i / 64] = oddWord;
    }
    // Sums of integers of one sign: exact while below 2^53, and at least
    // 2^53 once the exact sum reaches it, so the caller's checks see it.
    plus = hn::GetLane(hn::SumOfLanes(d, pos));
    minus = hn::GetLane(hn::SumOfLanes(d, neg));
    count = n;
    if (kSkipNaN && !hn::AllFalse(d, nan)) {
        for (int k = 0; k < n; ++k) {
            count -= v[k] != v[k];
        }
    }
    return !hn::AllFalse(d, wrong) ? 0 : (hn::AllFalse(d, anyTie) ? 1 : 2);
}

/// A row on the grid, the bit rows made only for a row with a tie; with
/// tiesLikely at once, without a first pass that looks for one.
template <bool kSquares, bool kSkipNaN>
int GridWithBits(const float* v, int n, double center, double scale, double& plus, double& minus, long long& count,
                 std::uint64_t* ties, std::uint64_t* odds, bool tiesLikely)
{
    const int taken =
        tiesLikely ? 2 : Grid<kSquares, kSkipNaN, false>(v, n, center, scale, plus, minus, count, ties, odds);
    return taken == 2 ? Grid<kSquares, kSkipNaN, true>(v, n, center, scale, plus, minus, count, ties, odds) : taken;
}

}  // namespace

/// A rough sum of the terms of v[0 .. n - 1] (any order) and their count;
/// mode bit 0 squares, bit 1 skipNaN.
double RoughRow(const float* v, int n, double center, int mode, long long& count)
{
    switch (mode) {
    case 0:
        return Rough<false, false>(v, n, center, count);
    case 1:
        return Rough<true, false>(v, n, center, count);
    case 2:
        return Rough<false, true>(v, n, center, count);
    default:
        return Rough<true, true>(v, n, center, count);
    }
}

/// The terms of v[0 .. n - 1] as integers in units 1 / scale, each rounded
/// to nearest, ties to even: the sums of the positive and of the negative
/// ones, the count of the terms, and 1; 0 when a term is not finite or too
/// large; 2 when a term lies half way between two integers, and then bit i
/// of ties (of odds) is set when term i is such a tie (rounds to an odd
/// integer), in rows of (n + 63) / 64 words. tiesLikely (the row before had
/// a tie) only chooses how the rows are made.
int GridRow(const float* v, int n, double center, double scale, int mode, double& plus, double& minus, long long& count,
            std::uint64_t* ties, std::uint64_t* odds, bool tiesLikely)
{
    switch (mode) {
    case 0:
        return GridWithBits<false, false>(v, n, center, scale, plus, minus, count, ties, odds, tiesLikely);
    case 1:
        return GridWithBits<true, false>(v, n, center, scale, plus, minus, count, ties, odds, tiesLikely);
    case 2:
        return GridWithBits<false, true>(v, n, center, scale, plus, minus, count, ties, odds, tiesLikely);
    default:
        return GridWithBits<true, true>(v, n, center, scale, plus, minus, count, ties, odds, tiesLikely);
    }
}

}  // namespace orbimg::platform::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::platform {

namespace {

constexpr int kNoGuess = 1 << 20;
constexpr int kMissing = kNoGuess + 1;  // a row that does not exist
constexpr int kNotTaken = 4;            // a row the grid does not take (no first tie is)
/// Binades the integer route takes: u = 2^(E-52) and 2^(52-E) normal.
constexpr int kLowestExponent = -960;
constexpr int kHighestExponent = 960;
constexpr double kLow = 0x1p52 + 1.0;  // partial sums kept inside [2^52 + 1, 2^53 - 1] units
constexpr double kHigh = 0x1p53 - 1.0;

/// The term of v; NaN gives +0.0 when kSkipNaN.
template <bool kSquares, bool kSkipNaN>
inline double Term(float v, double center)
{
    double x = static_cast<double>(v);
    if constexpr (kSquares) {
        x = (x - center) * (x - center);
    }
    if constexpr (kSkipNaN) {
        return v == v ? x : 0.0;
    }
    return x;
}

/// Calls fn.template operator()<kSquares, kSkipNaN>() for the terms given.
template <class Fn>
auto WithTerms(const SumTerms& terms, const Fn& fn)
{
    if (terms.squares) {
        return terms.skipNaN ? fn.template operator()<true, true>() : fn.template operator()<true, false>();
    }
    return terms.skipNaN ? fn.template operator()<false, true>() : fn.template operator()<false, false>();
}

/// The kernels' mode: bit 0 squares, bit 1 skipNaN.
int Mode(const SumTerms& terms) { return (terms.squares ? 1 : 0) | (terms.skipNaN ? 2 : 0); }

/// The ties of a row on the grid (GridRow gave 2), from its bit rows.
/// RN(s + t) at a tie takes the even one of the two neighbours, so after a
/// tie the running sum is even (in units) whatever it was: only the first
/// tie depends on the sum the row starts from, through the parity of the
/// start plus the integers before it. Every later tie where the sum is odd
/// moves its integer one unit toward the term, in plus or minus by the sign
/// of the step it becomes. `firstSign` (+-1) is what the first tie adds when
/// that parity is odd, `prefixOdd` the parity of the integers before it.
struct TieRow {
    int firstSign = 0;
    bool prefixOdd = false;
};

template <bool kSquares, bool kSkipNaN>
TieRow ApplyTies(const float* v, int n, double center, double scale, const std::uint64_t* ties,
                 const std::uint64_t* odds, double& plus, double& minus)
{
    constexpr double kRoundScalar = 0x1.8p52;
    TieRow row;
    bool seen = false;
    bool odd = false;  // parity of the integers so far (before the first tie), or of the sum after it
    for (int w = 0; w < (n + 63) / 64; ++w) {
        std::uint64_t left = ties[w];
        std::uint64_t from = ~std::uint64_t{0};  // the bits not yet taken into odd
        while (left != 0) {
            const int bit = std::countr_zero(left);
            const std::uint64_t below = (std::uint64_t{1} << bit) - 1;
            odd = odd != ((std::popcount(odds[w] & from & below) & 1) != 0);
            const double q = Term<kSquares, kSkipNaN>(v[w * 64 + bit], center) * scale;
            const double rounded = (q + kRoundScalar) - kRoundScalar;  // even
            const int sign = q - rounded > 0.0 ? 1 : -1;
            if (!seen) {
                seen = true;
                row.firstSign = sign;
                row.prefixOdd = odd;
            } else if (odd) {
                (rounded + sign > 0.0 ? plus : minus) += sign;
            }
            odd = false;
            from = ~(below | (std::uint64_t{1} << bit));
            left &= left - 1;
        }
        odd = odd != ((std::popcount(odds[w] & from) & 1) != 0);
    }
    return row;
}

/// The binade of a finite non-zero s inside the range the integer route
/// takes, or kNoGuess.
int Binade(double s)
{
    if (!std::isfinite(s) || s == 0.0) {
        return kNoGuess;
    }
    const int e = std::ilogb(s);
    return (e >= kLowestExponent && e <= kHighestExponent) ? e : kNoGuess;
}

/// For a running sum predicted as `predicted` on binade e, of which
/// `estimated` (the rows before the band, at a rate) is only estimated: the
/// neighbouring binade the sum may lie on, taking the estimate as up to half
/// out, or kNoGuess when it cannot leave binade e. When both neighbours are
/// in reach, the one nearer to the prediction.
int NearBinade(double predicted, double estimated, int e)
{
    const double size = std::fabs(predicted);
    const double doubt = 0.5 * std::fabs(estimated) + 0x1p-20 * size;
    const bool below = size - doubt < std::ldexp(1.0, e);
    const bool above = size + doubt >= std::ldexp(1.0, e + 1);
    if (below && above) {
        return size < std::ldexp(1.5, e) ? e - 1 : e + 1;
    }
    return below ? e - 1 : (above ? e + 1 : kNoGuess);
}

}  // namespace

HWY_EXPORT(RoughRow);
HWY_EXPORT(GridRow);

void OrderedSum::AddSerial(const float* values, long long n)
{
    const double center = m_terms.center;
    long long count = 0;
    m_sum = WithTerms(m_terms, [&]<bool kSquares, bool kSkipNaN>() {
        double s = m_sum;
        for (long long i = 0; i < n; ++i) {
            s += Term<kSquares, kSkipNaN>(values[i], center);
            count += !kSkipNaN || values[i] == values[i];
        }
        return s;
    });
    m_count += count;
}

void OrderedSum::AddRows(const float* const* rows, int count, int width)
{
    AddRows([rows](int r, float*) { return rows[r]; }, count, width);
}

void OrderedSum::AddRows(const RowSource& source, int count, int width, bool costlyRows)
{
    if (count < 1 || width < 1) {
        return;
    }
    constexpr int kMinRows = 4;
    std::vector<float> made(static_cast<std::size_t>(width));
    if (count < 2 * kMinRows || !RowBandsParallel()) {
        for (int r = 0; r < count; ++r) {
            if (const float* v = source(r, made.data())) {
                AddSerial(v, width);
            }
        }
        return;
    }
    const std::size_t n = static_cast<std::size_t>(count);
    const RowGrid none{0.0, 0.0, 0, kNoGuess, 0};
    m_rough.assign(n, 0.0);
    m_exponent.assign(n, kNoGuess);
    m_grids.assign(n, none);
    m_alternates.assign(costlyRows ? n : 0, none);
    const double start = m_sum;
    const double center = m_terms.center;
    const int mode = Mode(m_terms);
    const std::size_t words = (static_cast<std::size_t>(width) + 63) / 64;

    // Values v of a row on the grid of binade e: its integer sums and first
    // tie, or kNotTaken.
    const auto grid = [&](const float* v, int e, RowGrid& g, std::vector<std::uint64_t>& bits, bool& tied) {
        bits.resize(2 * words);
        const double scale = std::ldexp(1.0, 52 - e);
        const int taken = HWY_DYNAMIC_DISPATCH(GridRow)(v, width, center, scale, mode, g.plus, g.minus, g.count,
                                                        bits.data(), bits.data() + words, tied);
        tied = taken == 2;
        g.gridded = e;
        g.first = taken == 0 ? kNotTaken : 0;
        if (taken == 2) {
            const TieRow tie = WithTerms(m_terms, [&]<bool kSquares, bool kSkipNaN>() {
                return ApplyTies<kSquares, kSkipNaN>(v, width, center, scale, bits.data(), bits.data() + words, g.plus,
                                                     g.minus);
            });
            g.first = tie.firstSign * (tie.prefixOdd ? 2 : 1);
        }
    };

    // Every row read or made once: its integers on the binade predicted for
    // it (and, for costly rows, on the neighbouring binade nearer to the
    // prediction) and the sum they give, or else a rough sum; its count.
    const double rate = m_rate;
    ForRowBands(
        0, count,
        [&](int begin, int end) {
            std::vector<float> row(static_cast<std::size_t>(width));
            std::vector<std::uint64_t> bits;
            double sum = 0.0;  // of the band's rows so far
            int rows = 0;
            bool tied = false;  // the row before had a tie
            bool tiedNext = false;
            for (int r = begin; r < end; ++r) {
                const float* v = source(r, row.data());
                RowGrid& g = m_grids[static_cast<std::size_t>(r)];
                if (!v) {
                    g.gridded = kMissing;
                    continue;
                }
                // The rows before the band: at the last call's rate, else
                // at the rate of the band's rows so far.
                const bool known = begin == 0 || rate != 0.0 || rows != 0;
                const double perRow = rate != 0.0 ? rate : (rows != 0 ? sum / rows : 0.0);
                const double predicted = start + perRow * begin + sum;
                const int e = known ? Binade(predicted) : kNoGuess;
                if (e != kNoGuess) {
                    grid(v, e, g, bits, tied);
                    const int next = costlyRows ? NearBinade(predicted, perRow * begin, e) : kNoGuess;
                    if (next >= kLowestExponent && next <= kHighestExponent) {
                        grid(v, next, m_alternates[static_cast<std::size_t>(r)], bits, tiedNext);
                    }
                }
                if (e != kNoGuess && g.first != kNotTaken) {
                    m_rough[r] = std::ldexp(g.plus + g.minus, e - 52);
                } else {
                    m_rough[r] = HWY_DYNAMIC_DISPATCH(RoughRow)(v, width, center, mode, g.count);
                }
                sum += m_rough[r];
                ++rows;
            }
        },
        kMinRows);

    // The binade of the running sum over each row, guessed from the rough
    // sums; none where it seems to change within the row. Rows reduced on
    // another binade are made again; the first kMaxKept rows with no guess
    // (their terms are added one by one below) are made now and kept, so
    // that the in-order pass does not wait for them.
    constexpr std::size_t kMaxKept = 64;
    struct Job {
        int row;
        bool keep;  // keep the row's values (else reduce it on its binade)
    };
    std::vector<Job> jobs;
    std::size_t kept = 0;
    double rough = start;
    for (int r = 0; r < count; ++r) {
        RowGrid& g = m_grids[static_cast<std::size_t>(r)];
        const double next = rough + m_rough[r];
        const int e = Binade(rough);
        m_exponent[r] = (g.gridded != kMissing && e != kNoGuess && Binade(next) == e) ? e : kNoGuess;
        if (m_exponent[r] != kNoGuess && g.gridded != m_exponent[r]) {
            if (costlyRows && m_alternates[static_cast<std::size_t>(r)].gridded == m_exponent[r]) {
                g = m_alternates[static_cast<std::size_t>(r)];
            } else {
                jobs.push_back(Job{r, false});
            }
        } else if (costlyRows && m_exponent[r] == kNoGuess && g.gridded != kMissing && kept < kMaxKept) {
            jobs.push_back(Job{r, true});
            ++kept;
        }
        rough = next;
    }
    std::vector<float> keptRows(kept * static_cast<std::size_t>(width));
    std::vector<int> keptSlot(kept ? n : 0, -1);
    for (std::size_t i = 0, k = 0; i < jobs.size(); ++i) {
        if (jobs[i].keep) {
            keptSlot[static_cast<std::size_t>(jobs[i].row)] = static_cast<int>(k++);
        }
    }
    ForRowBands(
        0, static_cast<int>(jobs.size()),
        [&](int begin, int end) {
            std::vector<float> row(static_cast<std::size_t>(width));
            std::vector<std::uint64_t> bits;
            bool tied = false;
            int notKept = -1;  // the slot of a row not kept
            for (int i = begin; i < end; ++i) {
                const Job job = jobs[static_cast<std::size_t>(i)];
                const float* v = source(job.row, row.data());
                int& slot = job.keep ? keptSlot[static_cast<std::size_t>(job.row)] : notKept;
                if (!v) {  // a row the source no longer gives: left to the in-order pass
                    slot = -1;
                } else if (job.keep) {
                    std::copy_n(v, width,
                                keptRows.data() + static_cast<std::size_t>(slot) * static_cast<std::size_t>(width));
                } else {
                    grid(v, m_exponent[job.row], m_grids[static_cast<std::size_t>(job.row)], bits, tied);
                }
            }
        },
        kMinRows);

    // In order: a row whose guess holds for the exact running sum moves it
    // by its integer sums; any other row is added term by term.
    for (int r = 0; r < count; ++r) {
        const RowGrid& g = m_grids[static_cast<std::size_t>(r)];
        if (g.gridded == kMissing) {
            continue;
        }
        const int e = m_exponent[r];
        if (e != kNoGuess && g.gridded == e && g.first != kNotTaken && Binade(m_sum) == e) {
            const double units = std::ldexp(m_sum, 52 - e);  // an integer, 2^52 <= |units| < 2^53
            double plus = g.plus;
            double minus = g.minus;
            // The first tie: +-1 when the start plus the integers before it is odd.
            const int first = g.first;
            const bool prefixOdd = first == 2 || first == -2;
            const bool startOdd = (static_cast<long long>(units) & 1) != 0;
            const double adjust = (first != 0 && startOdd != prefixOdd) ? (first > 0 ? 1.0 : -1.0) : 0.0;
            plus += adjust > 0.0 ? adjust : 0.0;
            minus += adjust < 0.0 ? adjust : 0.0;
            const bool inside = units > 0.0 ? (units + minus >= kLow && units + plus <= kHigh)
                                            : (units + plus <= -kLow && units + minus >= -kHigh);
            if (inside) {
                m_sum = std::ldexp((units + plus) + minus, e - 52);
                m_count += g.count;
                continue;
            }
        }
        const int slot = kept ? keptSlot[static_cast<std::size_t>(r)] : -1;
        const float* v = slot >= 0 ? keptRows.data() + static_cast<std::size_t>(slot) * static_cast<std::size_t>(width)
                                   : source(r, made.data());
        if (v) {  // (a source that no longer gives the row: it adds nothing)
            AddSerial(v, width);
        }
    }
    const double perRow = (m_sum - start) / count;
    m_rate = std::isfinite(perRow) ? perRow : 0.0;
}

}  // namespace orbimg::platform
#endif  // HWY_ONCE
