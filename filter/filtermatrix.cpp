// CFilterMatrix: creation, Gaussian kernels and normalisation.
#include "filter/filtermatrix.h"

#include <algorithm>
#include <cmath>

CFilterMatrix::CFilterMatrix(const CFilterMatrix& other) { *this = other; }

CFilterMatrix& CFilterMatrix::operator=(const CFilterMatrix& other)
{
    if (this == &other) {
        return *this;
    }
    std::unique_ptr<float[]> coef;
    if (other.m_coef) {
        coef = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(other.m_count));
        std::copy_n(other.m_coef.get(), other.m_count, coef.get());
    }
    m_coef = std::move(coef);
    m_radius = other.m_radius;
    m_size = other.m_size;
    m_count = other.m_count;
    return *this;
}

CFilterMatrix::~CFilterMatrix() = default;

int CFilterMatrix::Create(int r, int minCount)
{
    m_coef.reset();
    m_radius = 0;
    m_size = 0;
    m_count = 0;
    if (r < 0 || r > kMaxRadius) {
        return 0;
    }
    const int size = 2 * r + 1;
    m_coef = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    m_radius = r;
    m_size = size;
    m_count = size * size;
    return (minCount == 0 || minCount <= m_count) ? 1 : 0;
}

int CFilterMatrix::MakeGaussian(int r, double sigma)
{
    if (r < 0 || r > kMaxRadius || !Create(r, (2 * r + 1) * (2 * r + 1))) {
        return 0;
    }
    const double s = (sigma == -1.0) ? static_cast<double>(r) : sigma;
    float* c = m_coef.get();
    if (s == 0.0) {
        std::fill_n(c, m_count, 0.0f);
        c[r * m_size + r] = 1.0f;
        return 1;
    }
    const double denominator = s * -2.0 * s;
    for (int j = -r; j <= r; ++j) {
        for (int i = -r; i <= r; ++i) {
            // i^2 + j^2 <= 2 * kMaxRadius^2 fits an int.
            *c++ = static_cast<float>(std::exp(static_cast<double>(i * i + j * j) / denominator));
        }
    }
    Normalize();
    return 1;
}

void CFilterMatrix::Normalize()
{
    float* c = m_coef.get();
    if (!c) {
        return;
    }
    float sum = 0.0f;
    for (int i = 0; i < m_count; ++i) {
        sum += c[i];
    }
    if (sum == 0.0f) {
        return;
    }
    for (int i = 0; i < m_count; ++i) {
        c[i] /= sum;
    }
}
