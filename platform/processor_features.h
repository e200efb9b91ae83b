#pragma once
// Optional instruction sets of the processor, for the kernels that come in a
// plain and an AVX2 version giving the same results bit for bit.
//
// OSKAVI_AVX2_KERNELS is 1 where the compiler can build AVX2 kernels beside
// the plain code (x86-64 with GCC or Clang). There, OSKAVI_AVX2 marks a
// function compiled for AVX2 and OSKAVI_AVX2_INLINE a helper inlined into
// such functions (and compiled for them). Either may only run when
// processor_has_avx2() says so.

#if defined(__x86_64__) && defined(__GNUC__)
#define OSKAVI_AVX2_KERNELS 1
#define OSKAVI_AVX2 __attribute__((target("avx2")))
#define OSKAVI_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#else
#define OSKAVI_AVX2_KERNELS 0
#endif

namespace oskavi {

// Whether the processor runs AVX2 instructions; asked once, then remembered.
bool processor_has_avx2();

}  // namespace oskavi
