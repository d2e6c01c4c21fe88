// Compiled with AVX2 enabled; see BayerRowKernels.h.
#include "algorithm/BayerRowKernels.h"

namespace PixelKernels {

void DemosaicRGB24Avx2(const BayerRow &row, uint8_t *out)
{
    DemosaicRGB24Rows(row, out);
}

void DemosaicY8Avx2(const BayerRow &row, uint8_t *out)
{
    DemosaicY8Rows(row, out);
}

} // namespace PixelKernels
