#include "models/ModelFamily.h"

namespace ModelFamily {

namespace {

// Bytes per second per percent of bandwidth, divided by 10.
constexpr int kLinkRateUSB3 = 390000;
constexpr int kLinkRateUSB2 = 43272;

constexpr int kUnityColourGain = 128;

// Clamps value to 1..99 and returns its FPGA colour gain.
int ColourGain(int &value)
{
    if (value < 1) {
        value = 1;
        return 2;
    }
    if (value > 99) {
        value = 99;
        return 253;
    }
    return value * 256 / 100;
}

} // namespace

int LinkRate(bool usb3Host)
{
    return usb3Host ? kLinkRateUSB3 : kLinkRateUSB2;
}

void SetSensor(ModelDescription &model, int width, int height, double pixelSizeUm, int bitDepth)
{
    model.m_iMaxWidth = width;
    model.m_iMaxHeight = height;
    model.m_dPixelSize = pixelSizeUm;
    model.m_iBitDepth = bitDepth;
}

void SetColour(ModelDescription &model, bool colour)
{
    CameraCaps &caps = model.m_Caps;
    caps.bColor = colour;
    caps.bRGB24 = colour;
    caps.bY8 = colour;
    caps.bWBRed = colour;
    caps.bWBBlue = colour;
}

void SetGainOffsetRef(ModelDescription &model, const std::array<int, 5> &values)
{
    for (size_t i = 0; i < values.size(); ++i)
        model.m_iGainOffsetRef[i] = values[i];
}

void SetControls(ModelDescription &model, const ControlDefaults &defaults)
{
    CameraCaps &caps = model.m_Caps;
    caps.bRaw8 = true;
    caps.bRaw16 = true;
    caps.bGain = true;
    caps.bExposure = true;
    caps.bOffset = true;
    caps.bBandwidth = true;
    caps.bAutoBandwidth = true;
    caps.bHighSpeed = true;

    ControlLimits &limits = model.m_Limits;
    limits.iGainDefault = defaults.iGain;
    limits.iGainMax = defaults.iGainMax;
    limits.iGainMin = 0;
    limits.lExpDefault = 10000;
    limits.lExpMax = static_cast<int64_t>(defaults.lExpMax);
    limits.lExpMin = static_cast<int64_t>(defaults.lExpMin);
    limits.iGammaDefault = 50;
    limits.iGammaMax = 100;
    limits.iGammaMin = 1;
    limits.iWBRDefault = defaults.iWBRed;
    limits.iWBBDefault = defaults.iWBBlue;
    limits.iWBMax = defaults.iWBMax;
    limits.iWBMin = 1;
    limits.iOffsetDefault = defaults.iOffset;
    limits.iOffsetMax = defaults.iOffsetMax;
    limits.iOffsetMin = 0;
    limits.iBandwidthMin = 40;
    limits.iBandwidthMax = 100;
}

void StartControls(CCameraBase &camera, const ControlDefaults &defaults)
{
    // Bin 1, 8 bits and manual controls are the camera's first values too.
    camera.StoreRoi(camera.Model().m_iMaxWidth, camera.Model().m_iMaxHeight, 1, IMAGE_TYPE_8BIT);
    camera.StoreGain(defaults.iGain, false);
    camera.StoreExposure(10000, false);
    camera.StoreGamma(50);
    camera.StoreWhiteBalance(defaults.iWBRed, defaults.iWBBlue, false);
    camera.StoreOffset(defaults.iOffset);
    camera.StoreBandwidth(80, true);
    camera.StoreBandwidthUSB3(defaults.iBandwidthUSB3);
}

void LoadSettings(CCameraBase &camera, int maxAutoExpMs)
{
    camera.LoadSetting();
    if (camera.Settings().m_iAutoMaxExpMs > maxAutoExpMs)
        camera.SetAutoPara(camera.Settings().m_iAutoMaxGain, maxAutoExpMs,
                           camera.Settings().m_iAutoTargetBrightness);
    camera.SetRGBBalance(camera.Settings().m_iWB_R, camera.Settings().m_iWB_B,
                         camera.Settings().m_bAutoWB);
}

bool RoiAcceptable(const CCameraBase &camera, int width, int height, int bin, IMAGE_TYPE type)
{
    bool binSupported = false;
    for (int i = 0; i < 16 && camera.Model().m_SupportedBins[i] != 0; ++i)
        binSupported = binSupported || camera.Model().m_SupportedBins[i] == bin;
    if (!binSupported)
        return false;

    // 64-bit, so that no caller's width or height can overflow the checks.
    const int64_t sensorWidth = static_cast<int64_t>(width) * bin;
    const int64_t sensorHeight = static_cast<int64_t>(height) * bin;
    const int typeCode = static_cast<int>(type);
    if (sensorWidth > camera.Model().m_iMaxWidth || sensorHeight > camera.Model().m_iMaxHeight ||
        sensorWidth < 1 || sensorHeight < 1 || typeCode < IMAGE_TYPE_8BIT ||
        typeCode > IMAGE_TYPE_RAW16)
        return false;
    return sensorHeight % 2 == 0 && sensorWidth % 8 == 0;
}

void CentreRoi(CCameraBase &camera, int width, int height, int bin)
{
    camera.DbgPrint2(
        LogSeverity::Info, "SetResolution", "SetResolution: sPx:%d, sPy:%d, w:%d, h:%d, bin:%d \n",
        camera.Settings().m_iStartX.load(), camera.Settings().m_iStartY.load(), width, height, bin);
    camera.StoreStartPos((camera.Model().m_iMaxWidth - width * bin) / 2,
                         (camera.Model().m_iMaxHeight - height * bin) / 2);
    camera.SetStartPos(camera.Settings().m_iStartX, camera.Settings().m_iStartY);
}

void StoreRoi(CCameraBase &camera, int width, int height, int bin, IMAGE_TYPE type)
{
    camera.StoreRoi(width, height, bin, type);
    CentreRoi(camera, width, height, bin);
}

void PlaceStart(CCameraBase &camera, int &x, int &y, int xStep, int yStep)
{
    // The dark frame and hot-pixel map follow the ROI as one whole.
    SectionLock roi(camera.m_csRoi);
    const int bin = camera.Settings().m_iBin;
    x = (x < 0 ? 0 : x) / xStep * xStep;
    y = (y < 0 ? 0 : y) / yStep * yStep;
    if (y + camera.Settings().m_iHeight * bin > camera.Model().m_iMaxHeight)
        y = camera.Model().m_iMaxHeight - camera.Settings().m_iHeight * bin;
    if (x + camera.Settings().m_iWidth * bin > camera.Model().m_iMaxWidth)
        x = (camera.Model().m_iMaxWidth - camera.Settings().m_iWidth * bin) / xStep * xStep;
    camera.StoreStartPos(x, y);

    if (camera.Settings().m_bCutDark)
        camera.AdjustDarkBuff();
    if (camera.Settings().m_bHPC)
        camera.AdjustHPCTable();
    camera.DbgPrint2(LogSeverity::Debug, "SetStartPos", "SetStartPos X:%d Y:%d\n", x, y);
}

bool CanDeliver(const CCameraBase &camera, const unsigned char *buffer, int size, int width,
                int height, IMAGE_TYPE type)
{
    const int outputBytes = width * height * CCameraBase::OutputBytesPerPixel(type);
    return buffer != nullptr && size >= outputBytes && camera.GetCirBuf() != nullptr &&
           camera.GetImgBuf() != nullptr;
}

int StoreGain(CCameraBase &camera, int gain, bool autoGain, int maxGain)
{
    gain = gain < 0 ? 0 : (gain > maxGain ? maxGain : gain);
    camera.StoreGain(gain, autoGain);
    return gain;
}

uint64_t StoreExposure(CCameraBase &camera, uint64_t us, bool autoExp, uint64_t minUs,
                       uint64_t maxUs)
{
    us = us < minUs ? minUs : (us > maxUs ? maxUs : us);
    camera.StoreExposure(us, autoExp);
    return us;
}

int StoreBandwidth(CCameraBase &camera, int &percent, bool autoBandwidth)
{
    percent = percent < 40 ? 40 : (percent > 100 ? 100 : percent);
    int bandwidth = percent;
    if (autoBandwidth && !camera.Settings().m_bAutoBandwidth)
        bandwidth = camera.Settings().m_bUSB3Host ? 100 : 80;
    camera.StoreBandwidth(bandwidth, autoBandwidth);
    return bandwidth;
}

bool SetRGBBalance(CCameraBase &camera, int red, int blue, bool autoWB)
{
    const int redGain = ColourGain(red);
    const int blueGain = ColourGain(blue);
    camera.StoreWhiteBalance(red, blue, autoWB);
    // The FPGA would multiply every other pixel of a mono sensor.
    if (!camera.Model().m_Caps.bColor)
        return camera
            .SetFPGAGain(kUnityColourGain, kUnityColourGain, kUnityColourGain, kUnityColourGain)
            .IsOk();
    return camera.SetFPGAGain(redGain, kUnityColourGain, kUnityColourGain, blueGain).IsOk();
}

} // namespace ModelFamily
