// The vector kernels with SSE2, which every processor of both builds has.
#include "kernels/kernel_paths.h"
#include "kernels/vector_kernels.h"
#include "kernels/vector_sse2.h"

TENVORA_DEFINE_VECTOR_KERNELS(Sse2, sse2)
