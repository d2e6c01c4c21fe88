#include "api/ProductTable.h"

#include "engine/CCameraBase.h"
#include "models/CCameraProColor.h"
#include "models/CCameraProMono.h"
#include "models/CCameraUncooledColor.h"
#include "models/CCameraUncooledMono.h"

namespace {

// Several product IDs share a model class: the row's ID is the one the
// object opens.
template <typename Model>
CCameraBase *Create(int productId)
{
    CCameraBase *camera = new Model;
    camera->CameraPID(productId);
    return camera;
}

} // namespace

const ProductRow kProductTable[ORU_PRODUCT_ID_COUNT] = {
    {0x1001, &Create<CCameraProColor>},
    {0x1002, &Create<CCameraProMono>},
    {0x1003, &Create<CCameraUncooledColor>},
    {0x1004, &Create<CCameraUncooledMono>},
    {0x1005, nullptr},
    {0x1006, nullptr},
    {0x1007, nullptr},
    {0x1008, nullptr},
    {0x1009, nullptr},
    {0x100A, nullptr},
    {0x100B, nullptr},
    {0x100C, nullptr},
    {0x100D, nullptr},
    {0x100E, nullptr},
    {0x100F, nullptr},
    {0x1010, nullptr},
    {0x1011, nullptr},
    {0x1012, nullptr},
    {0x1013, nullptr},
    {0x1014, nullptr},
    {0x1015, nullptr},
    {0x1016, nullptr},
    {0x1017, nullptr},
    {0x1018, nullptr},
    {0x1019, nullptr},
    {0x101A, nullptr},
    {0x101B, nullptr},
    {0x101C, nullptr},
    {0x101D, nullptr},
    {0x101E, nullptr},
    {0x101F, nullptr},
    {0x1020, nullptr},
    {0x1021, nullptr},
    {0x1022, nullptr},
    {0x1023, nullptr},
    {0x1024, nullptr},
    {0x1025, nullptr},
    {0x1026, nullptr},
    {0x1027, nullptr},
    {0x1028, nullptr},
    {0x1029, nullptr},
    {0x102A, nullptr},
    {0x102B, nullptr},
    {0x102C, nullptr},
    {0x102D, nullptr},
    {0x102E, nullptr},
    {0x102F, nullptr},
    {0x1030, nullptr},
    {0x1031, nullptr},
    {0x1032, nullptr},
    {0x1033, nullptr},
    {0x1034, nullptr},
    {0x1035, nullptr},
    {0x1036, nullptr},
    {0x1037, nullptr},
    {0x1038, nullptr},
    {0x1039, nullptr},
    {0x103A, nullptr},
    {0x103B, nullptr},
    {0x103C, nullptr},
    {0x103D, nullptr},
    {0x103E, nullptr},
    {0x103F, nullptr},
    {0x1040, nullptr},
    {0x1041, nullptr},
    {0x1042, nullptr},
    {0x1043, nullptr},
    {0x1044, nullptr},
    {0x1045, nullptr},
    {0x1046, nullptr},
    {0x1047, nullptr},
    {0x1048, nullptr},
    {0x1049, nullptr},
    {0x104A, nullptr},
    {0x104B, nullptr},
    {0x104C, nullptr},
    {0x104D, nullptr},
    {0x104E, nullptr},
    {0x104F, nullptr},
    {0x1050, nullptr},
    {0x1051, nullptr},
    {0x1052, nullptr},
    {0x1053, nullptr},
    {0x1054, nullptr},
    {0x1055, nullptr},
    {0x1056, nullptr},
    {0x1057, nullptr},
    {0x1058, nullptr},
    {0x1059, nullptr},
    {0x105A, nullptr},
    {0x105B, nullptr},
    {0x105C, nullptr},
    {0x105D, nullptr},
    {0x105E, nullptr},
    {0x105F, nullptr},
    {0x1060, nullptr},
    {0x1061, nullptr},
    {0x1062, nullptr},
    {0x1063, nullptr},
    {0x1064, nullptr},
    {0x1065, nullptr},
    {0x1066, nullptr},
    {0x1067, nullptr},
    {0x1068, nullptr},
    {0x1069, nullptr},
    {0x106A, nullptr},
    {0x106B, nullptr},
    {0x106C, nullptr},
    {0x106D, nullptr},
    {0x106E, nullptr},
    {0x106F, nullptr},
    {0x1070, nullptr},
    {0x1071, nullptr},
};

bool IsSupportedProduct(int vendorId, int productId)
{
    if (vendorId != ORU_VENDOR_ID)
        return false;
    for (const ProductRow &row : kProductTable)
        if (row.iProductId == productId)
            return true;
    return false;
}

CCameraBase *mallocCamera(int productId)
{
    for (const ProductRow &row : kProductTable)
        if (row.iProductId == productId)
            return row.pCreate != nullptr ? row.pCreate(productId) : nullptr;
    return nullptr;
}
