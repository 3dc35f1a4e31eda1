// Whether the vector kernels are built: TESSEL_SSE2 is 1 on x86 with SSE2
// (both builds: x86-64, and the DLL with -msse2), unless TESSEL_NO_SIMD
// asks for the plain loops alone. Every kernel computes exactly what its
// plain loop does, so both forms give the same bytes (scripts/test.sh
// compares the two builds).
#pragma once

#if defined(__SSE2__) && !defined(TESSEL_NO_SIMD)
#define TESSEL_SSE2 1
#include <emmintrin.h>
#else
#define TESSEL_SSE2 0
#endif
