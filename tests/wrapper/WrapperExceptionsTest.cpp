#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "wrapper/CameraException.h"
#include "wrapper/ControllableException.h"
#include "wrapper/ROIException.h"

namespace {

using tav_oru::CameraException;
using tav_oru::ControllableException;
using tav_oru::ImageType;
using tav_oru::ROIException;

TEST(WrapperExceptions, TextsAreComplete)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {CameraException("failed to set the ROI", 2, ORU_ERROR_INVALID_SIZE).what(),
         "ORU Camera: (camera index: 2) failed to set the ROI (error code: 8: "
         "ORU_ERROR_INVALID_SIZE)"},
        {CameraException("failed to open the camera", 0, ORU_ERROR_CAMERA_REMOVED).what(),
         "ORU Camera: (camera index: 0) failed to open the camera (error code: 5: "
         "ORU_ERROR_CAMERA_REMOVED)"},
        {CameraException("failed to close the camera", -1, ORU_SUCCESS).what(),
         "ORU Camera: (camera index: -1) failed to close the camera (error code: 0: )"},
        {CameraException("failed to set camera mode", 1, ORU_ERROR_INVALID_MODE).what(),
         "ORU Camera: (camera index: 1) failed to set camera mode (error code: 17: )"},
        {ControllableException("Gain", 700L, 0L, 600L).what(),
         "out of bound value for Gain: 700is not in the range 0; 600"},
        {ControllableException("Gain", -5L, -40L, 30L).what(),
         "out of bound value for Gain: -5is not in the range -40; 30"},
        {ControllableException("Focus", true, false, false).what(), "no such controllable: Focus"},
        {ControllableException("Temperature", false, true, false).what(),
         "failed to change the value of Temperature: not writable"},
        {ControllableException("Gamma", false, false, true).what(),
         "failed to change the value of Gamma: to auto-mode (not supported)"},
        {ROIException(642, 8, true).what(), "ROI width%8 should be 0 (not the case for 642)"},
        {ROIException(481, 2, false).what(), "ROI height%2 should be 0 (not the case for 481)"},
        {ROIException(648, 2, 1024, "ORU120").what(),
         "for camera ORU120, ROI width*height%1024 should be 0 (not the case for 648/2)"},
        {ROIException(3).what(), "unsupported number of bin(s): 3"},
        {ROIException(ImageType::rgb24).what(), "unsupported image type: rgb24"},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(text, expected);
}

TEST(WrapperExceptions, CodeNamesFollowTheCode)
{
    const std::vector<std::string> names = {
        "ORU_ERROR_INVALID_INDEX",
        "ORU_ERROR_ID",
        "ORU_ERROR_INVALID_CONTROL_TYPE",
        "ORU_ERROR_CAMERA_CLOSED",
        "ORU_ERROR_CAMERA_REMOVED",
        "ORU_ERROR_INVALID_PATH",
        "ORU_ERROR_INVALID_FILEFORMAT",
        "ORU_ERROR_INVALID_SIZE",
        "ORU_ERROR_INVALID_IMGTYPE",
        "ORU_ERROR_OUTOF_BOUNDARY",
        "ORU_ERROR_TIMEOUT",
        "ORU_ERROR_INVALID_SEQUENCE",
        "ORU_ERROR_BUFFER_TOO_SMALL",
        "ORU_ERROR_VIDEO_MODE_ACTIVE",
        "ORU_ERROR_EXPOSURE_IN_PROGRESS",
        "ORU_ERROR_GENERAL_ERROR",
    };
    for (int code = 1; code <= 16; ++code) {
        const CameraException error("m", 4, static_cast<ORU_ERROR_CODE>(code));
        EXPECT_EQ(error.what(), "ORU Camera: (camera index: 4) m (error code: " +
                                    std::to_string(code) + ": " + names[code - 1] + ")");
        EXPECT_EQ(error.code(), code);
        EXPECT_EQ(error.camera_index(), 4);
        EXPECT_EQ(tav_oru::error_code_name(error.code()), names[code - 1]);
    }
}

TEST(WrapperExceptions, EveryCodeHasANameThoughTextsNameOnlyTheFirstSixteen)
{
    EXPECT_EQ(tav_oru::error_code_name(ORU_ERROR_INVALID_MODE), "ORU_ERROR_INVALID_MODE");
    for (const int code : {0, 18, -1})
        EXPECT_EQ(tav_oru::error_code_name(static_cast<ORU_ERROR_CODE>(code)), "") << code;
}

} // namespace
