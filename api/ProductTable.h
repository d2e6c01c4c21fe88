// The camera family's USB product IDs (vendor ORU_VENDOR_ID) and, for each,
// the model class the factory builds.
#pragma once

#include "api/ORUCamera.h"

class CCameraBase;

struct ProductRow {
    int iProductId;
    // Builds the model object for this product ID.
    CCameraBase *(*pCreate)(int productId);
};

extern const ProductRow kProductTable[ORU_PRODUCT_ID_COUNT];

bool IsSupportedProduct(int vendorId, int productId);

// The model object for a product ID, or null for an unknown product.
CCameraBase *mallocCamera(int productId);
