#include "engine/CaptureState.h"

void CaptureState::Begin(bool snap)
{
    m_bSnap = snap;
    m_iExpStatus = ORU_EXP_WORKING;
    m_iSnapResult = ORU_EXP_WORKING;
}

void CaptureState::PublishExposureStatus()
{
    const ORU_EXPOSURE_STATUS result = m_iSnapResult;
    m_iExpStatus = result == ORU_EXP_WORKING ? ORU_EXP_FAILED : result;
}
