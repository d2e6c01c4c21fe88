#include "models/CCameraLegacyUsb2.h"

#include <unistd.h>

#include <vector>

#include "log/DbgPrint.h"
#include "models/LegacyUsb2Firmware.h"
#include "models/LegacyUsb2RegisterTables.h"
#include "models/ModelFamily.h"
#include "transport/FX3Protocol.h"
#include "transport/LegacyUsb2Protocol.h"

namespace {

constexpr int kProductId = 0x1005;
constexpr int kMaxWidth = 1280;
constexpr int kMaxHeight = 960;

// Firmware versions up to this one are replaced at open.
constexpr uint8_t kLastVersionNeedingLoad = 0x2F;
constexpr unsigned kReopenDelayUs = 1000000;

// Sensor registers.
constexpr uint16_t kRegRowStart = 0x3002;
constexpr uint16_t kRegColumnStart = 0x3004;
constexpr uint16_t kRegRowEnd = 0x3006;
constexpr uint16_t kRegColumnEnd = 0x3008;
constexpr uint16_t kRegFrameLength = 0x300A;
constexpr uint16_t kRegLineLength = 0x300C;
constexpr uint16_t kRegIntegration = 0x3012;
constexpr uint16_t kRegStreamControl = 0x301A;
constexpr uint16_t kRegBlackLevel = 0x301E;
constexpr uint16_t kRegPixDiv = 0x302A;
constexpr uint16_t kRegSysDiv = 0x302C;
constexpr uint16_t kRegPreDiv = 0x302E;
constexpr uint16_t kRegMultiplier = 0x3030;
constexpr uint16_t kRegDigitalBinning = 0x3032;
constexpr uint16_t kRegGreen1Gain = 0x3056;
constexpr uint16_t kRegBlueGain = 0x3058;
constexpr uint16_t kRegRedGain = 0x305A;
constexpr uint16_t kRegGreen2Gain = 0x305C;
constexpr uint16_t kRegDataPath = 0x306E;
constexpr uint16_t kRegAnalogueGain = 0x30B0; // also the PLL bypass

constexpr uint16_t kStreamHold = 0x10D8;
constexpr uint16_t kStreamClockChange = 0x10DA;
constexpr uint16_t kStreamOn = 0x10DC;
constexpr uint16_t kDataPath = 0x9210;
constexpr uint16_t kGainBasePll = 0x1300;
constexpr uint16_t kGainBaseCrystal = 0x5300; // PLL bypassed
constexpr uint16_t kGainStepBits = 0x0010;
constexpr uint16_t kLowBits = 0x0FFF;
constexpr uint16_t kPllInUse = 0x1000;

constexpr int kCrystalMHz = 24;
// The clock noted at initialisation before the first choice.
constexpr int kInitClockMHz = 48;
// Rows of a frame beyond the window, and clocks of the frame-time and
// integration formulas.
constexpr int kOverheadLines = 26;
constexpr int kFrameTimeClocks = 358;
constexpr int kIntegrationClocks = 26;
constexpr int kMinHMAX = 1650;
constexpr int kMaxHMAX = 65535;
// Long exposures program at most this integration, which ends after the
// capture loop has stopped the sensor clock (200 ms into the frame); the loop
// times the rest of the exposure with the clock stopped.
constexpr uint16_t kLongExposureLines = 12287;
constexpr uint64_t kLongExposureUs = 1000000;
constexpr uint64_t kLongExposureProgrammedUs = 800000;
// Above this exposure the sensor runs on the crystal.
constexpr uint64_t kSlowClockLimitUs = 100000;
constexpr int kSlowClockLimitMs = 100;
constexpr uint64_t kMinExposureUs = 64;
constexpr uint64_t kMaxExposureUs = 2000000000;

constexpr int kMaxGain = 100;
constexpr int kWBUnity = 55;

const LegacyPllRow *FindPllRow(int mhz)
{
    for (const LegacyPllRow &row : kLegacyPllTable)
        if (row.iClockMHz == mhz)
            return &row;
    return nullptr;
}

// Coarse analogue step (x1, x2, x4, x8) and fine code (32 = x1) of a gain.
void GainCode(int gain, int *step, int *code)
{
    if (gain < 16) {
        *step = 0;
        *code = (gain + 16) * 2;
    } else if (gain < 32) {
        *step = 1;
        *code = gain * 2;
    } else if (gain < 48) {
        *step = 2;
        *code = (gain - 16) * 2;
    } else {
        *step = 3;
        *code = (gain - 32) * 2;
    }
}

} // namespace

CCameraLegacyUsb2::CCameraLegacyUsb2()
{
    DbgPrint(LogSeverity::Info, -1, "CCameraLegacyUsb2", "CCAMERA::CCAMERA()\n");
    CameraPID(kProductId);

    ModelDescription &model = DescribeModel();
    model.m_szCameraName = "ORU120";
    model.m_szModelKey = "ORU120";
    ModelFamily::SetSensor(model, kMaxWidth, kMaxHeight, 3.75, 12);
    model.m_iBayerPattern = ORU_BAYER_RG;
    model.m_bUSB3Camera = false;
    model.m_SupportedBins[1] = 2;
    ModelFamily::SetColour(model, true);
    // clang-format off
    const ModelFamily::ControlDefaults defaults = {
        10, kMaxGain,                   // gain: start, maximum
        kMinExposureUs, kMaxExposureUs, // exposure
        65, 90, 100,                    // white balance: red, blue, maximum
        10, 240,                        // offset: start, maximum
        // A USB2 camera keeps its link rate on a USB3 host.
        80,
    };
    // clang-format on
    ModelFamily::SetControls(model, defaults);
    model.m_fElecPerADU = 2.4f;
    ModelFamily::SetGainOffsetRef(model, {10, 10, 32, 64, 20});

    ModelFamily::StartControls(*this, defaults);
    m_iAutoMaxGain = 60;
    m_iCMOSClk = kInitClockMHz;
    m_iHMAX = kMinHMAX;

    LoadSetting();
    SetRGBBalance(m_iWB_R, m_iWB_B, m_bAutoWB);
}

CCameraLegacyUsb2::~CCameraLegacyUsb2()
{
    DbgPrint(LogSeverity::Info, -1, "~CCameraLegacyUsb2", "CCAMERA::~CCAMERA()\n");
    CCameraBase::CloseCamera();
    StopThreads();
}

bool CCameraLegacyUsb2::OpenCamera(int index)
{
    if (m_bOpen)
        return true;
    if (!CCameraBase::OpenCamera(index))
        return false;
    if (m_ucFirmwareVer > kLastVersionNeedingLoad)
        return true;
    return LoadFirmware(index);
}

bool CCameraLegacyUsb2::LoadFirmware(int index)
{
    const LegacyUsb2FirmwareImage *image = LegacyUsb2FirmwareFor(m_iProductID);
    if (image == nullptr) {
        DbgPrint2(LogSeverity::Warning, "OpenCamera",
                  "no firmware for product 0x%x, keeping 0x%x\n", m_iProductID, m_ucFirmwareVer);
        return true;
    }
    DbgPrint2(LogSeverity::Info, "OpenCamera", "firmware 0x%x, loading 0x%x\n", m_ucFirmwareVer,
              kLegacyUsb2FirmwareVersion);
    std::vector<uint8_t> copy(image->pImage, image->pImage + image->lLength);
    // Whether the EEPROM took it or not, the image now runs from RAM and the
    // controller comes back as a new device.
    UpdateFW(copy.data(), image->lLength);
    ResetDevice();
    CloseDevice();
    usleep(kReopenDelayUs);
    return CCameraBase::OpenCamera(index);
}

bool CCameraLegacyUsb2::InitCamera()
{
    // The product ID stays the one the camera was opened with: four products
    // share this class.
    if (!m_bOpen)
        return false;
    BeginInit(WorkingFunc, NoTriggerFunc);

    SendCMD(LegacyUsb2Request::kClockSwitching);
    m_iCMOSClk = kInitClockMHz;
    SendCMD(LegacyUsb2Request::kPixels8Bit);
    SendCMD(FX3Request::kStopStreaming);
    auto write = [this](uint16_t address, uint16_t value) { WriteCameraRegister(address, value); };
    ModelFamily::PlayRegisterTable(kLegacyInitTable, kLegacyInitRows, kLegacyPause, write);

    GetSensorTempInside();
    SetGamma(m_iGamma);
    SetRGBBalance(m_iWB_R, m_iWB_B, m_bAutoWB);
    SetBrightness(m_iOffset);
    if (m_bAutoBandwidth)
        m_iBandwidth = 80;
    SetCMOSClk();
    SetGain(m_iGain, m_bAutoGain);
    SetExp(m_lExposure, m_bAutoExp);
    return true;
}

bool CCameraLegacyUsb2::SetResolution(int width, int height, int bin, IMAGE_TYPE type)
{
    if (!ModelFamily::RoiAcceptable(*this, width, height, bin, type))
        return false;
    // The new ROI as a whole, and the sensor set up for it, before capture sees it.
    SectionLock roi(m_csRoi);
    ModelFamily::StoreRoi(*this, width, height, bin, type);
    SetOutput16Bits(ModelFamily::IsWide(type));
    return Cam_SetResolution();
}

bool CCameraLegacyUsb2::SetStartPos(int x, int y)
{
    const int bin = m_iBin;
    ModelFamily::PlaceStart(*this, x, y, 2, 2);

    // A running stream holds while its window moves.
    const bool live = IsCaptureRunning();
    if (live)
        WriteCameraRegister(kRegStreamControl, kStreamHold);
    WriteCameraRegister(kRegRowStart, static_cast<uint16_t>(y + 2));
    WriteCameraRegister(kRegColumnStart, static_cast<uint16_t>(x));
    WriteCameraRegister(kRegRowEnd, static_cast<uint16_t>(y + 1 + bin * m_iHeight));
    WriteCameraRegister(kRegColumnEnd, static_cast<uint16_t>(x - 1 + bin * m_iWidth));
    if (live)
        WriteCameraRegister(kRegStreamControl, kStreamOn);
    return true;
}

bool CCameraLegacyUsb2::Cam_SetResolution()
{
    DbgPrint2(LogSeverity::Debug, "Cam_SetResolution", "SetResolution!\n");
    SetStartPos(m_iStartX, m_iStartY);
    const int bin = m_iBin;
    WriteCameraRegister(kRegDigitalBinning, 0);
    WriteCameraRegister(kRegFrameLength, static_cast<uint16_t>(bin * m_iHeight + kOverheadLines));
    WriteCameraRegister(kRegDataPath, kDataPath);
    return SetCMOSClk();
}

void CCameraLegacyUsb2::SetOutput16Bits(bool on)
{
    m_b16Bit = on;
    SendCMD(on ? LegacyUsb2Request::kPixels16Bit : LegacyUsb2Request::kPixels8Bit);
}

int CCameraLegacyUsb2::GetRealImageSize()
{
    const int bin = m_iBin;
    return m_iWidth * m_iHeight * bin * bin * (m_b16Bit ? 2 : 1);
}

bool CCameraLegacyUsb2::StartSensorStreaming()
{
    return WriteCameraRegister(kRegStreamControl, kStreamOn).IsOk();
}

bool CCameraLegacyUsb2::StopSensorStreaming()
{
    return WriteCameraRegister(kRegStreamControl, kStreamHold).IsOk();
}

bool CCameraLegacyUsb2::PllBypassed()
{
    return m_iCMOSClk == kCrystalMHz;
}

bool CCameraLegacyUsb2::SetCMOSClk()
{
    // The fast clocks serve short exposures only; longer ones keep the
    // crystal (SetExp).
    if (m_lExposure < kSlowClockLimitUs) {
        const int width = m_iBin * m_iWidth;
        const int depth = m_b16Bit ? 2 : 1;
        int mhz = 80;
        if (width >= 801)
            mhz = (width <= 960 ? 66 : width <= 1024 ? 62 : 50) / depth;
        else if (width >= 481)
            mhz = 80 / depth;
        else if (width >= 321 && depth == 2)
            mhz = 50;
        SetCMOSClk(mhz);
    }
    // Line length and exposure follow the clock and the ROI.
    return SetFPSPerc(m_iBandwidth, m_bAutoBandwidth);
}

bool CCameraLegacyUsb2::SetCMOSClk(int mhz)
{
    if (!m_bOpen)
        return false;
    static const char *const tag = "SetCMOSClk";
    DbgPrint2(LogSeverity::Debug, tag, "set clk %d M!\n", mhz);
    uint16_t gain = 0;
    if (mhz == kCrystalMHz) {
        ReadCameraRegister(kRegAnalogueGain, &gain);
        gain |= kGainBaseCrystal;
        WriteCameraRegister(kRegAnalogueGain, gain);
        WriteCameraRegister(kRegStreamControl, kStreamHold);
        ModelFamily::SleepMs(200);
        WriteCameraRegister(kRegAnalogueGain, gain);
        WriteCameraRegister(kRegStreamControl, kStreamOn);
        SendCMD(LegacyUsb2Request::kClockReprogrammed);
        m_iCMOSClk = kCrystalMHz;
        return true;
    }
    if (PllBypassed()) {
        SendCMD(LegacyUsb2Request::kClockSwitching);
        ReadCameraRegister(kRegAnalogueGain, &gain);
        WriteCameraRegister(kRegAnalogueGain, static_cast<uint16_t>((gain & kLowBits) | kPllInUse));
    }

    const int clock = m_bHighSpeed ? mhz : mhz / 2;
    m_iCMOSClk = clock;
    WriteCameraRegister(kRegIntegration, IntegrationLines());
    WriteCameraRegister(kRegStreamControl, kStreamClockChange);
    // Let the frames under way end before the clock changes.
    if (m_bLongExpMode) {
        const unsigned ms = static_cast<unsigned>((m_iHMAX * kLongExposureLines + 26) / 24000);
        DbgPrint2(LogSeverity::Debug, tag, "set clk from long exp, sleep %dms!\n", ms);
        ModelFamily::SleepMs(ms);
    } else {
        ModelFamily::SleepMs(static_cast<unsigned>(m_lExposure / 500));
    }

    const LegacyPllRow *row = FindPllRow(mhz);
    if (row == nullptr) {
        DbgPrint2(LogSeverity::Error, tag, "set clk %d error!\n", mhz);
    } else {
        WriteCameraRegister(kRegSysDiv, row->usSysDiv);
        WriteCameraRegister(kRegPixDiv, row->usPixDiv);
        WriteCameraRegister(kRegPreDiv,
                            m_bHighSpeed ? row->usPreDivHighSpeed : row->usPreDivNormal);
        WriteCameraRegister(kRegMultiplier, row->usMultiplier);
    }
    ModelFamily::SleepMs(10);
    WriteCameraRegister(kRegStreamControl, kStreamOn);
    return true;
}

bool CCameraLegacyUsb2::SetHighSpeedMode(bool on)
{
    m_bHighSpeed = on;
    return SetCMOSClk();
}

uint16_t CCameraLegacyUsb2::IntegrationLines()
{
    const bool longExposure = m_bLongExpMode;
    const uint64_t exposureUs = longExposure ? kLongExposureProgrammedUs : m_lExposure.load();
    const int64_t hmax = m_iHMAX > 0 ? m_iHMAX.load() : kMinHMAX;
    int64_t lines =
        (static_cast<int64_t>(m_iCMOSClk) * static_cast<int64_t>(exposureUs) - kIntegrationClocks) /
        hmax;
    if (longExposure && lines > kLongExposureLines)
        lines = kLongExposureLines;
    return static_cast<uint16_t>(lines < 1 ? 1 : lines > 0xFFFF ? 0xFFFF : lines);
}

void CCameraLegacyUsb2::CalcFrameTime()
{
    const int clock = m_iCMOSClk;
    const int64_t clocks =
        static_cast<int64_t>(m_iHMAX) * (m_iBin * m_iHeight + kOverheadLines) - kFrameTimeClocks;
    m_iFrameTimeUs = clock > 0 && clocks > 0 ? static_cast<uint32_t>(clocks / clock) : 0;
    m_iTransferTimeUs = 0;
}

bool CCameraLegacyUsb2::SetFPSPerc(int percent, bool autoBandwidth)
{
    const int bandwidth = ModelFamily::StoreBandwidth(*this, percent, autoBandwidth);

    // The sensor's line rate paces the stream to what the USB2 link moves at
    // full rate; a lower bandwidth lengthens the line.
    const int clock = m_iCMOSClk;
    const double lineBytes = static_cast<double>(m_iBin * m_iWidth) * (m_b16Bit ? 2 : 1);
    const double linkBytesPerUs = ModelFamily::LinkRate(false) * 100.0 * 10 / 1e6;
    const int linkHMAX = static_cast<int>(clock * lineBytes / linkBytesPerUs);
    int hmax = 100 * (linkHMAX > kMinHMAX ? linkHMAX : kMinHMAX) / bandwidth;
    hmax = hmax > kMaxHMAX ? kMaxHMAX : hmax;
    m_iHMAX = hmax;
    WriteCameraRegister(kRegLineLength, static_cast<uint16_t>(hmax));
    CalcFrameTime();
    const uint32_t frameUs = m_iFrameTimeUs;
    DbgPrint2(LogSeverity::Debug, "SetFPSPerc",
              "Sensor clk:%d fps:%2.2f size:%2.2f value:%d pkg:%d \n", clock,
              frameUs > 0 ? 1e6 / frameUs : 0.0,
              frameUs > 0 ? GetRealImageSize() / static_cast<double>(frameUs) : 0.0, percent, hmax);
    return SetExp(m_lExposure, m_bAutoExp);
}

bool CCameraLegacyUsb2::SetExp(uint64_t us, bool autoExp)
{
    static const char *const tag = "SetExp";
    us = ModelFamily::StoreExposure(*this, us, autoExp, kMinExposureUs, kMaxExposureUs);
    if (us >= kLongExposureUs && !m_bLongExpMode) {
        m_bLongExpMode = true;
        DbgPrint2(LogSeverity::Info, tag, "-----Enter long exp mode\n");
    } else if (us < kLongExposureUs && m_bLongExpMode) {
        m_bLongExpMode = false;
        DbgPrint2(LogSeverity::Info, tag, "-----Exit long exp mode\n");
    }

    // Each clock change re-runs the timing, which comes back here.
    if (m_bOpen && us > kSlowClockLimitUs && !PllBypassed()) {
        DbgPrint2(LogSeverity::Info, tag, "exp > %dms Set slowest speed\n", kSlowClockLimitMs);
        SetCMOSClk(kCrystalMHz);
        WriteGainRegisters();
        return SetFPSPerc(m_iBandwidth, m_bAutoBandwidth);
    }
    if (m_bOpen && us < kSlowClockLimitUs && PllBypassed()) {
        DbgPrint2(LogSeverity::Info, tag, "exp < %dms recover speed\n", kSlowClockLimitMs);
        const bool done = SetCMOSClk();
        WriteGainRegisters();
        return done;
    }
    const uint16_t lines = IntegrationLines();
    DbgPrint2(LogSeverity::Debug, tag, "lines:%d pkg:%d clk:%d 1f:%d mode:%d timeus:%d\n", lines,
              m_iHMAX.load(), m_iCMOSClk.load(), m_iFrameTimeUs.load(), m_bLongExpMode.load(),
              static_cast<int>(us));
    return WriteCameraRegister(kRegIntegration, lines).IsOk();
}

void CCameraLegacyUsb2::LengthenLine()
{
    m_iHMAX = m_iHMAX + 30 > kMaxHMAX ? kMaxHMAX : m_iHMAX + 30;
    WriteCameraRegister(kRegLineLength, static_cast<uint16_t>(m_iHMAX));
    CalcFrameTime();
    WriteCameraRegister(kRegIntegration, IntegrationLines());
}

bool CCameraLegacyUsb2::SetGain(int gain, bool autoGain)
{
    ModelFamily::StoreGain(*this, gain, autoGain, kMaxGain);
    WriteGainRegisters();
    return true;
}

void CCameraLegacyUsb2::WriteGainRegisters()
{
    int step = 0;
    int code = 0;
    GainCode(m_iGain, &step, &code);
    const uint16_t base = PllBypassed() ? kGainBaseCrystal : kGainBasePll;
    WriteCameraRegister(kRegAnalogueGain, static_cast<uint16_t>(base + kGainStepBits * step));
    WriteCameraRegister(kRegGreen1Gain, static_cast<uint16_t>(code));
    WriteCameraRegister(kRegGreen2Gain, static_cast<uint16_t>(code));
    WriteCameraRegister(kRegRedGain, static_cast<uint16_t>(code * m_iWB_R / kWBUnity));
    WriteCameraRegister(kRegBlueGain, static_cast<uint16_t>(code * m_iWB_B / kWBUnity));
}

bool CCameraLegacyUsb2::SetRGBBalance(int red, int blue, bool autoWB)
{
    m_bAutoWB = autoWB;
    m_iWB_R = red < 1 ? 1 : (red > 100 ? 100 : red);
    m_iWB_B = blue < 1 ? 1 : (blue > 100 ? 100 : blue);
    int step = 0;
    int code = 0;
    GainCode(m_iGain, &step, &code);
    WriteCameraRegister(kRegRedGain, static_cast<uint16_t>(code * m_iWB_R / kWBUnity));
    return WriteCameraRegister(kRegBlueGain, static_cast<uint16_t>(code * m_iWB_B / kWBUnity))
        .IsOk();
}

bool CCameraLegacyUsb2::SetBrightness(int offset)
{
    m_iOffset = offset;
    return WriteCameraRegister(kRegBlackLevel, static_cast<uint16_t>(offset * 16)).IsOk();
}
