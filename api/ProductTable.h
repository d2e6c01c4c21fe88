// The USB product IDs of the camera family (vendor ORU_VENDOR_ID).
#pragma once

#include "api/ORUCamera.h"

extern const int kProductIds[ORU_PRODUCT_ID_COUNT];

bool IsSupportedProduct(int vendorId, int productId);
