// The USB transport of one camera: its private libusb context and device
// handle, the vendor control requests to the camera's USB controller, the FPGA
// register map, SPI flash access and controller firmware download.
// Every request returns its OruStatus unless stated otherwise: libusb's code
// when USB failed, ORU_ERROR_CAMERA_CLOSED (nothing sent) while the device is
// not open; a sequence of requests returns its first failure.
// Thread safety: each control request, CloseDevice, ResetDevice and
// ResetEndPoint holds the (recursive) transport lock; sequences of several
// requests (read-modify-write, held register groups) are not atomic as a whole.
// The bulk engine takes no lock: only the capture thread of the camera calls
// it, and its completion callbacks run inside that thread's event handling.
#pragma once

#include <libusb.h>

#include <atomic>
#include <cstdint>

#include "transport/OruStatus.h"
#include "transport/PlatformShims.h"
#include "transport/SectionLock.h"

// LVDS lane configuration of the sensor link, passed by number (0..4).
enum LVDS_CHANNEL : int {
    LVDS_CHANNEL_0 = 0,
    LVDS_CHANNEL_1 = 1,
    LVDS_CHANNEL_2 = 2,
    LVDS_CHANNEL_3 = 3,
    LVDS_CHANNEL_4 = 4,
};

// Sensor ADC resolution selector; 1 sets the FPGA's wide-ADC bit.
enum ADC_BIT : int {
    ADC_BIT_NARROW = 0,
    ADC_BIT_WIDE = 1,
};

enum FPGA_BIN_MODE : int {
    FPGA_BIN_MODE_0 = 0,
    FPGA_BIN_MODE_1 = 1,
    FPGA_BIN_MODE_2 = 2,
    FPGA_BIN_MODE_3 = 3,
};

enum FX3_FWDWNLOAD_MEDIA_TYPE : int {
    FX3_MEDIA_RAM = 1,
    FX3_MEDIA_I2C_EEPROM = 2,
    FX3_MEDIA_SPI_FLASH = 3,
};

// Results of the DownloadFw family; 0 is success.
enum FX3_FWDWNLOAD_RESULT : int {
    FX3_FW_OK = 0,
    FX3_FW_TRANSFER_FAILED = 1, // a USB transfer failed or a read-back differed
    FX3_FW_BAD_MEDIA = 2,
    FX3_FW_BAD_SIGNATURE = 3, // image does not start with "CY"
    FX3_FW_TRUNCATED = 5,     // image ends inside a section
    FX3_FW_FILE_UNREADABLE = 6,
    FX3_FW_ERASE_FAILED = 7,
    FX3_FW_CHUNK_TOO_LARGE = 8,
    FX3_FW_BAD_EEPROM_SIZE = 9,
};

struct FPGABit;

class CCameraFX3 {
public:
    CCameraFX3();
    ~CCameraFX3();
    CCameraFX3(const CCameraFX3 &) = delete;
    CCameraFX3 &operator=(const CCameraFX3 &) = delete;

    void CloseDevice();
    void CameraPID(int pid);
    int GetProductID() const { return m_iProductID; }
    // Whether the device has gone away: a request or transfer ended with
    // no-device since the device was last opened. A camera pulled out stays
    // removed; it comes back as a new device.
    // Thread safety: any thread.
    bool IsRemoved() const { return m_bRemoved; }
    // The last USB failure of a request or transfer made by the calling
    // thread, of any camera; Ok when none. The exchange puts next in its
    // place and returns it.
    static OruStatus LastUsbFailure();
    static OruStatus ExchangeLastUsbFailure(const OruStatus &next);

    // Request primitive. The short form sends a request without data (200 ms
    // time-out); the long form moves length bytes (low 16 bits) in the given
    // direction (500 ms time-out). Neither retries.
    OruStatus SendCMD(uint8_t request);
    OruStatus SendCMD(uint8_t request, uint16_t wValue, uint16_t wIndex, bool in, uint8_t *data,
                      long length);

    // Camera and sensor registers. Reads zero the destination first, so a
    // failed read yields 0. 16-bit values arrive most significant byte first.
    OruStatus WriteCameraRegister(uint16_t addr, uint16_t value);
    OruStatus ReadCameraRegister(uint16_t addr, uint16_t *value);
    OruStatus WriteCameraRegisterByte(uint16_t addr, uint8_t value);
    OruStatus ReadCameraRegisterByte(uint16_t addr, uint8_t *value);
    OruStatus WriteSONYREG(uint16_t addr, uint8_t value);
    OruStatus ReadSONYREG(uint16_t addr, uint8_t *value);
    // Read-modify-write of bits lowBit..highBit (inclusive); an empty range
    // writes the old value back.
    OruStatus WriteCameraRegister_B(uint16_t addr, uint8_t lowBit, uint8_t highBit, uint16_t value);

    // FPGA registers. A failed read leaves *value as it was, which the
    // read-modify-write operations rely on to keep their shadows.
    OruStatus WriteFPGAREG(uint16_t addr, uint16_t value);
    OruStatus ReadFPGAREG(uint16_t addr, uint8_t *value);

    // Identity and status.
    OruStatus GetFirmwareVer(uint8_t *version);
    OruStatus GetFirmwareVer();
    OruStatus GetFPGAVer(uint16_t *version, uint8_t *digits);
    OruStatus GetFPGAVer();
    void GetFPGAVerVal(uint16_t *version, uint8_t *digits);
    bool IsUSB3Host();
    OruStatus GetGPIFStatus(uint8_t *status);
    OruStatus EnableGPIF32DQ(bool on);
    OruStatus IsBootLoaderRunning();

    // Housekeeping: each reports whether the device is open.
    bool ResetEndPoint(uint8_t endpoint);
    bool ResetDevice();
    bool SetXferSize(uint32_t size);

    // FPGA control. Bit and field operations read the register into its
    // shadow, change it and write it back; multi-register values are written
    // least significant byte first inside an update hold (register 1).
    OruStatus FPGAStart();
    OruStatus FPGAStop();
    OruStatus SetFPGAAsMaster(bool on);
    OruStatus EnableFPGAWaitMode(bool on);
    OruStatus EnableFPGATriggerMode(bool on);
    OruStatus SetFPGAPatternSelect(bool on);
    OruStatus EnableFPGADDR(bool on);
    OruStatus EnableFPGADDRMultiFrameCache(bool on);
    OruStatus EnableFPGATriggerSignal(bool on);
    OruStatus EnableFPGAXHSStop(bool on);
    OruStatus EnableFPGASensorReset(bool on);
    OruStatus FPGABufReload();
    OruStatus EnableLowPower(bool on);
    OruStatus EnableWarm(bool on);
    OruStatus EnableCfan(bool on);
    OruStatus SelectExtTrigSource(bool on);
    OruStatus SelectExtTrigExp(bool on);
    OruStatus SelectExtTrigSoftMode(bool on);
    OruStatus SelectExtTrigType(bool on);
    OruStatus SelectExtTrigValidType(bool on);
    OruStatus EnableExtSyncA(bool on);
    OruStatus EnableExtSyncB(bool on);
    OruStatus SelectExtSyncALevel(bool on);
    OruStatus SelectExtSyncBLevel(bool on);
    OruStatus SetFPGABinType(bool on);
    OruStatus SetFPGAADCWidthOutputWidth(ADC_BIT adc, bool wide);
    OruStatus SetFPGALVDSChannel(LVDS_CHANNEL channel);
    OruStatus SetFPGABinMode(FPGA_BIN_MODE mode);
    void FPGAReset();

    OruStatus SetFPGAHBLK(uint16_t value);
    OruStatus SetFPGAWidth(int width);
    OruStatus SetFPGAVBLK(uint16_t value);
    OruStatus SetFPGAHeight(int height);
    OruStatus SetFPGAGain(int gain0, int gain1, int gain2, int gain3);
    OruStatus SetFPGAVMAX(uint32_t value);
    OruStatus SetFPGAHMAX(uint16_t value);
    OruStatus SetFPGABandWidth(float percent);
    OruStatus SetExtTrigExpTime(uint32_t value);
    OruStatus SetExtSyncADelayTime(uint32_t value);
    OruStatus SetExtSyncAKeepTime(uint32_t value);
    OruStatus SetExtSyncBDelayTime(uint32_t value);
    OruStatus SetExtSyncBKeepTime(uint32_t value);
    OruStatus SetFPGABinDataLen(uint32_t words);

    OruStatus SetFPGACoolPower(int power);
    OruStatus SetFPGAHeaterPowerPercent(uint8_t percent);
    OruStatus SetExtendIOValue(uint8_t value);

    bool FPGADDRTest();

    // SPI flash: byte addresses, 256-byte pages, 64 KiB sectors.
    OruStatus WriteToSPIFlash(uint8_t *data, uint32_t length, uint32_t address, uint8_t request);
    OruStatus ReadFromSPIFlash(uint8_t *data, uint32_t length, uint32_t address, uint8_t request);
    // Success once the sector reads erased.
    OruStatus EraseSectorOfSPIFlash(uint32_t sector, uint8_t request);

    // Legacy USB2 controller: boot EEPROM refresh through the loader firmware.
    bool UpdateFW(uint8_t *image, long length);
    int UpdateFW2RAM(uint8_t *image, long length);
    bool EraseFlash();

    // FX3 boot loader downloads; results are FX3_FWDWNLOAD_RESULT values.
    int DownloadFw(char *path, FX3_FWDWNLOAD_MEDIA_TYPE media);
    int DownloadFw(uint8_t *image, uint32_t length, FX3_FWDWNLOAD_MEDIA_TYPE media);
    int DownloadFwToRam(uint8_t *image, uint32_t length, uint8_t request);
    int DownloadBuftoI2CE2PROM(uint8_t *image, uint32_t length, uint8_t request);
    int DownloadBuftoSPIFLASH(uint8_t *image, uint32_t length, uint8_t eraseRequest);
    OruStatus DownloadBufferToDevice(uint32_t address, uint16_t length, uint8_t *data,
                                     uint8_t request);
    OruStatus UploadBufferFromDevice(uint32_t address, uint16_t length, uint8_t *data,
                                     uint8_t request);
    OruStatus SetProgramEntry(uint8_t request, uint32_t address);

    // Bulk-in frames, pipelined: the transfers of one frame are submitted at
    // once (up to the in-flight limit) and waited for in order. initAsyncXfer
    // prepares frames of totalBytes in count transfers of transferBytes (the
    // last one takes the rest), startAsyncXfer's into buffer; a table of
    // another size is reallocated, and frames queued are given up. Returns 0
    // when the device is not open, the sizes do not fit or memory runs out.
    int initAsyncXfer(int totalBytes, int count, int transferBytes, uint8_t endpoint,
                      uint8_t *buffer);
    // Receives one frame; *received is the byte count (a frame exactly 512
    // bytes short counts as complete). The first failed or timed-out
    // transfer, or one shorter than asked before the frame's last, ends the
    // frame: the rest is cancelled. No transfer is left with libusb on
    // return. Always returns 1; the running flag is not consulted.
    int startAsyncXfer(uint32_t waitMs, uint32_t pollMs, int *received, bool *running,
                       int expectedBytes);
    // Frames queued ahead, so that the link never waits for the host between
    // two frames. queueAsyncFrame submits the transfers of a frame into
    // buffer, behind the frames queued before it; false (nothing submitted)
    // when kAsyncFrameSets frames are queued, or two frames do not fit the
    // in-flight limit together and one is. waitAsyncFrame receives the oldest
    // queued frame as startAsyncXfer does and returns its buffer (null when
    // none is queued); *cut tells that the frame was given up after part of
    // it had come, so that the camera may still be sending the rest.
    // cancelAsyncFrames gives up every queued frame: no transfer is left
    // with libusb.
    static constexpr int kAsyncFrameSets = 2;
    bool queueAsyncFrame(uint8_t *buffer);
    uint8_t *waitAsyncFrame(uint32_t waitMs, uint32_t pollMs, int *received, bool *cut);
    void cancelAsyncFrames();
    int queuedAsyncFrames() const { return m_iXferQueued; }
    void releaseAsyncXfer();

    // Bulk-in frames, one transfer at a time. beginAsyncXfer returns the
    // number m of 1 MiB pieces of the frame, or a libusb error (-12 when a
    // transfer cannot be allocated). Until finishAsyncXfer the frame size must
    // not grow.
    int beginAsyncXfer(uint8_t endpoint, uint8_t *buffer, int totalBytes, uint32_t timeoutMs);
    // Submits piece index (0..m-1) and waits until it ends; returns 0 or the
    // libusb error its status maps to (-7 on time-out).
    int waitForAsyncXfer(int index, int *received);
    void finishAsyncXfer(int count);

protected:
    // A register's last value, read under the lock its updates hold.
    uint8_t FPGARegShadow(uint8_t CCameraFX3::*shadow)
    {
        SectionLock lock(m_csTransport);
        return this->*shadow;
    }

    // Last value read or written of FPGA registers 0, 10, 11, 25, 24, 40, 41, 39.
    uint8_t m_ucFPGAReg0 ORU_GUARDED_BY(m_csTransport);
    uint8_t m_ucFPGAReg10 ORU_GUARDED_BY(m_csTransport);
    uint8_t m_ucFPGAReg11 ORU_GUARDED_BY(m_csTransport);
    uint8_t m_ucFPGAReg25 ORU_GUARDED_BY(m_csTransport);
    uint8_t m_ucFPGAReg24 ORU_GUARDED_BY(m_csTransport);
    uint8_t m_ucFPGAReg40 ORU_GUARDED_BY(m_csTransport);
    uint8_t m_ucFPGAReg41 ORU_GUARDED_BY(m_csTransport);
    uint8_t m_ucFPGAReg39 ORU_GUARDED_BY(m_csTransport);

    bool m_bOpen;
    std::atomic<bool> m_bRemoved;
    libusb_context *m_pUsbContext;      // null when libusb_init failed
    libusb_device_handle *m_pDevHandle; // set by the open path of the camera object
    S_MUTEX_UNIX m_csTransport;

    uint8_t m_ucXferDone;
    int32_t m_iXferLength;
    int32_t m_iXferStatus;

    uint8_t m_ucFirmwareVer;
    uint16_t m_usFPGAVer;
    uint8_t m_ucFPGAVerDigit[4];
    int32_t m_iProductID;

    // Pipelined transfers come in frame sets of m_iXferCount, set s at
    // index s x m_iXferCount of the tables; queued frames take the sets in
    // turn from m_iXferFirstSet.
    int32_t m_iXferCount;       // pipelined transfers per frame
    int32_t m_iXferInFlightMax; // most pipelined transfers of a frame submitted at one time
    int32_t m_iXferSets;        // frame sets in the tables: 1, or kAsyncFrameSets
    int32_t m_iXferBytes;       // bytes of every transfer but a frame's last
    int32_t m_iXferFrameBytes;
    uint8_t *m_pXferBuffer;  // where startAsyncXfer receives
    int32_t m_iXferFirstSet; // set of the oldest queued frame
    int32_t m_iXferQueued;   // frames queued
    uint8_t *m_pSetBuffer[kAsyncFrameSets];
    int32_t m_iSetRecvBytes[kAsyncFrameSets]; // bytes the set's frame has received
    int32_t m_iSetSubmitted[kAsyncFrameSets]; // transfers of the set submitted so far
    // Per pipelined transfer: not submitted, with libusb, or ended and not
    // yet waited for.
    uint8_t *m_pucXferSubmitted;
    libusb_transfer **m_ppXfer; // pipelined transfers
    libusb_transfer **m_ppStepXfer;
    int *m_piStepXferDone; // per step transfer, its user data

    // Passes a libusb result on, noting a device that has gone and, for the
    // calling thread, the failure.
    int NoteResult(int result);

private:
    static void LIBUSB_CALL AsyncXferCallback(libusb_transfer *transfer);
    static void LIBUSB_CALL StepXferCallback(libusb_transfer *transfer);
    int AsyncXferIndex(const libusb_transfer *transfer) const;
    void WaitForXferEnd(int index, uint32_t budgetMs, uint32_t sliceMs);
    void CancelAsyncXfer(int index);
    void DrainAsyncFrame(int set);
    void SubmitAsyncXfers(int set, int first, int end);
    uint8_t *WaitAsyncFrame(uint32_t waitMs, uint32_t pollMs, int expectedBytes, int *received,
                            bool *cut);
    void FreeAsyncXferTables();
    void FreeStepXferTables(int count);

    OruStatus UpdateFPGAREG(uint16_t addr, uint8_t *shadow, uint8_t clearBits, uint8_t setBits);
    OruStatus SetFPGABit(const FPGABit &field, bool on);
    uint8_t *FPGAShadow(uint16_t addr);
    OruStatus WriteFPGARegGroup(uint16_t firstAddr, const uint16_t *values, int count);
    OruStatus WriteFPGAValue(uint16_t firstAddr, uint32_t value, int bytes);
    void LoadEEPROMLoader();
    bool WriteEEPROMVerified(const uint8_t *image, long length);
};
