// The representative model: a cooled colour camera with a 6248 x 4176
// Sony-style CMOS sensor (3.76 um pixels, 16-bit output, RGGB), an FX3 USB3
// controller and an FPGA with a DDR frame buffer.
// Thread safety: as CCameraBase; ModeTiming is shared by every open camera of
// this model and its fields are atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/CCameraCool.h"
#include "models/SonyModel.h"

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
    // The sensor idles for the rest of a long exposure, and wakes for its
    // read-out.
    void SetSensorIdle(bool idle);

    // Mode timing shared by every open camera of this model.
    struct ModeTiming {
        std::atomic<int> iFPGAVBLK;
        std::atomic<int> iFPGAHBLK;
        std::atomic<int> iMinHMAX;
        std::atomic<int> iOverheadLines;
        std::atomic<int> iLinkRate;
    };
    static ModeTiming s_ModeTiming;

protected:
    // A twin of this model: another product, name and model key, and a
    // sensor with or without the colour mosaic.
    CCameraProColor(int productId, const char *name, const char *modelKey, bool colour);

private:
    // The frame as the sensor puts it out now, for the shared timing rules.
    SonyModel::FrameGeometry Geometry();
};
