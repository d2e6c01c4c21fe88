// The models with the PYTHON image sensor: a 1280 x 1024 global-shutter
// sensor (4.8 um pixels, 10-bit ADC) with 16-bit camera registers behind an
// FX3 controller and an FPGA that frames the data. This class holds the
// sensor's power, clock and readout-mode sequences and everything the mono
// and colour twins share: initialisation, window, exposure, gain, offset,
// bandwidth, high-speed mode, the working loop and the image read-out. The
// twins set their identity and colour in their constructors.
//
// These models have no hardware binning, no DDR reloads and no long-exposure
// mode: exposures stay within 16..64000 us, timed by the sensor itself.
// Thread safety: as CCameraBase.
#pragma once

#include <atomic>
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
    int EnableClockMngmnt1();
    int EnableClockMngmnt2();
    int RequiredUploads();
    int SoftReset();
    int SoftPowerUp();
    int SoftPowerDown();
    int StartPYTHONStreaming();
    int StopPYTHONStreaming();
    int InitializeCDSwithNROT();
    int InitializeCDSwithZROT();
    int InitializeUDSwithNROT();
    int InitializeUDSwithZROT();
    int InitializeCDSwithNROT_LTN();
    int InitializeMSCwithNROT();
    int InitializeMSCwithZeroROT();
    int InitializeMSLwithNROT();

    bool Cam_SetResolution();
    // Frame time from the line time of the window and readout mode, and the
    // time the frame takes over USB at the current bandwidth.
    void CalcFrameTime();
    void SetOutput16Bits(bool on);
    int GetRealImageSize();
    bool StartSensorStreaming();
    bool StopSensorStreaming();

protected:
    // Sets what both twins share; the twin's constructor sets identity and
    // colour, then calls LoadModelSettings.
    CCameraPython();
    void LoadModelSettings();

private:
    int PlayWrites(const PythonWriteList &writes);
    int RunReadoutMode(const PythonReadoutMode &mode);
    // Sensor window registers from the start position and window size.
    int WriteSensorWindow();

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
    void PublishExposureStatus();

    // Whether automatic bandwidth was on at the last pass of any PYTHON camera.
    static std::atomic<bool> s_bLastAutoBandwidth;
};
