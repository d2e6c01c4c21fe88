#include "models/CCameraPythonMono.h"

CCameraPythonMono::CCameraPythonMono()
{
    CameraPID(0x1009);
    DescribeModel().m_szCameraName = "TAV ORU174MM";
    DescribeModel().m_szModelKey = "ORU174MM";
    LoadModelSettings();
}
