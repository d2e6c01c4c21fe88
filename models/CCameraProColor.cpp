#include "models/CCameraProColor.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>

#include "log/DbgPrint.h"
#include "models/ProColorRegisterTables.h"

namespace {

constexpr int kProductId = 0x1001;
constexpr int kSensorClockKHz = 20000;

// Bytes per second per percent of bandwidth, divided by 10.
constexpr int kLinkRateUSB3 = 390000;
constexpr int kLinkRateUSB2 = 43272;

constexpr uint64_t kMinExposureUs = 32;
constexpr uint64_t kMaxExposureUs = 2000000000;
constexpr uint64_t kLongExposureUs = 1000000;
// Long exposures program a frame this much longer than the sensor frame; the
// capture loop times the real exposure.
constexpr uint32_t kLongExposureMarginUs = 5000;
// CalcMaxFPS keeps its last results from this exposure on.
constexpr uint64_t kMaxFPSExposureLimitUs = 99999;
constexpr uint32_t kMaxVMAX = 0xFFFFFF;
constexpr uint32_t kMaxSHS = 0x1FFFE;

constexpr int kMaxGain = 700;
// The high-conversion-gain switch is worth this much gain (0.1 dB).
constexpr int kHCGGain = 100;
// Above this gain the digital gain takes over in steps of kDigitalGainStep.
constexpr int kMaxAnalogueGain = 460;
constexpr int kDigitalGainStep = 60;

// Sensor registers the driver programs itself.
constexpr uint16_t kRegStandby = 0x000;  // bit 0 standby, bit 2 wake-up
constexpr uint16_t kRegWindowUpdate = 0x007;
constexpr uint16_t kRegStartYLow = 0x008;
constexpr uint16_t kRegStartYHigh = 0x009;
constexpr uint16_t kRegHeightLow = 0x00A;
constexpr uint16_t kRegHeightHigh = 0x00B;
constexpr uint16_t kRegSHSLow = 0x018;
constexpr uint16_t kRegSHSHigh = 0x019;
constexpr uint16_t kRegHCG = 0x02F;
constexpr uint16_t kRegAnalogueGain = 0x030; // 0x030..0x033: low, high, low, high
constexpr uint16_t kRegDigitalGain = 0x040;
constexpr uint16_t kRegBlackLevel = 0x042;   // 0x042..0x045: low, high, low, high
constexpr uint16_t kRegSensorCrop = 0x0A7;   // 1: the sensor crops horizontally
constexpr uint16_t kRegStartXLow = 0x0A8;
constexpr uint16_t kRegStartXHigh = 0x0A9;
constexpr uint16_t kRegVerticalBinning = 0x1D8;
constexpr uint16_t kRegOutputWidthLow = 0x1DD;
constexpr uint16_t kRegOutputWidthHigh = 0x1DE;
constexpr uint16_t kRegStreamControl = 0x1EE;

constexpr uint8_t kRequestAfterFPGAReset = 0xAF;

// The sensor itself bins (fully for 2 and 3, 2 x 2 for 4).
bool SensorBins(bool hardwareBin, int bin)
{
    return hardwareBin && bin >= 2 && bin <= 4;
}

int LinkConstant(bool usb3Host)
{
    return usb3Host ? kLinkRateUSB3 : kLinkRateUSB2;
}

// MB/s (10^6 bytes) the link moves at this bandwidth percentage.
double LinkMBPerSecond(bool usb3Host, int bandwidth)
{
    return static_cast<double>(LinkConstant(usb3Host)) * bandwidth * 10 / 1000 / 1000;
}

void SleepMs(unsigned ms)
{
    usleep(ms * 1000);
}

} // namespace

CCameraProColor::ModeTiming CCameraProColor::s_ModeTiming = {
    {kProColorAllPixelNormal.iFPGAVBLK},      {kProColorAllPixelNormal.iFPGAHBLK},
    {kProColorAllPixelNormal.iMinHMAX},       {kProColorAllPixelNormal.iOverheadLines},
    {kLinkRateUSB3},
};

CCameraProColor::CCameraProColor()
{
    DbgPrint(-1, "CCameraProColor", "CCAMERA::CCAMERA()\n");
    CameraPID(kProductId);

    m_szCameraName = "TAV ORU6200MC Pro";
    m_szModelKey = "ORU6200MC Pro";
    m_iMaxWidth = 6248;
    m_iMaxHeight = 4176;
    m_iWidth = m_iMaxWidth;
    m_iHeight = m_iMaxHeight;
    m_dPixelSize = 3.76;
    m_iBitDepth = 16;
    m_iBayerPattern = ORU_BAYER_RG;
    m_bUSB3Camera = true;
    // After the base's bin 1.
    m_SupportedBins[1] = 2;
    m_SupportedBins[2] = 3;
    m_SupportedBins[3] = 4;

    m_Caps.bColor = true;
    m_Caps.bRaw8 = true;
    m_Caps.bRGB24 = true;
    m_Caps.bY8 = true;
    m_Caps.bRaw16 = true;
    m_Caps.bGain = true;
    m_Caps.bExposure = true;
    m_Caps.bWBRed = true;
    m_Caps.bWBBlue = true;
    m_Caps.bOffset = true;
    m_Caps.bBandwidth = true;
    m_Caps.bAutoBandwidth = true;
    m_Caps.bTemperature = true;
    m_Caps.bHardwareBin = true;
    m_Caps.bHighSpeed = true;
    m_Caps.bAntiDewHeater = true;

    m_Limits.iGainDefault = 200;
    m_Limits.iGainMax = kMaxGain;
    m_Limits.iGainMin = 0;
    m_Limits.lExpDefault = 10000;
    m_Limits.lExpMax = kMaxExposureUs;
    m_Limits.lExpMin = kMinExposureUs;
    m_Limits.iGammaDefault = 50;
    m_Limits.iGammaMax = 100;
    m_Limits.iGammaMin = 1;
    m_Limits.iWBRDefault = 52;
    m_Limits.iWBBDefault = 95;
    m_Limits.iWBMax = 99;
    m_Limits.iWBMin = 1;
    m_Limits.iOffsetDefault = 1;
    m_Limits.iOffsetMax = 240;
    m_Limits.iOffsetMin = 0;
    m_Limits.iBandwidthMin = 40;
    m_Limits.iBandwidthMax = 100;

    m_iGain = 200;
    m_lExposure = 10000;
    m_iGamma = 50;
    m_iWB_R = 52;
    m_iWB_B = 95;
    m_iOffset = 1;
    m_iBandwidth = 80;
    m_bAutoBandwidth = true;
    m_iBandwidthUSB3 = 100;
    m_fElecPerADU = 0.768f;
    const int gainOffsetRef[5] = {10, 10, 100, 300, 50};
    for (int i = 0; i < 5; ++i)
        m_iGainOffsetRef[i] = gainOffsetRef[i];
    m_iAutoMaxGain = 350;
    m_iCMOSClk = kSensorClockKHz;
    m_iHMAX = kProColorAllPixelNormal.iMinHMAX;
    m_bEnableDDR = true;
    m_iTempSensorType = 0;
    m_iCoolerDriveKind = 1;
    m_iHeaterKind = 2;
    m_bFPGABin = false;

    LoadSetting();
    if (m_iAutoMaxExpMs > 2000000)
        m_iAutoMaxExpMs = 2000000;
    SetRGBBalance(m_iWB_R, m_iWB_B, m_bAutoWB);

    // Bayer phase offsets under hardware binning (rows bin 2 and bin 3).
    m_pSensorTable[32] = -8;
    m_pSensorTable[33] = 0;
    m_pSensorTable[34] = -8;
    m_pSensorTable[35] = 0;
    m_pSensorTable[48] = 0;
    m_pSensorTable[49] = -2;
    m_pSensorTable[50] = -3;
    m_pSensorTable[51] = -5;
}

CCameraProColor::~CCameraProColor()
{
    DbgPrint(-1, "~CCameraProColor", "CCAMERA::~CCAMERA()\n");
    CCameraCool::CloseCamera();
    // These threads call this class's overrides, so they end before it does.
    m_WorkThread.Stop();
    m_TrigThread.Stop();
    m_AutoCtrlThread.Stop();
}

bool CCameraProColor::InitCamera()
{
    // The product ID stays the one the camera was opened with: several
    // products share this class.
    if (!m_bOpen)
        return false;
    m_WorkThread.InitFuncPt(WorkingFunc);
    m_TrigThread.InitFuncPt(NoTriggerFunc);

    InitVariable();
    SetHPCStates(true);
    GetFPGAVer();
    SleepMs(10);

    PlayRegisterTable(kProColorInitTable, kProColorInitRows);
    WriteSONYREG(0x003, 0x10);
    WriteSONYREG(kRegWindowUpdate, 1);
    WriteSONYREG(kRegSensorCrop, 1);
    WriteSONYREG(kRegVerticalBinning, 4);
    WriteSONYREG(0x048, 0x0F);
    WriteSONYREG(0x051, 0x08);

    FPGAReset();
    SleepMs(20);
    SendCMD(kRequestAfterFPGAReset);
    if (!FPGADDRTest())
        return false;

    SetFPGAAsMaster(true);
    FPGAStop();
    EnableFPGADDR(m_bEnableDDR);
    SetFPGAADCWidthOutputWidth(ADC_BIT_WIDE, false);
    SetFPGABinMode(FPGA_BIN_MODE_0);
    SetFPGAGain(128, 128, 128, 128);

    InitCooling(40);
    StartAutoTempThr();
    SetPowerPerc(0);
    SetAutoTemp(false, m_iTargetTemp);

    SetGamma(m_iGamma);
    SetRGBBalance(m_iWB_R, m_iWB_B, m_bAutoWB);
    SetBrightness(m_iOffset);

    if (m_bAutoBandwidth)
        m_iBandwidth = m_bUSB3Host ? 100 : 80;
    SetCMOSClk();
    InitSensorMode(m_bHardwareBin, m_iBin, m_bHighSpeed, m_ImgType);
    SetFPSPerc(m_iBandwidth, m_bAutoBandwidth);
    SetGain(m_iGain, m_bAutoGain);
    SetExp(m_lExposure, m_bAutoExp);

    StopSensorStreaming();
    return true;
}

void CCameraProColor::PlayRegisterTable(const uint16_t (*table)[2], int rows)
{
    for (int i = 0; i < rows; ++i) {
        if (table[i][0] == kRegisterPause)
            SleepMs(table[i][1]);
        else
            WriteSONYREG(table[i][0], static_cast<uint8_t>(table[i][1] & 0xFF));
    }
}

bool CCameraProColor::InitSensorMode(bool hardwareBin, int bin, bool highSpeed, IMAGE_TYPE type)
{
    m_iBin = bin;
    const bool wide = type == IMAGE_TYPE_WORD32 || type == IMAGE_TYPE_RAW16;
    DbgPrint(-1, "InitSensorMode", "HardwareBin:%d Bin:%d b16Bit:%d\n", hardwareBin, bin, wide);
    PlayRegisterTable(kProColorInitTable, kProColorInitRows);

    const ProColorSensorMode *mode = nullptr;
    if (bin == 1 || !hardwareBin)
        mode = highSpeed ? &kProColorAllPixelHighSpeed : &kProColorAllPixelNormal;
    else if (bin == 3)
        mode = &kProColorHardwareBin3;
    else if (bin == 2 || bin == 4)
        mode = &kProColorHardwareBin24;
    if (mode == nullptr) {
        DbgPrint(-1, "InitSensorMode", "Parameters Error, Camera will die!\n");
        return true;
    }

    s_ModeTiming.iFPGAVBLK = mode->iFPGAVBLK;
    s_ModeTiming.iFPGAHBLK = mode->iFPGAHBLK;
    s_ModeTiming.iMinHMAX = mode->iMinHMAX;
    s_ModeTiming.iOverheadLines = mode->iOverheadLines;
    PlayRegisterTable(mode->pTable, kProColorModeRows);
    SetFPGAADCWidthOutputWidth(mode->adcWidth, wide);
    return true;
}

bool CCameraProColor::SetResolution(int width, int height, int bin, IMAGE_TYPE type)
{
    bool binSupported = false;
    for (int i = 0; i < 16 && m_SupportedBins[i] != 0; ++i)
        binSupported = binSupported || m_SupportedBins[i] == bin;
    if (!binSupported)
        return false;

    // 64-bit, so that no caller's width or height can overflow the checks.
    const int64_t sensorWidth = static_cast<int64_t>(width) * bin;
    const int64_t sensorHeight = static_cast<int64_t>(height) * bin;
    const int typeCode = static_cast<int>(type);
    if (sensorWidth > m_iMaxWidth || sensorHeight > m_iMaxHeight || sensorWidth < 1 ||
        sensorHeight < 1 || typeCode < IMAGE_TYPE_8BIT || typeCode > IMAGE_TYPE_RAW16)
        return false;
    if (SensorBins(m_bHardwareBin, bin) && (height % 2 != 0 || width % 8 != 0))
        return false;
    if (sensorHeight % 2 != 0 || sensorWidth % 8 != 0)
        return false;

    m_iWidth = width;
    m_iHeight = height;
    if (type != m_ImgType || bin != m_iBin)
        InitSensorMode(m_bHardwareBin, bin, m_bHighSpeed, type);
    m_iBin = bin;
    m_ImgType = type;
    DbgPrint(-1, "SetResolution", "SetResolution: sPx:%d, sPy:%d, w:%d, h:%d, bin:%d \n",
             m_iStartX.load(), m_iStartY.load(), width, height, bin);

    m_iStartX = (m_iMaxWidth - width * bin) / 2;
    m_iStartY = (m_iMaxHeight - height * bin) / 2;
    SetStartPos(m_iStartX, m_iStartY);

    SetOutput16Bits(type == IMAGE_TYPE_WORD32 || type == IMAGE_TYPE_RAW16);
    Cam_SetResolution();
    SetCMOSClk();
    SetFPSPerc(m_iBandwidth, m_bAutoBandwidth);
    SetExp(m_lExposure, m_bAutoExp);
    return true;
}

bool CCameraProColor::SetStartPos(int x, int y)
{
    const int bin = m_iBin;
    const bool hardwareBin = m_bHardwareBin;
    x = x < 0 ? 0 : x;
    y = y < 0 ? 0 : y;

    int rowOffset = 25;
    if (hardwareBin && bin == 3) {
        y = y / 6 * 6;
        rowOffset = 27;
    } else if (SensorBins(hardwareBin, bin)) {
        y = y / 4 * 4;
    } else {
        y = y / 2 * 2;
    }
    x = x / 16 * 16;

    if (y + m_iHeight * bin > m_iMaxHeight)
        y = m_iMaxHeight - m_iHeight * bin;
    // The sensor takes x in steps of 16 and the sensor width is not a
    // multiple of 16, so a start pushed back from the right edge is aligned
    // again to stay where the sensor actually starts.
    if (x + m_iWidth * bin > m_iMaxWidth)
        x = (m_iMaxWidth - m_iWidth * bin) / 16 * 16;
    m_iStartX = x;
    m_iStartY = y;

    if (m_bCutDark)
        AdjustDarkBuff();
    if (m_bHPC)
        AdjustHPCTable();
    DbgPrint(-1, "SetStartPos", "SetStartPos X:%d Y:%d\n", x, y);

    SetFPGAVBLK(static_cast<uint16_t>(s_ModeTiming.iFPGAVBLK));
    if (SensorBins(hardwareBin, bin)) {
        // The FPGA crops horizontally.
        SetFPGAHBLK(static_cast<uint16_t>(x / bin + s_ModeTiming.iFPGAHBLK));
        WriteSONYREG(kRegSensorCrop, 0);
    } else {
        SetFPGAHBLK(static_cast<uint16_t>(s_ModeTiming.iFPGAHBLK));
        WriteSONYREG(kRegSensorCrop, 1);
    }

    const int row = y + rowOffset;
    WriteSONYREG(kRegWindowUpdate, 1);
    WriteSONYREG(kRegStartXLow, static_cast<uint8_t>((x >> 4) & 0xFF));
    WriteSONYREG(kRegStartXHigh, static_cast<uint8_t>((x >> 12) & 0xFF));
    WriteSONYREG(kRegStartYLow, static_cast<uint8_t>(row & 0xFF));
    WriteSONYREG(kRegStartYHigh, static_cast<uint8_t>((row >> 8) & 0xFF));
    return true;
}

void CCameraProColor::GetSensorOutputSize(int *width, int *height)
{
    const int bin = m_iBin;
    int factor = bin;
    if (SensorBins(m_bHardwareBin, bin))
        factor = bin == 4 ? 2 : 1;
    *width = m_iWidth * factor;
    *height = m_iHeight * factor;
}

int CCameraProColor::GetRealImageSize()
{
    int width = 0;
    int height = 0;
    GetSensorOutputSize(&width, &height);
    return width * height * (m_b16Bit ? 2 : 1);
}

bool CCameraProColor::Cam_SetResolution()
{
    DbgPrint(-1, "Cam_SetResolution", "SetResolution!\n");
    int width = 0;
    int height = 0;
    GetSensorOutputSize(&width, &height);
    const bool snap = m_bSnap;
    if (snap)
        CamSetStandby(true);

    WriteSONYREG(kRegWindowUpdate, 1);
    SetFPGABinDataLen(static_cast<uint32_t>(GetRealImageSize()) / 4);
    const bool sensorBins = SensorBins(m_bHardwareBin, m_iBin);
    WriteSONYREG(kRegVerticalBinning, sensorBins ? 0 : 4);
    const int rows = height + (sensorBins ? 2 : 0);
    WriteSONYREG(kRegHeightLow, static_cast<uint8_t>(rows & 0xFF));
    WriteSONYREG(kRegHeightHigh, static_cast<uint8_t>((rows >> 8) & 0xFF));
    const int outputWidth = width / 4 * 4 + 24;
    WriteSONYREG(kRegOutputWidthLow, static_cast<uint8_t>(outputWidth & 0xFC));
    WriteSONYREG(kRegOutputWidthHigh, static_cast<uint8_t>((outputWidth >> 8) & 0xFF));

    if (snap)
        CamSetStandby(false);
    SetFPGAHeight(height);
    SetFPGAWidth(width);
    return true;
}

template <typename ModeStep>
bool CCameraProColor::Reconfigure(ModeStep step)
{
    const bool wasCapturing = IsCaptureRunning();
    StopCapture();
    step();
    const int x = m_iStartX;
    const int y = m_iStartY;
    SetResolution(m_iWidth, m_iHeight, m_iBin, m_ImgType);
    SetStartPos(x, y);
    if (wasCapturing)
        StartCapture(false);
    return true;
}

bool CCameraProColor::SetHardwareBin(bool on)
{
    const int bin = m_iBin;
    if (bin < 2 || bin > 4) {
        m_bHardwareBin = on;
        return true;
    }
    const int width = m_iWidth;
    const int height = m_iHeight;
    if (on && (height % 2 != 0 || width % 8 != 0))
        return false;
    if ((height * bin) % 2 != 0 || (width * bin) % 8 != 0)
        return false;
    m_bHardwareBin = on;
    return Reconfigure([this, on, bin] { InitSensorMode(on, bin, m_bHighSpeed, m_ImgType); });
}

bool CCameraProColor::SetHighSpeedMode(bool on)
{
    m_bHighSpeed = on;
    return Reconfigure([this, on] { InitSensorMode(m_bHardwareBin, m_iBin, on, m_ImgType); });
}

bool CCameraProColor::SetEnableDDR(bool on)
{
    m_bEnableDDR = on;
    return Reconfigure([this, on] { EnableFPGADDR(on); });
}

void CCameraProColor::SetOutput16Bits(bool on)
{
    m_b16Bit = on;
    const bool narrowADC = SensorBins(m_bHardwareBin, m_iBin) || m_bHighSpeed;
    SetFPGAADCWidthOutputWidth(narrowADC ? ADC_BIT_NARROW : ADC_BIT_WIDE, on);
    s_ModeTiming.iLinkRate = LinkConstant(m_bUSB3Host);
}

bool CCameraProColor::CamSetStandby(bool on)
{
    uint8_t value = 0;
    ReadSONYREG(kRegStandby, &value);
    value = static_cast<uint8_t>(on ? (value | 0x01) : (value & ~0x01));
    return WriteSONYREG(kRegStandby, value) != 0;
}

bool CCameraProColor::CamSetWakeup(bool on)
{
    uint8_t value = 0;
    ReadSONYREG(kRegStandby, &value);
    value = static_cast<uint8_t>(on ? (value | 0x04) : (value & ~0x04));
    return WriteSONYREG(kRegStandby, value) != 0;
}

bool CCameraProColor::StartSensorStreaming()
{
    FPGAStop();
    WriteSONYREG(kRegStreamControl, 1);
    CamSetWakeup(true);
    SleepMs(10);
    CamSetStandby(false);
    SleepMs(15);
    return FPGAStart() != 0;
}

bool CCameraProColor::StopSensorStreaming()
{
    FPGAStop();
    WriteSONYREG(kRegStreamControl, 5);
    return CamSetStandby(true);
}

bool CCameraProColor::SetCMOSClk(int kHz)
{
    if (m_bOpen) {
        DbgPrint(-1, "SetCMOSClk", "set clk %d M!\n", kHz);
        m_iCMOSClk = kHz;
    }
    return m_bOpen;
}

bool CCameraProColor::SetCMOSClk()
{
    return SetCMOSClk(kSensorClockKHz);
}

void CCameraProColor::CalcFrameTime()
{
    int width = 0;
    int height = 0;
    GetSensorOutputSize(&width, &height);
    const float lineUs = m_iHMAX * 1000.0f / m_iCMOSClk;
    m_iFrameTimeUs = static_cast<uint32_t>((height + s_ModeTiming.iOverheadLines) * lineUs);
    if (!m_bEnableDDR) {
        m_iTransferTimeUs = 0;
        return;
    }
    const double bytes = static_cast<double>(width) * height * (m_b16Bit ? 2 : 1);
    m_iTransferTimeUs = static_cast<uint32_t>(bytes / LinkMBPerSecond(m_bUSB3Host, m_iBandwidth));
}

void CCameraProColor::CalcMaxFPS()
{
    if (m_lExposure > kMaxFPSExposureLimitUs)
        return;
    int width = 0;
    int height = 0;
    GetSensorOutputSize(&width, &height);
    const double frameBytes = static_cast<double>(width) * height * (m_b16Bit ? 2 : 1);
    const int clock = m_iCMOSClk;
    const int hmax = m_iHMAX;
    if (!m_bEnableDDR) {
        m_fMaxFPS = static_cast<float>(1000000.0 / m_iFrameTimeUs);
        m_fDataRate = static_cast<float>(m_fMaxFPS * frameBytes / 1e6);
    } else {
        const double linkMBs = LinkMBPerSecond(m_bUSB3Host, m_iBandwidth);
        const double sensorFps =
            clock * 1000.0 / (static_cast<double>(hmax) * (height + s_ModeTiming.iOverheadLines));
        const double linkFps = linkMBs * 1e6 / frameBytes;
        m_fMaxFPS = static_cast<float>(linkFps < sensorFps ? linkFps : sensorFps);
        const double sensorMBs = frameBytes * sensorFps / 1e6;
        m_fDataRate = static_cast<float>(linkMBs < sensorMBs ? linkMBs : sensorMBs);
    }
    DbgPrint(-1, "CalcMaxFPS", "calc fps: clk:%d data:%2.1f fps:%2.1f pkg:%d \n", clock,
             m_fDataRate, m_fMaxFPS, hmax);
}

bool CCameraProColor::SetFPSPerc(int percent, bool autoBandwidth)
{
    const int clock = m_iCMOSClk;
    if (clock < kSensorClockKHz)
        return false;
    percent = percent < 40 ? 40 : (percent > 100 ? 100 : percent);
    int bandwidth = percent;
    // Switching auto on starts from the link's full rate; while it is on the
    // capture loop lowers the bandwidth through the percentage.
    if (autoBandwidth && !m_bAutoBandwidth)
        bandwidth = m_bUSB3Host ? 100 : 80;
    m_iBandwidth = bandwidth;
    m_bAutoBandwidth = autoBandwidth;

    int width = 0;
    int height = 0;
    GetSensorOutputSize(&width, &height);
    const int bytesPerPixel = m_b16Bit ? 2 : 1;
    const int frameLines = height + s_ModeTiming.iOverheadLines;
    const int minHMAX = s_ModeTiming.iMinHMAX;
    const bool ddr = m_bEnableDDR;
    float fpgaBandwidth = 100.0f;
    int hmax = minHMAX;
    if (!ddr) {
        // The sensor's line rate itself paces the stream to the link.
        const double pixelRate = 100.0 * s_ModeTiming.iLinkRate * 10 / bytesPerPixel;
        const double linkFrameUs = 1e6 / (pixelRate / width / height);
        const double linkLineUs = linkFrameUs / frameLines;
        const int linkHMAX = static_cast<int>(clock * linkLineUs / 1000);
        hmax = 100 * (linkHMAX > minHMAX ? linkHMAX : minHMAX) / bandwidth;
        hmax = hmax > 65535 ? 65535 : hmax;
    } else {
        // The sensor runs at its fastest line rate into the DDR buffer and
        // the FPGA paces the USB output.
        fpgaBandwidth = static_cast<float>(LinkConstant(m_bUSB3Host)) * bandwidth / 400000;
    }
    m_iHMAX = hmax;
    SetFPGAHMAX(static_cast<uint16_t>(hmax));
    SetFPGABandWidth(fpgaBandwidth);

    const double sensorFps = clock * 1000.0 / (static_cast<double>(hmax) * frameLines);
    const double frameBytes = static_cast<double>(width) * height * bytesPerPixel;
    DbgPrint(-1, "SetFPSPerc", "Sensor clk:%d fps:%2.2f size:%2.2f value:%d pkg:%d \n", clock,
             sensorFps, sensorFps * frameBytes / 1e6, percent, hmax);
    if (ddr) {
        const double outputMBs = fpgaBandwidth * 400000.0 * 10 / 1e6;
        DbgPrint(-1, "SetFPSPerc", "FPGA output size:%2.2f, fps:%2.2f , fPercent:%2.2f \n",
                 outputMBs, outputMBs * 1e6 / frameBytes, fpgaBandwidth);
    }

    CalcFrameTime();
    SetExp(m_lExposure, m_bAutoExp);
    CalcMaxFPS();
    return true;
}

bool CCameraProColor::SetExp(uint64_t us, bool autoExp)
{
    m_bAutoExp = autoExp;
    us = us < kMinExposureUs ? kMinExposureUs : (us > kMaxExposureUs ? kMaxExposureUs : us);
    m_lExposure = us;

    if (us >= kLongExposureUs) {
        if (!m_bLongExpMode) {
            EnableFPGAWaitMode(true);
            EnableFPGATriggerMode(true);
            m_bLongExpMode = true;
            DbgPrint(-1, "SetExp", "-----Enter long exp mode\n");
        }
    } else if (m_bLongExpMode) {
        DbgPrint(-1, "SetExp", "-----Exit long exp mode\n");
        EnableFPGATriggerMode(false);
        EnableFPGAWaitMode(false);
        m_bLongExpMode = false;
    }

    const float lineUs = m_iHMAX * 1000.0f / m_iCMOSClk;
    CalcMaxFPS();

    const uint32_t frameTimeUs = m_iFrameTimeUs;
    const bool longExposure = m_bLongExpMode;
    const uint64_t exposureUs = longExposure ? frameTimeUs + kLongExposureMarginUs : us;
    int width = 0;
    int height = 0;
    GetSensorOutputSize(&width, &height);
    const uint32_t frameLines = static_cast<uint32_t>(height + s_ModeTiming.iOverheadLines);

    uint32_t vmax = 0;
    uint32_t shs = 1;
    if (exposureUs <= frameTimeUs) {
        vmax = frameLines < kMaxVMAX ? frameLines : kMaxVMAX;
        const uint64_t lines = static_cast<uint64_t>(static_cast<double>(exposureUs) / lineUs);
        shs = lines + 1 >= frameLines ? 1 : static_cast<uint32_t>(frameLines - 1 - lines);
        shs = shs < kMaxSHS ? shs : kMaxSHS;
    } else {
        const double lines = static_cast<double>(exposureUs) / lineUs + 1;
        vmax = lines < kMaxVMAX ? static_cast<uint32_t>(lines) : kMaxVMAX;
    }
    m_iExpReg = static_cast<int>(vmax - 1 - shs);
    DbgPrint(-1, "SetExp", "VMAX:0x%x SSH1:0X%x %2.2fus 1f:%d mode:%d timeus:%d\n", vmax, shs,
             lineUs, frameTimeUs, longExposure, static_cast<int>(us));

    SetFPGAVMAX(vmax);
    const int bin = m_iBin;
    uint8_t low = 1;
    uint8_t high = 0;
    if (m_bHardwareBin && (bin == 2 || bin == 4)) {
        low = static_cast<uint8_t>(shs & 0xFF);
        high = static_cast<uint8_t>((shs >> 8) & 0xFF);
    } else if (shs > 1) {
        // Two lines per shutter step.
        low = static_cast<uint8_t>((shs >> 1) & 0xFF);
        high = static_cast<uint8_t>((shs >> 9) & 0xFF);
    }
    WriteSONYREG(kRegSHSLow, low);
    return WriteSONYREG(kRegSHSHigh, high) != 0;
}

bool CCameraProColor::SetGain(int gain, bool autoGain)
{
    m_bAutoGain = autoGain;
    gain = gain < 0 ? 0 : (gain > kMaxGain ? kMaxGain : gain);
    m_iGain = gain;

    int analogue = gain;
    uint8_t hcg = 0;
    uint8_t digital = 0;
    if (gain >= kHCGGain) {
        hcg = 1;
        int steps = 0;
        if (gain > kMaxAnalogueGain)
            steps = (gain - kMaxAnalogueGain + kDigitalGainStep - 1) / kDigitalGainStep;
        analogue = gain - kDigitalGainStep * steps - kHCGGain;
        digital = static_cast<uint8_t>(16 * steps);
    }
    const int code = static_cast<int>(4095 - 4095 * std::pow(10.0, -analogue / 200.0));

    WriteSONYREG(kRegAnalogueGain, static_cast<uint8_t>(code & 0xFF));
    WriteSONYREG(kRegAnalogueGain + 1, static_cast<uint8_t>((code >> 8) & 0xFF));
    WriteSONYREG(kRegAnalogueGain + 2, static_cast<uint8_t>(code & 0xFF));
    WriteSONYREG(kRegAnalogueGain + 3, static_cast<uint8_t>((code >> 8) & 0xFF));
    WriteSONYREG(kRegHCG, hcg);
    WriteSONYREG(kRegDigitalGain, digital);
    return true;
}

bool CCameraProColor::SetBrightness(int offset)
{
    m_iOffset = offset;
    int blackLevel = offset * 10;
    if (SensorBins(m_bHardwareBin, m_iBin))
        blackLevel = static_cast<int>(static_cast<int>(offset * 10 * 10) * 0.0625);
    const uint8_t low = static_cast<uint8_t>(blackLevel & 0xFF);
    const uint8_t high = static_cast<uint8_t>((blackLevel >> 8) & 0xFF);
    WriteSONYREG(kRegBlackLevel, low);
    WriteSONYREG(kRegBlackLevel + 1, high);
    WriteSONYREG(kRegBlackLevel + 2, low);
    return WriteSONYREG(kRegBlackLevel + 3, high) != 0;
}

bool CCameraProColor::SetRGBBalance(int red, int blue, bool autoWB)
{
    m_bAutoWB = autoWB;
    // Clamps the value to 1..99 and returns its FPGA colour gain (128 = 1).
    auto colourGain = [](int &value) {
        if (value < 1) {
            value = 1;
            return 2;
        }
        if (value > 99) {
            value = 99;
            return 253;
        }
        return value * 256 / 100;
    };
    const int redGain = colourGain(red);
    const int blueGain = colourGain(blue);
    m_iWB_R = red;
    m_iWB_B = blue;
    return SetFPGAGain(redGain, 128, 128, blueGain) != 0;
}

float CCameraProColor::GetSensorTempInside()
{
    return m_fTemp;
}
