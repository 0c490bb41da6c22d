// The compiler intrinsics MSVC's standard library uses (bit scans,
// interlocked operations, 128-bit multiplication). MSVC declares a subset in
// this header; clang-cl declares them all in its own <intrin.h>.
#pragma once
#include <intrin.h>
