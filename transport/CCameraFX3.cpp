#include "transport/CCameraFX3.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "api/ORUCamera.h"
#include "log/DbgPrint.h"
#include "transport/FX2LoadRecords.h"
#include "transport/FX3ImageSections.h"
#include "transport/FX3Protocol.h"
#include "transport/LegacyUsb2Protocol.h"
#include "transport/LoaderFirmware.h"
#include "transport/SectionLock.h"

namespace {

constexpr uint8_t kRequestTypeOut =
    LIBUSB_ENDPOINT_OUT | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_DEVICE; // 0x40
constexpr uint8_t kRequestTypeIn =
    LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_DEVICE; // 0xC0
constexpr unsigned kShortTimeoutMs = 200;
constexpr unsigned kTimeoutMs = 500;

// FX2 CPU control register: 1 holds the 8051 in reset, 0 lets it run.
constexpr uint16_t kCpuControlAddr = 0xE600;
constexpr uint16_t kLoaderPart2Addr = 0x0800;

constexpr long kEEPROMBlock = 4096;
constexpr long kEEPROMSize = 0x10000;
constexpr int kEEPROMAttempts = 3;

constexpr uint32_t kFx3Chunk = 2048;
constexpr uint32_t kSPISector = 0x10000;
constexpr uint32_t kSPIPage = 256;
constexpr uint32_t kI2CTailAlign = 64;

constexpr uint32_t kTimeLimit = 2000000000u;

uint16_t BigEndian16(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

// Out transfers never write to their buffer; libusb's signature is not const.
uint8_t *OutData(const uint8_t *data)
{
    return const_cast<uint8_t *>(data);
}

} // namespace

CCameraFX3::CCameraFX3()
    : m_ucFPGAReg0(0), m_ucFPGAReg10(0), m_ucFPGAReg11(0), m_ucFPGAReg25(0), m_ucFPGAReg24(0),
      m_ucFPGAReg40(0), m_ucFPGAReg41(0), m_ucFPGAReg39(0), m_bOpen(false), m_bRemoved(false),
      m_pUsbContext(nullptr), m_pDevHandle(nullptr), m_csTransport(), m_ucXferDone(0),
      m_iXferLength(-1), m_iXferStatus(0), m_ucFirmwareVer(0), m_usFPGAVer(0), m_ucFPGAVerDigit{},
      m_iProductID(-1), m_iXferCount(0), m_iXferInFlightMax(0), m_iXferSets(0), m_iXferBytes(0),
      m_iXferFrameBytes(0), m_pXferBuffer(nullptr), m_iXferFirstSet(0),
      m_iXferQueued(0), m_pSetBuffer{}, m_iSetRecvBytes{}, m_iSetSubmitted{},
      m_pucXferSubmitted(nullptr), m_ppXfer(nullptr), m_ppStepXfer(nullptr),
      m_piStepXferDone(nullptr)
{
    InitializeCriticalSection(&m_csTransport);
    DbgPrint(LogSeverity::Info, -1, "CCameraFX3", "ORUCamera SDK Ver: %s, build: %s\n",
             ORU_SDK_VERSION, "08041650");
    if (libusb_init(&m_pUsbContext) < 0) {
        m_pUsbContext = nullptr;
        DbgPrint(LogSeverity::Error, -1, "CCameraFX3", "libusb_init fail!\n");
    } else {
        DbgPrint(LogSeverity::Info, -1, "CCameraFX3", "libusb_init OK\n");
    }
}

CCameraFX3::~CCameraFX3()
{
    DbgPrint(LogSeverity::Info, -1, "~CCameraFX3", "~CCameraFX3\n");
    // Pipelined transfers of a capture run that was never released.
    releaseAsyncXfer();
    // A handle still open here would keep the context alive inside libusb.
    CloseDevice();
    DeleteCriticalSection(&m_csTransport);
    // libusb_exit(nullptr) would tear down the process-wide default context.
    if (m_pUsbContext)
        libusb_exit(m_pUsbContext);
}

void CCameraFX3::CloseDevice()
{
    SectionLock lock(m_csTransport);
    if (!m_bOpen)
        return;
    libusb_close(m_pDevHandle);
    m_pDevHandle = nullptr;
    m_bOpen = false;
}

void CCameraFX3::CameraPID(int pid)
{
    m_iProductID = pid;
}

namespace {

// Per thread, so that a flat call learns what failed under it and nothing
// of other threads' requests.
thread_local OruStatus t_LastUsbFailure = OruStatus::Ok();

} // namespace

OruStatus CCameraFX3::LastUsbFailure()
{
    return t_LastUsbFailure;
}

OruStatus CCameraFX3::ExchangeLastUsbFailure(const OruStatus &next)
{
    const OruStatus last = t_LastUsbFailure;
    t_LastUsbFailure = next;
    return last;
}

int CCameraFX3::NoteResult(int result)
{
    if (result == LIBUSB_ERROR_NO_DEVICE)
        m_bRemoved = true;
    if (result < 0) {
        t_LastUsbFailure = OruStatus::FromLibusb(result);
        DbgPrint(LogSeverity::Debug, -1, "NoteResult", "libusb: %s\n", t_LastUsbFailure.Text());
    }
    return result;
}

OruStatus CCameraFX3::SendCMD(uint8_t request)
{
    SectionLock lock(m_csTransport);
    if (!m_bOpen)
        return OruStatus::Error(ORU_ERROR_CAMERA_CLOSED);
    return OruStatus::FromLibusb(NoteResult(libusb_control_transfer(
        m_pDevHandle, kRequestTypeOut, request, 0, 0, nullptr, 0, kShortTimeoutMs)));
}

OruStatus CCameraFX3::SendCMD(uint8_t request, uint16_t wValue, uint16_t wIndex, bool in,
                              uint8_t *data, long length)
{
    SectionLock lock(m_csTransport);
    if (!m_bOpen)
        return OruStatus::Error(ORU_ERROR_CAMERA_CLOSED);
    return OruStatus::FromLibusb(NoteResult(
        libusb_control_transfer(m_pDevHandle, in ? kRequestTypeIn : kRequestTypeOut, request,
                                wValue, wIndex, data, static_cast<uint16_t>(length), kTimeoutMs)));
}

OruStatus CCameraFX3::WriteCameraRegister(uint16_t addr, uint16_t value)
{
    return SendCMD(FX3Request::kWriteCameraReg, addr, value, false, nullptr, 0);
}

OruStatus CCameraFX3::ReadCameraRegister(uint16_t addr, uint16_t *value)
{
    uint8_t reply[2] = {};
    const OruStatus result =
        SendCMD(FX3Request::kReadCameraReg, addr, 0, true, reply, sizeof reply);
    *value = BigEndian16(reply);
    return result;
}

OruStatus CCameraFX3::WriteCameraRegisterByte(uint16_t addr, uint8_t value)
{
    return SendCMD(FX3Request::kWriteSensorReg, addr, value, false, nullptr, 0);
}

OruStatus CCameraFX3::ReadCameraRegisterByte(uint16_t addr, uint8_t *value)
{
    *value = 0;
    return SendCMD(FX3Request::kReadSensorReg, addr, 0, true, value, 1);
}

OruStatus CCameraFX3::WriteSONYREG(uint16_t addr, uint8_t value)
{
    return WriteCameraRegisterByte(addr, value);
}

OruStatus CCameraFX3::ReadSONYREG(uint16_t addr, uint8_t *value)
{
    return ReadCameraRegisterByte(addr, value);
}

OruStatus CCameraFX3::WriteCameraRegister_B(uint16_t addr, uint8_t lowBit, uint8_t highBit,
                                            uint16_t value)
{
    uint16_t mask = 0;
    for (int bit = lowBit; bit <= highBit && bit < 16; ++bit)
        mask |= static_cast<uint16_t>(1u << bit);
    uint16_t old = 0;
    ReadCameraRegister(addr, &old);
    // With lowBit >= 16 the mask is empty; the guard keeps the shift defined.
    const uint32_t shifted = lowBit < 16 ? static_cast<uint32_t>(value) << lowBit : 0;
    return WriteCameraRegister(addr, static_cast<uint16_t>((old & ~mask) | (shifted & mask)));
}

OruStatus CCameraFX3::WriteFPGAREG(uint16_t addr, uint16_t value)
{
    return SendCMD(FX3Request::kWriteFPGAReg, addr, value, false, nullptr, 0);
}

OruStatus CCameraFX3::ReadFPGAREG(uint16_t addr, uint8_t *value)
{
    return SendCMD(FX3Request::kReadFPGAReg, addr, 0, true, value, 1);
}

OruStatus CCameraFX3::GetFirmwareVer(uint8_t *version)
{
    uint8_t reply[2] = {};
    const OruStatus result = SendCMD(FX3Request::kFirmwareVer, 0, 0, true, reply, sizeof reply);
    if (reply[0] == 'V')
        *version = reply[1] > 15 ? reply[1] : static_cast<uint8_t>(reply[1] << 4);
    else
        *version = 0x10;
    DbgPrint(LogSeverity::Debug, -1, "GetFirmwareVer", "Ver return %d: 0x%02X\n",
             result.IsOk() ? 1 : 0, *version);
    return result;
}

OruStatus CCameraFX3::GetFirmwareVer()
{
    uint8_t version = 0;
    const OruStatus result = GetFirmwareVer(&version);
    if (!result) {
        DbgPrint(LogSeverity::Error, -1, "GetFirmwareVer",
                 "Failed to get firmware ver. The USB transmission is disconnected\n");
        return result;
    }
    DbgPrint(LogSeverity::Info, -1, "GetFirmwareVer", "Get firmware ver: 0x%x\n", version);
    return result;
}

OruStatus CCameraFX3::GetFPGAVer(uint16_t *version, uint8_t *digits)
{
    uint8_t layout = 0;
    uint8_t low = 0;
    uint8_t high = 0;
    uint8_t digitsA = 0;
    uint8_t digitsB = 0;
    OruStatus result = ReadFPGAREG(FPGARegister::kVersionLayout, &layout);
    if (layout < 3) {
        ReadFPGAREG(FPGARegister::kVersion, &low);
        ReadFPGAREG(FPGARegister::kVersion + 1, &digitsA);
        result = ReadFPGAREG(FPGARegister::kVersion + 2, &digitsB);
        *version = low;
    } else {
        uint8_t unused = 0;
        ReadFPGAREG(FPGARegister::kVersion, &low);
        ReadFPGAREG(FPGARegister::kVersion + 1, &high);
        ReadFPGAREG(FPGARegister::kVersion + 2, &unused);
        ReadFPGAREG(FPGARegister::kVersion + 3, &digitsA);
        result = ReadFPGAREG(FPGARegister::kVersion + 4, &digitsB);
        *version = static_cast<uint16_t>(low + 256 * high);
    }
    digits[0] = digitsA >> 4;
    digits[1] = digitsA & 0x0F;
    digits[2] = digitsB >> 4;
    digits[3] = digitsB & 0x0F;
    return result;
}

OruStatus CCameraFX3::GetFPGAVer()
{
    // The working loop's link check reads the version too, while a caller
    // may be initialising: the stored version changes under the lock.
    uint16_t version = 0;
    uint8_t digits[sizeof m_ucFPGAVerDigit] = {};
    const OruStatus result = GetFPGAVer(&version, digits);
    {
        SectionLock lock(m_csTransport);
        m_usFPGAVer = version;
        memcpy(m_ucFPGAVerDigit, digits, sizeof digits);
    }
    if (!result) {
        DbgPrint(LogSeverity::Error, -1, "GetFPGAVer", "Failed to get fpga ver.\n");
        return result;
    }
    DbgPrint(LogSeverity::Info, -1, "GetFPGAVer", "Get fpga ver: %x.%x.%x.%x\n", digits[0],
             digits[1], digits[2], digits[3]);
    return result;
}

void CCameraFX3::GetFPGAVerVal(uint16_t *version, uint8_t *digits)
{
    SectionLock lock(m_csTransport);
    *version = m_usFPGAVer;
    memcpy(digits, m_ucFPGAVerDigit, sizeof m_ucFPGAVerDigit);
}

bool CCameraFX3::IsUSB3Host()
{
    uint8_t reply = 0;
    SendCMD(FX3Request::kUSB3Host, 0, 0, true, &reply, 1);
    return reply == 1;
}

OruStatus CCameraFX3::GetGPIFStatus(uint8_t *status)
{
    *status = 0;
    return SendCMD(FX3Request::kGPIFStatus, 0, 0, true, status, 1);
}

OruStatus CCameraFX3::EnableGPIF32DQ(bool on)
{
    return SendCMD(FX3Request::kGPIF32DQ, on ? 1 : 0, 0, false, nullptr, 0);
}

OruStatus CCameraFX3::IsBootLoaderRunning()
{
    uint8_t reply = 0;
    return SendCMD(FX3Request::kRamAccess, 0, 0, true, &reply, 1);
}

bool CCameraFX3::ResetEndPoint(uint8_t endpoint)
{
    SectionLock lock(m_csTransport);
    if (m_bOpen)
        NoteResult(libusb_clear_halt(m_pDevHandle, endpoint));
    return m_bOpen;
}

bool CCameraFX3::ResetDevice()
{
    SectionLock lock(m_csTransport);
    if (m_bOpen) {
        NoteResult(libusb_reset_device(m_pDevHandle));
        DbgPrint(LogSeverity::Info, -1, "ResetDevice", "ResetDevice\n");
    }
    return m_bOpen;
}

bool CCameraFX3::SetXferSize(uint32_t)
{
    SectionLock lock(m_csTransport);
    return m_bOpen;
}

// ---- FPGA register map ----

OruStatus CCameraFX3::UpdateFPGAREG(uint16_t addr, uint8_t *shadow, uint8_t clearBits,
                                    uint8_t setBits)
{
    ReadFPGAREG(addr, shadow);
    *shadow = static_cast<uint8_t>((*shadow & ~clearBits) | setBits);
    return WriteFPGAREG(addr, *shadow);
}

OruStatus CCameraFX3::SetFPGABit(const FPGABit &field, bool on)
{
    const uint8_t mask = FPGABitMask(field);
    return UpdateFPGAREG(field.reg, FPGAShadow(field.reg), mask, on == field.setWhenOn ? mask : 0);
}

uint8_t *CCameraFX3::FPGAShadow(uint16_t addr)
{
    switch (addr) {
    case FPGARegister::kControl: return &m_ucFPGAReg0;
    case FPGARegister::kOutput: return &m_ucFPGAReg10;
    case FPGARegister::kSensorSignals: return &m_ucFPGAReg11;
    case FPGARegister::kBufferControl: return &m_ucFPGAReg24;
    case FPGARegister::kPower: return &m_ucFPGAReg25;
    case FPGARegister::kBinning: return &m_ucFPGAReg39;
    case FPGARegister::kTriggerInput: return &m_ucFPGAReg40;
    case FPGARegister::kSyncOutput:
    default: return &m_ucFPGAReg41;
    }
}

OruStatus CCameraFX3::WriteFPGARegGroup(uint16_t firstAddr, const uint16_t *values, int count)
{
    WriteFPGAREG(FPGARegister::kUpdateHold, 1);
    OruStatus result = OruStatus::Ok();
    for (int i = 0; i < count; ++i)
        result &= WriteFPGAREG(static_cast<uint16_t>(firstAddr + i), values[i]);
    WriteFPGAREG(FPGARegister::kUpdateHold, 0);
    return result;
}

OruStatus CCameraFX3::WriteFPGAValue(uint16_t firstAddr, uint32_t value, int bytes)
{
    uint16_t values[4] = {};
    for (int i = 0; i < bytes; ++i)
        values[i] = static_cast<uint16_t>((value >> (8 * i)) & 0xFF);
    return WriteFPGARegGroup(firstAddr, values, bytes);
}

OruStatus CCameraFX3::FPGAStart()
{
    return SetFPGABit(FPGABits::kStop, false);
}

OruStatus CCameraFX3::FPGAStop()
{
    return SetFPGABit(FPGABits::kStop, true);
}

OruStatus CCameraFX3::SetFPGAAsMaster(bool on)
{
    return SetFPGABit(FPGABits::kMaster, on);
}

OruStatus CCameraFX3::EnableFPGAWaitMode(bool on)
{
    return SetFPGABit(FPGABits::kWaitMode, on);
}

OruStatus CCameraFX3::EnableFPGATriggerMode(bool on)
{
    return SetFPGABit(FPGABits::kTriggerMode, on);
}

OruStatus CCameraFX3::SetFPGAPatternSelect(bool on)
{
    return SetFPGABit(FPGABits::kPatternSelect, on);
}

OruStatus CCameraFX3::EnableFPGADDR(bool on)
{
    return SetFPGABit(FPGABits::kDDRBypass, on);
}

OruStatus CCameraFX3::EnableFPGADDRMultiFrameCache(bool on)
{
    return SetFPGABit(FPGABits::kDDRMultiFrame, on);
}

OruStatus CCameraFX3::EnableFPGATriggerSignal(bool on)
{
    return SetFPGABit(FPGABits::kTriggerSignal, on);
}

OruStatus CCameraFX3::EnableFPGAXHSStop(bool on)
{
    return SetFPGABit(FPGABits::kXHSStop, on);
}

OruStatus CCameraFX3::EnableFPGASensorReset(bool on)
{
    return SetFPGABit(FPGABits::kSensorReset, on);
}

OruStatus CCameraFX3::FPGABufReload()
{
    return SetFPGABit(FPGABits::kReload, true);
}

OruStatus CCameraFX3::EnableLowPower(bool on)
{
    return SetFPGABit(FPGABits::kLowPower, on);
}

OruStatus CCameraFX3::EnableWarm(bool on)
{
    return SetFPGABit(FPGABits::kHeater, on);
}

OruStatus CCameraFX3::EnableCfan(bool on)
{
    return SetFPGABit(FPGABits::kFanOff, on);
}

OruStatus CCameraFX3::SelectExtTrigSource(bool on)
{
    return SetFPGABit(FPGABits::kTrigSource, on);
}

OruStatus CCameraFX3::SelectExtTrigExp(bool on)
{
    return SetFPGABit(FPGABits::kTrigExp, on);
}

OruStatus CCameraFX3::SelectExtTrigSoftMode(bool on)
{
    return SetFPGABit(FPGABits::kTrigSoftMode, on);
}

OruStatus CCameraFX3::SelectExtTrigType(bool on)
{
    return SetFPGABit(FPGABits::kTrigType, on);
}

OruStatus CCameraFX3::SelectExtTrigValidType(bool on)
{
    return SetFPGABit(FPGABits::kTrigValidType, on);
}

OruStatus CCameraFX3::EnableExtSyncA(bool on)
{
    return SetFPGABit(FPGABits::kSyncA, on);
}

OruStatus CCameraFX3::EnableExtSyncB(bool on)
{
    return SetFPGABit(FPGABits::kSyncB, on);
}

OruStatus CCameraFX3::SelectExtSyncALevel(bool on)
{
    return SetFPGABit(FPGABits::kSyncALevel, on);
}

OruStatus CCameraFX3::SelectExtSyncBLevel(bool on)
{
    return SetFPGABit(FPGABits::kSyncBLevel, on);
}

OruStatus CCameraFX3::SetFPGABinType(bool on)
{
    return SetFPGABit(FPGABits::kBinType, on);
}

OruStatus CCameraFX3::SetFPGAADCWidthOutputWidth(ADC_BIT adc, bool wide)
{
    const uint8_t setBits =
        static_cast<uint8_t>((adc == ADC_BIT_WIDE ? 0x01 : 0) | (wide ? 0x10 : 0));
    return UpdateFPGAREG(FPGARegister::kOutput, &m_ucFPGAReg10, 0x11, setBits);
}

OruStatus CCameraFX3::SetFPGALVDSChannel(LVDS_CHANNEL channel)
{
    // Channel number -> value of the two-bit field in bits 1..2.
    static const int kFieldForChannel[] = {0, 3, 2, 1, 0};
    if (channel < LVDS_CHANNEL_0 || channel > LVDS_CHANNEL_4) {
        DbgPrint(LogSeverity::Error, -1, "SetFPGALVDSChannel", "How did you get here?\n");
        return UpdateFPGAREG(FPGARegister::kControl, &m_ucFPGAReg0, 0, 0);
    }
    return UpdateFPGAREG(FPGARegister::kControl, &m_ucFPGAReg0, 0x06,
                         static_cast<uint8_t>(kFieldForChannel[channel] << 1));
}

OruStatus CCameraFX3::SetFPGABinMode(FPGA_BIN_MODE mode)
{
    if (mode < FPGA_BIN_MODE_0 || mode > FPGA_BIN_MODE_3) {
        DbgPrint(LogSeverity::Error, -1, "SetFPGABinMode", "How did you get here?\n");
        return UpdateFPGAREG(FPGARegister::kBinning, &m_ucFPGAReg39, 0, 0);
    }
    return UpdateFPGAREG(FPGARegister::kBinning, &m_ucFPGAReg39, 0x03, static_cast<uint8_t>(mode));
}

void CCameraFX3::FPGAReset()
{
    SectionLock lock(m_csTransport);
    m_ucFPGAReg0 &= static_cast<uint8_t>(~0x01);
    WriteFPGAREG(FPGARegister::kControl, m_ucFPGAReg0);
    m_ucFPGAReg0 |= 0x01;
}

OruStatus CCameraFX3::SetFPGAHBLK(uint16_t value)
{
    return WriteFPGAValue(FPGARegister::kHBLK, value, 2);
}

OruStatus CCameraFX3::SetFPGAWidth(int width)
{
    return WriteFPGAValue(FPGARegister::kWidth, static_cast<uint32_t>(width), 2);
}

OruStatus CCameraFX3::SetFPGAVBLK(uint16_t value)
{
    return WriteFPGAValue(FPGARegister::kVBLK, value, 2);
}

OruStatus CCameraFX3::SetFPGAHeight(int height)
{
    return WriteFPGAValue(FPGARegister::kHeight, static_cast<uint32_t>(height), 2);
}

OruStatus CCameraFX3::SetFPGAGain(int gain0, int gain1, int gain2, int gain3)
{
    const uint16_t gains[4] = {static_cast<uint16_t>(gain0), static_cast<uint16_t>(gain1),
                               static_cast<uint16_t>(gain2), static_cast<uint16_t>(gain3)};
    return WriteFPGARegGroup(FPGARegister::kFirstGain, gains, 4);
}

OruStatus CCameraFX3::SetFPGAVMAX(uint32_t value)
{
    return WriteFPGAValue(FPGARegister::kVMAX, value > 0xFFFFFFu ? 0xFFFFFFu : value, 3);
}

OruStatus CCameraFX3::SetFPGAHMAX(uint16_t value)
{
    return WriteFPGAValue(FPGARegister::kHMAX, value, 2);
}

OruStatus CCameraFX3::SetFPGABandWidth(float percent)
{
    // Compared before conversion: a zero or NaN percentage gives inf or NaN,
    // whose conversion to an integer would be undefined.
    const float divider = 25600.0f / percent - 256.0f;
    int value;
    if (!(divider < 65535.0f))
        value = 65534;
    else if (divider < 1.0f)
        value = 1;
    else
        value = static_cast<int>(divider);
    return WriteFPGAValue(FPGARegister::kBandwidth, static_cast<uint32_t>(value), 2);
}

OruStatus CCameraFX3::SetExtTrigExpTime(uint32_t value)
{
    if (value > kTimeLimit)
        value = kTimeLimit;
    if (value < 32)
        value = 32;
    return WriteFPGAValue(FPGARegister::kTrigExpTime, value, 4);
}

OruStatus CCameraFX3::SetExtSyncADelayTime(uint32_t value)
{
    return WriteFPGAValue(FPGARegister::kSyncADelay, value > kTimeLimit ? kTimeLimit : value, 4);
}

OruStatus CCameraFX3::SetExtSyncAKeepTime(uint32_t value)
{
    return WriteFPGAValue(FPGARegister::kSyncAKeep, value > kTimeLimit ? kTimeLimit : value, 4);
}

OruStatus CCameraFX3::SetExtSyncBDelayTime(uint32_t value)
{
    return WriteFPGAValue(FPGARegister::kSyncBDelay, value > kTimeLimit ? kTimeLimit : value, 4);
}

OruStatus CCameraFX3::SetExtSyncBKeepTime(uint32_t value)
{
    return WriteFPGAValue(FPGARegister::kSyncBKeep, value > kTimeLimit ? kTimeLimit : value, 4);
}

OruStatus CCameraFX3::SetFPGABinDataLen(uint32_t words)
{
    return WriteFPGAValue(FPGARegister::kBinDataLen, words == 0xFFFFFFFFu ? 0xFFFFFFFEu : words, 4);
}

OruStatus CCameraFX3::SetFPGACoolPower(int power)
{
    if (power > 255)
        power = 255;
    else if (power <= 0)
        power = 15;
    return WriteFPGAREG(FPGARegister::kCoolPower, static_cast<uint16_t>(power));
}

OruStatus CCameraFX3::SetFPGAHeaterPowerPercent(uint8_t percent)
{
    return WriteFPGAREG(FPGARegister::kHeaterPower, percent);
}

OruStatus CCameraFX3::SetExtendIOValue(uint8_t value)
{
    return WriteFPGAREG(FPGARegister::kExtendIO, value);
}

bool CCameraFX3::FPGADDRTest()
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        uint8_t status = 0;
        ReadFPGAREG(FPGARegister::kBufferStatus, &status);
        if (status & FPGABuffer::kDDRReady)
            return true;
        WriteFPGAREG(FPGARegister::kBufferControl, FPGABuffer::kSelfTest);
        usleep(20000);
    }
    DbgPrint(LogSeverity::Error, -1, "FPGADDRTest", "DDR ERROR!\n");
    return false;
}

// ---- SPI flash ----

OruStatus CCameraFX3::WriteToSPIFlash(uint8_t *data, uint32_t length, uint32_t address,
                                      uint8_t request)
{
    return SendCMD(request, 0, static_cast<uint16_t>(address / 256), false, data, length);
}

OruStatus CCameraFX3::ReadFromSPIFlash(uint8_t *data, uint32_t length, uint32_t address,
                                       uint8_t request)
{
    return SendCMD(request, 0, static_cast<uint16_t>(address / 256), true, data, length);
}

OruStatus CCameraFX3::EraseSectorOfSPIFlash(uint32_t sector, uint8_t request)
{
    const uint16_t wIndex = static_cast<uint16_t>(sector);
    OruStatus result = SendCMD(request, 1, wIndex, false, nullptr, 0);
    uint8_t busy = 1;
    while (result && busy != 0)
        result = SendCMD(request, 0, wIndex, true, &busy, 1);
    return result;
}

// ---- Legacy USB2 controller firmware ----

void CCameraFX3::LoadEEPROMLoader()
{
    uint8_t hold = 1;
    uint8_t run = 0;
    SendCMD(FX3Request::kRamAccess, kCpuControlAddr, 0, false, &hold, 1);
    SendCMD(FX3Request::kRamAccess, 0x0000, 0, false, OutData(Vendor1), kVendor1Size);
    SendCMD(FX3Request::kRamAccess, kLoaderPart2Addr, 0, false, OutData(Vendor2), kVendor2Size);
    SendCMD(FX3Request::kRamAccess, kCpuControlAddr, 0, false, &run, 1);
}

// Writes the image into the boot EEPROM through the running loader and reads
// it back, up to three times, until the read-back matches.
bool CCameraFX3::WriteEEPROMVerified(const uint8_t *image, long length)
{
    std::vector<uint8_t> readBack(kEEPROMSize);
    const long blocks = (length + kEEPROMBlock - 1) / kEEPROMBlock;
    auto blockLength = [&](long i) {
        return i == blocks - 1 ? length - i * kEEPROMBlock : kEEPROMBlock;
    };
    for (int attempt = 0; attempt < kEEPROMAttempts; ++attempt) {
        for (long i = 0; i < blocks; ++i)
            SendCMD(LegacyUsb2Request::kLoaderEEPROMAccess,
                    static_cast<uint16_t>((i * kEEPROMBlock) & 0xF000), 0, false,
                    OutData(image + i * kEEPROMBlock), blockLength(i));
        std::fill(readBack.begin(), readBack.end(), 0);
        for (long i = 0; i < blocks; ++i)
            SendCMD(LegacyUsb2Request::kLoaderEEPROMAccess,
                    static_cast<uint16_t>((i * kEEPROMBlock) & 0xF000), 0, true,
                    readBack.data() + i * kEEPROMBlock, blockLength(i));
        if (memcmp(readBack.data(), image, length) == 0)
            return true;
    }
    return false;
}

bool CCameraFX3::UpdateFW(uint8_t *image, long length)
{
    // The boot EEPROM holds 64 KiB; a longer image would wrap onto itself.
    if (!m_bOpen || length <= 0 || length > kEEPROMSize)
        return false;
    LoadEEPROMLoader();
    const bool written = WriteEEPROMVerified(image, length);
    UpdateFW2RAM(image, length);
    return written;
}

int CCameraFX3::UpdateFW2RAM(uint8_t *image, long length)
{
    uint8_t hold = 1;
    uint8_t run = 0;
    SendCMD(FX3Request::kRamAccess, kCpuControlAddr, 0, false, &hold, 1);
    ForEachFX2LoadRecord(image, length, [this](const FX2LoadRecord &record) {
        SendCMD(FX3Request::kRamAccess, record.usAddress, 0, false, record.pData, record.lLength);
    });
    SendCMD(FX3Request::kRamAccess, kCpuControlAddr, 0, false, &run, 1);
    return 1;
}

bool CCameraFX3::EraseFlash()
{
    std::vector<uint8_t> blank(kEEPROMBlock, 0);
    blank[0] = kLegacyUsb2BootImageMarker;
    LoadEEPROMLoader();
    const bool erased = WriteEEPROMVerified(blank.data(), kEEPROMBlock);
    DbgPrint(erased ? LogSeverity::Info : LogSeverity::Error, -1, "EraseFlash",
             erased ? "erase flash success\n" : "erase flash false\n");
    return erased;
}

// ---- FX3 boot loader ----

int CCameraFX3::DownloadFw(char *path, FX3_FWDWNLOAD_MEDIA_TYPE media)
{
    FILE *file = fopen(path, "rb");
    if (!file)
        return FX3_FW_FILE_UNREADABLE;
    long size = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        size = ftell(file);
    if (size <= 0 || fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        return FX3_FW_FILE_UNREADABLE;
    }
    std::vector<uint8_t> image(static_cast<size_t>(size));
    const size_t got = fread(image.data(), 1, image.size(), file);
    fclose(file);
    if (got != image.size())
        return FX3_FW_FILE_UNREADABLE;
    return DownloadFw(image.data(), static_cast<uint32_t>(image.size()), media);
}

int CCameraFX3::DownloadFw(uint8_t *image, uint32_t length, FX3_FWDWNLOAD_MEDIA_TYPE media)
{
    switch (media) {
    case FX3_MEDIA_RAM: return DownloadFwToRam(image, length, FX3Request::kRamAccess);
    case FX3_MEDIA_I2C_EEPROM:
        return DownloadBuftoI2CE2PROM(image, length, FX3Request::kI2CE2PROMWrite);
    case FX3_MEDIA_SPI_FLASH:
        return DownloadBuftoSPIFLASH(image, length, FX3Request::kSPIFlashErase);
    }
    return FX3_FW_BAD_MEDIA;
}

OruStatus CCameraFX3::DownloadBufferToDevice(uint32_t address, uint16_t length, uint8_t *data,
                                             uint8_t request)
{
    return SendCMD(request, static_cast<uint16_t>(address & 0xFFFF),
                   static_cast<uint16_t>(address >> 16), false, data, length);
}

OruStatus CCameraFX3::UploadBufferFromDevice(uint32_t address, uint16_t length, uint8_t *data,
                                             uint8_t request)
{
    return SendCMD(request, static_cast<uint16_t>(address & 0xFFFF),
                   static_cast<uint16_t>(address >> 16), true, data, length);
}

OruStatus CCameraFX3::SetProgramEntry(uint8_t request, uint32_t address)
{
    return SendCMD(request, static_cast<uint16_t>(address >> 16),
                   static_cast<uint16_t>(address & 0xFFFF), false, nullptr, 0);
}

int CCameraFX3::DownloadFwToRam(uint8_t *image, uint32_t length, uint8_t request)
{
    uint8_t readBack[kFx3Chunk];
    const auto load = [&](const FX3ImageChunk &chunk) {
        uint8_t *const data = const_cast<uint8_t *>(chunk.pData);
        const auto size = static_cast<uint16_t>(chunk.ulLength);
        OruStatus written = OruStatus::Ok();
        OruStatus read = OruStatus::Ok();
        for (int pass = 0; pass < 3; ++pass) {
            written = DownloadBufferToDevice(chunk.ulAddress, size, data, request);
            memset(readBack, 0, size);
            read = UploadBufferFromDevice(chunk.ulAddress, size, readBack, request);
        }
        if (!written || !read || memcmp(readBack, data, size) != 0)
            return static_cast<int>(FX3_FW_TRANSFER_FAILED);
        return static_cast<int>(FX3_FW_OK);
    };
    const auto start = [&](uint32_t entry) {
        // The boot loader jumps to the entry address and may not answer,
        // so only a closed device counts as a failed start.
        DownloadBufferToDevice(entry, 0, nullptr, request);
        return static_cast<int>(m_bOpen ? FX3_FW_OK : FX3_FW_TRANSFER_FAILED);
    };
    return ForEachFX3ImageChunk(image, length, kFx3Chunk, load, start);
}

int CCameraFX3::DownloadBuftoI2CE2PROM(uint8_t *image, uint32_t length, uint8_t request)
{
    // Too short to hold the image header with its control byte.
    if (length < 3)
        return FX3_FW_BAD_SIGNATURE;
    const int sizeCode = (image[2] / 2) & 7;
    if (sizeCode < 2)
        return FX3_FW_BAD_EEPROM_SIZE;
    // 4 KiB for code 2, doubling up to 64 KiB; code 7 is a 128 KiB device
    // addressed as two 64 KiB blocks.
    const uint32_t deviceSize = sizeCode >= 6 ? 0x10000u : 0x1000u << (sizeCode - 2);
    uint16_t select = 0;
    uint16_t deviceOffset = 0;
    uint32_t written = 0;
    while (length - written >= kFx3Chunk) {
        if (!SendCMD(request, select, deviceOffset, false, image + written, kFx3Chunk))
            return FX3_FW_TRANSFER_FAILED;
        written += kFx3Chunk;
        deviceOffset = static_cast<uint16_t>(deviceOffset + kFx3Chunk);
        if (written % deviceSize == 0) {
            if (sizeCode < 7)
                select = (select + 1) & 7;
            else if (written < 0x20000u)
                select = 4;
            else
                select = select == 4 ? 1 : 5;
            deviceOffset = 0;
        }
    }
    const uint32_t tail = length - written;
    if (tail == 0)
        return FX3_FW_OK;
    const uint32_t padded = (tail + kI2CTailAlign - 1) / kI2CTailAlign * kI2CTailAlign;
    uint8_t buffer[kFx3Chunk] = {};
    memcpy(buffer, image + written, tail);
    if (!SendCMD(request, select, deviceOffset, false, buffer, padded) ||
        !SendCMD(FX3Request::kI2CE2PROMRead, select, deviceOffset, true, buffer, padded))
        return FX3_FW_TRANSFER_FAILED;
    return FX3_FW_OK;
}

int CCameraFX3::DownloadBuftoSPIFLASH(uint8_t *image, uint32_t length, uint8_t eraseRequest)
{
    const uint32_t sectors = (length + kSPISector - 1) / kSPISector;
    for (uint32_t sector = 0; sector < sectors; ++sector)
        if (!EraseSectorOfSPIFlash(sector, eraseRequest))
            return FX3_FW_ERASE_FAILED;
    const uint32_t total = (length + kSPIPage - 1) / kSPIPage * kSPIPage;
    uint8_t buffer[kFx3Chunk];
    for (uint32_t address = 0; address < total; address += kFx3Chunk) {
        const uint32_t chunk = total - address < kFx3Chunk ? total - address : kFx3Chunk;
        const uint32_t data = address + chunk <= length ? chunk : length - address;
        memset(buffer, 0, sizeof buffer);
        memcpy(buffer, image + address, data);
        if (!WriteToSPIFlash(buffer, chunk, address, FX3Request::kSPIFlashWrite))
            return FX3_FW_TRANSFER_FAILED;
    }
    return FX3_FW_OK;
}
