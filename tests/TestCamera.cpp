#include "tests/TestCamera.h"

TestCamera::TestCamera(int maxWidth, int maxHeight, bool color, int productId)
{
    ModelDescription &model = DescribeModel();
    model.m_szCameraName = "ORU Test Camera";
    model.m_szModelKey = "TestCam";
    model.m_iMaxWidth = maxWidth;
    model.m_iMaxHeight = maxHeight;
    model.m_iBitDepth = 12;
    model.m_Caps.bColor = color;
    model.m_iBayerPattern = ORU_BAYER_RG;
    CameraPID(productId);
}

bool TestCamera::InitCamera()
{
    InitVariable();
    return SetResolution(Model().m_iMaxWidth, Model().m_iMaxHeight, 1, IMAGE_TYPE_8BIT);
}

bool TestCamera::SetResolution(int width, int height, int bin, IMAGE_TYPE type)
{
    m_iWidth = width;
    m_iHeight = height;
    m_iBin = bin;
    m_ImgType = type;
    return SetStartPos((Model().m_iMaxWidth - width * bin) / 2,
                       (Model().m_iMaxHeight - height * bin) / 2);
}

bool TestCamera::SetStartPos(int x, int y)
{
    m_iStartX = x;
    m_iStartY = y;
    if (m_bCutDark)
        AdjustDarkBuff();
    if (m_bHPC)
        AdjustHPCTable();
    return true;
}

bool TestCamera::SetGain(int gain, bool autoGain)
{
    m_iGain = gain;
    m_bAutoGain = autoGain;
    return true;
}

bool TestCamera::SetRGBBalance(int red, int blue, bool autoWB)
{
    m_iWB_R = red;
    m_iWB_B = blue;
    m_bAutoWB = autoWB;
    return true;
}

bool TestCamera::SetExp(uint64_t us, bool autoExp)
{
    m_lExposure = us;
    m_bAutoExp = autoExp;
    return true;
}

bool TestCamera::GetImage(unsigned char *, int, int)
{
    return false;
}
