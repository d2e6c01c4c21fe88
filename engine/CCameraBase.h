// The camera object behind every camera ID of the flat API. It holds the
// model's description (filled by the model's constructor), its current
// settings, the control table and dispatch, capture state, the frame
// and look-up buffers, the worker threads, dark-frame and hot-pixel data, and
// the persistent settings. Model classes derive from it (directly or through
// CCameraCool) and implement the sensor-specific virtual operations.
//
// Thread safety: the flat API serialises each of its functions per camera, but
// different functions run concurrently, and the working, trigger, auto-control
// and cooler threads read settings while callers write them. Settings shared
// that way are atomics; the ROI geometry changes as a whole under m_csRoi;
// buffers are guarded by the locks named below, the dark frame's and the
// hot-pixel map's by their own; the rest is touched from one caller thread at
// a time.
//
// Ownership: the camera owns its buffers; the destructor stops the working,
// trigger and auto-control threads before they go. A derived class whose
// threads call its own overrides stops them in its own destructor. The dark
// frame and the hot-pixel map own their buffers and locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "algorithm/CAlgorithm.h"
#include "algorithm/ImageType.h"
#include "api/ORUCamera.h"
#include "engine/CameraSettings.h"
#include "engine/CaptureState.h"
#include "engine/DarkFrame.h"
#include "engine/EngineTypes.h"
#include "engine/HotPixelMap.h"
#include "engine/ModelDescription.h"
#include "engine/ThreadCtrl.h"
#include "log/LogSeverity.h"
#include "transport/CCameraFX3.h"
#include "transport/CirBuf.h"
#include "transport/PlatformShims.h"

class CCameraBase : public CCameraFX3, protected CameraSettings {
public:
    CCameraBase();
    // Virtual, so that the registry may delete any model through this type.
    virtual ~CCameraBase();

    // Virtual operations, in slot order.
    virtual bool OpenCamera(int index);
    virtual bool InitCamera() = 0;
    virtual void CloseCamera();
    virtual bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) = 0;
    virtual bool SetStartPos(int x, int y) = 0;
    virtual bool SetGain(int gain, bool autoGain) = 0;
    virtual int GetGain(bool *autoGain);
    virtual bool SetGamma(int gamma);
    virtual int GetGamma();
    virtual bool SetBrightness(int offset);
    virtual bool SetHighSpeedMode(bool on);
    virtual bool SetHardwareBin(bool on);
    virtual bool SetEnableDDR(bool on);
    virtual bool SetFPSPerc(int percent, bool autoBandwidth);
    virtual bool SetOverCLKPerc(int percent);
    virtual bool SetRGBBalance(int red, int blue, bool autoWB) = 0;
    virtual void SetPattern(int value);
    virtual bool SetExp(uint64_t us, bool autoExp) = 0;
    virtual bool GetImage(unsigned char *buffer, int size, int waitMs) = 0;
    virtual float GetSensorTempInside();
    virtual bool IsHardBinRun();
    virtual ORU_ERROR_CODE SetControlValue(ORU_CONTROL_TYPE type, long value, bool autoOn);
    virtual ORU_ERROR_CODE GetControlValue(ORU_CONTROL_TYPE type, long *value, ORU_BOOL *autoOn);
    virtual float GetTemp();

    // Controls.
    int GetNumOfControls();
    bool GetControlCaps(int index, ORU_CONTROL_CAPS *caps);
    bool GetCtrllCaps(ORU_CONTROL_TYPE type, ORU_CONTROL_CAPS *caps);
    static ORU_CONTROL_TYPE ControlConv(Control_TYPE type);
    int GetValue(Control_TYPE type, bool *autoOn);
    int GetMin(Control_TYPE type);
    int GetMax(Control_TYPE type);
    bool IsAutoSupported(Control_TYPE type);
    bool IsAvailable(Control_TYPE type);
    bool IsImgTypeSupported(IMG_TYPE type);
    void GetCameraProperty(ORU_CAMERA_INFO *info);
    bool GetCameraSupportedMode(ORU_SUPPORTED_MODE *modes);
    bool SetMonoBin(bool on);
    bool GetMonoBin();
    void SetAutoPara(int maxGain, int maxExpMs, int target);
    void GetAutoPara(int *maxGain, int *maxExpMs, int *target);

    // Device.
    bool ReConnectCamera();
    void InitVariable();
    bool StartSensorCLK();
    bool StopSensorCLK();
    bool SetTransferCount(int bytes);
    void SetMemSave(bool on);
    void DbgPrint2(LogSeverity severity, const char *tag, const char *format, ...)
        __attribute__((format(printf, 4, 5)));

    // Capture lifecycle and camera modes.
    bool StartCapture(bool snap);
    bool StartExposure();
    bool StopCapture();
    bool GetImageAfterExp(unsigned char *buffer, int size);
    // Takes the oldest frame of the ring (length bytes into dest), waiting up
    // to waitMs for one (-1: without limit); false on time-out or once the
    // camera is removed.
    bool ReadFrame(uint8_t *dest, int length, int waitMs);
    // Bytes of the receive buffer and of each image buffer: a whole sensor
    // frame of 16-bit pixels.
    long FrameBufferBytes() const;
    ORU_ERROR_CODE SetCameraMode(CAM_MODE mode);
    bool SelectCameraMode(CAM_MODE mode);
    OruStatus CameraModeCheck();
    bool IsCaptureRunning();
    // The exposure status a caller sees: working while a snap's working
    // loop runs, then what the capture state holds.
    ORU_EXPOSURE_STATUS GetExpStatus();
    // Bytes per output pixel of an image type.
    static int OutputBytesPerPixel(IMAGE_TYPE type);
    // The read-out steps every model's GetImage shares, on the sensor frame
    // in image (width x softBin by height x softBin pixels, 16-bit when
    // wide), in place: gamma, dark subtraction (8-bit only), hot pixels,
    // software binning by softBin, flips, and delivery of width x height
    // pixels of the type into buffer. The caller has checked the buffer's
    // size for the same type.
    void FinishImage(uint8_t *image, unsigned char *buffer, int width, int height, int softBin,
                     IMAGE_TYPE type, bool wide);
    // Whether FinishImage can take the caller's buffer as its image: a raw
    // type the sensor frame is delivered in as it stands, so that the frame
    // is copied from the ring straight into the buffer.
    bool FinishesInPlace(unsigned char *buffer, int softBin, IMAGE_TYPE type, bool wide);

    // Automatic exposure, gain and white balance.
    void StartAutoControlThr();
    void StopAutoControlThr();
    // One step of the automatic controls on the frame the ring got last,
    // held against refilling meanwhile; nothing while there is none.
    void AutoControlStep(bool exposureAndGain, bool whiteBalance);
    void AutoExpGain(const unsigned char *frame);
    void AutoWhiBal(const unsigned char *frame);
    void AutoWB_RAW(const unsigned short *frame);

    // Dark frames, hot pixels, flash and IDs.
    // Success, ORU_ERROR_INVALID_PATH (no such file: subtraction goes off),
    // ORU_ERROR_INVALID_FILEFORMAT (not an 8-bit uncompressed bitmap of the
    // sensor's size) or ORU_ERROR_GENERAL_ERROR (no memory for it).
    ORU_ERROR_CODE LoadBMPFromFile(char *path);
    bool SaveBMPToFile(char *path);
    bool CreateBMP(int width, int height, const unsigned char *data, char *path);
    void UsingDark(bool on);
    int GettingDark(bool on, unsigned long long reserved);
    // The dark-frame and hot-pixel steps work on image, a sensor frame of
    // the ROI (m_pImgBuf, or the caller's buffer when the image is finished
    // in place).
    void DoGetDark(uint8_t *image);
    void AdjustDarkBuff();
    void SubtractDark(uint8_t *image);
    bool SetHPCStates(bool on);
    bool LoadHPCTable();
    bool SaveHPCTable();
    void AdjustHPCTable();
    void HandleHotPixels(uint8_t *image);
    // The state of the capture run: snap or video, exposure status, dropped
    // frames.
    CaptureState &GetCaptureState() { return m_CaptureState; }
    const CaptureState &GetCaptureState() const { return m_CaptureState; }
    // The parts that own the dark frame and the hot-pixel maps.
    DarkFrame &GetDarkFrame() { return m_DarkFrame; }
    HotPixelMap &GetHotPixelMap() { return m_HotPixelMap; }
    unsigned char *Compress(unsigned char *data, int size, int *outLength, bool compressed);
    unsigned char *Uncompress(unsigned char *image, int length, bool compressed);
    bool CompressAndWriteIntoFLASH(unsigned char *data, unsigned int size, bool compressed);
    bool ReadFromFLAHAndUnCompress(unsigned char *out, unsigned int size, bool compressed);
    bool ReadSPI(unsigned char *out, int offset, int length);
    bool WriteSPI(unsigned char *data, int offset, int length);
    bool GetIDFromSPI(ORU_ID *id);
    bool SetIDToSPI(ORU_ID id);
    bool GetSerialNumber(ORU_ID *id);
    void AddTimeMark(unsigned char *image, int width, IMAGE_TYPE type);

    // Temperatures, guiding, trigger outputs, log switch.
    float GetSensorTemp();
    float GetTMP100Temp();
    float GetTMP451Temp();
    float GetAD7142Temp();
    float GetADC081Temp();
    float CalculTempuature(int raw, int referenceKOhm);
    float CalculTempuature(unsigned char raw, int referenceKOhm);
    // A TMP100 reading (12-bit two's complement, 1/16 degree) in degrees C.
    static float TMP100RawToTemp(int raw);
    bool PulseGuideOn(GuideD direction);
    bool PulseGuideOff(GuideD direction);
    bool pulseGuide(GuideD direction, int ms);
    ORU_ERROR_CODE SetTrigOutPinConf(Trig_Output_Pin pin, bool highActive, long delayUs,
                                     long durationUs);
    ORU_ERROR_CODE GetTrigOutPinConf(Trig_Output_Pin pin, ORU_BOOL *highActive, long *delayUs,
                                     long *durationUs);
    ORU_ERROR_CODE EnableDebugLog(ORU_BOOL enable);
    ORU_ERROR_CODE GetDebugLogIsEnabled(ORU_BOOL *enabled);
    void SysInfo();

    // Persistent settings ("software\<short name>" in ORUconfig.xml).
    void InitSubKey();
    void LoadSetting();
    void SaveSetting();

    // The model: identity, sensor, capabilities and limits.
    const ModelDescription &Model() const { return m_Model; }

    // Stores of current settings the model computes or accepts, each group
    // written at once in the order the other threads see it change.
    // The ROI geometry; the caller holds m_csRoi.
    void StoreRoi(int width, int height, int bin, IMAGE_TYPE type);
    void StoreStartPos(int x, int y);
    void StoreGain(int gain, bool autoGain);
    void StoreExposure(uint64_t us, bool autoExp);
    // Whether exposures run in long-exposure mode (the capture loop times
    // them), and the sensor's exposure register as programmed.
    void StoreLongExpMode(bool on);
    void StoreExpReg(int value);
    void StoreBandwidth(int bandwidth, bool autoBandwidth);
    void StoreWhiteBalance(int red, int blue, bool autoWB);
    // Frame timing: the line length in sensor clocks; a frame's read-out and
    // transfer times; the frame rate and data rate (MB/s) the link and the
    // sensor allow.
    void StoreHMAX(int hmax);
    void StoreFrameTime(uint32_t frameTimeUs, uint32_t transferTimeUs);
    void StoreMaxFPS(float fps, float dataRate);
    // Whether the 8-bit image type is the sensor's raw frame rather than
    // its luminance.
    void StoreRawOutput(bool raw);
    // The model's first gamma, offset and bandwidth on a USB3 link, which
    // the persisted settings may replace.
    void StoreGamma(int gamma);
    void StoreOffset(int offset);
    void StoreBandwidthUSB3(int bandwidth);
    // The longest exposure the automatic controls choose while a video
    // capture runs.
    void StoreAutoExpLimit(int us);

    // The current settings, for code outside the camera; it changes them
    // through the operations above.
    const CameraSettings &Settings() const { return *this; }

    // Device path the registry assigned ("bus%d.port:...").
    const char *GetDevicePath() const { return m_szDevicePath; }
    void SetDevicePath(const char *path);

    // Buffers that InitVariable allocates, null until then (or when memory
    // was short): the frame ring; where a loop receives a frame that has no
    // ring slot to land in; the image assembly buffer, FrameBufferBytes()
    // each.
    CirBuf *GetCirBuf() const { return m_pCirBuf.get(); }
    uint8_t *GetFrameBuf() const { return m_pFrameBuf.get(); }
    uint8_t *GetImgBuf() const { return m_pImgBuf.get(); }

    // --- Embedded objects. ---
    // Start and stop of capture, and the stop and restart around a mode
    // change, one at a time: a stop is never lost between the two halves of
    // a restart, and never joins a thread another stop joins. The capture
    // threads never take it.
    S_MUTEX_UNIX m_csCapture ORU_ACQUIRED_BEFORE(m_csRoi, m_csTransport);
    // The ROI geometry (m_iWidth, m_iHeight, m_iBin, m_ImgType, m_b16Bit,
    // m_bHardwareBin) changes as a whole under this lock, and whoever sizes
    // a buffer access from it reads it under the lock, so that nobody works
    // with half a change.
    S_MUTEX_UNIX m_csRoi ORU_ACQUIRED_BEFORE(m_csTransport);

private:
    ModelDescription m_Model;
    std::unique_ptr<CirBuf> m_pCirBuf;
    std::unique_ptr<uint8_t[]> m_pFrameBuf;
    std::unique_ptr<uint8_t[]> m_pImgBuf;
    // "software\<model key>", the settings key, once LoadSetting or
    // SaveSetting needed it.
    std::string m_SubKey;

    // The ROI the dark frame and the hot-pixel map are adjusted to.
    AdjustedRoi CurrentRoi();

    CaptureState m_CaptureState;
    DarkFrame m_DarkFrame;
    HotPixelMap m_HotPixelMap;

    static constexpr int kControlTypeCount = ORU_ANTI_DEW_HEATER + 1;
    // One row per public control type, in the order of ORU_CONTROL_TYPE:
    // what GetCtrllCaps reports, and how the value is read and written (a
    // setter returns whether the camera took it). A read-only control has
    // no setter.
    struct ControlRow {
        const char *szName;
        const char *szDescription;
        int32_t iMax;
        int32_t iMin;
        int32_t iDefault;
        bool bAuto;
        bool bWritable;
        // Only cameras with the cooled layer have the control.
        bool bCooledOnly;
        // The model's limits, where they replace the fixed ones.
        void (*pLimits)(const CCameraBase &camera, ORU_CONTROL_CAPS *caps);
        long (*pGet)(CCameraBase &camera, bool *autoOn);
        bool (*pSet)(CCameraBase &camera, long value, bool autoOn);
    };
    static const ControlRow s_ControlTable[kControlTypeCount];
    const ControlRow *FindControl(ORU_CONTROL_TYPE type);

protected:
    // Device path the registry assigned ("bus%d.port:..."), 512 bytes.
    char m_szDevicePath[512] = {};
    int m_iCameraIndex = 0;
    CAlgorithm m_Algorithm;

    // Control list, rebuilt by GetNumOfControls.
    int m_CtrlList[64] = {};
    int m_iCtrlCount = 0;

    ThreadCtrl m_WorkThread;
    ThreadCtrl m_TrigThread;
    ThreadCtrl m_AutoCtrlThread;
    // Before the camera object ends: its working, trigger and auto-control
    // threads call the model's overrides.
    void StopThreads();
    // The start of InitCamera on an open camera: the working and trigger
    // threads get their bodies and the camera's variables their first values.
    void BeginInit(ThreadFunc working, ThreadFunc trigger);

    // For the model's constructor, which describes the model.
    ModelDescription &DescribeModel() { return m_Model; }
    // Gamma look-up tables of 16- and 8-bit pixels, set by SetGamma; the
    // 16-bit one is allocated by InitVariable.
    std::unique_ptr<uint16_t[]> m_pGammaTable16;
    uint8_t m_GammaTable8[256] = {};
    static void SetGainExpFunc(std::atomic<bool> *running, void *arg);
    // Fills m_iThermistorMinTemp/m_iThermistorMaxTemp from the thermistor table.
    void InitThermistorRange();
    // value held to the caps range of type (unchanged for an unknown type).
    long ClampToCaps(ORU_CONTROL_TYPE type, long value);
    // Empty trigger body for models without trigger modes.
    static void NoTriggerFunc(std::atomic<bool> *running, void *arg);
};
