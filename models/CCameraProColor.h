// The representative model: a cooled colour camera with a 6248 x 4176
// Sony-style CMOS sensor (3.76 um pixels, 16-bit output, RGGB), an FX3 USB3
// controller and an FPGA with a DDR frame buffer.
// Thread safety: as CCameraBase; ModeTiming is shared by every open camera of
// this model and its fields are atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/CCameraCool.h"

class CCameraProColor : public CCameraCool {
public:
    CCameraProColor();
    ~CCameraProColor() override;

    bool InitCamera() override;
    bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
    bool SetStartPos(int x, int y) override;
    bool SetGain(int gain, bool autoGain) override;
    bool SetBrightness(int offset) override;
    bool SetHighSpeedMode(bool on) override;
    bool SetHardwareBin(bool on) override;
    bool SetEnableDDR(bool on) override;
    bool SetFPSPerc(int percent, bool autoBandwidth) override;
    bool SetRGBBalance(int red, int blue, bool autoWB) override;
    bool SetExp(uint64_t us, bool autoExp) override;
    bool GetImage(unsigned char *buffer, int size, int waitMs) override;
    float GetSensorTempInside() override;

    bool Cam_SetResolution();
    bool InitSensorMode(bool hardwareBin, int bin, bool highSpeed, IMAGE_TYPE type);
    bool SetCMOSClk(int kHz);
    bool SetCMOSClk();
    void CalcFrameTime();
    void CalcMaxFPS();
    void SetOutput16Bits(bool on);
    int GetRealImageSize();
    void GetSensorOutputSize(int *width, int *height);
    bool CamSetStandby(bool on);
    bool CamSetWakeup(bool on);
    bool StartSensorStreaming();
    bool StopSensorStreaming();

    // Mode timing shared by every open camera of this model.
    struct ModeTiming {
        std::atomic<int> iFPGAVBLK;
        std::atomic<int> iFPGAHBLK;
        std::atomic<int> iMinHMAX;
        std::atomic<int> iOverheadLines;
        std::atomic<int> iLinkRate;
    };
    static ModeTiming s_ModeTiming;

private:
    // Stops capture, runs the mode step, re-applies the ROI keeping the start
    // position, and restarts video if it was running.
    template <typename ModeStep>
    bool Reconfigure(ModeStep step);
    void PlayRegisterTable(const uint16_t (*table)[2], int rows);

    // Counters and timers of one run of the working loop.
    struct WorkingRun;

    static void WorkingFunc(std::atomic<bool> *running, void *arg);
    void WorkingLoop(std::atomic<bool> *running);
    // One pass of the loop; false ends the run.
    bool RunPass(std::atomic<bool> *running, WorkingRun &run);
    bool FrameAccepted(std::atomic<bool> *running, WorkingRun &run);
    // A transfer that brought less than a frame; false when the pass ends
    // here without counting a lost frame.
    bool ShortFrame(int received, uint32_t periodUs, WorkingRun &run);
    // Bad-frame bookkeeping and automatic bandwidth after a lost frame.
    void Supervise(WorkingRun &run);
    // Runs one triggered exposure; false when sensor and FPGA never got in step.
    bool LongExposure(std::atomic<bool> *running, WorkingRun &run);
    void ReadBufferStatus(WorkingRun &run);
    void PublishExposureStatus();

    // Whether automatic bandwidth was on at the last pass of any camera of
    // this model.
    static std::atomic<bool> s_bLastAutoBandwidth;
};
