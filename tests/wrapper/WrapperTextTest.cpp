#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "wrapper/Enums.h"
#include "wrapper/Formatting.h"

namespace {

using namespace tav_oru;

TEST(WrapperText, EnumerationNames)
{
    const std::vector<std::pair<ImageType, std::string>> types = {
        {ImageType::raw8, "raw8"},       {ImageType::rgb24, "rgb24"},
        {ImageType::raw16, "raw16"},     {ImageType::y8, "y8"},
        {static_cast<ImageType>(4), ""}, {static_cast<ImageType>(-1), ""},
    };
    for (const auto &[type, name] : types)
        EXPECT_EQ(to_string(type), name);

    const std::vector<std::pair<BayerPattern, std::string>> patterns = {
        {BayerPattern::None, "None"},
        {BayerPattern::RG, "RG"},
        {BayerPattern::BG, "BG"},
        {BayerPattern::GR, "GR"},
        {BayerPattern::GB, "GB"},
        {static_cast<BayerPattern>(5), ""},
        {static_cast<BayerPattern>(-1), ""},
    };
    for (const auto &[pattern, name] : patterns)
        EXPECT_EQ(to_string(pattern), name);
}

TEST(WrapperText, NativeValuesKeepTheirNumbers)
{
    EXPECT_EQ(get_native(ImageType::raw16), ORU_IMG_RAW16);
    EXPECT_EQ(get_native(ImageType::y8), ORU_IMG_Y8);
    EXPECT_EQ(get_native(CameraMode::soft_edge), ORU_MODE_TRIG_SOFT_EDGE);
    EXPECT_EQ(get_native(CameraMode::low_level), ORU_MODE_TRIG_LOW_LEVEL);
    EXPECT_EQ(get_native(GuideDirection::NORTH), ORU_GUIDE_NORTH);
    EXPECT_EQ(get_native(GuideDirection::WEST), ORU_GUIDE_WEST);
}

TEST(WrapperText, FixLengthPadsButNeverCuts)
{
    struct Case {
        std::string text;
        int n;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"abc", 2, "abc"}, {"abc", 3, "abc"}, {"abc", 5, "abc  "}, {"", -1, ""}, {"", 2, "  "},
    };
    for (Case c : cases) {
        internal::fix_length(c.text, c.n);
        EXPECT_EQ(c.text, c.expected) << c.n;
    }

    std::vector<std::string> texts = {"a", "abcd", ""};
    EXPECT_EQ(internal::max_size(texts), 4);
    EXPECT_EQ(internal::max_size({}), 0);
    internal::fix_lengths(texts, 3);
    EXPECT_EQ(texts, (std::vector<std::string>{"a  ", "abcd", "   "}));
}

TEST(WrapperText, BoolCells)
{
    struct Case {
        bool b;
        int n;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {true, 11, "|*" + std::string(10, ' ')},
        {false, 14, "| " + std::string(13, ' ')},
        {true, 3, "|*  "},
        {true, 2, "|*"},
        {false, -1, "| "},
    };
    for (const Case &c : cases) {
        std::ostringstream out;
        internal::append_bool(out, c.b, c.n);
        EXPECT_EQ(out.str(), c.expected) << c.b << " " << c.n;
    }
}

Controllable control(const std::string &name, int32_t value, int32_t min, int32_t max,
                     bool supports_auto, bool is_auto, bool is_writable)
{
    Controllable c;
    c.name = name;
    c.value = value;
    c.min_value = min;
    c.max_value = max;
    c.supports_auto = supports_auto;
    c.is_auto = is_auto;
    c.is_writable = is_writable;
    return c;
}

TEST(WrapperText, CameraTextLinesUpTheControlTable)
{
    CameraInfo info;
    info.name = "ORU178MC";
    const std::vector<Controllable> controls = {
        control("Exposure", 10000, 32, 2000000000, true, false, true),
        control("Gain", 0, 0, 600, true, true, true),
        control("Temperature", 215, -500, 1000, false, false, false),
    };
    const std::string expected =
        "\n(oru sdk: 1, 26, 0, 0)\n" + info.to_string() + "\n" +
        " controllable    value   |min value |max value    |auto-mode  |in auto-mode  |writable\n"
        "--\n"
        " Exposure        10000   |32        |2000000000   |*          |              |*\n"
        " Gain            0       |0         |600          |*          |*             |*\n"
        " Temperature     215     |-500      |1000         |           |              | \n";
    EXPECT_EQ(internal::camera_to_string("1, 26, 0, 0", info, controls), expected);
}

TEST(WrapperText, LongValuesWidenTheirColumn)
{
    // A header word longer than its column keeps its length.
    const std::vector<Controllable> controls = {
        control("Flip", -2147483647, 0, 3, false, false, true)};
    const std::string text = internal::camera_to_string("v", CameraInfo{}, controls);
    const std::string table = text.substr(text.find(" controllable"));
    EXPECT_EQ(
        table,
        " controllable value         |min value |max value |auto-mode  |in auto-mode  |writable\n"
        "--\n"
        " Flip     -2147483647   |0      |3   |           |              |*\n");
}

} // namespace
