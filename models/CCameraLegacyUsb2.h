// The ORU120 cameras (product IDs 0x1005 to 0x1008): uncooled USB2 colour
// cameras with an EZ-USB FX2 controller whose firmware the host loads at open,
// a 1280 x 960 sensor with 16-bit registers and an on-chip PLL, and no FPGA
// or frame buffer. Frames arrive unmarked on endpoint 0x82 except for a
// 32-bit head word; 16-bit pixels carry their significant byte first.
// Thread safety: as CCameraBase.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/CCameraBase.h"

class CCameraLegacyUsb2 : public CCameraBase {
public:
    CCameraLegacyUsb2();
    ~CCameraLegacyUsb2() override;

    bool OpenCamera(int index) override;
    bool InitCamera() override;
    bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
    bool SetStartPos(int x, int y) override;
    bool SetGain(int gain, bool autoGain) override;
    bool SetBrightness(int offset) override;
    bool SetHighSpeedMode(bool on) override;
    bool SetFPSPerc(int percent, bool autoBandwidth) override;
    bool SetRGBBalance(int red, int blue, bool autoWB) override;
    bool SetExp(uint64_t us, bool autoExp) override;
    bool GetImage(unsigned char *buffer, int size, int waitMs) override;

    bool Cam_SetResolution();
    // Programs the sensor PLL for a clock (MHz, as the PLL table names it;
    // 24 is the crystal with the PLL bypassed).
    bool SetCMOSClk(int mhz);
    // Chooses the clock for the ROI and output depth, while the exposure is
    // short enough for the fast clocks.
    bool SetCMOSClk();
    void CalcFrameTime();
    void SetOutput16Bits(bool on);
    int GetRealImageSize();
    bool StartSensorStreaming();
    bool StopSensorStreaming();

private:
    // Loads the product's firmware; false when the camera did not come back.
    bool LoadFirmware(int index);
    // Integration lines for the current clock, line length and exposure.
    uint16_t IntegrationLines();
    void WriteGainRegisters();
    // Lengthens the line by the step the capture loop takes when frames fail.
    void LengthenLine();
    bool PllBypassed();

    // One run of the working loop: CaptureRun's counters and timers and
    // this model's own.
    struct WorkingRun;

    static void WorkingFunc(std::atomic<bool> *running, void *arg);
    void WorkingLoop(std::atomic<bool> *running);
    // One pass of the loop; false ends the run.
    bool RunPass(WorkingRun &run);
    bool FrameReceived(WorkingRun &run);
    void CountFailure(WorkingRun &run);
    void Supervise(WorkingRun &run);
    // Times one exposure with the sensor clock stopped; false when the run
    // was stopped meanwhile.
    bool LongExposure(WorkingRun &run);
};
