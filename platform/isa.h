// Row kernels built for several instruction sets (internal).
//
// A function marked ORBIMG_ROW_KERNEL is compiled for AVX-512 (x86-64-v4),
// AVX2 (x86-64-v3) and the baseline, and the loader picks the best one the
// processor has. Only the vector width differs: the operations, their order
// and their IEEE results are the same (the build never contracts or reorders
// floating-point arithmetic), so every clone gives the same bits.
//
// The clones are left out (baseline only) under AddressSanitizer and
// ThreadSanitizer, whose run-times cannot run the loader's resolvers, and
// when ORBIMG_NO_ROW_KERNEL_CLONES is defined (to test the baseline on a
// machine that has the wider units).
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__) && !defined(ORBIMG_NO_ROW_KERNEL_CLONES)
#define ORBIMG_ROW_KERNEL __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define ORBIMG_ROW_KERNEL
#endif
