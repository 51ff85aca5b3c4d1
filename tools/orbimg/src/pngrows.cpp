// A DIB's rows filtered for PNG in vectors (see pngrows.h).
#include "pngrows.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pngrows.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::tool::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

/// Pixel x as red, green, blue less pixel x - 1's, for x = 1 .. width - 1,
/// in vectors of pixels; the pixels left over are done one by one.
void SubRowBgr(const unsigned char* in, int width, int pixelBytes, unsigned char* out)
{
    const hn::ScalableTag<uint8_t> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    int x = 1;
    if (pixelBytes == 3) {
        for (; x + lanes <= width; x += lanes) {
            hn::Vec<decltype(d)> b, g, r, pb, pg, pr;
            hn::LoadInterleaved3(d, in + 3 * x, b, g, r);
            hn::LoadInterleaved3(d, in + 3 * (x - 1), pb, pg, pr);
            hn::StoreInterleaved3(hn::Sub(r, pr), hn::Sub(g, pg), hn::Sub(b, pb), d, out + 3 * x);
        }
    } else {
        for (; x + lanes <= width; x += lanes) {
            hn::Vec<decltype(d)> b, g, r, a, pb, pg, pr, pa;
            hn::LoadInterleaved4(d, in + 4 * x, b, g, r, a);
            hn::LoadInterleaved4(d, in + 4 * (x - 1), pb, pg, pr, pa);
            hn::StoreInterleaved3(hn::Sub(r, pr), hn::Sub(g, pg), hn::Sub(b, pb), d, out + 3 * x);
        }
    }
    for (; x < width; ++x) {
        const unsigned char* px = in + static_cast<std::size_t>(x) * static_cast<std::size_t>(pixelBytes);
        for (int c = 0; c < 3; ++c) {
            out[3 * x + c] = static_cast<unsigned char>(px[2 - c] - px[2 - c - pixelBytes]);
        }
    }
}

/// Adler-32 (zlib's) of n bytes, continuing `adler`. In blocks of C
/// vectors of N bytes, lane j adding the bytes j, N + j, ...: vs1 their sum,
/// vs2 the sum of vs1 after each vector, so that a byte of vector k counts
/// C - k times in vs2 where it counts (C - k) N - j times in the sum of sums.
std::uint32_t Adler32Vec(std::uint32_t adler, const unsigned char* data, std::size_t n)
{
    constexpr std::uint64_t kMod = 65521;
    const hn::ScalableTag<uint32_t> d;
    const hn::Rebind<uint8_t, decltype(d)> d8;
    const std::size_t lanes = hn::Lanes(d);
    constexpr std::size_t kVectors = 4096;  // vs2 stays below 2^32
    std::uint64_t s1 = adler & 0xFFFF;
    std::uint64_t s2 = adler >> 16;
    HWY_ALIGN std::uint32_t sum1[hn::MaxLanes(d)];
    HWY_ALIGN std::uint32_t sum2[hn::MaxLanes(d)];
    while (n >= lanes) {
        const std::size_t vectors = std::min(kVectors, n / lanes);
        auto vs1 = hn::Zero(d);
        auto vs2 = hn::Zero(d);
        for (std::size_t k = 0; k < vectors; ++k) {
            vs1 = hn::Add(vs1, hn::PromoteTo(d, hn::LoadU(d8, data + k * lanes)));
            vs2 = hn::Add(vs2, vs1);
        }
        hn::Store(vs1, d, sum1);
        hn::Store(vs2, d, sum2);
        const std::uint64_t bytes = vectors * lanes;
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        for (std::size_t j = 0; j < lanes; ++j) {
            a += sum1[j];
            b += lanes * sum2[j] - j * sum1[j];
        }
        s2 = (s2 + bytes * s1 + b) % kMod;
        s1 = (s1 + a) % kMod;
        data += bytes;
        n -= bytes;
    }
    for (std::size_t i = 0; i < n; ++i) {
        s1 += data[i];
        s2 += s1;
    }
    return static_cast<std::uint32_t>((s2 % kMod) << 16 | (s1 % kMod));
}

}  // namespace
}  // namespace orbimg::tool::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::tool {

HWY_EXPORT(SubRowBgr);
HWY_EXPORT(Adler32Vec);

void DibSubRow(const unsigned char* in, int width, int pixelBytes, unsigned char* out)
{
    if (width < 1) {
        return;
    }
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    HWY_DYNAMIC_DISPATCH(SubRowBgr)(in, width, pixelBytes, out);
}

std::uint32_t Adler32(std::uint32_t adler, const unsigned char* data, std::size_t n)
{
    return HWY_DYNAMIC_DISPATCH(Adler32Vec)(adler, data, n);
}

}  // namespace orbimg::tool
#endif  // HWY_ONCE
