#include "models/SonyModel.h"

#include "log/DbgPrint.h"
#include "transport/FX3Protocol.h"

namespace SonyModel {

namespace {

constexpr int kUnityColourGain = 128;

constexpr uint64_t kLongExposureUs = 1000000;
// Long exposures program a frame this much longer than the sensor frame; the
// capture loop times the real exposure.
constexpr uint32_t kLongExposureMarginUs = 5000;
// CalcMaxFPS keeps its last results from this exposure on.
constexpr uint64_t kMaxFPSExposureLimitUs = 99999;
constexpr uint32_t kMaxVMAX = 0xFFFFFF;
constexpr uint32_t kMaxSHS = 0x1FFFE;
constexpr int kMaxAutoExpMs = 2000000;

// MB/s (10^6 bytes) the link moves at this bandwidth percentage.
double LinkMBPerSecond(bool usb3Host, int bandwidth)
{
    return static_cast<double>(ModelFamily::LinkRate(usb3Host)) * bandwidth * 10 / 1000 / 1000;
}

double FrameBytes(const FrameGeometry &frame)
{
    return static_cast<double>(frame.iWidth) * frame.iHeight * frame.iBytesPerPixel;
}

// Enters long-exposure mode from one second on and leaves it below. A
// trigger camera mode times its exposures itself: it never enters, and on
// leaving keeps the FPGA's trigger mode that the camera mode selected.
void UpdateLongExposureMode(CCameraBase &camera, uint64_t us)
{
    const CameraSettings &settings = camera.Settings();
    const bool triggerCameraMode = settings.m_iCameraMode != MODE_NORMAL;
    if (us >= kLongExposureUs && !triggerCameraMode) {
        if (!settings.m_bLongExpMode) {
            camera.EnableFPGAWaitMode(true);
            camera.EnableFPGATriggerMode(true);
            camera.StoreLongExpMode(true);
            DbgPrint(LogSeverity::Info, -1, "SetExp", "-----Enter long exp mode\n");
        }
    } else if (settings.m_bLongExpMode) {
        DbgPrint(LogSeverity::Info, -1, "SetExp", "-----Exit long exp mode\n");
        if (!triggerCameraMode)
            camera.EnableFPGATriggerMode(false);
        camera.EnableFPGAWaitMode(false);
        camera.StoreLongExpMode(false);
    }
}

} // namespace

ModelFamily::ControlDefaults UsualControls(int gainDefault, int gainMax)
{
    // clang-format off
    return {
        gainDefault, gainMax,           // gain: start, maximum
        kMinExposureUs, kMaxExposureUs, // exposure
        52, 95, 99,                     // white balance: red, blue, maximum
        1, 240,                         // offset: start, maximum
        100,                            // bandwidth on a USB3 host
    };
    // clang-format on
}

void SetUsualControls(ModelDescription &model, bool colour,
                      const ModelFamily::ControlDefaults &controls)
{
    ModelFamily::SetColour(model, colour);
    ModelFamily::SetControls(model, controls);
    model.m_Caps.bTemperature = true;
}

void LoadSettings(CCameraBase &camera)
{
    ModelFamily::LoadSettings(camera, kMaxAutoExpMs);
}

bool SetSensorBit(CCameraFX3 &camera, uint16_t address, uint8_t bit, bool on)
{
    uint8_t value = 0;
    camera.ReadSONYREG(address, &value);
    value = static_cast<uint8_t>(on ? (value | bit) : (value & ~bit));
    return camera.WriteSONYREG(address, value).IsOk();
}

void PlayRegisterTable(CCameraFX3 &camera, const uint16_t (*table)[2], int rows)
{
    auto write = [&camera](uint16_t address, uint16_t value) {
        camera.WriteSONYREG(address, static_cast<uint8_t>(value & 0xFF));
    };
    ModelFamily::PlayRegisterTable(table, rows, kRegisterPause, write);
}

void ResetFPGA(CCameraFX3 &camera)
{
    camera.FPGAReset();
    ModelFamily::SleepMs(20);
    camera.SendCMD(FX3Request::kAfterFPGAReset);
}

void SetUpFPGA(CCameraFX3 &camera, bool ddr)
{
    camera.SetFPGAAsMaster(true);
    camera.FPGAStop();
    camera.EnableFPGADDR(ddr);
    camera.SetFPGAADCWidthOutputWidth(ADC_BIT_WIDE, false);
    camera.SetFPGABinMode(FPGA_BIN_MODE_0);
    camera.SetFPGAGain(kUnityColourGain, kUnityColourGain, kUnityColourGain, kUnityColourGain);
}

void CalcFrameTime(CCameraBase &camera, const FrameGeometry &frame)
{
    const CameraSettings &settings = camera.Settings();
    const float lineUs = settings.m_iHMAX * 1000.0f / settings.m_iCMOSClk;
    const uint32_t frameTimeUs =
        static_cast<uint32_t>((frame.iHeight + frame.iOverheadLines) * lineUs);
    // Without the DDR buffer a frame is sent as it is read out.
    uint32_t transferTimeUs = 0;
    if (frame.bDDR)
        transferTimeUs = static_cast<uint32_t>(
            FrameBytes(frame) / LinkMBPerSecond(settings.m_bUSB3Host, settings.m_iBandwidth));
    camera.StoreFrameTime(frameTimeUs, transferTimeUs);
}

void CalcMaxFPS(CCameraBase &camera, const FrameGeometry &frame)
{
    const CameraSettings &settings = camera.Settings();
    if (settings.m_lExposure > kMaxFPSExposureLimitUs)
        return;
    const double frameBytes = FrameBytes(frame);
    const int clock = settings.m_iCMOSClk;
    const int hmax = settings.m_iHMAX;
    if (!frame.bDDR) {
        const float fps = static_cast<float>(1000000.0 / settings.m_iFrameTimeUs);
        camera.StoreMaxFPS(fps, static_cast<float>(fps * frameBytes / 1e6));
    } else {
        const double linkMBs = LinkMBPerSecond(settings.m_bUSB3Host, settings.m_iBandwidth);
        const double sensorFps =
            clock * 1000.0 / (static_cast<double>(hmax) * (frame.iHeight + frame.iOverheadLines));
        const double linkFps = linkMBs * 1e6 / frameBytes;
        const double sensorMBs = frameBytes * sensorFps / 1e6;
        camera.StoreMaxFPS(static_cast<float>(linkFps < sensorFps ? linkFps : sensorFps),
                           static_cast<float>(linkMBs < sensorMBs ? linkMBs : sensorMBs));
    }
    DbgPrint(LogSeverity::Debug, -1, "CalcMaxFPS",
             "calc fps: clk:%d data:%2.1f fps:%2.1f pkg:%d \n", clock, settings.m_fDataRate.load(),
             settings.m_fMaxFPS.load(), hmax);
}

void SetFPSPerc(CCameraBase &camera, int percent, bool autoBandwidth, const FrameGeometry &frame,
                int minHMAX, int linkRate)
{
    const CameraSettings &settings = camera.Settings();
    const int bandwidth = ModelFamily::StoreBandwidth(camera, percent, autoBandwidth);

    const int clock = settings.m_iCMOSClk;
    const int frameLines = frame.iHeight + frame.iOverheadLines;
    float fpgaBandwidth = 100.0f;
    int hmax = minHMAX;
    if (!frame.bDDR) {
        // The sensor's line rate itself paces the stream to the link.
        const double pixelRate = 100.0 * linkRate * 10 / frame.iBytesPerPixel;
        const double linkFrameUs = 1e6 / (pixelRate / frame.iWidth / frame.iHeight);
        const double linkLineUs = linkFrameUs / frameLines;
        const int linkHMAX = static_cast<int>(clock * linkLineUs / 1000);
        hmax = 100 * (linkHMAX > minHMAX ? linkHMAX : minHMAX) / bandwidth;
        hmax = hmax > 65535 ? 65535 : hmax;
    } else {
        // The sensor runs at its fastest line rate into the DDR buffer and
        // the FPGA paces the USB output.
        fpgaBandwidth =
            static_cast<float>(ModelFamily::LinkRate(settings.m_bUSB3Host)) * bandwidth / 400000;
    }
    camera.StoreHMAX(hmax);
    camera.SetFPGAHMAX(static_cast<uint16_t>(hmax));
    camera.SetFPGABandWidth(fpgaBandwidth);

    const double sensorFps = clock * 1000.0 / (static_cast<double>(hmax) * frameLines);
    const double frameBytes = FrameBytes(frame);
    DbgPrint(LogSeverity::Debug, -1, "SetFPSPerc",
             "Sensor clk:%d fps:%2.2f size:%2.2f value:%d pkg:%d \n", clock, sensorFps,
             sensorFps * frameBytes / 1e6, percent, hmax);
    if (frame.bDDR) {
        const double outputMBs = fpgaBandwidth * 400000.0 * 10 / 1e6;
        DbgPrint(LogSeverity::Debug, -1, "SetFPSPerc",
                 "FPGA output size:%2.2f, fps:%2.2f , fPercent:%2.2f \n", outputMBs,
                 outputMBs * 1e6 / frameBytes, fpgaBandwidth);
    }

    CalcFrameTime(camera, frame);
    camera.SetExp(settings.m_lExposure, settings.m_bAutoExp);
    CalcMaxFPS(camera, frame);
}

Shutter SetExp(CCameraBase &camera, uint64_t us, bool autoExp, const FrameGeometry &frame)
{
    const CameraSettings &settings = camera.Settings();
    us = ModelFamily::StoreExposure(camera, us, autoExp, kMinExposureUs, kMaxExposureUs);
    UpdateLongExposureMode(camera, us);
    // Edge triggers expose for the FPGA's trigger exposure time.
    if (settings.m_iCameraMode != MODE_NORMAL)
        camera.SetExtTrigExpTime(static_cast<uint32_t>(us));

    const float lineUs = settings.m_iHMAX * 1000.0f / settings.m_iCMOSClk;
    CalcMaxFPS(camera, frame);

    const uint32_t frameTimeUs = settings.m_iFrameTimeUs;
    const bool longExposure = settings.m_bLongExpMode;
    const uint64_t exposureUs = longExposure ? frameTimeUs + kLongExposureMarginUs : us;
    const uint32_t frameLines = static_cast<uint32_t>(frame.iHeight + frame.iOverheadLines);

    Shutter shutter{0, 1};
    if (exposureUs <= frameTimeUs) {
        shutter.vmax = frameLines < kMaxVMAX ? frameLines : kMaxVMAX;
        const uint64_t lines = static_cast<uint64_t>(static_cast<double>(exposureUs) / lineUs);
        shutter.shs = lines + 1 >= frameLines ? 1 : static_cast<uint32_t>(frameLines - 1 - lines);
        shutter.shs = shutter.shs < kMaxSHS ? shutter.shs : kMaxSHS;
    } else {
        const double lines = static_cast<double>(exposureUs) / lineUs + 1;
        shutter.vmax = lines < kMaxVMAX ? static_cast<uint32_t>(lines) : kMaxVMAX;
    }
    camera.StoreExpReg(static_cast<int>(shutter.vmax - 1 - shutter.shs));
    DbgPrint(LogSeverity::Debug, -1, "SetExp",
             "VMAX:0x%x SSH1:0X%x %2.2fus 1f:%d mode:%d timeus:%d\n", shutter.vmax, shutter.shs,
             lineUs, frameTimeUs, longExposure, static_cast<int>(us));
    camera.SetFPGAVMAX(shutter.vmax);
    return shutter;
}

} // namespace SonyModel
