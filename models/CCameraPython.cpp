#include "models/CCameraPython.h"

#include <cmath>
#include <cstdint>

#include "log/DbgPrint.h"
#include "models/FpgaCaptureLoops.h"
#include "models/ModelFamily.h"
#include "models/PythonRegisterTables.h"
#include "transport/FX3Protocol.h"

namespace {

constexpr uint64_t kMinExposureUs = 16;
constexpr uint64_t kMaxExposureUs = 64000;
constexpr int kMaxAutoExposureMs = 64;
// The sensor clock in MHz; as the exposure timer's clock count it makes the
// exposure register count microseconds.
constexpr uint16_t kSensorClockMHz = 72;

constexpr int kMaxGain = 360;
// Each analogue stage doubles the signal (6 dB = 60 units of 0.1 dB); the
// digital gain, 128 for unity, does the rest.
constexpr int kAnalogueStepGain = 60;
constexpr int kMaxAnalogueStage = 3;
constexpr double kUnityDigitalGain = 128.0;
constexpr int kMaxOffset = 255;

// Line time of the sensor: the window width plus 16 columns at 36 columns
// per 125 ns, plus a row overhead, never below a floor.
constexpr int kExtraColumns = 16;
constexpr int kRowOverheadNs = 1000;
constexpr int kZeroRowOverheadNs = 56;
constexpr int kMinLineNs = 1000;
constexpr int kMinZeroRowOverheadLineNs = 1260;
constexpr uint32_t kFrameOverheadUs = 50;

constexpr uint16_t kRegPLLLock = 96; // bit 0
constexpr uint8_t kFPGARunning = 0x01;
constexpr uint8_t kFPGAStopped = 0x11;
constexpr uint8_t kUnityColourGain = 128;

using Loops = FpgaCaptureLoops<CCameraPython, FpgaKind::Plain>;

} // namespace

// Identity, limits and defaults are this family's own model data; the
// sensor's size, pixel pitch and ADC depth are those of the PYTHON sensor.
CCameraPython::CCameraPython()
{
    DbgPrint(LogSeverity::Info, -1, "CCameraPython", "CCAMERA::CCAMERA()\n");
    ModelDescription &model = DescribeModel();
    ModelFamily::SetSensor(model, 1280, 1024, 4.8, 10);
    model.m_bUSB3Camera = true;
    // After the base's bin 1; all binning is done in software.
    model.m_SupportedBins[1] = 2;
    model.m_SupportedBins[2] = 3;
    model.m_SupportedBins[3] = 4;

    // The colour twin sets its own white balance.
    // clang-format off
    const ModelFamily::ControlDefaults defaults = {
        60, kMaxGain,                   // gain: start, maximum
        kMinExposureUs, kMaxExposureUs, // exposure
        0, 0, 99,                       // white balance: red, blue, maximum
        8, kMaxOffset,                  // offset: start, maximum
        100,                            // bandwidth on a USB3 host
    };
    // clang-format on
    ModelFamily::SetControls(model, defaults);
    model.m_Caps.bST4 = true;
    // Full well of about 10000 electrons over the 10-bit range.
    model.m_fElecPerADU = 9.78f;
    ModelFamily::SetGainOffsetRef(model, {8, 8, 60, 180, 12});

    ModelFamily::StartControls(*this, defaults);
    m_iAutoMaxGain = 180;
    m_iCMOSClk = kSensorClockMHz * 1000;
    m_bEnableDDR = false;
}

void CCameraPython::LoadModelSettings()
{
    ModelFamily::LoadSettings(*this, kMaxAutoExposureMs);
    // These models have no hardware binning; a stored flag does not apply.
    m_bHardwareBin = false;
}

CCameraPython::~CCameraPython()
{
    DbgPrint(LogSeverity::Info, -1, "~CCameraPython", "CCAMERA::~CCAMERA()\n");
    CCameraPython::CloseCamera();
    StopThreads();
}

OruStatus CCameraPython::PlayWrites(const PythonWriteList &writes)
{
    OruStatus result = OruStatus::Ok();
    for (int i = 0; i < writes.iCount; ++i) {
        const PythonRegisterWrite &write = writes.pWrites[i];
        result = write.bWhole ? WriteCameraRegister(write.address, write.value)
                              : WriteCameraRegister_B(write.address, write.lowBit, write.highBit,
                                                      write.value);
    }
    return result;
}

OruStatus CCameraPython::RunReadoutMode(const PythonReadoutMode &mode)
{
    PlayWrites(kPythonSequencerOff);
    OruStatus result = PlayWrites(mode.modeBits);
    for (int i = 0; i < mode.iProgramWords; ++i)
        result =
            WriteCameraRegister(static_cast<uint16_t>(kPythonRegProgram + i), mode.pProgram[i]);
    return result;
}

OruStatus CCameraPython::EnableClockMngmnt1()
{
    return PlayWrites(kPythonClockMngmnt1);
}

OruStatus CCameraPython::EnableClockMngmnt2()
{
    return PlayWrites(kPythonClockMngmnt2);
}

OruStatus CCameraPython::RequiredUploads()
{
    return PlayWrites(kPythonRequiredUploads);
}

OruStatus CCameraPython::SoftReset()
{
    return PlayWrites(kPythonSoftReset);
}

OruStatus CCameraPython::SoftPowerUp()
{
    return PlayWrites(kPythonSoftPowerUp);
}

OruStatus CCameraPython::SoftPowerDown()
{
    return PlayWrites(kPythonSoftPowerDown);
}

OruStatus CCameraPython::StartPYTHONStreaming()
{
    return WriteCameraRegister_B(kPythonRegSequencer, 0, 0, 1);
}

OruStatus CCameraPython::StopPYTHONStreaming()
{
    return WriteCameraRegister_B(kPythonRegSequencer, 0, 0, 0);
}

OruStatus CCameraPython::InitializeCDSwithNROT()
{
    return RunReadoutMode(kPythonCDSwithNROT);
}

OruStatus CCameraPython::InitializeCDSwithZROT()
{
    return RunReadoutMode(kPythonCDSwithZROT);
}

OruStatus CCameraPython::InitializeUDSwithNROT()
{
    return RunReadoutMode(kPythonUDSwithNROT);
}

OruStatus CCameraPython::InitializeUDSwithZROT()
{
    return RunReadoutMode(kPythonUDSwithZROT);
}

OruStatus CCameraPython::InitializeCDSwithNROT_LTN()
{
    return RunReadoutMode(kPythonCDSwithNROT_LTN);
}

OruStatus CCameraPython::InitializeMSCwithNROT()
{
    return RunReadoutMode(kPythonMSCwithNROT);
}

OruStatus CCameraPython::InitializeMSCwithZeroROT()
{
    return RunReadoutMode(kPythonMSCwithZeroROT);
}

OruStatus CCameraPython::InitializeMSLwithNROT()
{
    return RunReadoutMode(kPythonMSLwithNROT);
}

bool CCameraPython::InitCamera()
{
    // The product ID stays the one the camera was opened with.
    if (!m_bOpen)
        return false;
    BeginInit(Loops::WorkingFunc, NoTriggerFunc);
    SetHPCStates(true);
    GetFPGAVer();

    SoftReset();
    ModelFamily::SleepMs(10);
    EnableClockMngmnt1();
    EnableClockMngmnt2();
    RequiredUploads();
    SoftPowerUp();
    InitializeCDSwithNROT();
    WriteCameraRegister(kPythonRegTimerClocks, kSensorClockMHz);
    WriteCameraRegister_B(kPythonRegIntegration, 2, 2, 1);
    WriteCameraRegister_B(kRegPLLLock, 0, 0, 1);

    WriteFPGAREG(FPGARegister::kControl, 0);
    ModelFamily::SleepMs(20);
    WriteFPGAREG(FPGARegister::kControl, 0x10);
    WriteFPGAREG(FPGARegister::kOutput, 1);
    WriteFPGAREG(FPGARegister::kUpdateHold, 1);
    for (uint16_t reg = FPGARegister::kFirstGain; reg < FPGARegister::kFirstGain + 4; ++reg)
        WriteFPGAREG(reg, kUnityColourGain);
    WriteFPGAREG(FPGARegister::kUpdateHold, 0);

    SetGamma(m_iGamma);
    SetRGBBalance(m_iWB_R, m_iWB_B, m_bAutoWB);
    SetBrightness(m_iOffset);
    if (m_bAutoBandwidth)
        m_iBandwidth = m_bUSB3Host ? 100 : 80;
    SetHighSpeedMode(m_bHighSpeed);
    SetGain(m_iGain, m_bAutoGain);
    SetExp(m_lExposure, m_bAutoExp);
    return true;
}

void CCameraPython::CloseCamera()
{
    if (m_bOpen)
        SoftPowerDown();
    CCameraBase::CloseCamera();
}

bool CCameraPython::SetResolution(int width, int height, int bin, IMAGE_TYPE type)
{
    if (!ModelFamily::RoiAcceptable(*this, width, height, bin, type))
        return false;
    // The new ROI as a whole, and the sensor set up for it, before capture sees it.
    SectionLock roi(m_csRoi);
    ModelFamily::StoreRoi(*this, width, height, bin, type);
    SetOutput16Bits(ModelFamily::IsWide(type));
    Cam_SetResolution();
    // Re-applies the exposure and the timing of the new size as well.
    SetFPSPerc(m_iBandwidth, m_bAutoBandwidth);
    return true;
}

bool CCameraPython::SetStartPos(int x, int y)
{
    // Columns in steps of the sensor's 8-column kernels, rows even to keep
    // the colour phase.
    ModelFamily::PlaceStart(*this, x, y, 8, 2);
    WriteSensorWindow();
    return true;
}

OruStatus CCameraPython::WriteSensorWindow()
{
    const int bin = m_iBin;
    const int x = m_iStartX;
    const int y = m_iStartY;
    const int lastColumn = x + m_iWidth * bin - 1;
    const int lastRow = y + m_iHeight * bin - 1;
    WriteCameraRegister(kPythonRegWindowX, static_cast<uint16_t>((lastColumn / 8) << 8 | x / 8));
    WriteCameraRegister(kPythonRegWindowFirstRow, static_cast<uint16_t>(y));
    return WriteCameraRegister(kPythonRegWindowLastRow, static_cast<uint16_t>(lastRow));
}

bool CCameraPython::Cam_SetResolution()
{
    DbgPrint(LogSeverity::Debug, -1, "Cam_SetResolution", "SetResolution!\n");
    WriteSensorWindow();
    SetFPGAHeight(m_iHeight * m_iBin);
    SetFPGAWidth(m_iWidth * m_iBin);
    return true;
}

void CCameraPython::SetOutput16Bits(bool on)
{
    m_b16Bit = on;
    SetFPGAADCWidthOutputWidth(ADC_BIT_WIDE, on);
}

int CCameraPython::GetRealImageSize()
{
    return ModelFamily::RealImageSize(*this);
}

void CCameraPython::GetSensorOutputSize(int *width, int *height)
{
    const int bin = m_iBin;
    *width = m_iWidth * bin;
    *height = m_iHeight * bin;
}

bool CCameraPython::GetImage(unsigned char *buffer, int size, int waitMs)
{
    return Loops::GetImage(*this, buffer, size, waitMs);
}

bool CCameraPython::StartSensorStreaming()
{
    StartPYTHONStreaming();
    return WriteFPGAREG(FPGARegister::kControl, kFPGARunning).IsOk();
}

bool CCameraPython::StopSensorStreaming()
{
    StopPYTHONStreaming();
    return WriteFPGAREG(FPGARegister::kControl, kFPGAStopped).IsOk();
}

void CCameraPython::CalcFrameTime()
{
    const int bin = m_iBin;
    const int width = m_iWidth * bin;
    const int height = m_iHeight * bin;
    // A flag refused on a USB2 host is stored, but the sensor stays in the
    // normal readout.
    const bool zeroRowOverhead = m_bHighSpeed && m_bUSB3Host;
    int lineNs = (width + kExtraColumns) * 125 / 36 +
                 (zeroRowOverhead ? kZeroRowOverheadNs : kRowOverheadNs);
    const int minLineNs = zeroRowOverhead ? kMinZeroRowOverheadLineNs : kMinLineNs;
    lineNs = lineNs > minLineNs ? lineNs : minLineNs;
    m_iFrameTimeUs = kFrameOverheadUs + static_cast<uint32_t>(height * lineNs / 1000);

    // MB/s (10^6 bytes) the link moves at the current bandwidth.
    const double linkMBs =
        static_cast<double>(ModelFamily::LinkRate(m_bUSB3Host)) * m_iBandwidth * 10 / 1e6;
    const double frameBytes = static_cast<double>(width) * height * (m_b16Bit ? 2 : 1);
    m_iTransferTimeUs = static_cast<uint32_t>(frameBytes / linkMBs);
}

bool CCameraPython::SetFPSPerc(int percent, bool autoBandwidth)
{
    const int bandwidth = ModelFamily::StoreBandwidth(*this, percent, autoBandwidth);
    // The FPGA paces its output to this share of the link.
    const float fpgaBandwidth =
        static_cast<float>(ModelFamily::LinkRate(m_bUSB3Host)) * bandwidth / 400000;
    SetFPGABandWidth(fpgaBandwidth);
    DbgPrint(LogSeverity::Debug, -1, "SetFPSPerc", "value:%d fPercent:%2.2f\n", percent,
             fpgaBandwidth);
    SetExp(m_lExposure, m_bAutoExp);
    return true;
}

bool CCameraPython::SetExp(uint64_t us, bool autoExp)
{
    us = ModelFamily::StoreExposure(*this, us, autoExp, kMinExposureUs, kMaxExposureUs);
    CalcFrameTime();
    DbgPrint(LogSeverity::Debug, -1, "SetExp", "exp:%dus frame:%dus transfer:%dus\n",
             static_cast<int>(us), static_cast<int>(m_iFrameTimeUs.load()),
             static_cast<int>(m_iTransferTimeUs.load()));
    return WriteCameraRegister(kPythonRegExposure, static_cast<uint16_t>(us)).IsOk();
}

bool CCameraPython::SetGain(int gain, bool autoGain)
{
    gain = ModelFamily::StoreGain(*this, gain, autoGain, kMaxGain);
    int stage = gain / kAnalogueStepGain;
    stage = stage > kMaxAnalogueStage ? kMaxAnalogueStage : stage;
    const int digitalGain = gain - stage * kAnalogueStepGain;
    const long digital = std::lround(kUnityDigitalGain * std::pow(10.0, digitalGain / 200.0));
    WriteCameraRegister_B(kPythonRegAnalogueGain, 0, 1, static_cast<uint16_t>(stage));
    WriteCameraRegister(kPythonRegDigitalGain, static_cast<uint16_t>(digital));
    return true;
}

bool CCameraPython::SetBrightness(int offset)
{
    offset = offset < 0 ? 0 : (offset > kMaxOffset ? kMaxOffset : offset);
    m_iOffset = offset;
    return WriteCameraRegister_B(kPythonRegBlackLevel, 0, 7, static_cast<uint16_t>(offset)).IsOk();
}

bool CCameraPython::SetRGBBalance(int red, int blue, bool autoWB)
{
    return ModelFamily::SetRGBBalance(*this, red, blue, autoWB);
}

bool CCameraPython::SetHighSpeedMode(bool on)
{
    m_bHighSpeed = on;
    if (!m_bUSB3Host)
        return false;
    uint16_t sequencer = 0;
    ReadCameraRegister(kPythonRegSequencer, &sequencer);
    const bool streaming = (sequencer & 1) != 0;
    StopSensorStreaming();
    if (on)
        InitializeCDSwithZROT();
    else
        InitializeCDSwithNROT();
    SetExp(m_lExposure, m_bAutoExp);
    SetGain(m_iGain, m_bAutoGain);
    SetFPSPerc(m_iBandwidth, m_bAutoBandwidth);
    // A sensor that was idle stays idle until a capture starts it.
    if (streaming)
        StartSensorStreaming();
    return true;
}
