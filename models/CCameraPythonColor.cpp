#include "models/CCameraPythonColor.h"

#include "models/ModelFamily.h"

CCameraPythonColor::CCameraPythonColor()
{
    CameraPID(0x100A);
    m_szCameraName = "TAV ORU174MC";
    m_szModelKey = "ORU174MC";
    m_iBayerPattern = ORU_BAYER_RG;
    ModelFamily::SetColour(*this, true);
    m_Limits.iWBRDefault = 60;
    m_Limits.iWBBDefault = 80;
    m_iWB_R = 60;
    m_iWB_B = 80;
    LoadModelSettings();
}
