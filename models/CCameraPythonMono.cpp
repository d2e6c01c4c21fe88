#include "models/CCameraPythonMono.h"

CCameraPythonMono::CCameraPythonMono()
{
    CameraPID(0x1009);
    m_szCameraName = "TAV ORU174MM";
    m_szModelKey = "ORU174MM";
    LoadModelSettings();
}
