// The standard benchmark frame: 6000 x 4000, three planes, sky around 1000
// with noise and a field of Gaussian stars, the same on every run.
#pragma once

#include "orbimg.h"

namespace orbimg::bench {

constexpr int kFrameWidth = 6000;
constexpr int kFrameHeight = 4000;

/// The colour standard frame (built once, shared by every benchmark; do not
/// change it: copy it first).
const CKelImage& StandardFrame();
/// The same frame with one plane.
const CKelImage& StandardMonoFrame();
/// Fills a frame of any size and planes with the standard sky and stars.
void FillFrame(CKelImage& image, unsigned seed = 12345);

/// The serial loop while it lives when `on` (the swap size set), else the
/// row bands on every core: the "serial" argument of a benchmark.
class SerialWhile {
public:
    explicit SerialWhile(long long on) { CVmManager::SetCurrentSwapSize(on ? 1 : 0); }
    ~SerialWhile() { CVmManager::SetCurrentSwapSize(0); }
    SerialWhile(const SerialWhile&) = delete;
    SerialWhile& operator=(const SerialWhile&) = delete;
};

}  // namespace orbimg::bench
