#include "models/CCameraUncooledColor.h"

#include "log/DbgPrint.h"
#include "models/FpgaCaptureLoops.h"
#include "models/ModelFamily.h"
#include "models/UncooledRegisterTables.h"
#include "transport/FX3Protocol.h"

namespace {

constexpr int kProductId = 0x1003;

constexpr int kMaxGain = 600;
// Above this gain the sensor switches to high conversion gain, worth this
// much gain (0.1 dB); the analogue gain register counts in 0.3 dB steps.
constexpr int kHCGThreshold = 80;
constexpr int kHCGGain = 60;
constexpr int kGainStep = 3;

// Lines of a frame beyond the sensor height, and the FPGA blanking.
constexpr int kOverheadLines = 29;
constexpr uint16_t kFPGAVBLK = 25;
constexpr uint16_t kFPGAHBLK = 16;

// Sensor registers the driver programs itself.
constexpr uint16_t kRegStandby = 0x3000;     // bit 0
constexpr uint16_t kRegReadoutStop = 0x3002; // bit 0
constexpr uint16_t kRegADCWidth = 0x3005;    // 1: 12 bits, 0: 10 bits
constexpr uint16_t kRegClock = 0x3009;       // bits 0-1 clock select, bit 4 HCG
constexpr uint16_t kRegBlackLevel = 0x300A;  // low, high
constexpr uint16_t kRegGain = 0x3014;
constexpr uint16_t kRegSHS = 0x3020;          // 0x3020..0x3022, lines
constexpr uint16_t kRegWindowY = 0x303C;      // low, high
constexpr uint16_t kRegWindowHeight = 0x303E; // low, high
constexpr uint16_t kRegWindowX = 0x3040;      // low, high
constexpr uint16_t kRegWindowWidth = 0x3042;  // low, high
constexpr uint8_t kHCGBit = 0x10;

// The FPGA of this board wants this output setup once the colour gains are set.
constexpr uint8_t kFPGAOutputSetup = 4;

// The sensor clocks (kHz), their clock-select value and the shortest line
// length (sensor clocks) each allows.
struct SensorClock {
    int iKHz;
    uint8_t ucSelect;
    int iMinHMAX;
};
constexpr SensorClock kClockHardwareBin2{9281, 0x02, 145};
constexpr SensorClock kClockNormal{18562, 0x01, 261};
constexpr SensorClock kClockHighSpeed{37124, 0x00, 245};
constexpr SensorClock kSensorClocks[] = {kClockHardwareBin2, kClockNormal, kClockHighSpeed};
constexpr int kOtherClockMinHMAX = 203;

const SensorClock *FindClock(int kHz)
{
    for (const SensorClock &clock : kSensorClocks)
        if (clock.iKHz == kHz)
            return &clock;
    return nullptr;
}

} // namespace

CCameraUncooledColor::ModeTiming CCameraUncooledColor::s_ModeTiming = {
    {kClockNormal.iMinHMAX},
    {ModelFamily::LinkRate(true)},
};

CCameraUncooledColor::CCameraUncooledColor()
    : CCameraUncooledColor(kProductId, "TAV ORU462MC", "ORU462MC", true)
{
}

CCameraUncooledColor::CCameraUncooledColor(int productId, const char *name, const char *modelKey,
                                           bool colour)
{
    DbgPrint(LogSeverity::Info, -1, "CCameraUncooledColor", "CCAMERA::CCAMERA()\n");
    CameraPID(productId);

    ModelDescription &model = DescribeModel();
    model.m_szCameraName = name;
    model.m_szModelKey = modelKey;
    ModelFamily::SetSensor(model, 1936, 1096, 2.9, 12);
    model.m_iBayerPattern = ORU_BAYER_RG;
    model.m_bUSB3Camera = true;
    // After the base's bin 1.
    model.m_SupportedBins[1] = 2;
    const ModelFamily::ControlDefaults controls = SonyModel::UsualControls(200, kMaxGain);
    SonyModel::SetUsualControls(model, colour, controls);
    model.m_Caps.bST4 = true;
    model.m_fElecPerADU = 3.6f;
    ModelFamily::SetGainOffsetRef(model, {10, 10, kHCGThreshold + 1, 300, 50});
    model.m_iTempSensorType = 0;
    model.m_bFPGABin = false;

    ModelFamily::StartControls(*this, controls);
    m_iAutoMaxGain = 300;
    m_iCMOSClk = kClockNormal.iKHz;
    m_iHMAX = kClockNormal.iMinHMAX;
    m_bEnableDDR = false;

    SonyModel::LoadSettings(*this);
}

CCameraUncooledColor::~CCameraUncooledColor()
{
    DbgPrint(LogSeverity::Info, -1, "~CCameraUncooledColor", "CCAMERA::~CCAMERA()\n");
    CloseCamera();
    StopThreads();
}

bool CCameraUncooledColor::InitCamera()
{
    // The product ID stays the one the camera was opened with.
    if (!m_bOpen)
        return false;
    BeginInit(FpgaCaptureLoops<CCameraUncooledColor>::WorkingFunc,
              FpgaCaptureLoops<CCameraUncooledColor>::TriggerFunc);
    SetHPCStates(true);
    GetFPGAVer();
    ModelFamily::SleepMs(10);
    SonyModel::PlayRegisterTable(*this, kUncooledInitTable, kUncooledInitRows);

    SonyModel::ResetFPGA(*this);
    SonyModel::SetUpFPGA(*this, false);

    SetGamma(m_iGamma);
    SetRGBBalance(m_iWB_R, m_iWB_B, m_bAutoWB);
    WriteFPGAREG(FPGARegister::kOutputSetup, kFPGAOutputSetup);
    SetBrightness(m_iOffset);

    if (m_bAutoBandwidth)
        m_iBandwidth = m_bUSB3Host ? 100 : 80;
    SetCMOSClk();
    InitSensorMode(m_bHighSpeed, m_ImgType);
    SetGain(m_iGain, m_bAutoGain);
    SetExp(m_lExposure, m_bAutoExp);
    SetFPSPerc(m_iBandwidth, m_bAutoBandwidth);

    StopSensorStreaming();
    return true;
}

bool CCameraUncooledColor::InitSensorMode(bool highSpeed, IMAGE_TYPE type)
{
    const bool wide = ModelFamily::IsWide(type);
    DbgPrint(LogSeverity::Info, -1, "InitSensorMode", "HighSpeed:%d b16Bit:%d\n", highSpeed, wide);
    SonyModel::PlayRegisterTable(*this, kUncooledInitTable, kUncooledInitRows);
    // High-speed 8-bit output reads the sensor with its 10-bit ADC.
    const bool narrowADC = highSpeed && !wide;
    WriteSONYREG(kRegADCWidth, narrowADC ? 0 : 1);
    SetFPGAADCWidthOutputWidth(narrowADC ? ADC_BIT_NARROW : ADC_BIT_WIDE, wide);
    return true;
}

bool CCameraUncooledColor::SetResolution(int width, int height, int bin, IMAGE_TYPE type)
{
    if (!ModelFamily::RoiAcceptable(*this, width, height, bin, type))
        return false;
    SonyModel::ApplyRoi(*this, width, height, bin, type,
                        [this, type] { InitSensorMode(m_bHighSpeed, type); });
    return true;
}

bool CCameraUncooledColor::SetStartPos(int x, int y)
{
    // Even rows and columns in steps of 4 keep the mosaic's phase.
    ModelFamily::PlaceStart(*this, x, y, 4, 2);

    SetFPGAVBLK(kFPGAVBLK);
    SetFPGAHBLK(kFPGAHBLK);
    WriteSONYREG(kRegWindowY, static_cast<uint8_t>(y & 0xFF));
    WriteSONYREG(kRegWindowY + 1, static_cast<uint8_t>((y >> 8) & 0xFF));
    WriteSONYREG(kRegWindowX, static_cast<uint8_t>(x & 0xFF));
    WriteSONYREG(kRegWindowX + 1, static_cast<uint8_t>((x >> 8) & 0xFF));
    return true;
}

void CCameraUncooledColor::GetSensorOutputSize(int *width, int *height)
{
    const int bin = m_iBin;
    *width = m_iWidth * bin;
    *height = m_iHeight * bin;
}

int CCameraUncooledColor::GetRealImageSize()
{
    return ModelFamily::RealImageSize(*this);
}

bool CCameraUncooledColor::IsHardBinRun()
{
    return false;
}

bool CCameraUncooledColor::Cam_SetResolution()
{
    return SonyModel::SetOutputWindow(*this, [this](int width, int height) {
        SetFPGABinDataLen(static_cast<uint32_t>(GetRealImageSize()) / 4);
        WriteSONYREG(kRegWindowHeight, static_cast<uint8_t>(height & 0xFF));
        WriteSONYREG(kRegWindowHeight + 1, static_cast<uint8_t>((height >> 8) & 0xFF));
        WriteSONYREG(kRegWindowWidth, static_cast<uint8_t>(width & 0xFF));
        WriteSONYREG(kRegWindowWidth + 1, static_cast<uint8_t>((width >> 8) & 0xFF));
    });
}

bool CCameraUncooledColor::SetHardwareBin(bool)
{
    return true;
}

bool CCameraUncooledColor::SetHighSpeedMode(bool on)
{
    m_bHighSpeed = on;
    return SonyModel::Reconfigure(*this, [this, on] { InitSensorMode(on, m_ImgType); });
}

bool CCameraUncooledColor::SetEnableDDR(bool on)
{
    m_bEnableDDR = on;
    return true;
}

void CCameraUncooledColor::SetOutput16Bits(bool on)
{
    m_b16Bit = on;
    const bool narrowADC = m_bHighSpeed && !on;
    SetFPGAADCWidthOutputWidth(narrowADC ? ADC_BIT_NARROW : ADC_BIT_WIDE, on);
    s_ModeTiming.iLinkRate = ModelFamily::LinkRate(m_bUSB3Host);
}

bool CCameraUncooledColor::CamSetStandby(bool on)
{
    return SonyModel::SetSensorBit(*this, kRegStandby, 0x01, on);
}

bool CCameraUncooledColor::CamSetWakeup(bool on)
{
    return SonyModel::SetSensorBit(*this, kRegReadoutStop, 0x01, !on);
}

bool CCameraUncooledColor::StartSensorStreaming()
{
    FPGAStop();
    CamSetStandby(false);
    ModelFamily::SleepMs(10);
    CamSetWakeup(true);
    ModelFamily::SleepMs(15);
    return FPGAStart().IsOk();
}

bool CCameraUncooledColor::StopSensorStreaming()
{
    FPGAStop();
    CamSetWakeup(false);
    return CamSetStandby(true);
}

void CCameraUncooledColor::SetSensorIdle(bool idle)
{
    CamSetWakeup(!idle);
}

bool CCameraUncooledColor::SetCMOSClk(int kHz)
{
    if (!m_bOpen)
        return false;
    DbgPrint(LogSeverity::Debug, -1, "SetCMOSClk", "set clk %d M!\n", kHz);
    m_iCMOSClk = kHz;
    const SensorClock *clock = FindClock(kHz);
    s_ModeTiming.iMinHMAX = clock != nullptr ? clock->iMinHMAX : kOtherClockMinHMAX;
    WriteClockRegister();
    return true;
}

bool CCameraUncooledColor::SetCMOSClk()
{
    if (m_bHardwareBin && m_iBin == 2)
        return SetCMOSClk(kClockHardwareBin2.iKHz);
    if (m_bHighSpeed && !m_b16Bit)
        return SetCMOSClk(kClockHighSpeed.iKHz);
    return SetCMOSClk(kClockNormal.iKHz);
}

void CCameraUncooledColor::WriteClockRegister()
{
    const SensorClock *clock = FindClock(m_iCMOSClk);
    if (clock == nullptr)
        return;
    const uint8_t hcg = m_iGain > kHCGThreshold ? kHCGBit : 0;
    WriteSONYREG(kRegClock, static_cast<uint8_t>(clock->ucSelect | hcg));
}

SonyModel::FrameGeometry CCameraUncooledColor::Geometry()
{
    return SonyModel::Geometry(*this, kOverheadLines, false);
}

void CCameraUncooledColor::CalcFrameTime()
{
    SonyModel::CalcFrameTime(*this, Geometry());
}

void CCameraUncooledColor::CalcMaxFPS()
{
    SonyModel::CalcMaxFPS(*this, Geometry());
}

bool CCameraUncooledColor::SetFPSPerc(int percent, bool autoBandwidth)
{
    SonyModel::SetFPSPerc(*this, percent, autoBandwidth, Geometry(), s_ModeTiming.iMinHMAX,
                          s_ModeTiming.iLinkRate);
    return true;
}

bool CCameraUncooledColor::SetExp(uint64_t us, bool autoExp)
{
    const SonyModel::Shutter shutter = SonyModel::SetExp(*this, us, autoExp, Geometry());
    WriteSONYREG(kRegSHS, static_cast<uint8_t>(shutter.shs & 0xFF));
    WriteSONYREG(kRegSHS + 1, static_cast<uint8_t>((shutter.shs >> 8) & 0xFF));
    return WriteSONYREG(kRegSHS + 2, static_cast<uint8_t>((shutter.shs >> 16) & 0x03)).IsOk();
}

bool CCameraUncooledColor::SetGain(int gain, bool autoGain)
{
    gain = ModelFamily::StoreGain(*this, gain, autoGain, kMaxGain);
    const int analogue = gain > kHCGThreshold ? gain - kHCGGain : gain;
    WriteClockRegister();
    WriteSONYREG(kRegGain, static_cast<uint8_t>(analogue / kGainStep));
    return true;
}

bool CCameraUncooledColor::SetBrightness(int offset)
{
    m_iOffset = offset;
    WriteSONYREG(kRegBlackLevel, static_cast<uint8_t>(offset & 0xFF));
    return WriteSONYREG(kRegBlackLevel + 1, static_cast<uint8_t>((offset >> 8) & 0xFF)).IsOk();
}

bool CCameraUncooledColor::SetRGBBalance(int red, int blue, bool autoWB)
{
    return ModelFamily::SetRGBBalance(*this, red, blue, autoWB);
}

bool CCameraUncooledColor::GetImage(unsigned char *buffer, int size, int waitMs)
{
    return FpgaCaptureLoops<CCameraUncooledColor>::GetImage(*this, buffer, size, waitMs);
}
