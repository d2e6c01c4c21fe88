// The row kernels of VectorKernels.h for AVX2, in 32-byte vectors; this file
// is compiled with AVX2 enabled and only called after a run-time check.
#include "algorithm/VectorKernels.h"

namespace PixelKernels {

ORU_DEFINE_ROW_KERNELS(Avx2)

} // namespace PixelKernels
