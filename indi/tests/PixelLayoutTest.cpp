#include <gtest/gtest.h>

#include <vector>

#include "PixelLayout.h"

using namespace oru_indi;

TEST(PixelLayout, BayerPatternFollowsTheFlip)
{
    struct Case {
        ORU_BAYER_PATTERN pattern;
        bool horizontal;
        bool vertical;
        const char *name;
    };
    const Case cases[] = {
        {ORU_BAYER_RG, false, false, "RGGB"}, {ORU_BAYER_RG, true, false, "GRBG"},
        {ORU_BAYER_RG, false, true, "GBRG"},  {ORU_BAYER_RG, true, true, "BGGR"},
        {ORU_BAYER_BG, false, false, "BGGR"}, {ORU_BAYER_BG, true, true, "RGGB"},
        {ORU_BAYER_GR, false, false, "GRBG"}, {ORU_BAYER_GR, true, false, "RGGB"},
        {ORU_BAYER_GB, false, false, "GBRG"}, {ORU_BAYER_GB, false, true, "RGGB"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BayerPatternName(c.pattern, c.horizontal, c.vertical), c.name)
            << c.pattern << " " << c.horizontal << c.vertical;
}

TEST(PixelLayout, ColourPixelsBecomeRedGreenBluePlanes)
{
    const std::vector<uint8_t> bgr = {1, 2, 3, 11, 12, 13};
    std::vector<uint8_t> planes(6);
    BgrToRgbPlanes(bgr.data(), planes.data(), 2);
    EXPECT_EQ(planes, (std::vector<uint8_t>{3, 13, 2, 12, 1, 11}));

    std::vector<uint8_t> stream = bgr;
    BgrToRgbInPlace(stream.data(), 2);
    EXPECT_EQ(stream, (std::vector<uint8_t>{3, 2, 1, 13, 12, 11}));
}
