// An uncooled USB3 colour model: a 1936 x 1096 sensor (2.9 um pixels, 12-bit
// ADC, RGGB) with the older Sony register map (16-bit addresses from 0x3000,
// written a byte at a time), an FX3 controller and an FPGA whose DDR buffer
// stays unused, an ST4 guide port, a temperature chip on the board, and the
// software and external trigger camera modes.
//
// The sensor never bins: binning is done in software, and SetHardwareBin
// changes nothing. A hardware-bin flag loaded from the settings only selects
// the slow sensor clock at bin 2.
//
// Thread safety: as CCameraBase; ModeTiming is shared by every open camera of
// this model and its fields are atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/CCameraBase.h"
#include "models/SonyModel.h"

class CCameraUncooledColor : public CCameraBase {
public:
    CCameraUncooledColor();
    ~CCameraUncooledColor() override;

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
    bool IsHardBinRun() override;

    bool Cam_SetResolution();
    bool InitSensorMode(bool highSpeed, IMAGE_TYPE type);
    // Stores the clock (kHz), selects it in the sensor and sets the shortest
    // line length it allows.
    bool SetCMOSClk(int kHz);
    // The clock the current mode needs.
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
        std::atomic<int> iMinHMAX;
        std::atomic<int> iLinkRate;
    };
    static ModeTiming s_ModeTiming;

protected:
    // A twin of this model: another product, name and model key, and a
    // sensor with or without the colour mosaic.
    CCameraUncooledColor(int productId, const char *name, const char *modelKey, bool colour);

private:
    // Clock select and conversion gain share one sensor register.
    void WriteClockRegister();
    // The frame as the sensor puts it out now, for the shared timing rules.
    SonyModel::FrameGeometry Geometry();
};
