// What the FX3 models with Sony-style sensors share: register tables played
// row by row, the FPGA's set-up, the steps of SetResolution and
// Cam_SetResolution around the model's own registers, the reconfiguration
// around a mode change, and the line timing in which a frame is VMAX lines
// of HMAX sensor clocks and the exposure ends SHS lines into it, with the
// FPGA's long-exposure mode above one second.
//
// Every function works on the camera object it is given, on the caller's
// thread, as the model operation that calls it would. The templates take
// the model class for its own operations (SetOutput16Bits,
// Cam_SetResolution, SetCMOSClk, GetSensorOutputSize, CamSetStandby).
#pragma once

#include <cstdint>

#include "engine/CCameraBase.h"
#include "log/DbgPrint.h"
#include "models/ModelFamily.h"
#include "models/SonyRegisterTable.h"
#include "transport/SectionLock.h"

namespace SonyModel {

// Exposure limits of every Sony-style model, in us.
constexpr uint64_t kMinExposureUs = 32;
constexpr uint64_t kMaxExposureUs = 2000000000;

// The Sony-style control values: gain 0..gainMax starting at gainDefault,
// and the family's exposure, white balance, offset and bandwidth.
ModelFamily::ControlDefaults UsualControls(int gainDefault, int gainMax);

// What the Sony-style models declare alike, for their constructors: the
// capabilities that follow the colour mosaic, the family's usual controls
// with the limits of controls, and temperature.
void SetUsualControls(ModelDescription &model, bool colour,
                      const ModelFamily::ControlDefaults &controls);

// Last in a constructor: loads the stored settings, holds the automatic
// maximum exposure to 2,000,000 ms and sends the white balance.
void LoadSettings(CCameraBase &camera);

// Sets or clears one bit of an 8-bit sensor register, reading it first.
bool SetSensorBit(CCameraFX3 &camera, uint16_t address, uint8_t bit, bool on);

// Plays a table of the form of SonyRegisterTable.h.
void PlayRegisterTable(CCameraFX3 &camera, const uint16_t (*table)[2], int rows);

// Resets the FPGA and tells the controller it did.
void ResetFPGA(CCameraFX3 &camera);
// The FPGA as InitCamera leaves it: master, stopped, DDR buffer in use or
// not, wide ADC and 8-bit output, no binning, unity colour gains.
void SetUpFPGA(CCameraFX3 &camera, bool ddr);

// SetResolution once the model has checked the ROI: runs the sensor mode
// step when the image type or the bin changes, stores the ROI, centres it,
// and sets output depth, sensor window, sensor clock, bandwidth and
// exposure again. All of it under the ROI lock, so that a capture run
// starting meanwhile sizes its frames for the new ROI on a sensor set up
// for it.
template <typename Model, typename ModeStep>
void ApplyRoi(Model &camera, int width, int height, int bin, IMAGE_TYPE type, ModeStep modeStep)
{
    SectionLock roi(camera.m_csRoi);
    if (type != camera.Settings().m_ImgType || bin != camera.Settings().m_iBin)
        modeStep();
    ModelFamily::StoreRoi(camera, width, height, bin, type);

    camera.SetOutput16Bits(ModelFamily::IsWide(type));
    camera.Cam_SetResolution();
    camera.SetCMOSClk();
    camera.SetFPSPerc(camera.Settings().m_iBandwidth, camera.Settings().m_bAutoBandwidth);
    camera.SetExp(camera.Settings().m_lExposure, camera.Settings().m_bAutoExp);
}

// Cam_SetResolution: writeWindow(width, height) writes the sensor's output
// window, in standby while a snap is set up; then the FPGA takes the frame
// size.
template <typename Model, typename WriteWindow>
bool SetOutputWindow(Model &camera, WriteWindow writeWindow)
{
    DbgPrint(LogSeverity::Debug, -1, "Cam_SetResolution", "SetResolution!\n");
    int width = 0;
    int height = 0;
    camera.GetSensorOutputSize(&width, &height);
    const bool snap = camera.GetCaptureState().IsSnap();
    if (snap)
        camera.CamSetStandby(true);
    writeWindow(width, height);
    if (snap)
        camera.CamSetStandby(false);
    camera.SetFPGAHeight(height);
    camera.SetFPGAWidth(width);
    return true;
}

// Stops capture, runs the mode step, re-applies the ROI keeping its start
// position, and restarts video if it was running; other starts and stops
// of capture wait until it is done.
template <typename ModeStep>
bool Reconfigure(CCameraBase &camera, ModeStep step)
{
    SectionLock capture(camera.m_csCapture);
    const bool wasCapturing = camera.IsCaptureRunning();
    camera.StopCapture();
    step();
    const int x = camera.Settings().m_iStartX;
    const int y = camera.Settings().m_iStartY;
    camera.SetResolution(camera.Settings().m_iWidth, camera.Settings().m_iHeight,
                         camera.Settings().m_iBin, camera.Settings().m_ImgType);
    camera.SetStartPos(x, y);
    if (wasCapturing)
        camera.StartCapture(false);
    return true;
}

// The frame the sensor puts out and how it travels.
struct FrameGeometry {
    int iWidth; // sensor output, pixels
    int iHeight;
    int iBytesPerPixel;
    int iOverheadLines; // lines of a frame beyond the sensor height
    bool bDDR;          // frames go through the FPGA's DDR buffer
};

// The frame as the model's sensor puts it out now.
template <typename Model>
FrameGeometry Geometry(Model &camera, int overheadLines, bool ddr)
{
    FrameGeometry frame{};
    camera.GetSensorOutputSize(&frame.iWidth, &frame.iHeight);
    frame.iBytesPerPixel = camera.Settings().m_b16Bit ? 2 : 1;
    frame.iOverheadLines = overheadLines;
    frame.bDDR = ddr;
    return frame;
}

// Frame time at the current HMAX and, through the DDR, transfer time.
void CalcFrameTime(CCameraBase &camera, const FrameGeometry &frame);
// Maximum frame rate and data rate for the log; kept from 100 ms exposures on.
void CalcMaxFPS(CCameraBase &camera, const FrameGeometry &frame);

// SetFPSPerc once the model has checked its sensor clock: bandwidth and its
// automatic flag, line length and FPGA bandwidth, then frame time, the
// current exposure again and the frame rate. linkRate is the model's link
// rate for the pixel-rate rule without DDR.
void SetFPSPerc(CCameraBase &camera, int percent, bool autoBandwidth, const FrameGeometry &frame,
                int minHMAX, int linkRate);

struct Shutter {
    uint32_t vmax; // frame length in lines
    uint32_t shs;  // line at which the exposure starts
};

// SetExp up to the shutter registers, which the model writes itself: stores
// the exposure (clamped to 32 us..2000 s) and its automatic flag, enters or
// leaves long-exposure mode, gives a trigger camera mode its exposure time,
// and programs VMAX into the FPGA.
Shutter SetExp(CCameraBase &camera, uint64_t us, bool autoExp, const FrameGeometry &frame);

} // namespace SonyModel
