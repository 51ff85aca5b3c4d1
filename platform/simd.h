// Vector kernels: how they are built and chosen (internal).
//
// Every vector kernel is written once, with Google Highway, and built for
// each instruction set: its source file re-includes itself through
// hwy/foreach_target.h, once per target (on x86-64 SSSE3, SSE4, AVX2 and
// AVX-512; on 64-bit ARM NEON and the SVE family; everywhere a plain build),
// and HWY_DYNAMIC_DISPATCH calls the best build the processor runs, chosen
// once at the first call. Highway is the one place that knows instruction
// sets; the library has no intrinsics, target attributes or inline
// assembly of its own.
//
// Conventions
//   - A kernel is a function in the target's namespace (HWY_NAMESPACE,
//     between HWY_BEFORE_NAMESPACE and HWY_AFTER_NAMESPACE). Its body is a
//     plain C++ loop where the compiler vectorises it well (the loop is
//     compiled with that target's instructions enabled), Highway operations
//     where it does not.
//   - Every build gives the same bits: the operations, their order and their
//     IEEE results do not depend on the vector width (the library never
//     contracts or reorders floating-point arithmetic). Where a build
//     computes a result another way (a product in place of a quotient), it
//     proves the result equal and takes the plain route where it cannot.
//   - The plain build (Highway's SCALAR or EMU128 target) is the plain loop:
//     tests compare every other build with it.
//   - The plain build is always among the builds (HWY_COMPILE_ALL_ATTAINABLE,
//     also where the baseline has vector instructions, as on 64-bit ARM).
#pragma once

#include <cstdint>
#include <vector>

namespace orbimg::simd {

/// The builds of the kernels this processor runs, best first; the last is
/// the plain build.
std::vector<std::int64_t> Targets();

/// The name of a build: "AVX3" (AVX-512), "AVX2", "SSE4", "NEON", "SVE",
/// "SCALAR" or "EMU128" (plain), ...
const char* TargetName(std::int64_t target);

/// While it lives, every kernel takes the build `target` (one of Targets()),
/// in every thread; afterwards the best build again. For tests; one at a
/// time, and not while kernels run.
class ForceTarget {
public:
    explicit ForceTarget(std::int64_t target);
    ~ForceTarget();
    ForceTarget(const ForceTarget&) = delete;
    ForceTarget& operator=(const ForceTarget&) = delete;
};

}  // namespace orbimg::simd
