// The instruction-set levels MSVC's runtime detects at start-up
// (__isa_available, defined in msvc-runtime/startup/). MSVC ships this header
// with the compiler; the values are the ones its standard library compares.
#pragma once

enum __ISA_AVAILABILITY {
    __ISA_AVAILABLE_X86 = 0,
    __ISA_AVAILABLE_SSE2 = 1,
    __ISA_AVAILABLE_SSE42 = 2,
    __ISA_AVAILABLE_AVX = 3,
    __ISA_AVAILABLE_ENFSTRG = 4,
    __ISA_AVAILABLE_AVX2 = 5,
    __ISA_AVAILABLE_AVX512 = 6,
};
