// The row kernels of VectorKernels.h for AVX-512BW, in 64-byte vectors; this
// file is compiled with AVX-512BW enabled and only called after a run-time check.
#define ORU_VECTOR_BYTES 64
#include "algorithm/VectorKernels.h"

namespace PixelKernels {

ORU_DEFINE_ROW_KERNELS(Avx512)

} // namespace PixelKernels
