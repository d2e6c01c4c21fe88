// The ORU6200MC Pro model driven through the real libusb against a simulated
// camera: construction and initialisation, ROI and sensor modes, exposure,
// gain, bandwidth and frame timing, as register state of the simulated device.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "models/CCameraProColor.h"
#include "models/ProColorRegisterTables.h"
#include "sim/SimulatedBus.h"

using oru_sim::CameraConfig;
using oru_sim::ControlRequest;
using oru_sim::SimulatedCamera;

namespace {

constexpr uint16_t kProductId = 0x1001;
constexpr uint8_t kWriteSensorRequest = 0xB6;
constexpr uint8_t kWriteFpgaRequest = 0xBD;

// Register state of one simulated camera.
struct Device {
    const SimulatedCamera &sim;

    // Little-endian value of `count` consecutive FPGA registers.
    uint32_t Fpga(uint8_t first, int count = 2) const
    {
        uint32_t value = 0;
        for (int i = count - 1; i >= 0; --i)
            value = value << 8 | sim.fpgaRegister(static_cast<uint8_t>(first + i));
        return value;
    }
    bool FpgaBit(uint8_t reg, int bit) const { return (sim.fpgaRegister(reg) >> bit & 1) != 0; }
    int Sensor(uint16_t address) const { return sim.sensorRegister(address); }
    int Sensor16(uint16_t low) const { return Sensor(low) | Sensor(low + 1) << 8; }

    // Sensor and FPGA register writes since the log was last cleared.
    std::vector<ControlRequest> Writes() const
    {
        std::vector<ControlRequest> writes = sim.requests(kWriteSensorRequest);
        for (const ControlRequest &request : sim.requests(kWriteFpgaRequest))
            writes.push_back(request);
        return writes;
    }
    int SensorWritesOf(uint16_t address, uint8_t value) const
    {
        int count = 0;
        for (const ControlRequest &request : sim.requests(kWriteSensorRequest))
            count += request.setup.value == address && request.setup.index == value;
        return count;
    }
};

// A camera of the model, constructed and initialised directly.
class ProColorTest : public ::testing::Test {
protected:
    void Start(CameraConfig config = CameraConfig::usb3Camera(kProductId))
    {
        sim_ = &bus_.addCamera(config);
        camera_ = std::make_unique<CCameraProColor>();
        ASSERT_TRUE(camera_->OpenCamera(1));
        ASSERT_TRUE(camera_->InitCamera());
        sim_->clearRequests();
    }
    Device Dev() const { return Device{*sim_}; }
    void ExpectStart(int x, int y)
    {
        EXPECT_EQ(camera_->Settings().m_iStartX, x);
        EXPECT_EQ(camera_->Settings().m_iStartY, y);
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
    std::unique_ptr<CCameraProColor> camera_;
};

// Cameras opened through the flat API; every ID is closed before the bus goes.
class ProColorRegistryTest : public ::testing::Test {
protected:
    ~ProColorRegistryTest() override
    {
        for (int id = 0; id < 4; ++id)
            ORUCloseCamera(id);
    }
    int CameraId(int index)
    {
        ORU_CAMERA_INFO info{};
        EXPECT_EQ(ORUGetCameraProperty(&info, index), ORU_SUCCESS);
        return info.camera_id;
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
};

TEST(ProColorTables, NamedRowsAndSharedModeAddresses)
{
    const uint16_t initStart[4][2] = {
        {0x1EE, 0x01}, {0x000, 0x04}, {kRegisterPause, 10}, {0x003, 0x10}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(kProColorInitTable[i][0], initStart[i][0]) << "row " << i;
        EXPECT_EQ(kProColorInitTable[i][1], initStart[i][1]) << "row " << i;
    }

    struct Named {
        const ProColorSensorMode *mode;
        uint16_t driveMode, reg002, reg02A;
    };
    const Named named[] = {
        {&kProColorAllPixelNormal, 0x00, 0x80, 0x0A},
        {&kProColorAllPixelHighSpeed, 0x00, 0x54, 0x0A},
        {&kProColorHardwareBin3, 0x07, 0x54, 0x04},
        {&kProColorHardwareBin24, 0x05, 0x54, 0x04},
    };
    // The driver programs these itself; a table row touching one would undo
    // a setting whenever a mode is replayed.
    const std::set<uint16_t> driverOwned = {
        0x000, 0x007, 0x008, 0x009, 0x00A, 0x00B, 0x018, 0x019, 0x02F, 0x030, 0x031, 0x032, 0x033,
        0x040, 0x042, 0x043, 0x044, 0x045, 0x0A7, 0x0A8, 0x0A9, 0x1D8, 0x1DD, 0x1DE, 0x1EE};
    for (int i = 4; i < kProColorInitRows; ++i)
        EXPECT_EQ(driverOwned.count(kProColorInitTable[i][0]), 0u) << "init row " << i;
    for (const Named &n : named) {
        const uint16_t(*table)[2] = n.mode->pTable;
        EXPECT_EQ(table[0][0], 0x001);
        EXPECT_EQ(table[0][1], n.driveMode);
        EXPECT_EQ(table[1][0], 0x002);
        EXPECT_EQ(table[1][1], n.reg002);
        EXPECT_EQ(table[2][0], 0x02A);
        EXPECT_EQ(table[2][1], n.reg02A);
        EXPECT_EQ(table[3][0], 0x069);
        EXPECT_EQ(table[kProColorModeRows - 1][0], 0xA37);
        for (int i = 0; i < kProColorModeRows; ++i) {
            EXPECT_EQ(table[i][0], kProColorAllPixelNormal.pTable[i][0]) << "row " << i;
            EXPECT_EQ(driverOwned.count(table[i][0]), 0u) << "row " << i;
        }
    }
}

TEST_F(ProColorRegistryTest, OpensAndInitialisesThroughTheFlatApi)
{
    SimulatedCamera &sim = bus_.addCamera(CameraConfig::usb3Camera(kProductId));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    ORU_CAMERA_INFO info{};
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    EXPECT_STREQ(info.name, "TAV ORU6200MC Pro");
    EXPECT_EQ(info.max_width, 6248);
    EXPECT_EQ(info.max_height, 4176);
    EXPECT_EQ(info.is_color, ORU_TRUE);
    EXPECT_EQ(info.bit_depth, 16);
    const int bins[] = {1, 2, 3, 4, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(info.supported_bins[i], bins[i]) << "bin entry " << i;

    const int id = info.camera_id;
    ASSERT_EQ(ORUOpenCamera(id), ORU_SUCCESS);
    ASSERT_EQ(ORUInitCamera(id), ORU_SUCCESS);

    const Device dev{sim};
    // Full-frame RAW8 window in sensor and FPGA.
    EXPECT_EQ(dev.Fpga(4), 6248u);
    EXPECT_EQ(dev.Fpga(8), 4176u);
    EXPECT_EQ(dev.Sensor16(0x00A), 4176);
    EXPECT_EQ(dev.Sensor(0x1DD) | dev.Sensor(0x1DE) << 8, 6248 + 24);
    EXPECT_EQ(dev.Sensor16(0x008), 25);
    // Timing: DDR on, so the mode's shortest line; 10 ms fits in one frame.
    EXPECT_FALSE(dev.FpgaBit(10, 6));
    EXPECT_EQ(dev.Fpga(19), 1350u);
    EXPECT_EQ(dev.Fpga(16, 3), 4224u);
    // Gain 200 and white balance 52 / 95.
    EXPECT_EQ(dev.Sensor16(0x030), 2800);
    EXPECT_EQ(dev.Sensor(0x02F), 1);
    EXPECT_EQ(dev.Fpga(12, 4), 133u | 128u << 8 | 128u << 16 | 243u << 24);
    // Sensor and FPGA left stopped, the FPGA as timing master.
    EXPECT_EQ(dev.Sensor(0x1EE), 5);
    EXPECT_EQ(dev.Sensor(0x000) & 1, 1);
    EXPECT_TRUE(dev.FpgaBit(0, 4));
    EXPECT_TRUE(dev.FpgaBit(0, 5));
    EXPECT_EQ(ORUCloseCamera(id), ORU_SUCCESS);
}

TEST_F(ProColorRegistryTest, InitStopsWhenTheDdrSelfTestFails)
{
    CameraConfig config = CameraConfig::usb3Camera(kProductId);
    config.ddr = oru_sim::DdrBehaviour::NeverReady;
    SimulatedCamera &sim = bus_.addCamera(config);
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    const int id = CameraId(0);
    ASSERT_EQ(ORUOpenCamera(id), ORU_SUCCESS);
    EXPECT_EQ(ORUInitCamera(id), ORU_ERROR_GENERAL_ERROR);

    int selfTests = 0;
    int laterWrites = 0;
    for (const ControlRequest &request : sim.requests(kWriteFpgaRequest)) {
        selfTests += request.setup.value == 24 && request.setup.index == 0x80;
        // Line length, frame length and window come only after the self-test.
        laterWrites += request.setup.value >= 16 && request.setup.value <= 20;
    }
    EXPECT_EQ(selfTests, 5);
    EXPECT_EQ(laterWrites, 0);
    EXPECT_FALSE(Device{sim}.FpgaBit(0, 5));
}

TEST(ProColorNotOpen, InitCameraSendsNothing)
{
    TempHome home;
    CCameraProColor camera;
    EXPECT_FALSE(camera.InitCamera());
}

TEST_F(ProColorRegistryTest, TwoCamerasOfTheModelOpenTheirOwnDevices)
{
    CameraConfig first = CameraConfig::usb3Camera(kProductId);
    first.address = oru_sim::PortAddress{1, {1}};
    CameraConfig second = first;
    second.address = oru_sim::PortAddress{1, {2}};
    SimulatedCamera *sims[2] = {&bus_.addCamera(first), &bus_.addCamera(second)};
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 2);

    std::set<const SimulatedCamera *> initialised;
    for (int index = 0; index < 2; ++index) {
        const int id = CameraId(index);
        ASSERT_EQ(ORUOpenCamera(id), ORU_SUCCESS);
        for (SimulatedCamera *sim : sims)
            sim->clearRequests();
        ASSERT_EQ(ORUInitCamera(id), ORU_SUCCESS);
        const SimulatedCamera *reached = nullptr;
        for (SimulatedCamera *sim : sims)
            if (!sim->requests(kWriteSensorRequest).empty()) {
                EXPECT_EQ(reached, nullptr) << "one init reached both devices";
                reached = sim;
            }
        ASSERT_NE(reached, nullptr);
        initialised.insert(reached);
    }
    EXPECT_EQ(initialised.size(), 2u);
}

TEST_F(ProColorTest, FrameAndTransferTimeAtFullFrame)
{
    Start();
    EXPECT_EQ(camera_->Settings().m_iFrameTimeUs, 285120u);
    EXPECT_EQ(camera_->Settings().m_iTransferTimeUs, 66901u);
}

TEST_F(ProColorTest, SetExpProgramsFrameLengthAndShutter)
{
    Start();
    struct Case {
        uint64_t requestUs, storedUs;
        uint32_t vmax;
        int shsLow, shsHigh, lines;
    };
    const Case cases[] = {
        {32, 32, 4224, 63, 8, 0},
        {1000, 1000, 4224, 56, 8, 14},
        {100000, 100000, 4224, 91, 5, 1481},
        {300000, 300000, 4445, 1, 0, 4443},
        {285100, 285100, 4224, 1, 0, 4222}, // 4223 lines: SHS may not reach 0
        {285120, 285120, 4224, 1, 0, 4222}, // exactly one frame: the longest shutter
        {10, 32, 4224, 63, 8, 0},
    };
    const Device dev = Dev();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.requestUs);
        EXPECT_TRUE(camera_->SetExp(c.requestUs, false));
        EXPECT_EQ(camera_->Settings().m_lExposure, c.storedUs);
        EXPECT_EQ(dev.Fpga(16, 3), c.vmax);
        EXPECT_EQ(dev.Sensor(0x018), c.shsLow);
        EXPECT_EQ(dev.Sensor(0x019), c.shsHigh);
        EXPECT_EQ(camera_->Settings().m_iExpReg, c.lines);
        EXPECT_FALSE(camera_->Settings().m_bLongExpMode);
    }
}

TEST_F(ProColorTest, LongExposureModeFollowsTheOneSecondThreshold)
{
    Start();
    struct Step {
        uint64_t requestUs, storedUs;
        bool longMode;
        uint32_t vmax;
    };
    const Step steps[] = {
        {999999, 999999, false, 14815},
        {1000000, 1000000, true, 4299}, // one frame plus 5 ms
        {3000000000ull, 2000000000, true, 4299},
        {5000, 5000, false, 4224},
    };
    const Device dev = Dev();
    for (const Step &s : steps) {
        SCOPED_TRACE(s.requestUs);
        camera_->SetExp(s.requestUs, false);
        EXPECT_EQ(camera_->Settings().m_lExposure, s.storedUs);
        EXPECT_EQ(camera_->Settings().m_bLongExpMode, s.longMode);
        EXPECT_EQ(dev.FpgaBit(0, 6), s.longMode);
        EXPECT_EQ(dev.FpgaBit(0, 7), s.longMode);
        EXPECT_EQ(dev.Fpga(16, 3), s.vmax);
    }
}

TEST_F(ProColorTest, SetGainSplitsIntoAnalogueConversionGainAndDigital)
{
    Start();
    struct Case {
        int request, stored, analogue, hcg, digital;
    };
    const Case cases[] = {
        {-5, 0, 0, 0, 0},        {99, 99, 2785, 0, 0},    {100, 100, 0, 1, 0},
        {200, 200, 2800, 1, 0},  {460, 460, 4030, 1, 0},  {461, 461, 3966, 1, 16},
        {700, 700, 4030, 1, 64}, {800, 700, 4030, 1, 64},
    };
    const Device dev = Dev();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_TRUE(camera_->SetGain(c.request, false));
        EXPECT_EQ(camera_->Settings().m_iGain, c.stored);
        EXPECT_EQ(dev.Sensor16(0x030), c.analogue);
        EXPECT_EQ(dev.Sensor16(0x032), c.analogue);
        EXPECT_EQ(dev.Sensor(0x02F), c.hcg);
        EXPECT_EQ(dev.Sensor(0x040), c.digital);
    }
}

TEST_F(ProColorTest, SetFPSPercClampsAndStartsAutoAtTheLinkRate)
{
    Start();
    struct Case {
        bool autoBefore;
        int percent;
        bool autoOn;
        int stored;
    };
    const Case cases[] = {
        {false, 10, false, 40},
        {false, 150, false, 100},
        {false, 60, true, 100}, // auto switched on: full USB3 rate
        {true, 60, true, 60},   // auto already on: the loop's lowered value
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.percent);
        camera_->SetFPSPerc(70, c.autoBefore);
        EXPECT_TRUE(camera_->SetFPSPerc(c.percent, c.autoOn));
        EXPECT_EQ(camera_->Settings().m_iBandwidth, c.stored);
        EXPECT_EQ(camera_->Settings().m_bAutoBandwidth, c.autoOn);
    }
}

TEST_F(ProColorTest, AutoBandwidthOnAUsb2HostStartsAt80)
{
    CameraConfig config = CameraConfig::usb3Camera(kProductId);
    config.superSpeed = false;
    Start(config);
    camera_->SetFPSPerc(60, false);
    EXPECT_TRUE(camera_->SetFPSPerc(45, true));
    EXPECT_EQ(camera_->Settings().m_iBandwidth, 80);
    // 80 % of the USB2 link, as the FPGA's divider 25600 / 8.6544 - 256.
    EXPECT_EQ(Dev().Fpga(36), 2702u);
    EXPECT_EQ(Dev().Fpga(19), 1350u);
}

TEST_F(ProColorTest, BandwidthPacesTheFpgaWithDdrAndTheSensorWithout)
{
    Start();
    struct Case {
        bool ddr;
        int percent;
        uint32_t hmax, divider, frameUs, transferUs;
    };
    const Case cases[] = {
        {true, 100, 1350, 6, 285120, 66901},
        {true, 50, 1350, 269, 285120, 133803},
        {false, 100, 1350, 1, 285120, 0},
        {false, 50, 2700, 1, 570240, 0},
    };
    const Device dev = Dev();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "ddr " << c.ddr << " percent " << c.percent);
        EXPECT_TRUE(camera_->SetEnableDDR(c.ddr));
        EXPECT_EQ(dev.FpgaBit(10, 6), !c.ddr);
        EXPECT_TRUE(camera_->SetFPSPerc(c.percent, false));
        EXPECT_EQ(dev.Fpga(19), c.hmax);
        EXPECT_EQ(camera_->Settings().m_iHMAX, static_cast<int>(c.hmax));
        EXPECT_EQ(dev.Fpga(36), c.divider);
        EXPECT_EQ(camera_->Settings().m_iFrameTimeUs, c.frameUs);
        EXPECT_EQ(camera_->Settings().m_iTransferTimeUs, c.transferUs);
    }
}

TEST_F(ProColorTest, SetResolutionCentresAndProgramsTheWindow)
{
    Start();
    struct Case {
        int width, height, bin;
        IMAGE_TYPE type;
        int startX, startY, realSize;
    };
    const Case cases[] = {
        {6248, 4176, 1, IMAGE_TYPE_8BIT, 0, 0, 6248 * 4176},
        {640, 480, 2, IMAGE_TYPE_8BIT, 2480, 1608, 1280 * 960},
        {1000, 1000, 1, IMAGE_TYPE_RAW16, 2624, 1588, 2 * 1000 * 1000},
    };
    const Device dev = Dev();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        ASSERT_TRUE(camera_->SetResolution(c.width, c.height, c.bin, c.type));
        ExpectStart(c.startX, c.startY);
        EXPECT_EQ(camera_->GetRealImageSize(), c.realSize);
        const int sensorWidth = c.width * c.bin;
        const int sensorHeight = c.height * c.bin;
        EXPECT_EQ(dev.Sensor16(0x0A8) * 16, c.startX);
        EXPECT_EQ(dev.Sensor16(0x008), c.startY + 25);
        EXPECT_EQ(dev.Sensor16(0x00A), sensorHeight);
        EXPECT_EQ(dev.Fpga(4), static_cast<uint32_t>(sensorWidth));
        EXPECT_EQ(dev.Fpga(8), static_cast<uint32_t>(sensorHeight));
        EXPECT_EQ(dev.Fpga(64, 4), static_cast<uint32_t>(c.realSize / 4));
    }
}

TEST_F(ProColorTest, RefusedResolutionsChangeNothing)
{
    Start();
    ASSERT_TRUE(camera_->SetResolution(640, 480, 2, IMAGE_TYPE_8BIT));
    sim_->clearRequests();
    struct Case {
        int width, height, bin, type;
    };
    const Case cases[] = {
        {6248, 4176, 2, 0}, // twice the sensor width
        {1000, 1001, 1, 0}, // odd height
        {1004, 1000, 1, 0}, // width not a multiple of 8
        {100, 100, 5, 0},   // bin not offered
        {640, 480, 1, 5},   // no such image type
        {0, 480, 1, 0},          {-8, 480, 1, 0},
        {0x400000A0, 480, 4, 0}, // width x bin wraps to 640 in 32 bits
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " bin " << c.bin);
        EXPECT_FALSE(
            camera_->SetResolution(c.width, c.height, c.bin, static_cast<IMAGE_TYPE>(c.type)));
        EXPECT_EQ(camera_->Settings().m_iWidth, 640);
        EXPECT_EQ(camera_->Settings().m_iHeight, 480);
        EXPECT_EQ(camera_->Settings().m_iBin, 2);
        EXPECT_EQ(camera_->Settings().m_ImgType, IMAGE_TYPE_8BIT);
        ExpectStart(2480, 1608);
        EXPECT_TRUE(Dev().Writes().empty());
    }
}

TEST_F(ProColorTest, HardwareBinningSelectsTheSensorMode)
{
    Start();
    struct Case {
        bool hardwareBin;
        int width, height, bin;
        int driveMode, realSize, vblk, rows;
    };
    const Case cases[] = {
        {false, 1000, 1000, 2, 0x00, 2000 * 2000, 45, 2000},
        {true, 1000, 1000, 2, 0x05, 1000 * 1000, 25, 1002},
        {true, 1000, 700, 3, 0x07, 1000 * 700, 23, 702},
        {true, 504, 500, 4, 0x05, 1008 * 1000, 25, 1002}, // the sensor bins 2 x 2
    };
    const Device dev = Dev();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "hardware " << c.hardwareBin << " bin " << c.bin);
        ASSERT_TRUE(camera_->SetResolution(16, 16, 1, IMAGE_TYPE_8BIT));
        ASSERT_TRUE(camera_->SetHardwareBin(c.hardwareBin));
        ASSERT_TRUE(camera_->SetResolution(c.width, c.height, c.bin, IMAGE_TYPE_8BIT));
        EXPECT_EQ(dev.Sensor(0x001), c.driveMode);
        EXPECT_EQ(dev.Sensor(0x02A), c.hardwareBin ? 0x04 : 0x0A);
        EXPECT_EQ(camera_->GetRealImageSize(), c.realSize);
        EXPECT_EQ(dev.Fpga(6), static_cast<uint32_t>(c.vblk));
        EXPECT_EQ(dev.Sensor16(0x00A), c.rows);
        EXPECT_EQ(dev.Sensor(0x1D8), c.hardwareBin ? 0 : 4);
    }
}

TEST_F(ProColorTest, SetStartPosAlignsAndClamps)
{
    Start();
    struct Case {
        bool hardwareBin;
        int width, height, bin, x, y;
        int storedX, storedY, rowOffset, hblk, sensorCrop;
    };
    const Case cases[] = {
        {false, 6248, 4176, 1, -5, 5000, 0, 0, 25, 24, 1},
        {true, 1000, 700, 3, 101, 101, 96, 96, 27, 96 / 3 + 11, 0},
        {true, 1000, 700, 2, 101, 103, 96, 100, 25, 96 / 2 + 18, 0},
        // Pushed back from the right edge, still on the sensor's 16-pixel grid.
        {false, 1024, 1000, 1, 6000, 3333, 5216, 3176, 25, 24, 1},
    };
    const Device dev = Dev();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " bin " << c.bin);
        ASSERT_TRUE(camera_->SetResolution(16, 16, 1, IMAGE_TYPE_8BIT));
        ASSERT_TRUE(camera_->SetHardwareBin(c.hardwareBin));
        ASSERT_TRUE(camera_->SetResolution(c.width, c.height, c.bin, IMAGE_TYPE_8BIT));
        EXPECT_TRUE(camera_->SetStartPos(c.x, c.y));
        ExpectStart(c.storedX, c.storedY);
        EXPECT_EQ(dev.Sensor16(0x0A8) * 16, c.storedX);
        EXPECT_EQ(dev.Sensor16(0x008), c.storedY + c.rowOffset);
        EXPECT_EQ(dev.Fpga(2), static_cast<uint32_t>(c.hblk));
        EXPECT_EQ(dev.Sensor(0x0A7), c.sensorCrop);
    }
}

TEST_F(ProColorTest, ImageTypeChangeReplaysTheModeForSixteenBitOutput)
{
    Start();
    ASSERT_TRUE(camera_->SetResolution(1000, 1000, 1, IMAGE_TYPE_8BIT));
    EXPECT_EQ(camera_->GetRealImageSize(), 1000 * 1000);
    EXPECT_FALSE(Dev().FpgaBit(10, 4));

    sim_->clearRequests();
    ASSERT_TRUE(camera_->SetResolution(1000, 1000, 1, IMAGE_TYPE_RAW16));
    EXPECT_EQ(Dev().SensorWritesOf(0x1EE, 0x01), 1); // the init table, replayed
    EXPECT_EQ(Dev().SensorWritesOf(0x002, 0x80), 1); // then the normal mode table
    EXPECT_TRUE(camera_->Settings().m_b16Bit);
    EXPECT_TRUE(Dev().FpgaBit(10, 4));
    EXPECT_EQ(camera_->GetRealImageSize(), 2 * 1000 * 1000);

    sim_->clearRequests();
    ASSERT_TRUE(camera_->SetResolution(1000, 1000, 1, IMAGE_TYPE_RAW16));
    EXPECT_EQ(Dev().SensorWritesOf(0x1EE, 0x01), 0);
}

TEST_F(ProColorTest, HighSpeedModeKeepsTheStartPosition)
{
    Start();
    ASSERT_TRUE(camera_->SetResolution(1000, 1000, 1, IMAGE_TYPE_8BIT));
    ASSERT_TRUE(camera_->SetStartPos(1600, 800));
    struct Step {
        bool highSpeed;
        int reg002;
        uint32_t hmax;
        bool wideADC;
    };
    const Step steps[] = {{true, 0x54, 370, false}, {false, 0x80, 1350, true}};
    const Device dev = Dev();
    for (const Step &s : steps) {
        SCOPED_TRACE(s.highSpeed);
        EXPECT_TRUE(camera_->SetHighSpeedMode(s.highSpeed));
        EXPECT_EQ(camera_->Settings().m_bHighSpeed, s.highSpeed);
        ExpectStart(1600, 800);
        EXPECT_EQ(dev.Sensor16(0x0A8) * 16, 1600);
        EXPECT_EQ(dev.Sensor(0x002), s.reg002);
        EXPECT_EQ(dev.Fpga(19), s.hmax);
        EXPECT_EQ(dev.FpgaBit(10, 0), s.wideADC);
    }
}

TEST_F(ProColorTest, SetHardwareBinRefusesAMisalignedRoi)
{
    Start();
    ASSERT_TRUE(camera_->SetResolution(1004, 1000, 2, IMAGE_TYPE_8BIT));
    sim_->clearRequests();
    EXPECT_FALSE(camera_->SetHardwareBin(true));
    EXPECT_FALSE(camera_->Settings().m_bHardwareBin);
    EXPECT_TRUE(Dev().Writes().empty());
}

TEST_F(ProColorTest, SetBrightnessWritesTheBlackLevelTwice)
{
    Start();
    struct Case {
        bool hardwareBin;
        int bin, offset, level;
    };
    const Case cases[] = {
        {false, 1, 5, 50}, {false, 1, 240, 2400}, {true, 2, 5, 31}, // 500 / 16, truncated
    };
    const Device dev = Dev();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.offset);
        ASSERT_TRUE(camera_->SetResolution(16, 16, 1, IMAGE_TYPE_8BIT));
        ASSERT_TRUE(camera_->SetHardwareBin(c.hardwareBin));
        ASSERT_TRUE(camera_->SetResolution(1000, 1000, c.bin, IMAGE_TYPE_8BIT));
        EXPECT_TRUE(camera_->SetBrightness(c.offset));
        EXPECT_EQ(camera_->Settings().m_iOffset, c.offset);
        EXPECT_EQ(dev.Sensor16(0x042), c.level);
        EXPECT_EQ(dev.Sensor16(0x044), c.level);
    }
}

TEST_F(ProColorTest, SetRGBBalanceClampsAndSetsTheFpgaColourGains)
{
    Start();
    struct Case {
        int red, blue, storedRed, storedBlue;
        uint32_t redGain, blueGain;
    };
    const Case cases[] = {{52, 95, 52, 95, 133, 243}, {0, 150, 1, 99, 2, 253}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.red);
        EXPECT_TRUE(camera_->SetRGBBalance(c.red, c.blue, false));
        EXPECT_EQ(camera_->Settings().m_iWB_R, c.storedRed);
        EXPECT_EQ(camera_->Settings().m_iWB_B, c.storedBlue);
        EXPECT_EQ(Dev().Fpga(12, 4), c.redGain | 128u << 8 | 128u << 16 | c.blueGain << 24);
    }
}

} // namespace
