// The models with the PYTHON image sensor: a 1280 x 1024 global-shutter
// sensor (4.8 um pixels, 10-bit ADC) with 16-bit camera registers behind an
// FX3 controller and an FPGA that frames the data. This class holds the
// sensor's power, clock and readout-mode sequences and everything the mono
// and colour twins share: initialisation, window, exposure, gain, offset,
// bandwidth and high-speed mode. The twins set their identity and colour in
// their constructors. Capture runs the FPGA models' loops on a plain FPGA.
//
// These models have no hardware binning, no DDR reloads and no long-exposure
// mode: exposures stay within 16..64000 us, timed by the sensor itself.
// Thread safety: as CCameraBase.
#pragma once

#include <cstdint>

#include "engine/CCameraBase.h"

struct PythonReadoutMode;
struct PythonWriteList;

class CCameraPython : public CCameraBase {
public:
    ~CCameraPython() override;

    bool InitCamera() override;
    // Powers the sensor down while the camera is still open, then closes.
    void CloseCamera() override;
    bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
    bool SetStartPos(int x, int y) override;
    bool SetGain(int gain, bool autoGain) override;
    bool SetBrightness(int offset) override;
    // Stores the flag; refused on a USB2 host.
    bool SetHighSpeedMode(bool on) override;
    bool SetFPSPerc(int percent, bool autoBandwidth) override;
    bool SetRGBBalance(int red, int blue, bool autoWB) override;
    bool SetExp(uint64_t us, bool autoExp) override;
    bool GetImage(unsigned char *buffer, int size, int waitMs) override;

    // Sensor sequences; each returns the result of its last register write.
    OruStatus EnableClockMngmnt1();
    OruStatus EnableClockMngmnt2();
    OruStatus RequiredUploads();
    OruStatus SoftReset();
    OruStatus SoftPowerUp();
    OruStatus SoftPowerDown();
    OruStatus StartPYTHONStreaming();
    OruStatus StopPYTHONStreaming();
    OruStatus InitializeCDSwithNROT();
    OruStatus InitializeCDSwithZROT();
    OruStatus InitializeUDSwithNROT();
    OruStatus InitializeUDSwithZROT();
    OruStatus InitializeCDSwithNROT_LTN();
    OruStatus InitializeMSCwithNROT();
    OruStatus InitializeMSCwithZeroROT();
    OruStatus InitializeMSLwithNROT();

    bool Cam_SetResolution();
    // Frame time from the line time of the window and readout mode, and the
    // time the frame takes over USB at the current bandwidth.
    void CalcFrameTime();
    void SetOutput16Bits(bool on);
    int GetRealImageSize();
    // The whole binned area: binning is done in the read-out.
    void GetSensorOutputSize(int *width, int *height);
    bool StartSensorStreaming();
    bool StopSensorStreaming();

protected:
    // Sets what both twins share; the twin's constructor sets identity and
    // colour, then calls LoadModelSettings.
    CCameraPython();
    void LoadModelSettings();

private:
    OruStatus PlayWrites(const PythonWriteList &writes);
    OruStatus RunReadoutMode(const PythonReadoutMode &mode);
    // Sensor window registers from the start position and window size.
    OruStatus WriteSensorWindow();
};
