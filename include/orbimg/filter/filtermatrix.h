// CFilterMatrix: a square filter kernel of float coefficients.
//
// Conventions
//   - A matrix of radius r holds size x size coefficients, size = 2r + 1,
//     row-major; count = size x size. An empty matrix (default-constructed,
//     or after a failed Create) has no coefficients and radius, size and
//     count 0.
//   - Radii run from 0 to kMaxRadius, the largest whose count fits an int.
//   - The separable filters (CFilterProc) use only the middle row (row r) of
//     a matrix, horizontally and vertically.
//   - Copies are deep: a copy owns its own coefficients.
//   - Allocation failure throws (std::bad_alloc); nothing else is reported.
#pragma once

#include <memory>

#include "platform/export.h"

class ORBIMG_API CFilterMatrix {
public:
    /// Largest radius Create accepts: (2r + 1)^2 stays below 2^31.
    static constexpr int kMaxRadius = 23169;

    /// An empty matrix.
    CFilterMatrix() = default;
    /// A deep copy (same radius and coefficients).
    CFilterMatrix(const CFilterMatrix& other);
    CFilterMatrix& operator=(const CFilterMatrix& other);
    virtual ~CFilterMatrix();

    /// Radius r, size 2r + 1, count size^2; the old coefficients are released
    /// and count new ones allocated, not initialised. Returns non-zero when
    /// minCount is 0 or at most count. A radius outside 0..kMaxRadius leaves
    /// the matrix empty and returns 0.
    int Create(int r, int minCount);
    /// A normalised Gaussian of radius r: the coefficient at column i, row j
    /// (both -r..r) is exp((i^2 + j^2) / (s x -2.0 x s)) in double, stored as
    /// float, then Normalize(). s = sigma, except that sigma exactly -1.0
    /// means s = r. sigma 0.0 gives 1.0 at the centre and 0.0 elsewhere (not
    /// normalised, already so). A NaN sigma gives NaN coefficients. Returns 0
    /// only when Create fails (matrix empty).
    int MakeGaussian(int r, double sigma);
    /// Divides every coefficient by their sum (taken in float, in index
    /// order); a sum of 0.0 leaves them unchanged.
    void Normalize();

    /// The size x size coefficients, row-major; null when empty.
    float* GetCoef() { return m_coef.get(); }
    const float* GetCoef() const { return m_coef.get(); }
    int GetRadius() const { return m_radius; }
    int GetSize() const { return m_size; }
    int GetCount() const { return m_count; }

private:
    std::unique_ptr<float[]> m_coef;
    int m_radius = 0;
    int m_size = 0;
    int m_count = 0;
};
