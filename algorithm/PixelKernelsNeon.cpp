// The row kernels of VectorKernels.h for 32-bit Arm with NEON, in 16-byte
// vectors; this file is compiled with NEON enabled and only called when the
// kernel reports NEON (the armhf baseline does not have it).
#define ORU_VECTOR_BYTES 16
#include "algorithm/VectorKernels.h"

namespace PixelKernels {

ORU_DEFINE_ROW_KERNELS(Neon)

} // namespace PixelKernels
