// clang-cl's own <intrin.h> (found first, in the compiler's resource folder)
// includes the next <intrin.h> on the path, which would be Wine's: that one
// defines __cpuid again, as a static function, which clashes with clang's.
// This one ends the chain: clang's header declares every intrinsic.
#pragma once
#define _INC_INTRIN
