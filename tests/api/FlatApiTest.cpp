// The flat API's own rules, through the real path to a simulated ORU6200MC
// Pro: the common guard of every function, image-type and start-position
// translation, control-caps bounds, trigger-output pins, refused null
// pointers, and the user ID kept in the camera across a reopen.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "tests/FlatCalls.h"
#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"

using oru_sim::SimulatedCamera;

namespace {

constexpr uint8_t kReqWriteSensor = 0xB6;
constexpr uint8_t kReqGuideOn = 0xB0;

// A C caller may pass any number where the header declares an enumeration:
// in C++ every enumeration of the interface holds every 32-bit value.
template <typename Enum>
constexpr bool kHoldsInt32 = std::is_same_v<std::underlying_type_t<Enum>, int32_t>;
static_assert(kHoldsInt32<ORU_BOOL> && kHoldsInt32<ORU_ERROR_CODE> && kHoldsInt32<ORU_IMG_TYPE> &&
              kHoldsInt32<ORU_BAYER_PATTERN> && kHoldsInt32<ORU_GUIDE_DIRECTION> &&
              kHoldsInt32<ORU_FLIP_STATUS> && kHoldsInt32<ORU_CAMERA_MODE> &&
              kHoldsInt32<ORU_TRIG_OUTPUT> && kHoldsInt32<ORU_EXPOSURE_STATUS> &&
              kHoldsInt32<ORU_CONTROL_TYPE>);

// The enumeration value a C caller makes of a plain number.
template <typename Enum>
Enum FromC(int32_t number)
{
    Enum value;
    std::memcpy(&value, &number, sizeof value);
    return value;
}

class FlatApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim_ = &bus_.addCamera(oru_sim::ModelCatalog::find("ORU6200MC Pro"));
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    }
    void TearDown() override { ORUCloseCamera(0); }

    void OpenAndInit()
    {
        ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
        ASSERT_EQ(ORUInitCamera(0), ORU_SUCCESS);
        sim_->clearRequests();
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
};

} // namespace

TEST_F(FlatApiTest, EveryFunctionGuardsTheCameraId)
{
    for (const FlatCall &f : AllCameraFunctions()) {
        EXPECT_EQ(f.call(-1), ORU_ERROR_ID) << f.name;
        EXPECT_EQ(f.call(128), ORU_ERROR_ID) << f.name;
        EXPECT_EQ(f.call(1), ORU_ERROR_ID) << f.name << ": slot without a device";
        EXPECT_EQ(f.call(0), ORU_ERROR_CAMERA_CLOSED) << f.name << ": enumerated, not opened";
    }
    EXPECT_EQ(sim_->requests().size(), 0u) << "a refused call reached the camera";
}

TEST_F(FlatApiTest, ImageTypeOutsideTheListIsRefusedBeforeTheModel)
{
    OpenAndInit();
    for (int type : {4, -1}) {
        EXPECT_EQ(ORUSetROIFormat(0, 640, 480, 1, static_cast<ORU_IMG_TYPE>(type)),
                  ORU_ERROR_INVALID_IMGTYPE)
            << type;
    }
    EXPECT_TRUE(sim_->requests(kReqWriteSensor).empty());

    struct Case {
        ORU_IMG_TYPE type;
        int width, height, bin;
    };
    for (const Case c : {Case{ORU_IMG_RGB24, 320, 240, 2}, Case{ORU_IMG_RAW16, 640, 480, 1},
                         Case{ORU_IMG_Y8, 640, 480, 1}, Case{ORU_IMG_RAW8, 1024, 768, 4}}) {
        ASSERT_EQ(ORUSetROIFormat(0, c.width, c.height, c.bin, c.type), ORU_SUCCESS);
        int width = 0, height = 0, bin = 0;
        ORU_IMG_TYPE type = ORU_IMG_END;
        ASSERT_EQ(ORUGetROIFormat(0, &width, &height, &bin, &type), ORU_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_EQ(bin, c.bin);
    }
    EXPECT_EQ(ORUSetROIFormat(0, 6248, 4176, 2, ORU_IMG_RAW8), ORU_ERROR_INVALID_SIZE);
}

TEST_F(FlatApiTest, RefusedRoiKeepsTheFormatBefore)
{
    OpenAndInit();
    for (const auto &[before, refused] :
         {std::pair{ORU_IMG_RAW8, ORU_IMG_Y8}, std::pair{ORU_IMG_Y8, ORU_IMG_RAW8}}) {
        ASSERT_EQ(ORUSetROIFormat(0, 640, 480, 1, before), ORU_SUCCESS);
        EXPECT_EQ(ORUSetROIFormat(0, 6248, 4176, 2, refused), ORU_ERROR_INVALID_SIZE);
        int width = 0, height = 0, bin = 0;
        ORU_IMG_TYPE type = ORU_IMG_END;
        ASSERT_EQ(ORUGetROIFormat(0, &width, &height, &bin, &type), ORU_SUCCESS);
        EXPECT_EQ(type, before);
        EXPECT_EQ(width, 640);
        EXPECT_EQ(bin, 1);
    }
}

TEST_F(FlatApiTest, StartPositionIsGivenInBinnedPixels)
{
    OpenAndInit();
    ASSERT_EQ(ORUSetROIFormat(0, 640, 480, 2, ORU_IMG_RAW8), ORU_SUCCESS);
    ASSERT_EQ(ORUSetStartPos(0, 16, 20), ORU_SUCCESS);
    int x = -1, y = -1;
    ASSERT_EQ(ORUGetStartPos(0, &x, &y), ORU_SUCCESS);
    EXPECT_EQ(x, 16);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(sim_->sensorState().windowX, 32) << "the sensor is asked for 2 x the binned position";
    EXPECT_EQ(sim_->sensorState().windowY, 40);
}

TEST_F(FlatApiTest, ControlCapsIndexEqualToTheCountIsRefusedAndLeavesTheRecord)
{
    OpenAndInit();
    int count = 0;
    ASSERT_EQ(ORUGetNumOfControls(0, &count), ORU_SUCCESS);
    ASSERT_GT(count, 0);
    ORU_CONTROL_CAPS caps{};
    EXPECT_EQ(ORUGetControlCaps(0, count, &caps), ORU_ERROR_INVALID_CONTROL_TYPE);
    EXPECT_EQ(caps.name[0], '\0');
    EXPECT_EQ(ORUGetControlCaps(0, -1, &caps), ORU_ERROR_INVALID_CONTROL_TYPE);
    ASSERT_EQ(ORUGetControlCaps(0, count - 1, &caps), ORU_SUCCESS);
    EXPECT_STRNE(caps.name, "");
}

TEST_F(FlatApiTest, TriggerOutputPinsAreProgrammedAndAnUnknownPinIsRefused)
{
    OpenAndInit();
    EXPECT_EQ(ORUSetTriggerOutputIOConf(0, static_cast<ORU_TRIG_OUTPUT>(2), ORU_TRUE, 1, 1),
              ORU_ERROR_GENERAL_ERROR);
    ORU_BOOL high = ORU_FALSE;
    int32_t delay = 0, duration = 0;
    EXPECT_EQ(
        ORUGetTriggerOutputIOConf(0, static_cast<ORU_TRIG_OUTPUT>(2), &high, &delay, &duration),
        ORU_ERROR_GENERAL_ERROR);

    ASSERT_EQ(ORUSetTriggerOutputIOConf(0, ORU_TRIG_OUTPUT_PINB, ORU_FALSE, 0x01020304, 500),
              ORU_SUCCESS);
    EXPECT_EQ(sim_->fpgaRegister(41) & 0x22, 0x22) << "output B enabled, active low";
    EXPECT_EQ(sim_->fpgaRegister(56), 0x04);
    EXPECT_EQ(sim_->fpgaRegister(59), 0x01);
    EXPECT_EQ(sim_->fpgaRegister(60) | sim_->fpgaRegister(61) << 8, 500);

    ASSERT_EQ(ORUGetTriggerOutputIOConf(0, ORU_TRIG_OUTPUT_PINB, &high, &delay, &duration),
              ORU_SUCCESS);
    EXPECT_EQ(high, ORU_FALSE);
    EXPECT_EQ(delay, 0x01020304);
    EXPECT_EQ(duration, 500);
}

TEST_F(FlatApiTest, NumbersOutsideAnEnumerationAreRefused)
{
    OpenAndInit();
    for (int32_t mode : {7, -2, 1000}) {
        EXPECT_EQ(ORUSetCameraMode(0, FromC<ORU_CAMERA_MODE>(mode)), ORU_ERROR_INVALID_MODE)
            << mode;
    }
    int32_t value = 0;
    ORU_BOOL autoOn = ORU_FALSE;
    for (int32_t type : {22, -1, 1 << 20}) {
        EXPECT_EQ(ORUSetControlValue(0, FromC<ORU_CONTROL_TYPE>(type), 1, ORU_FALSE),
                  ORU_ERROR_INVALID_CONTROL_TYPE)
            << type;
        EXPECT_EQ(ORUGetControlValue(0, FromC<ORU_CONTROL_TYPE>(type), &value, &autoOn),
                  ORU_ERROR_INVALID_CONTROL_TYPE)
            << type;
    }
    EXPECT_EQ(ORUSetROIFormat(0, 640, 480, 1, FromC<ORU_IMG_TYPE>(1 << 30)),
              ORU_ERROR_INVALID_IMGTYPE);
    EXPECT_EQ(ORUSetTriggerOutputIOConf(0, FromC<ORU_TRIG_OUTPUT>(-7), FromC<ORU_BOOL>(5), 1, 1),
              ORU_ERROR_GENERAL_ERROR);
    // Guiding ignores a direction it does not know.
    EXPECT_EQ(ORUPulseGuideOn(0, FromC<ORU_GUIDE_DIRECTION>(4)), ORU_SUCCESS);
    EXPECT_EQ(ORUPulseGuideOff(0, FromC<ORU_GUIDE_DIRECTION>(-1)), ORU_SUCCESS);
    EXPECT_TRUE(sim_->requests(kReqGuideOn).empty());
    // Any boolean other than ORU_TRUE is false.
    ASSERT_EQ(ORUSetControlValue(0, ORU_GAIN, 150, FromC<ORU_BOOL>(2)), ORU_SUCCESS);
    ASSERT_EQ(ORUGetControlValue(0, ORU_GAIN, &value, &autoOn), ORU_SUCCESS);
    EXPECT_EQ(value, 150);
    EXPECT_EQ(autoOn, ORU_FALSE);
}

TEST_F(FlatApiTest, NullOutputPointersAreRefusedInsteadOfCrashing)
{
    OpenAndInit();
    EXPECT_EQ(ORUGetNumOfControls(0, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetControlCaps(0, 0, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetControlValue(0, ORU_GAIN, nullptr, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetROIFormat(0, nullptr, nullptr, nullptr, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetStartPos(0, nullptr, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetExpStatus(0, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetSerialNumber(0, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetCameraPropertyByID(0, nullptr), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetCameraProperty(nullptr, 0), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(ORUGetVideoData(0, nullptr, 1 << 30, 0), ORU_ERROR_GENERAL_ERROR);
}

TEST_F(FlatApiTest, UserIdSurvivesAReopen)
{
    OpenAndInit();
    const ORU_ID written{{'g', 'u', 'i', 'd', 'e', 'r', '-', '2'}};
    ASSERT_EQ(ORUSetID(0, written), ORU_SUCCESS);
    ASSERT_EQ(ORUCloseCamera(0), ORU_SUCCESS);

    OpenAndInit();
    ORU_ID read{};
    ASSERT_EQ(ORUGetID(0, &read), ORU_SUCCESS);
    EXPECT_EQ(std::memcmp(read.id, written.id, sizeof read.id), 0);
}

TEST(FlatApiWithoutCamera, SdkVersionNeedsNoCamera)
{
    EXPECT_STREQ(ORUGetSDKVersion(), ORU_SDK_VERSION);
}
