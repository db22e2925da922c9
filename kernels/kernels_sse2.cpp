// The vector kernels with SSE2, which every processor of both builds has.
#include "kernels/vector_kernels.h"
#include "kernels/vector_sse2.h"

const KernelTable sse2_kernels = vector_kernel_table<Sse2>("sse2");
