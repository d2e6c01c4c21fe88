// Frames, exposures, video and the FITS header of OruCcd.
#include "OruCcd.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "PixelLayout.h"

namespace oru_indi {

namespace {

// How long a frame may take beyond its exposure (start-up, read-out,
// transfer) before the exposure counts as failed.
constexpr double kReadoutAllowanceSeconds = 15.0;
// Tries of one exposure: a frame lost on the way is taken again.
constexpr int kExposureAttempts = 2;
// A software trigger waits this long for the camera to arm its trigger.
constexpr double kSoftTriggerDelaySeconds = 0.2;

double SecondsSince(const timeval &start)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    return (now.tv_sec - start.tv_sec) + (now.tv_usec - start.tv_usec) / 1e6;
}

bool IsSoftTrigger(ORU_CAMERA_MODE mode)
{
    return mode == ORU_MODE_TRIG_SOFT_EDGE || mode == ORU_MODE_TRIG_SOFT_LEVEL;
}

} // namespace

bool OruCcd::applyFrame(int x, int y, int w, int h, int bin, ORU_IMG_TYPE type)
{
    // Every model takes widths in steps of 8 and heights in steps of 2.
    const int width = std::max(8, w / bin / 8 * 8);
    const int height = std::max(2, h / bin / 2 * 2);
    ORU_ERROR_CODE result = ORUSetROIFormat(m_CameraId, width, height, bin, type);
    if (result != ORU_SUCCESS) {
        if (!checkFailure(result, "Setting the frame"))
            LOGF_ERROR("The camera refused a %d x %d frame at bin %d (error %d).", width, height,
                       bin, static_cast<int>(result));
        return false;
    }
    result = ORUSetStartPos(m_CameraId, x / bin, y / bin);
    if (checkFailure(result, "Setting the frame"))
        return false;

    // What the camera made of it: starts and sizes are aligned to its steps.
    int appliedWidth = 0;
    int appliedHeight = 0;
    int appliedBin = 1;
    int startX = 0;
    int startY = 0;
    ORU_IMG_TYPE appliedType = type;
    result = ORUGetROIFormat(m_CameraId, &appliedWidth, &appliedHeight, &appliedBin, &appliedType);
    if (result == ORU_SUCCESS)
        result = ORUGetStartPos(m_CameraId, &startX, &startY);
    if (checkFailure(result, "Reading the frame") || result != ORU_SUCCESS)
        return false;

    m_ImageType = appliedType;
    m_Width = appliedWidth;
    m_Height = appliedHeight;
    PrimaryCCD.setBin(appliedBin, appliedBin);
    PrimaryCCD.setFrame(startX * appliedBin, startY * appliedBin, appliedWidth * appliedBin,
                        appliedHeight * appliedBin);
    PrimaryCCD.setBPP(appliedType == ORU_IMG_RAW16 ? 16 : 8);
    PrimaryCCD.setNAxis(appliedType == ORU_IMG_RGB24 ? 3 : 2);
    PrimaryCCD.setFrameBufferSize(
        static_cast<uint32_t>(appliedWidth * appliedHeight * BytesPerPixel(appliedType)));
    if (HasStreaming())
        Streamer->setSize(static_cast<uint16_t>(appliedWidth),
                          static_cast<uint16_t>(appliedHeight));
    showBayer();
    return true;
}

bool OruCcd::dataIsMosaic() const
{
    if (!m_Info.is_color || m_ImageType == ORU_IMG_RGB24)
        return false;
    // Mono binning sums each colour cell into one grey pixel.
    return !(m_Controls.value(ORU_MONO_BIN).value_or(0) != 0 && PrimaryCCD.getBinX() > 1);
}

void OruCcd::showBayer()
{
    if (!m_Info.is_color || !isConnected())
        return;
    const long flip = m_Controls.value(ORU_FLIP).value_or(ORU_FLIP_NONE);
    setBayerPattern(BayerPatternName(m_Info.bayer, flip & ORU_FLIP_HORIZ, flip & ORU_FLIP_VERT));
}

INDI_PIXEL_FORMAT OruCcd::streamPixelFormat() const
{
    if (m_ImageType == ORU_IMG_RGB24)
        return INDI_RGB;
    if (!dataIsMosaic())
        return INDI_MONO;
    const long flip = m_Controls.value(ORU_FLIP).value_or(ORU_FLIP_NONE);
    const std::string pattern =
        BayerPatternName(m_Info.bayer, flip & ORU_FLIP_HORIZ, flip & ORU_FLIP_VERT);
    if (pattern == "RGGB")
        return INDI_BAYER_RGGB;
    if (pattern == "BGGR")
        return INDI_BAYER_BGGR;
    if (pattern == "GRBG")
        return INDI_BAYER_GRBG;
    return INDI_BAYER_GBRG;
}

bool OruCcd::UpdateCCDFrame(int x, int y, int w, int h)
{
    if (InExposure || m_Reader) {
        LOG_ERROR("The frame can only change while the camera is idle.");
        return false;
    }
    return applyFrame(x, y, w, h, PrimaryCCD.getBinX(), m_ImageType);
}

bool OruCcd::UpdateCCDBin(int hor, int ver)
{
    if (hor != ver) {
        LOG_ERROR("The camera bins as many columns as rows.");
        return false;
    }
    if (InExposure || m_Reader) {
        LOG_ERROR("The binning can only change while the camera is idle.");
        return false;
    }
    return applyFrame(PrimaryCCD.getSubX(), PrimaryCCD.getSubY(), PrimaryCCD.getSubW(),
                      PrimaryCCD.getSubH(), hor, m_ImageType);
}

bool OruCcd::SetCaptureFormat(uint8_t index)
{
    if (index >= m_FormatTypes.size())
        return false;
    const ORU_IMG_TYPE type = m_FormatTypes[index];
    if (!m_Open) {
        m_ImageType = type;
        return true;
    }
    if (InExposure || m_Reader) {
        LOG_ERROR("The format can only change while the camera is idle.");
        return false;
    }
    return applyFrame(PrimaryCCD.getSubX(), PrimaryCCD.getSubY(), PrimaryCCD.getSubW(),
                      PrimaryCCD.getSubH(), PrimaryCCD.getBinX(), type);
}

bool OruCcd::StartExposure(float duration)
{
    if (m_Reader) {
        LOG_ERROR("Stop the video stream before taking an exposure.");
        return false;
    }
    // A new request replaces the exposure in progress.
    if (InExposure)
        AbortExposure();
    m_ExposureSeconds = duration;
    m_ExposureAttempts = 0;
    if (!startCameraExposure())
        return false;
    PrimaryCCD.setExposureDuration(duration);
    InExposure = true;
    scheduleTimer(kExposurePollMs);
    return true;
}

bool OruCcd::startCameraExposure()
{
    ++m_ExposureAttempts;
    const long us = std::lround(m_ExposureSeconds * 1e6);
    ORU_ERROR_CODE result = ORUSetControlValue(m_CameraId, ORU_EXPOSURE, us, ORU_FALSE);
    if (result == ORU_SUCCESS)
        result = m_Mode == ORU_MODE_NORMAL ? ORUStartExposure(m_CameraId, ORU_FALSE)
                                           : ORUStartVideoCapture(m_CameraId);
    if (result != ORU_SUCCESS) {
        if (!checkFailure(result, "Starting the exposure"))
            LOGF_ERROR("The camera did not start the exposure (error %d).",
                       static_cast<int>(result));
        return false;
    }
    gettimeofday(&m_ExposureStart, nullptr);
    m_LastSecondShown = -1;
    m_SoftTriggerSent = false;
    m_LevelTriggerOn = false;
    return true;
}

void OruCcd::pollExposure()
{
    const double elapsed = SecondsSince(m_ExposureStart);
    const double left = std::max(0.0, m_ExposureSeconds - elapsed);
    if (static_cast<int>(std::ceil(left)) != m_LastSecondShown) {
        m_LastSecondShown = static_cast<int>(std::ceil(left));
        PrimaryCCD.setExposureLeft(left);
    }
    ORU_EXPOSURE_STATUS status = ORU_EXP_FAILED;
    const ORU_ERROR_CODE result = ORUGetExpStatus(m_CameraId, &status);
    if (checkFailure(result, "Reading the exposure"))
        return;
    if (status == ORU_EXP_WORKING) {
        if (elapsed > m_ExposureSeconds + kReadoutAllowanceSeconds)
            exposureFailed("the frame did not arrive");
        return;
    }
    if (status != ORU_EXP_SUCCESS) {
        exposureFailed("the camera lost the frame");
        return;
    }
    const ORU_ERROR_CODE read = readFrame([this](uint8_t *buffer, int32_t bytes) {
        return ORUGetDataAfterExp(m_CameraId, buffer, bytes);
    });
    if (read == ORU_SUCCESS)
        completeExposure();
    else if (!checkFailure(read, "Reading the image"))
        exposureFailed("the image could not be read");
}

void OruCcd::pollTriggeredExposure()
{
    const double elapsed = SecondsSince(m_ExposureStart);
    const bool soft = IsSoftTrigger(m_Mode);
    const double exposureEnd = (soft ? kSoftTriggerDelaySeconds : 0.0) + m_ExposureSeconds;
    const double left = std::max(0.0, exposureEnd - elapsed);
    if (static_cast<int>(std::ceil(left)) != m_LastSecondShown) {
        m_LastSecondShown = static_cast<int>(std::ceil(left));
        PrimaryCCD.setExposureLeft(left);
    }
    ORU_ERROR_CODE result = ORU_SUCCESS;
    if (soft && !m_SoftTriggerSent && elapsed >= kSoftTriggerDelaySeconds) {
        m_SoftTriggerSent = true;
        result = ORUSendSoftTrigger(m_CameraId, ORU_TRUE);
        // An edge trigger is the rising edge; a level trigger stays on for the exposure.
        if (result == ORU_SUCCESS && m_Mode == ORU_MODE_TRIG_SOFT_EDGE)
            result = ORUSendSoftTrigger(m_CameraId, ORU_FALSE);
        m_LevelTriggerOn = m_Mode == ORU_MODE_TRIG_SOFT_LEVEL;
    }
    if (result == ORU_SUCCESS && m_LevelTriggerOn && elapsed >= exposureEnd) {
        m_LevelTriggerOn = false;
        result = ORUSendSoftTrigger(m_CameraId, ORU_FALSE);
    }
    if (checkFailure(result, "Triggering the exposure"))
        return;

    // External triggers may keep the camera waiting as long as they like.
    const ORU_ERROR_CODE read = readFrame([this](uint8_t *buffer, int32_t bytes) {
        return ORUGetVideoData(m_CameraId, buffer, bytes, 0);
    });
    if (read == ORU_SUCCESS) {
        ORUStopVideoCapture(m_CameraId);
        completeExposure();
    } else if (read != ORU_ERROR_TIMEOUT) {
        if (!checkFailure(read, "Reading the image"))
            exposureFailed("the image could not be read");
    } else if (soft && elapsed > exposureEnd + kReadoutAllowanceSeconds) {
        exposureFailed("the frame did not arrive");
    }
}

ORU_ERROR_CODE OruCcd::readFrame(const std::function<ORU_ERROR_CODE(uint8_t *, int32_t)> &read)
{
    const size_t pixels = static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height);
    const size_t bytes = pixels * static_cast<size_t>(BytesPerPixel(m_ImageType));
    std::lock_guard<std::mutex> lock(ccdBufferLock);
    uint8_t *image = PrimaryCCD.getFrameBuffer();
    if (m_ImageType != ORU_IMG_RGB24)
        return read(image, static_cast<int32_t>(bytes));
    m_Scratch.resize(bytes);
    const ORU_ERROR_CODE result = read(m_Scratch.data(), static_cast<int32_t>(bytes));
    if (result == ORU_SUCCESS)
        BgrToRgbPlanes(m_Scratch.data(), image, pixels);
    return result;
}

void OruCcd::completeExposure()
{
    InExposure = false;
    PrimaryCCD.setExposureLeft(0);
    ExposureComplete(&PrimaryCCD);
}

void OruCcd::exposureFailed(const char *why)
{
    if (m_Mode == ORU_MODE_NORMAL)
        ORUStopExposure(m_CameraId);
    else
        ORUStopVideoCapture(m_CameraId);
    if (!cameraAnswers()) {
        cameraVanished("The exposure");
        return;
    }
    if (m_ExposureAttempts < kExposureAttempts) {
        LOGF_WARN("The exposure failed (%s); taking it again.", why);
        if (startCameraExposure())
            return;
    } else {
        LOGF_ERROR("The exposure failed: %s.", why);
    }
    InExposure = false;
    PrimaryCCD.setExposureFailed();
}

bool OruCcd::AbortExposure()
{
    if (m_Mode == ORU_MODE_NORMAL)
        ORUStopExposure(m_CameraId);
    else
        ORUStopVideoCapture(m_CameraId);
    InExposure = false;
    return true;
}

bool OruCcd::StartStreaming()
{
    if (InExposure) {
        LOG_ERROR("Wait for the exposure to end before streaming.");
        return false;
    }
    if (m_Mode != ORU_MODE_NORMAL) {
        LOG_ERROR("Video streams in the free running trigger mode only.");
        return false;
    }
    const long us = std::lround(Streamer->getTargetExposure() * 1e6);
    ORU_ERROR_CODE result = ORUSetControlValue(m_CameraId, ORU_EXPOSURE, us, ORU_FALSE);
    if (result == ORU_SUCCESS)
        result = ORUStartVideoCapture(m_CameraId);
    if (result != ORU_SUCCESS) {
        if (!checkFailure(result, "Starting the video"))
            LOGF_ERROR("The camera did not start the video (error %d).", static_cast<int>(result));
        return false;
    }
    Streamer->setPixelFormat(streamPixelFormat(), m_ImageType == ORU_IMG_RAW16 ? 16 : 8);
    Streamer->setSize(static_cast<uint16_t>(m_Width), static_cast<uint16_t>(m_Height));
    const size_t bytes = static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height) *
                         static_cast<size_t>(BytesPerPixel(m_ImageType));
    const bool rgb = m_ImageType == ORU_IMG_RGB24;
    m_Reader = std::make_unique<VideoReader>(
        m_CameraId, bytes, std::chrono::microseconds(us), [this, rgb](uint8_t *frame, size_t size) {
            if (rgb)
                BgrToRgbInPlace(frame, size / 3);
            std::lock_guard<std::mutex> lock(ccdBufferLock);
            Streamer->newFrame(frame, static_cast<uint32_t>(size));
        });
    return true;
}

bool OruCcd::StopStreaming()
{
    m_Reader.reset();
    if (m_Open)
        ORUStopVideoCapture(m_CameraId);
    return true;
}

std::optional<long> OruCcd::controlValue(ORU_CONTROL_TYPE type)
{
    int32_t value = 0;
    ORU_BOOL isAuto = ORU_FALSE;
    if (ORUGetControlValue(m_CameraId, type, &value, &isAuto) != ORU_SUCCESS)
        return std::nullopt;
    return value;
}

#if INDI_VERSION_MAJOR >= 2
void OruCcd::addFITSKeywords(INDI::CCDChip *targetChip, std::vector<INDI::FITSRecord> &fitsKeywords)
{
    INDI::CCD::addFITSKeywords(targetChip, fitsKeywords);
    if (!dataIsMosaic())
        fitsKeywords.erase(std::remove_if(fitsKeywords.begin(), fitsKeywords.end(),
                                          [](const INDI::FITSRecord &record) {
                                              return record.key() == "BAYERPAT" ||
                                                     record.key() == "XBAYROFF" ||
                                                     record.key() == "YBAYROFF";
                                          }),
                           fitsKeywords.end());
    if (const std::optional<long> gain = controlValue(ORU_GAIN))
        fitsKeywords.push_back({"GAIN", static_cast<int64_t>(*gain), "Gain"});
    if (const std::optional<long> offset = controlValue(ORU_OFFSET))
        fitsKeywords.push_back({"OFFSET", static_cast<int64_t>(*offset), "Offset"});
    ORU_CAMERA_INFO info{};
    if (ORUGetCameraPropertyByID(m_CameraId, &info) == ORU_SUCCESS)
        fitsKeywords.push_back(
            {"EGAIN", static_cast<double>(info.elec_per_adu), 4, "Electrons per ADU"});
    if (HasCooler())
        if (const std::optional<long> target = controlValue(ORU_TARGET_TEMP))
            fitsKeywords.push_back(
                {"SET-TEMP", static_cast<double>(*target), 1, "Set-point of the cooler (C)"});
}
#else
void OruCcd::addFITSKeywords(INDI::CCDChip *targetChip)
{
    INDI::CCD::addFITSKeywords(targetChip);
    fitsfile *fptr = *targetChip->fitsFilePointer();
    int status = 0;
    if (!dataIsMosaic())
        for (const char *key : {"BAYERPAT", "XBAYROFF", "YBAYROFF"}) {
            fits_delete_key(fptr, key, &status);
            status = 0;
        }
    if (const std::optional<long> gain = controlValue(ORU_GAIN))
        fits_update_key_lng(fptr, "GAIN", *gain, "Gain", &status);
    if (const std::optional<long> offset = controlValue(ORU_OFFSET))
        fits_update_key_lng(fptr, "OFFSET", *offset, "Offset", &status);
    ORU_CAMERA_INFO info{};
    if (ORUGetCameraPropertyByID(m_CameraId, &info) == ORU_SUCCESS)
        fits_update_key_dbl(fptr, "EGAIN", info.elec_per_adu, 4, "Electrons per ADU", &status);
    if (HasCooler())
        if (const std::optional<long> target = controlValue(ORU_TARGET_TEMP))
            fits_update_key_dbl(fptr, "SET-TEMP", static_cast<double>(*target), 1,
                                "Set-point of the cooler (C)", &status);
    if (status != 0)
        LOGF_WARN("Some FITS keywords were not written (cfitsio status %d).", status);
}
#endif

} // namespace oru_indi
