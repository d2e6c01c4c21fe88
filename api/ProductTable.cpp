#include "api/ProductTable.h"

#include "engine/CCameraBase.h"
#include "models/CCameraLegacyUsb2.h"
#include "models/CCameraProColor.h"
#include "models/CCameraProMono.h"
#include "models/CCameraPythonColor.h"
#include "models/CCameraPythonMono.h"
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
    // The first product of each class.
    {0x1001, &Create<CCameraProColor>},
    {0x1002, &Create<CCameraProMono>},
    {0x1003, &Create<CCameraUncooledColor>},
    {0x1004, &Create<CCameraUncooledMono>},
    {0x1005, &Create<CCameraLegacyUsb2>},
    {0x1006, &Create<CCameraLegacyUsb2>},
    {0x1007, &Create<CCameraLegacyUsb2>},
    {0x1008, &Create<CCameraLegacyUsb2>},
    {0x1009, &Create<CCameraPythonMono>},
    {0x100A, &Create<CCameraPythonColor>},
    // Further editions (board revisions, housings) of the same models.
    {0x100B, &Create<CCameraProColor>},
    {0x100C, &Create<CCameraProColor>},
    {0x100D, &Create<CCameraProColor>},
    {0x100E, &Create<CCameraProColor>},
    {0x100F, &Create<CCameraProColor>},
    {0x1010, &Create<CCameraProColor>},
    {0x1011, &Create<CCameraProColor>},
    {0x1012, &Create<CCameraProColor>},
    {0x1013, &Create<CCameraProColor>},
    {0x1014, &Create<CCameraProColor>},
    {0x1015, &Create<CCameraProColor>},
    {0x1016, &Create<CCameraProColor>},
    {0x1017, &Create<CCameraProColor>},
    {0x1018, &Create<CCameraProColor>},
    {0x1019, &Create<CCameraProColor>},
    {0x101A, &Create<CCameraProColor>},
    {0x101B, &Create<CCameraProColor>},
    {0x101C, &Create<CCameraProColor>},
    {0x101D, &Create<CCameraProColor>},
    {0x101E, &Create<CCameraProColor>},
    {0x101F, &Create<CCameraProColor>},
    {0x1020, &Create<CCameraProColor>},
    {0x1021, &Create<CCameraProColor>},
    {0x1022, &Create<CCameraProColor>},
    {0x1023, &Create<CCameraProColor>},
    {0x1024, &Create<CCameraProColor>},
    {0x1025, &Create<CCameraProColor>},
    {0x1026, &Create<CCameraProColor>},
    {0x1027, &Create<CCameraProColor>},
    {0x1028, &Create<CCameraProColor>},
    {0x1029, &Create<CCameraProMono>},
    {0x102A, &Create<CCameraProMono>},
    {0x102B, &Create<CCameraProMono>},
    {0x102C, &Create<CCameraProMono>},
    {0x102D, &Create<CCameraProMono>},
    {0x102E, &Create<CCameraProMono>},
    {0x102F, &Create<CCameraProMono>},
    {0x1030, &Create<CCameraProMono>},
    {0x1031, &Create<CCameraProMono>},
    {0x1032, &Create<CCameraProMono>},
    {0x1033, &Create<CCameraProMono>},
    {0x1034, &Create<CCameraProMono>},
    {0x1035, &Create<CCameraProMono>},
    {0x1036, &Create<CCameraProMono>},
    {0x1037, &Create<CCameraProMono>},
    {0x1038, &Create<CCameraProMono>},
    {0x1039, &Create<CCameraProMono>},
    {0x103A, &Create<CCameraProMono>},
    {0x103B, &Create<CCameraProMono>},
    {0x103C, &Create<CCameraProMono>},
    {0x103D, &Create<CCameraUncooledColor>},
    {0x103E, &Create<CCameraUncooledColor>},
    {0x103F, &Create<CCameraUncooledColor>},
    {0x1040, &Create<CCameraUncooledColor>},
    {0x1041, &Create<CCameraUncooledColor>},
    {0x1042, &Create<CCameraUncooledColor>},
    {0x1043, &Create<CCameraUncooledColor>},
    {0x1044, &Create<CCameraUncooledColor>},
    {0x1045, &Create<CCameraUncooledColor>},
    {0x1046, &Create<CCameraUncooledColor>},
    {0x1047, &Create<CCameraUncooledColor>},
    {0x1048, &Create<CCameraUncooledColor>},
    {0x1049, &Create<CCameraUncooledColor>},
    {0x104A, &Create<CCameraUncooledColor>},
    {0x104B, &Create<CCameraUncooledColor>},
    {0x104C, &Create<CCameraUncooledColor>},
    {0x104D, &Create<CCameraUncooledColor>},
    {0x104E, &Create<CCameraUncooledColor>},
    {0x104F, &Create<CCameraUncooledColor>},
    {0x1050, &Create<CCameraUncooledColor>},
    {0x1051, &Create<CCameraUncooledColor>},
    {0x1052, &Create<CCameraUncooledColor>},
    {0x1053, &Create<CCameraUncooledColor>},
    {0x1054, &Create<CCameraUncooledColor>},
    {0x1055, &Create<CCameraUncooledColor>},
    {0x1056, &Create<CCameraUncooledMono>},
    {0x1057, &Create<CCameraUncooledMono>},
    {0x1058, &Create<CCameraUncooledMono>},
    {0x1059, &Create<CCameraUncooledMono>},
    {0x105A, &Create<CCameraUncooledMono>},
    {0x105B, &Create<CCameraUncooledMono>},
    {0x105C, &Create<CCameraUncooledMono>},
    {0x105D, &Create<CCameraUncooledMono>},
    {0x105E, &Create<CCameraUncooledMono>},
    {0x105F, &Create<CCameraUncooledMono>},
    {0x1060, &Create<CCameraUncooledMono>},
    {0x1061, &Create<CCameraUncooledMono>},
    {0x1062, &Create<CCameraUncooledMono>},
    {0x1063, &Create<CCameraUncooledMono>},
    {0x1064, &Create<CCameraUncooledMono>},
    {0x1065, &Create<CCameraUncooledMono>},
    {0x1066, &Create<CCameraUncooledMono>},
    {0x1067, &Create<CCameraUncooledMono>},
    {0x1068, &Create<CCameraPythonMono>},
    {0x1069, &Create<CCameraPythonMono>},
    {0x106A, &Create<CCameraPythonMono>},
    {0x106B, &Create<CCameraPythonMono>},
    {0x106C, &Create<CCameraPythonMono>},
    {0x106D, &Create<CCameraPythonColor>},
    {0x106E, &Create<CCameraPythonColor>},
    {0x106F, &Create<CCameraPythonColor>},
    {0x1070, &Create<CCameraPythonColor>},
    {0x1071, &Create<CCameraPythonColor>},
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
            return row.pCreate(productId);
    return nullptr;
}
