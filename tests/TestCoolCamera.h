// A cooled camera model for the engine tests: a small sensor, capability flags
// chosen per test, and model operations that record what reached them instead
// of driving a sensor. Its working and trigger loops just run until stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "engine/CCameraCool.h"

class TestCoolCamera : public CCameraCool {
public:
    static constexpr int kProductId = 0x1001;

    // Tests describe the model they need and read the gamma tables.
    using CCameraCool::DescribeModel;
    using CCameraCool::m_GammaTable8;
    using CCameraCool::m_pGammaTable16;
    // ... and read the camera index and the control list.
    using CCameraCool::m_CtrlList;
    using CCameraCool::m_iCameraIndex;
    using CCameraCool::m_TrigThread;
    using CCameraCool::m_WorkThread;
    // Tests set the state they need directly.
    CameraSettings &EditableSettings() { return *this; }

    enum class Sensor { Color, Mono };

    explicit TestCoolCamera(Sensor sensor = Sensor::Color)
    {
        CameraPID(kProductId);
        ModelDescription &model = DescribeModel();
        model.m_szCameraName = "TAV ORU6200MC Pro";
        model.m_szModelKey = "ORU6200MC Pro";
        model.m_iMaxWidth = 64;
        model.m_iMaxHeight = 48;
        m_iWidth = 64;
        m_iHeight = 48;
        model.m_dPixelSize = 3.76;
        model.m_iBitDepth = 16;
        model.m_fElecPerADU = 0.768f;
        model.m_bUSB3Camera = true;
        model.m_SupportedBins[1] = 2;
        const bool color = sensor == Sensor::Color;
        model.m_Caps.bGain = model.m_Caps.bExposure = model.m_Caps.bOffset =
            model.m_Caps.bBandwidth = true;
        model.m_Caps.bWBRed = model.m_Caps.bWBBlue = true;
        model.m_Caps.bRaw8 = model.m_Caps.bRGB24 = model.m_Caps.bY8 = model.m_Caps.bRaw16 = true;
        model.m_Caps.bAutoBandwidth = true;
        model.m_Caps.bColor = color;
        model.m_Caps.bTemperature = model.m_Caps.bHardwareBin = model.m_Caps.bHighSpeed = true;
        model.m_Caps.bAntiDewHeater = true;
        ControlLimits &limits = model.m_Limits;
        limits.iGainDefault = 200, limits.iGainMax = 700, limits.iGainMin = 0;
        limits.lExpDefault = 10000, limits.lExpMax = 2000000000, limits.lExpMin = 32;
        limits.iGammaDefault = 50, limits.iGammaMax = 100, limits.iGammaMin = 1;
        limits.iWBRDefault = 52, limits.iWBBDefault = 95;
        limits.iWBMax = 99, limits.iWBMin = 1;
        limits.iOffsetDefault = 1, limits.iOffsetMax = 240, limits.iOffsetMin = 0;
        limits.iBandwidthMin = 40, limits.iBandwidthMax = 100;
        m_iGamma = 50;
        m_iGain = 200;
        m_lExposure = 10000;
        m_iBandwidthUSB3 = 100;
        m_WorkThread.InitFuncPt(RunUntilStopped);
        m_TrigThread.InitFuncPt(RunUntilStopped);
    }

    // The capture loops belong to this class and end here; the cooler
    // thread is left to the cooled layer.
    ~TestCoolCamera() override
    {
        m_WorkThread.Stop();
        m_TrigThread.Stop();
    }

    bool InitCamera() override
    {
        InitVariable();
        return true;
    }
    bool SetResolution(int, int, int, IMAGE_TYPE) override { return true; }
    bool SetStartPos(int, int) override { return true; }
    bool SetGain(int gain, bool autoGain) override
    {
        m_iGain = gain;
        m_bAutoGain = autoGain;
        return true;
    }
    bool SetRGBBalance(int red, int blue, bool autoWB) override
    {
        m_iWB_R = red;
        m_iWB_B = blue;
        m_bAutoWB = autoWB;
        return true;
    }
    bool SetExp(uint64_t us, bool autoExp) override
    {
        m_lExposure = us;
        m_bAutoExp = autoExp;
        exposuresSet.push_back(us);
        return acceptExposure;
    }
    bool GetImage(unsigned char *, int, int) override
    {
        ++imageReads;
        return true;
    }

    bool IsOpen() const { return m_bOpen; }

    // Waits until a capture loop has started; false after 10 s.
    bool WaitForLoop() const
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (*liveLoops == 0) {
            if (std::chrono::steady_clock::now() > giveUp)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    uint8_t FirmwareVersion() const { return m_ucFirmwareVer; }

    std::vector<uint64_t> exposuresSet;
    bool acceptExposure = true;
    std::atomic<int> imageReads{0};
    std::atomic<int> loopStarts{0};
    // Capture loops running now; outlives the camera.
    std::shared_ptr<std::atomic<int>> liveLoops = std::make_shared<std::atomic<int>>(0);

private:
    static void RunUntilStopped(std::atomic<bool> *running, void *arg)
    {
        TestCoolCamera *camera = static_cast<TestCoolCamera *>(arg);
        const std::shared_ptr<std::atomic<int>> live = camera->liveLoops;
        ++*live;
        ++camera->loopStarts;
        while (*running)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --*live;
    }
};
