#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "wrapper/CameraInfo.h"

namespace {

using tav_oru::BayerPattern;
using tav_oru::CameraInfo;
using tav_oru::ImageType;

ORU_CAMERA_INFO colour_record()
{
    ORU_CAMERA_INFO record{};
    strcpy(record.name, "ORU1600MC Pro");
    record.camera_id = 3;
    record.max_height = 3520;
    record.max_width = 4656;
    record.is_color = ORU_TRUE;
    record.bayer = ORU_BAYER_GR;
    const int32_t bins[] = {2, 1, 2, 0, 4};
    memcpy(record.supported_bins, bins, sizeof bins);
    const ORU_IMG_TYPE types[] = {ORU_IMG_Y8, static_cast<ORU_IMG_TYPE>(7), ORU_IMG_RAW8,
                                  ORU_IMG_END, ORU_IMG_RGB24};
    memcpy(record.supported_image_types, types, sizeof types);
    record.pixel_size_um = 3.8;
    record.mechanical_shutter = static_cast<ORU_BOOL>(2);
    record.st4_port = ORU_TRUE;
    record.has_cooler = static_cast<ORU_BOOL>(2);
    record.is_usb3_host = ORU_FALSE;
    record.is_usb3 = ORU_TRUE;
    record.elec_per_adu = 1.5F;
    record.bit_depth = 12;
    record.is_trigger = ORU_TRUE;
    return record;
}

TEST(CameraInfo, ConvertsTheFlatRecord)
{
    const CameraInfo info = CameraInfo::from_native(colour_record());
    EXPECT_EQ(info.name, "ORU1600MC Pro");
    EXPECT_EQ(info.camera_id, 3);
    EXPECT_EQ(info.max_height, 3520);
    EXPECT_EQ(info.max_width, 4656);
    EXPECT_TRUE(info.is_color);
    EXPECT_EQ(info.bayer, BayerPattern::GR);
    // Lists end at their terminator; sets collapse duplicates and skip unknown types.
    EXPECT_EQ(info.supported_bins, (std::set<int>{1, 2}));
    EXPECT_EQ(info.supported_image_types, (std::set<ImageType>{ImageType::raw8, ImageType::y8}));
    EXPECT_DOUBLE_EQ(info.pixel_size_um, 3.8);
    // Only the shutter flag takes any non-zero value as true.
    EXPECT_TRUE(info.mechanical_shutter);
    EXPECT_FALSE(info.has_cooler);
    EXPECT_TRUE(info.st4_port);
    EXPECT_FALSE(info.is_usb3_host);
    EXPECT_TRUE(info.is_usb3);
    EXPECT_FLOAT_EQ(info.elec_per_adu, 1.5F);
    EXPECT_EQ(info.bit_depth, 12);
    EXPECT_TRUE(info.is_trigger);
}

TEST(CameraInfo, BayerIsTheFlatValuePlusOne)
{
    const std::vector<std::pair<int, BayerPattern>> cases = {
        {0, BayerPattern::RG}, {1, BayerPattern::BG},   {2, BayerPattern::GR},
        {3, BayerPattern::GB}, {4, BayerPattern::None}, {-1, BayerPattern::None},
    };
    for (const auto &[flat, expected] : cases) {
        ORU_CAMERA_INFO record{};
        record.bayer = static_cast<ORU_BAYER_PATTERN>(flat);
        EXPECT_EQ(CameraInfo::from_native(record).bayer, expected) << flat;
    }
}

TEST(CameraInfo, FullFieldsHaveNoTerminator)
{
    ORU_CAMERA_INFO record{};
    memset(record.name, 'A', sizeof record.name);
    for (int i = 0; i < 16; ++i)
        record.supported_bins[i] = i + 1;
    const CameraInfo info = CameraInfo::from_native(record);
    EXPECT_EQ(info.name, std::string(64, 'A'));
    EXPECT_EQ(info.supported_bins.size(), 16U);
    EXPECT_EQ(*info.supported_bins.rbegin(), 16);
}

TEST(CameraInfo, TextLayout)
{
    CameraInfo info;
    info.name = "ORU1600MM Pro";
    info.camera_id = 3;
    info.max_height = 3520;
    info.max_width = 4656;
    info.is_color = true;
    info.bayer = BayerPattern::RG;
    info.supported_bins = {4, 1, 2};
    info.supported_image_types = {ImageType::y8, ImageType::raw8, ImageType::rgb24};
    info.pixel_size_um = 3.76;
    info.st4_port = true;
    info.has_cooler = true;
    info.is_usb3 = true;
    info.elec_per_adu = 0.25F;
    info.bit_depth = 12;
    EXPECT_EQ(info.to_string(), "ORU1600MM Pro (id: 3)\n"
                                "max heigth: (3520) | max width: (4656) |\n"
                                "colored: * | mechanical shuttger: - | st4 port: * | \n"
                                "has cooler: * | is usb3 host: - | is usb3: * | \n"
                                "is triggered camera: - | bayer pattern: RG\n"
                                "supported bins: 1 2 4 \n"
                                "supported image types: raw8 rgb24 y8 \n"
                                "pixel size (um): 3.76 | elec per ADU: 0.25 | bit depth: 12\n");
}

} // namespace
