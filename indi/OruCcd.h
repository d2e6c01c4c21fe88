// One camera as an INDI CCD device. The device is the base class's virtuals:
// work that takes long runs on timers (exposures are polled) or on threads of
// its own (video frames, guide pulses), never in the event loop. A camera that
// stops answering is freed and its properties go to Alert.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <indiccd.h>
#include <indipropertynumber.h>
#include <indipropertyswitch.h>
#include <indipropertytext.h>

#include "CameraControls.h"
#include "GuidePulser.h"
#include "ORUCamera.h"
#include "VideoReader.h"

namespace oru_indi {

class OruCcd : public INDI::CCD {
public:
    // Exposures are polled this often.
    static constexpr uint32_t kExposurePollMs = 100;

    // `info` as enumeration reported it; `deviceName` tells apart cameras of
    // the same model.
    OruCcd(const ORU_CAMERA_INFO &info, const std::string &deviceName);
    ~OruCcd() override;

    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewNumber(const char *dev, const char *name, double values[], char *names[],
                     int n) override;
    bool ISNewSwitch(const char *dev, const char *name, ISState *states, char *names[],
                     int n) override;
    void TimerHit() override;

protected:
    const char *getDefaultName() override;
    bool Connect() override;
    bool Disconnect() override;
    bool saveConfigItems(FILE *fp) override;

    int SetTemperature(double temperature) override;
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDBin(int hor, int ver) override;
    bool SetCaptureFormat(uint8_t index) override;
    bool StartStreaming() override;
    bool StopStreaming() override;
    IPState GuideNorth(uint32_t ms) override;
    IPState GuideSouth(uint32_t ms) override;
    IPState GuideEast(uint32_t ms) override;
    IPState GuideWest(uint32_t ms) override;
#if INDI_VERSION_MAJOR >= 2
    void addFITSKeywords(INDI::CCDChip *targetChip,
                         std::vector<INDI::FITSRecord> &fitsKeywords) override;
#else
    void addFITSKeywords(INDI::CCDChip *targetChip) override;
#endif

private:
    struct PulseReport {
        OruCcd *device;
        INDI_EQ_AXIS axis;
        int timer = -1;
    };
    static void reportPulse(void *context);

    // Camera: finding it, answers, loss.
    bool findCamera();
    bool cameraAnswers();
    // A failed call: a camera that is gone is freed; true when it is gone.
    bool checkFailure(ORU_ERROR_CODE result, const char *what);
    void cameraVanished(const char *what);
    void releaseCamera();

    // Geometry and format.
    bool applyFrame(int x, int y, int w, int h, int bin, ORU_IMG_TYPE type);
    void showBayer();
    bool dataIsMosaic() const;
    INDI_PIXEL_FORMAT streamPixelFormat() const;

    // Exposures.
    bool startCameraExposure();
    void pollExposure();
    void exposureFailed(const char *why);
    // Reads a frame with `read` into the chip's buffer as INDI lays it out.
    ORU_ERROR_CODE readFrame(const std::function<ORU_ERROR_CODE(uint8_t *, int32_t)> &read);
    void completeExposure();
    // The camera's present value of a control; none when it has none.
    std::optional<long> controlValue(ORU_CONTROL_TYPE type);
    void pollTriggeredExposure();
    bool startTriggerCapture();

    // Periodic work.
    void scheduleTimer(uint32_t ms);
    void refreshCooler();
    IPState startPulse(ORU_GUIDE_DIRECTION direction, INDI_EQ_AXIS axis, uint32_t ms);

    // Base class properties whose types changed with libindi 2.
    void setTemperatureReading(double celsius);
    void setTemperatureLimits(double minimum, double maximum);
    void setTemperatureAlert();
    void setBayerPattern(const std::string &pattern);

    const int m_CameraId;
    const ORU_CAMERA_INFO m_Info;
    const std::string m_ModelName;
    bool m_Open = false;
    using Clock = std::chrono::steady_clock;
    int m_TimerId = -1;
    Clock::time_point m_NextRefresh;
    Clock::time_point m_NextPresenceCheck;

    ORU_IMG_TYPE m_ImageType = ORU_IMG_RAW16;
    int m_Width = 0; // of the image, in binned pixels
    int m_Height = 0;
    std::vector<ORU_IMG_TYPE> m_FormatTypes; // parallel to the capture formats
    std::vector<uint8_t> m_Scratch;

    // Exposure in progress.
    double m_ExposureSeconds = 0;
    struct timeval m_ExposureStart {};
    int m_LastSecondShown = -1;
    int m_ExposureAttempts = 0;
    bool m_SoftTriggerSent = false;
    bool m_LevelTriggerOn = false;

    CameraControls m_Controls;
    std::unique_ptr<VideoReader> m_Reader;
    std::unique_ptr<GuidePulser> m_Pulser;
    PulseReport m_PulseReports[2];

    std::vector<ORU_CAMERA_MODE> m_Modes;
    ORU_CAMERA_MODE m_Mode = ORU_MODE_NORMAL;
    INDI::PropertySwitch TriggerModeSP{0};
    INDI::PropertySwitch CoolerSP{2};
    INDI::PropertyNumber CoolerPowerNP{1};
    INDI::PropertyText InfoTP{2};
};

} // namespace oru_indi
