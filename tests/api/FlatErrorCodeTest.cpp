// Where the USB failure under a flat call becomes the call's error code.
#include <gtest/gtest.h>
#include <libusb.h>

#include "api/CameraRegistry.h"
#include "transport/OruStatus.h"

namespace {

TEST(FlatErrorCode, MapsTheUsbFailureOfAFailedCall)
{
    struct Case {
        const char *name;
        ORU_ERROR_CODE result;
        int libusbCode;
        bool removed;
        ORU_ERROR_CODE expected;
    };
    const Case cases[] = {
        {"success", ORU_SUCCESS, LIBUSB_SUCCESS, false, ORU_SUCCESS},
        {"success after a passed-over time-out", ORU_SUCCESS, LIBUSB_ERROR_TIMEOUT, false,
         ORU_SUCCESS},
        {"time-out", ORU_ERROR_GENERAL_ERROR, LIBUSB_ERROR_TIMEOUT, false, ORU_ERROR_TIMEOUT},
        {"device gone", ORU_ERROR_GENERAL_ERROR, LIBUSB_ERROR_NO_DEVICE, false,
         ORU_ERROR_CAMERA_REMOVED},
        {"stall", ORU_ERROR_GENERAL_ERROR, LIBUSB_ERROR_PIPE, false, ORU_ERROR_GENERAL_ERROR},
        {"I/O error", ORU_ERROR_INVALID_SEQUENCE, LIBUSB_ERROR_IO, false,
         ORU_ERROR_INVALID_SEQUENCE},
        {"no USB failure", ORU_ERROR_INVALID_CONTROL_TYPE, LIBUSB_SUCCESS, false,
         ORU_ERROR_INVALID_CONTROL_TYPE},
        {"pulled out, body succeeded", ORU_SUCCESS, LIBUSB_SUCCESS, true, ORU_ERROR_CAMERA_REMOVED},
        {"pulled out during a time-out", ORU_ERROR_TIMEOUT, LIBUSB_ERROR_TIMEOUT, true,
         ORU_ERROR_CAMERA_REMOVED},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FlatErrorCode(c.result, OruStatus::FromLibusb(c.libusbCode), c.removed),
                  c.expected)
            << c.name;
}

TEST(OruStatus, KeepsLibusbsCodeAndTheFirstFailureOfASequence)
{
    EXPECT_TRUE(OruStatus::FromLibusb(2).IsOk());
    const OruStatus timeout = OruStatus::FromLibusb(LIBUSB_ERROR_TIMEOUT);
    EXPECT_FALSE(timeout);
    EXPECT_EQ(timeout.Code(), ORU_ERROR_GENERAL_ERROR);
    EXPECT_STREQ(timeout.Text(), "LIBUSB_ERROR_TIMEOUT");

    OruStatus sequence = OruStatus::Ok();
    sequence &= OruStatus::FromLibusb(0);
    sequence &= OruStatus::FromLibusb(LIBUSB_ERROR_PIPE);
    sequence &= timeout;
    EXPECT_EQ(sequence.LibusbCode(), LIBUSB_ERROR_PIPE);

    const OruStatus closed = OruStatus::Error(ORU_ERROR_CAMERA_CLOSED);
    EXPECT_EQ(closed.Code(), ORU_ERROR_CAMERA_CLOSED);
    EXPECT_EQ(closed.LibusbCode(), LIBUSB_SUCCESS);
}

} // namespace
