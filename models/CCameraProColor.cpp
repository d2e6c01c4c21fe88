#include "models/CCameraProColor.h"

#include <cmath>
#include <cstdint>

#include "log/DbgPrint.h"
#include "models/FpgaCaptureLoops.h"
#include "models/ModelFamily.h"
#include "models/ProColorRegisterTables.h"
#include "models/SonyModel.h"

namespace {

constexpr int kProductId = 0x1001;
constexpr int kSensorClockKHz = 20000;

constexpr int kMaxGain = 700;
// The high-conversion-gain switch is worth this much gain (0.1 dB).
constexpr int kHCGGain = 100;
// Above this gain the digital gain takes over in steps of kDigitalGainStep.
constexpr int kMaxAnalogueGain = 460;
constexpr int kDigitalGainStep = 60;

// Sensor registers the driver programs itself.
constexpr uint16_t kRegStandby = 0x000; // bit 0 standby, bit 2 wake-up
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
constexpr uint16_t kRegBlackLevel = 0x042; // 0x042..0x045: low, high, low, high
constexpr uint16_t kRegSensorCrop = 0x0A7; // 1: the sensor crops horizontally
constexpr uint16_t kRegStartXLow = 0x0A8;
constexpr uint16_t kRegStartXHigh = 0x0A9;
constexpr uint16_t kRegVerticalBinning = 0x1D8;
constexpr uint16_t kRegOutputWidthLow = 0x1DD;
constexpr uint16_t kRegOutputWidthHigh = 0x1DE;
constexpr uint16_t kRegStreamControl = 0x1EE;

// The sensor itself bins (fully for 2 and 3, 2 x 2 for 4).
bool SensorBins(bool hardwareBin, int bin)
{
    return hardwareBin && bin >= 2 && bin <= 4;
}

} // namespace

CCameraProColor::ModeTiming CCameraProColor::s_ModeTiming = {
    {kProColorAllPixelNormal.iFPGAVBLK}, {kProColorAllPixelNormal.iFPGAHBLK},
    {kProColorAllPixelNormal.iMinHMAX},  {kProColorAllPixelNormal.iOverheadLines},
    {ModelFamily::LinkRate(true)},
};

CCameraProColor::CCameraProColor()
    : CCameraProColor(kProductId, "TAV ORU6200MC Pro", "ORU6200MC Pro", true)
{
}

CCameraProColor::CCameraProColor(int productId, const char *name, const char *modelKey, bool colour)
{
    DbgPrint(LogSeverity::Info, -1, "CCameraProColor", "CCAMERA::CCAMERA()\n");
    CameraPID(productId);

    ModelDescription &model = DescribeModel();
    model.m_szCameraName = name;
    model.m_szModelKey = modelKey;
    ModelFamily::SetSensor(model, 6248, 4176, 3.76, 16);
    model.m_iBayerPattern = ORU_BAYER_RG;
    model.m_bUSB3Camera = true;
    // After the base's bin 1.
    model.m_SupportedBins[1] = 2;
    model.m_SupportedBins[2] = 3;
    model.m_SupportedBins[3] = 4;
    const ModelFamily::ControlDefaults controls = SonyModel::UsualControls(200, kMaxGain);
    SonyModel::SetUsualControls(model, colour, controls);
    model.m_Caps.bHardwareBin = true;
    model.m_Caps.bAntiDewHeater = true;
    model.m_fElecPerADU = 0.768f;
    ModelFamily::SetGainOffsetRef(model, {10, 10, 100, 300, 50});
    model.m_iTempSensorType = 0;
    model.m_iCoolerDriveKind = 1;
    model.m_iHeaterKind = 2;
    model.m_bFPGABin = false;
    // Bayer phase offsets under hardware binning (rows bin 2 and bin 3).
    const int8_t phaseOffsets[][2] = {{32, -8}, {33, 0},  {34, -8}, {35, 0},
                                      {48, 0},  {49, -2}, {50, -3}, {51, -5}};
    for (const auto &offset : phaseOffsets)
        model.m_pSensorTable[offset[0]] = offset[1];

    ModelFamily::StartControls(*this, controls);
    m_iAutoMaxGain = 350;
    m_iCMOSClk = kSensorClockKHz;
    m_iHMAX = kProColorAllPixelNormal.iMinHMAX;
    m_bEnableDDR = true;

    SonyModel::LoadSettings(*this);
}

CCameraProColor::~CCameraProColor()
{
    DbgPrint(LogSeverity::Info, -1, "~CCameraProColor", "CCAMERA::~CCAMERA()\n");
    CCameraCool::CloseCamera();
    StopThreads();
}

bool CCameraProColor::InitCamera()
{
    // The product ID stays the one the camera was opened with: several
    // products share this class.
    if (!m_bOpen)
        return false;
    BeginInit(FpgaCaptureLoops<CCameraProColor>::WorkingFunc, NoTriggerFunc);
    SetHPCStates(true);
    GetFPGAVer();
    ModelFamily::SleepMs(10);

    SonyModel::PlayRegisterTable(*this, kProColorInitTable, kProColorInitRows);
    WriteSONYREG(0x003, 0x10);
    WriteSONYREG(kRegWindowUpdate, 1);
    WriteSONYREG(kRegSensorCrop, 1);
    WriteSONYREG(kRegVerticalBinning, 4);
    WriteSONYREG(0x048, 0x0F);
    WriteSONYREG(0x051, 0x08);

    SonyModel::ResetFPGA(*this);
    if (!FPGADDRTest())
        return false;
    SonyModel::SetUpFPGA(*this, m_bEnableDDR);

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

bool CCameraProColor::InitSensorMode(bool hardwareBin, int bin, bool highSpeed, IMAGE_TYPE type)
{
    m_iBin = bin;
    const bool wide = ModelFamily::IsWide(type);
    DbgPrint(LogSeverity::Info, -1, "InitSensorMode", "HardwareBin:%d Bin:%d b16Bit:%d\n",
             hardwareBin, bin, wide);
    SonyModel::PlayRegisterTable(*this, kProColorInitTable, kProColorInitRows);

    const ProColorSensorMode *mode = nullptr;
    if (bin == 1 || !hardwareBin)
        mode = highSpeed ? &kProColorAllPixelHighSpeed : &kProColorAllPixelNormal;
    else if (bin == 3)
        mode = &kProColorHardwareBin3;
    else if (bin == 2 || bin == 4)
        mode = &kProColorHardwareBin24;
    if (mode == nullptr) {
        DbgPrint(LogSeverity::Error, -1, "InitSensorMode", "Parameters Error, Camera will die!\n");
        return true;
    }

    s_ModeTiming.iFPGAVBLK = mode->iFPGAVBLK;
    s_ModeTiming.iFPGAHBLK = mode->iFPGAHBLK;
    s_ModeTiming.iMinHMAX = mode->iMinHMAX;
    s_ModeTiming.iOverheadLines = mode->iOverheadLines;
    SonyModel::PlayRegisterTable(*this, mode->pTable, kProColorModeRows);
    SetFPGAADCWidthOutputWidth(mode->adcWidth, wide);
    return true;
}

bool CCameraProColor::SetResolution(int width, int height, int bin, IMAGE_TYPE type)
{
    if (!ModelFamily::RoiAcceptable(*this, width, height, bin, type))
        return false;
    if (SensorBins(m_bHardwareBin, bin) && (height % 2 != 0 || width % 8 != 0))
        return false;
    SonyModel::ApplyRoi(*this, width, height, bin, type, [this, bin, type] {
        InitSensorMode(m_bHardwareBin, bin, m_bHighSpeed, type);
    });
    return true;
}

bool CCameraProColor::SetStartPos(int x, int y)
{
    const int bin = m_iBin;
    const bool hardwareBin = m_bHardwareBin;
    int rowOffset = 25;
    int yStep = 2;
    if (hardwareBin && bin == 3) {
        yStep = 6;
        rowOffset = 27;
    } else if (SensorBins(hardwareBin, bin)) {
        yStep = 4;
    }
    // The sensor takes x in steps of 16 and the sensor width is not a
    // multiple of 16, so a start pushed back from the right edge is aligned
    // again to stay where the sensor actually starts.
    ModelFamily::PlaceStart(*this, x, y, 16, yStep);

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
    return ModelFamily::RealImageSize(*this);
}

bool CCameraProColor::Cam_SetResolution()
{
    return SonyModel::SetOutputWindow(*this, [this](int width, int height) {
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
    });
}

bool CCameraProColor::SetHardwareBin(bool on)
{
    const int bin = m_iBin;
    auto store = [this, on] {
        SectionLock roi(m_csRoi);
        m_bHardwareBin = on;
    };
    if (bin < 2 || bin > 4) {
        store();
        return true;
    }
    const int width = m_iWidth;
    const int height = m_iHeight;
    if (on && (height % 2 != 0 || width % 8 != 0))
        return false;
    if ((height * bin) % 2 != 0 || (width * bin) % 8 != 0)
        return false;
    // Changed once capture has stopped: the frame size follows it.
    return SonyModel::Reconfigure(*this, [this, on, bin, store] {
        store();
        InitSensorMode(on, bin, m_bHighSpeed, m_ImgType);
    });
}

bool CCameraProColor::SetHighSpeedMode(bool on)
{
    m_bHighSpeed = on;
    return SonyModel::Reconfigure(
        *this, [this, on] { InitSensorMode(m_bHardwareBin, m_iBin, on, m_ImgType); });
}

bool CCameraProColor::SetEnableDDR(bool on)
{
    m_bEnableDDR = on;
    return SonyModel::Reconfigure(*this, [this, on] { EnableFPGADDR(on); });
}

void CCameraProColor::SetOutput16Bits(bool on)
{
    m_b16Bit = on;
    const bool narrowADC = SensorBins(m_bHardwareBin, m_iBin) || m_bHighSpeed;
    SetFPGAADCWidthOutputWidth(narrowADC ? ADC_BIT_NARROW : ADC_BIT_WIDE, on);
    s_ModeTiming.iLinkRate = ModelFamily::LinkRate(m_bUSB3Host);
}

bool CCameraProColor::CamSetStandby(bool on)
{
    return SonyModel::SetSensorBit(*this, kRegStandby, 0x01, on);
}

bool CCameraProColor::CamSetWakeup(bool on)
{
    return SonyModel::SetSensorBit(*this, kRegStandby, 0x04, on);
}

bool CCameraProColor::StartSensorStreaming()
{
    FPGAStop();
    WriteSONYREG(kRegStreamControl, 1);
    CamSetWakeup(true);
    ModelFamily::SleepMs(10);
    CamSetStandby(false);
    ModelFamily::SleepMs(15);
    return FPGAStart().IsOk();
}

bool CCameraProColor::StopSensorStreaming()
{
    FPGAStop();
    WriteSONYREG(kRegStreamControl, 5);
    return CamSetStandby(true);
}

void CCameraProColor::SetSensorIdle(bool idle)
{
    WriteSONYREG(kRegStreamControl, idle ? 5 : 1);
}

bool CCameraProColor::GetImage(unsigned char *buffer, int size, int waitMs)
{
    return FpgaCaptureLoops<CCameraProColor>::GetImage(*this, buffer, size, waitMs);
}

bool CCameraProColor::SetCMOSClk(int kHz)
{
    if (m_bOpen) {
        DbgPrint(LogSeverity::Debug, -1, "SetCMOSClk", "set clk %d M!\n", kHz);
        m_iCMOSClk = kHz;
    }
    return m_bOpen;
}

bool CCameraProColor::SetCMOSClk()
{
    return SetCMOSClk(kSensorClockKHz);
}

SonyModel::FrameGeometry CCameraProColor::Geometry()
{
    return SonyModel::Geometry(*this, s_ModeTiming.iOverheadLines, m_bEnableDDR);
}

void CCameraProColor::CalcFrameTime()
{
    SonyModel::CalcFrameTime(*this, Geometry());
}

void CCameraProColor::CalcMaxFPS()
{
    SonyModel::CalcMaxFPS(*this, Geometry());
}

bool CCameraProColor::SetFPSPerc(int percent, bool autoBandwidth)
{
    if (m_iCMOSClk < kSensorClockKHz)
        return false;
    SonyModel::SetFPSPerc(*this, percent, autoBandwidth, Geometry(), s_ModeTiming.iMinHMAX,
                          s_ModeTiming.iLinkRate);
    return true;
}

bool CCameraProColor::SetExp(uint64_t us, bool autoExp)
{
    const SonyModel::Shutter shutter = SonyModel::SetExp(*this, us, autoExp, Geometry());
    const int bin = m_iBin;
    uint8_t low = 1;
    uint8_t high = 0;
    if (m_bHardwareBin && (bin == 2 || bin == 4)) {
        low = static_cast<uint8_t>(shutter.shs & 0xFF);
        high = static_cast<uint8_t>((shutter.shs >> 8) & 0xFF);
    } else if (shutter.shs > 1) {
        // Two lines per shutter step.
        low = static_cast<uint8_t>((shutter.shs >> 1) & 0xFF);
        high = static_cast<uint8_t>((shutter.shs >> 9) & 0xFF);
    }
    WriteSONYREG(kRegSHSLow, low);
    return WriteSONYREG(kRegSHSHigh, high).IsOk();
}

bool CCameraProColor::SetGain(int gain, bool autoGain)
{
    gain = ModelFamily::StoreGain(*this, gain, autoGain, kMaxGain);
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
    return WriteSONYREG(kRegBlackLevel + 3, high).IsOk();
}

bool CCameraProColor::SetRGBBalance(int red, int blue, bool autoWB)
{
    return ModelFamily::SetRGBBalance(*this, red, blue, autoWB);
}

float CCameraProColor::GetSensorTempInside()
{
    return m_fTemp;
}
