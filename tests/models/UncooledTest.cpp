// The ORU462MC model driven through the real libusb against its named
// simulated camera: initialisation without the DDR, the older register map
// as decoded by the simulated sensor, the three sensor clocks, and the ROI.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "tests/TempHome.h"
#include "models/CCameraUncooledColor.h"
#include "models/UncooledRegisterTables.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"
#include "sim/UncooledSensor.h"

using oru_sim::ControlRequest;
using oru_sim::SimulatedCamera;
using oru_sim::UncooledSensor;
using oru_sim::UncooledState;

namespace {

constexpr uint8_t kWriteSensorRequest = 0xB6;
constexpr uint8_t kWriteFpgaRequest = 0xBD;
constexpr uint16_t kRegClock = 0x3009;

// The model, its settings open to a test that sets a flag directly.
class UncooledCamera : public CCameraUncooledColor {
public:
    CameraSettings &EditableSettings() { return *this; }
};

// A camera of the model on its named simulated camera, constructed and
// initialised directly.
class UncooledTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim_ = &bus_.addCamera(oru_sim::ModelCatalog::find("ORU462MC"));
        camera_ = std::make_unique<UncooledCamera>();
        ASSERT_TRUE(camera_->OpenCamera(1));
        ASSERT_TRUE(camera_->InitCamera());
    }
    UncooledState Decoded() const { return UncooledSensor::decode(*sim_); }
    uint32_t FpgaHMAX() const { return sim_->fpgaValue(19, 2); }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
    std::unique_ptr<UncooledCamera> camera_;
};

} // namespace

TEST(UncooledTables, NamedRowsAndNoDriverRegisters)
{
    const uint16_t named[4][2] = {
        {0x3000, 0x01}, {0x3002, 0x01}, {kRegisterPause, 10}, {0x3007, 0x40}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(kUncooledInitTable[i][0], named[i][0]) << "row " << i;
        EXPECT_EQ(kUncooledInitTable[i][1], named[i][1]) << "row " << i;
    }
    // A row touching one of these would undo a setting whenever the table is
    // played again.
    const std::set<uint16_t> driverOwned = {0x3000, 0x3002, 0x3005, 0x3009, 0x300A, 0x300B,
                                            0x3014, 0x3020, 0x3021, 0x3022, 0x303C, 0x303D,
                                            0x303E, 0x303F, 0x3040, 0x3041, 0x3042, 0x3043};
    for (int i = 2; i < kUncooledInitRows; ++i) {
        EXPECT_EQ(driverOwned.count(kUncooledInitTable[i][0]), 0u) << "row " << i;
        EXPECT_TRUE(kUncooledInitTable[i][0] >= 0x3000 ||
                    kUncooledInitTable[i][0] == kRegisterPause)
            << "row " << i;
    }
}

TEST_F(UncooledTest, InitLeavesTheDdrUnusedAndTheSensorStopped)
{
    int selfTests = 0;
    int lastBlueGain = -1;
    int outputSetup = -1;
    const std::vector<ControlRequest> writes = sim_->requests(kWriteFpgaRequest);
    for (int i = 0; i < static_cast<int>(writes.size()); ++i) {
        const auto &setup = writes[i].setup;
        selfTests += setup.value == 24 && setup.index == 0x80;
        if (setup.value == 15 && setup.index == 95 * 256 / 100)
            lastBlueGain = i;
        if (setup.value == 26 && setup.index == 4)
            outputSetup = i;
    }
    EXPECT_EQ(selfTests, 0) << "no DDR self-test";
    EXPECT_NE(sim_->fpgaRegister(10) & 0x40, 0) << "DDR bypassed";
    ASSERT_GE(outputSetup, 0);
    EXPECT_GT(outputSetup, lastBlueGain) << "register 26 follows the colour gains";
    EXPECT_EQ(camera_->Settings().m_iTransferTimeUs, 0u);

    const UncooledState state = Decoded();
    EXPECT_FALSE(state.sensor.awake);
    EXPECT_NE(sim_->fpgaRegister(0) & 0x10, 0) << "FPGA stopped";
    EXPECT_EQ(state.sensor.gainTenthDb, 198) << "200 in 0.3 dB steps above the 6 dB switch";
    EXPECT_TRUE(state.highConversionGain);
}

TEST_F(UncooledTest, ThreeSensorClocksSelectRegisterAndShortestLine)
{
    struct Case {
        const char *name;
        bool hardwareBin;
        int bin;
        bool highSpeed;
        IMAGE_TYPE type;
        int clockKHz;
        uint8_t select;
        int minHMAX;
    };
    const Case cases[] = {
        {"normal 8-bit", false, 1, false, IMAGE_TYPE_8BIT, 18562, 0x01, 261},
        {"high speed 8-bit", false, 1, true, IMAGE_TYPE_8BIT, 37124, 0x00, 245},
        {"high speed 16-bit", false, 1, true, IMAGE_TYPE_RAW16, 18562, 0x01, 261},
        {"hardware bin 2", true, 2, false, IMAGE_TYPE_8BIT, 9281, 0x02, 145},
        {"hardware bin flag at bin 1", true, 1, true, IMAGE_TYPE_8BIT, 37124, 0x00, 245},
    };
    camera_->SetFPSPerc(100, false);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camera_->EditableSettings().m_bHardwareBin = c.hardwareBin;
        camera_->SetHighSpeedMode(c.highSpeed);
        ASSERT_TRUE(camera_->SetResolution(640, 480, c.bin, c.type));
        for (int gain : {80, 81}) {
            camera_->SetGain(gain, false);
            EXPECT_EQ(sim_->sensorRegister(kRegClock), c.select | (gain > 80 ? 0x10 : 0)) << gain;
        }
        EXPECT_EQ(camera_->Settings().m_iCMOSClk, c.clockKHz);
        EXPECT_EQ(CCameraUncooledColor::s_ModeTiming.iMinHMAX, c.minHMAX);
        // A small window at full bandwidth runs at the shortest line.
        EXPECT_EQ(FpgaHMAX(), static_cast<uint32_t>(c.minHMAX));
        const UncooledState state = Decoded();
        EXPECT_EQ(state.clockKHz, c.clockKHz);
        EXPECT_EQ(state.highSpeed, c.clockKHz == 37124);
    }

    const uint8_t select = sim_->sensorRegister(kRegClock);
    ASSERT_TRUE(camera_->SetCMOSClk(12345));
    EXPECT_EQ(CCameraUncooledColor::s_ModeTiming.iMinHMAX, 203);
    EXPECT_EQ(sim_->sensorRegister(kRegClock), select) << "no select value for another clock";
}

TEST_F(UncooledTest, ExposureGainAndOffsetReachTheSensorInItsOwnUnits)
{
    struct Case {
        uint64_t exposureUs;
        int gain;
        int offset;
    };
    ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_TYPE_8BIT));
    for (const Case c :
         {Case{32, 0, 0}, Case{5000, 80, 37}, Case{20000, 81, 240}, Case{300000, 600, 1}}) {
        SCOPED_TRACE(c.exposureUs);
        camera_->SetExp(c.exposureUs, false);
        camera_->SetGain(c.gain, false);
        camera_->SetBrightness(c.offset);
        const UncooledState state = Decoded();
        EXPECT_EQ(state.sensor.blackLevel, c.offset);
        // Within one line when it fits in a frame, two past it (SHS 1).
        EXPECT_NEAR(state.sensor.exposureUs, static_cast<double>(c.exposureUs),
                    2 * state.lineTimeUs);
        EXPECT_NEAR(state.sensor.gainTenthDb, c.gain, 2);
        EXPECT_FALSE(camera_->Settings().m_bLongExpMode);
    }
    camera_->SetExp(1000000, false);
    EXPECT_TRUE(camera_->Settings().m_bLongExpMode);
    EXPECT_EQ(sim_->fpgaRegister(0) & 0xC0, 0xC0) << "trigger and wait mode";
}

TEST_F(UncooledTest, RoiChecksAndStartPositionOnTheSensorWindow)
{
    struct Case {
        int width, height, bin;
        bool accepted;
    };
    const Case cases[] = {
        {1936, 1096, 1, true},
        {968, 548, 2, true},
        {640, 480, 3, false},
        {1936, 1096, 2, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(camera_->SetResolution(c.width, c.height, c.bin, IMAGE_TYPE_8BIT), c.accepted)
            << c.width << "x" << c.height << " bin " << c.bin;

    ASSERT_TRUE(camera_->SetResolution(320, 240, 2, IMAGE_TYPE_8BIT));
    EXPECT_EQ(camera_->Settings().m_iStartX, (1936 - 640) / 2);
    EXPECT_EQ(camera_->Settings().m_iStartY, (1096 - 480) / 2);
    ASSERT_TRUE(camera_->SetStartPos(203, 101));
    UncooledState state = Decoded();
    EXPECT_EQ(state.sensor.windowX, 200);
    EXPECT_EQ(state.sensor.windowY, 100);
    EXPECT_EQ(state.sensor.windowWidth, 640) << "the sensor reads out unbinned";
    EXPECT_EQ(state.sensor.windowHeight, 480);
    ASSERT_TRUE(camera_->SetStartPos(5000, -3));
    state = Decoded();
    EXPECT_EQ(state.sensor.windowX, 1936 - 640);
    EXPECT_EQ(state.sensor.windowY, 0);
}

TEST_F(UncooledTest, SetHardwareBinAcceptsAndChangesNothing)
{
    sim_->clearRequests();
    EXPECT_TRUE(camera_->SetHardwareBin(true));
    EXPECT_FALSE(camera_->Settings().m_bHardwareBin);
    EXPECT_TRUE(sim_->requests().empty());
}
