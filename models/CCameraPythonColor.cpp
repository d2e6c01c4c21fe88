#include "models/CCameraPythonColor.h"

#include "models/ModelFamily.h"

CCameraPythonColor::CCameraPythonColor()
{
    CameraPID(0x100A);
    ModelDescription &model = DescribeModel();
    model.m_szCameraName = "TAV ORU174MC";
    model.m_szModelKey = "ORU174MC";
    model.m_iBayerPattern = ORU_BAYER_RG;
    ModelFamily::SetColour(model, true);
    model.m_Limits.iWBRDefault = 60;
    model.m_Limits.iWBBDefault = 80;
    m_iWB_R = 60;
    m_iWB_B = 80;
    LoadModelSettings();
}
