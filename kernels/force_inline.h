// Kernels that only move values are forced inline: on the 32-bit target a
// float returned from a called function passes through the x87 stack, which
// turns a signalling NaN into a quiet one.
#pragma once

#if defined(__GNUC__)
#define TENVORA_FORCE_INLINE inline __attribute__((always_inline))
#else
#define TENVORA_FORCE_INLINE inline
#endif
