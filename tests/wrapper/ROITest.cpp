#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wrapper/ROI.h"
#include "wrapper/ROIException.h"

namespace {

using tav_oru::CameraInfo;
using tav_oru::ImageType;
using tav_oru::ROI;
using tav_oru::ROIException;

ROI roi(int width, int height, int bins, ImageType type)
{
    ROI r;
    r.width = width;
    r.height = height;
    r.bins = bins;
    r.type = type;
    return r;
}

TEST(ROI, RulesAreCheckedInOrder)
{
    struct Case {
        ROI roi;
        std::string camera;
        bool is_usb3;
        std::string error; // empty: valid
    };
    // Every case also breaks the rules after the one it expects.
    const std::vector<Case> cases = {
        {roi(636, 481, 9, ImageType::rgb24), "ORU120", false,
         "ROI width%8 should be 0 (not the case for 636)"},
        {roi(640, 481, 9, ImageType::rgb24), "ORU120", false,
         "ROI height%2 should be 0 (not the case for 481)"},
        {roi(648, 2, 9, ImageType::rgb24), "ORU120", false,
         "for camera ORU120, ROI width*height%1024 should be 0 (not the case for 648/2)"},
        // The area rule is for the bare legacy USB2 designation on a USB2 camera only.
        {roi(648, 2, 9, ImageType::rgb24), "ORU120MM", false, "unsupported number of bin(s): 9"},
        {roi(648, 2, 9, ImageType::rgb24), "ORU12", false, "unsupported number of bin(s): 9"},
        {roi(648, 2, 9, ImageType::rgb24), "ORU120", true, "unsupported number of bin(s): 9"},
        {roi(640, 480, 1, ImageType::rgb24), "ORU120", false, "unsupported image type: rgb24"},
        {roi(640, 480, 2, ImageType::raw16), "ORU120", false, ""},
        {roi(8, 2, 1, ImageType::raw8), "ORU178MM", false, ""},
    };
    for (const Case &c : cases) {
        CameraInfo info;
        info.name = c.camera;
        info.is_usb3 = c.is_usb3;
        info.supported_bins = {1, 2};
        info.supported_image_types = {ImageType::raw8, ImageType::raw16};
        std::string error;
        try {
            c.roi.valid(info);
        } catch (const ROIException &e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error) << c.roi.width << "x" << c.roi.height << " on " << c.camera;
    }
}

TEST(ROI, DefaultIsEmptyY8)
{
    const ROI r;
    EXPECT_EQ(std::vector<int>({r.start_x, r.start_y, r.width, r.height, r.bins}),
              std::vector<int>(5, 0));
    EXPECT_EQ(r.type, ImageType::y8);
}

TEST(ROI, FrameSizeCountsBytesPerPixel)
{
    struct Case {
        ROI roi;
        int64_t bytes;
    };
    const std::vector<Case> cases = {
        {roi(640, 480, 1, ImageType::rgb24), 921600},
        {roi(640, 480, 1, ImageType::raw16), 614400},
        {roi(640, 480, 2, ImageType::raw8), 307200},
        {roi(640, 480, 1, ImageType::y8), 307200},
        {roi(640, 480, 1, static_cast<ImageType>(7)), 0},
        {roi(65536, 65536, 1, ImageType::raw16), 8589934592},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.roi.frame_size(), c.bytes) << c.roi.width << "x" << c.roi.height;
}

} // namespace
