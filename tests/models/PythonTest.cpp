// The PYTHON models (ORU174MM, ORU174MC) against their named simulated
// cameras through the real libusb: power-up and readout sequences on the
// wire, exposure, frame timing, high-speed mode, video through the flat API,
// and the soft power-down at close.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "models/CCameraPythonColor.h"
#include "models/CCameraPythonMono.h"
#include "models/PythonRegisterTables.h"
#include "sim/FrameStream.h"
#include "sim/ModelCatalog.h"
#include "sim/PythonSensor.h"
#include "sim/SimulatedBus.h"

using oru_sim::CameraConfig;
using oru_sim::FrameStream;
using oru_sim::PythonState;
using oru_sim::SentFrame;
using oru_sim::SimulatedCamera;

namespace {

constexpr uint8_t kWriteCameraRequest = 0xA6;

struct CameraWrite {
    uint16_t address;
    uint16_t value;
};

// Bits lowBit..highBit of a 16-bit register.
uint16_t FieldMask(const PythonRegisterWrite &write)
{
    return static_cast<uint16_t>(((1u << (write.highBit + 1)) - 1) & ~((1u << write.lowBit) - 1));
}

// The decoded registers of a simulated PYTHON camera (the mosaic flag aside).
PythonState Decoded(const SimulatedCamera &sim)
{
    return oru_sim::PythonSensor(false).decode(sim);
}

// A mono camera of the model, constructed and opened directly.
class PythonModelTest : public ::testing::Test {
protected:
    void Open(CameraConfig description = oru_sim::ModelCatalog::find("ORU174MM"))
    {
        sim_ = &bus_.addCamera(description);
        camera_ = std::make_unique<CCameraPythonMono>();
        ASSERT_TRUE(camera_->OpenCamera(1));
    }
    void OpenAndInit(CameraConfig description = oru_sim::ModelCatalog::find("ORU174MM"))
    {
        Open(description);
        ASSERT_TRUE(camera_->InitCamera());
        sim_->clearRequests();
    }

    // 16-bit camera register writes since the log was last cleared.
    std::vector<CameraWrite> Writes() const
    {
        std::vector<CameraWrite> writes;
        for (const auto &request : sim_->requests(kWriteCameraRequest))
            writes.push_back({request.setup.value, request.setup.index});
        return writes;
    }

    // The last run of `mode` in the write log: the sequencer enable bits
    // cleared, the mode bits set, then the whole program uploaded.
    void ExpectReadoutModeLast(const PythonReadoutMode &mode)
    {
        const std::vector<CameraWrite> writes = Writes();
        const auto upload = std::find_if(writes.rbegin(), writes.rend(), [](const CameraWrite &w) {
            return w.address == kPythonRegProgram;
        });
        ASSERT_NE(upload, writes.rend()) << "no sequencer program uploaded";
        const size_t start = static_cast<size_t>(writes.rend() - upload) - 1;
        const size_t modeBits = static_cast<size_t>(mode.modeBits.iCount);
        ASSERT_GE(start, modeBits + 2);
        ASSERT_LE(start + static_cast<size_t>(mode.iProgramWords), writes.size());
        for (int i = 0; i < mode.iProgramWords; ++i) {
            EXPECT_EQ(writes[start + i].address, kPythonRegProgram + i);
            EXPECT_EQ(writes[start + i].value, mode.pProgram[i]) << "program word " << i;
        }
        const size_t bitsStart = start - modeBits;
        for (size_t i = 0; i < modeBits; ++i) {
            const PythonRegisterWrite &bits = mode.modeBits.pWrites[i];
            EXPECT_EQ(writes[bitsStart + i].address, bits.address);
            EXPECT_EQ((writes[bitsStart + i].value & FieldMask(bits)) >> bits.lowBit, bits.value);
        }
        EXPECT_EQ(writes[bitsStart - 2].address, kPythonRegSequencer);
        EXPECT_EQ(writes[bitsStart - 2].value & 0x3, 0) << "sequencer enable bits cleared first";
        EXPECT_EQ(writes[bitsStart - 1].address, kPythonRegIntegration);
        EXPECT_EQ(writes[bitsStart - 1].value & 0x3, 0);
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
    std::unique_ptr<CCameraPythonMono> camera_;
};

} // namespace

TEST(PythonTables, NoPlaceholderTouchesAFieldTheDriverProgramsItself)
{
    struct Owned {
        uint16_t address;
        uint16_t mask;
    };
    const Owned owned[] = {
        {kPythonRegSequencer, 0x0001},     {kPythonRegExposure, 0xFFFF},
        {kPythonRegTimerClocks, 0xFFFF},   {kPythonRegAnalogueGain, 0x0003},
        {kPythonRegDigitalGain, 0xFFFF},   {kPythonRegBlackLevel, 0x00FF},
        {kPythonRegWindowX, 0xFFFF},       {kPythonRegWindowFirstRow, 0xFFFF},
        {kPythonRegWindowLastRow, 0xFFFF}, {kPythonRegSoftReset, 0x0FFF},
        {kPythonRegClockEnable, 0x0001},   {kPythonRegSerializer, 0x0007},
    };
    std::vector<PythonWriteList> lists = {kPythonRequiredUploads};
    for (const PythonReadoutMode *mode :
         {&kPythonCDSwithNROT, &kPythonCDSwithZROT, &kPythonUDSwithNROT, &kPythonUDSwithZROT,
          &kPythonCDSwithNROT_LTN, &kPythonMSCwithNROT, &kPythonMSCwithZeroROT,
          &kPythonMSLwithNROT})
        lists.push_back(mode->modeBits);
    for (const PythonWriteList &list : lists)
        for (int i = 0; i < list.iCount; ++i) {
            const PythonRegisterWrite &write = list.pWrites[i];
            for (const Owned &o : owned)
                EXPECT_FALSE(write.address == o.address && (FieldMask(write) & o.mask) != 0)
                    << "register " << write.address << " bits " << int(write.lowBit) << "-"
                    << int(write.highBit);
        }
}

TEST_F(PythonModelTest, InitResetsPowersUpAndLoadsTheNormalReadout)
{
    Open();
    sim_->clearRequests();
    ASSERT_TRUE(camera_->InitCamera());

    const std::vector<CameraWrite> writes = Writes();
    ASSERT_GE(writes.size(), 3u);
    const CameraWrite reset[] = {{8, 0x0099}, {9, 0x0009}, {10, 0x0999}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(writes[i].address, reset[i].address);
        EXPECT_EQ(writes[i].value, reset[i].value);
    }
    ExpectReadoutModeLast(kPythonCDSwithNROT);

    struct Field {
        uint16_t address;
        int lowBit, bits;
        uint16_t value;
    };
    const Field named[] = {
        {17, 0, 8, 19},  {17, 8, 5, 1},  {26, 0, 8, 128}, {27, 0, 16, 0x3D2D},
        {197, 0, 16, 1}, {194, 9, 1, 1}, {192, 11, 3, 1}, {199, 0, 16, 72},
        {194, 2, 1, 1},  {96, 0, 1, 1},  {16, 0, 3, 3},
    };
    for (const Field &f : named)
        EXPECT_EQ(sim_->cameraRegister(f.address) >> f.lowBit & ((1 << f.bits) - 1), f.value)
            << "register " << f.address << " from bit " << f.lowBit;

    const PythonState state = Decoded(*sim_);
    EXPECT_TRUE(state.powered);
    EXPECT_FALSE(state.sensor.awake) << "the sensor idles until a capture starts it";
    EXPECT_EQ(state.scheme, oru_sim::PythonScheme::CDS);
    EXPECT_FALSE(state.zeroRowOverhead);
    EXPECT_EQ(sim_->fpgaRegister(0) & 0x10, 0x10) << "FPGA data path stopped";
}

TEST_F(PythonModelTest, ExposureIsClampedAndProgrammedInMicroseconds)
{
    OpenAndInit();
    struct Case {
        uint64_t asked, stored;
    };
    for (const Case c : {Case{100000, 64000}, Case{5, 16}, Case{12345, 12345}}) {
        EXPECT_TRUE(camera_->SetExp(c.asked, false));
        EXPECT_EQ(camera_->Settings().m_lExposure, c.stored) << c.asked;
        const std::vector<CameraWrite> writes = Writes();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back().address, kPythonRegExposure);
        EXPECT_EQ(writes.back().value, c.stored);
        EXPECT_DOUBLE_EQ(sim_->sensorState().exposureUs, static_cast<double>(c.stored));
    }
}

TEST_F(PythonModelTest, FrameTimeAndWindowFollowTheRoiAndReadout)
{
    OpenAndInit();
    struct Case {
        int width, height, bin;
        bool highSpeed;
        uint32_t frameTimeUs;
    };
    // Line (ns) = max((sensor width + 16) x 125 / 36 + 1000 or 56, 1000 or
    // 1260); frame = 50 us + sensor rows x line.
    const Case cases[] = {
        {1280, 1024, 1, false, 5682},
        {1280, 1024, 1, true, 4715},
        {320, 240, 2, false, 1622},
        {64, 64, 1, true, 130},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " bin " << c.bin
                                          << (c.highSpeed ? " high speed" : ""));
        ASSERT_TRUE(camera_->SetHighSpeedMode(c.highSpeed));
        ASSERT_TRUE(camera_->SetResolution(c.width, c.height, c.bin, IMAGE_TYPE_8BIT));
        EXPECT_EQ(camera_->Settings().m_iFrameTimeUs, c.frameTimeUs);
        const PythonState state = Decoded(*sim_);
        EXPECT_EQ(state.zeroRowOverhead, c.highSpeed);
        EXPECT_EQ(state.sensor.windowWidth, c.width * c.bin);
        EXPECT_EQ(state.sensor.windowHeight, c.height * c.bin);
        EXPECT_EQ(state.sensor.windowX, (1280 - c.width * c.bin) / 2 / 8 * 8);
        EXPECT_EQ(state.sensor.windowY, (1024 - c.height * c.bin) / 2);
        EXPECT_NEAR(state.sensor.frameTimeUs, c.frameTimeUs, 1.0);
    }
}

TEST_F(PythonModelTest, HighSpeedModeSwapsTheReadoutSequence)
{
    OpenAndInit();
    ASSERT_TRUE(camera_->SetHighSpeedMode(true));
    ExpectReadoutModeLast(kPythonCDSwithZROT);
    EXPECT_TRUE(Decoded(*sim_).zeroRowOverhead);
    EXPECT_FALSE(sim_->sensorState().awake) << "an idle sensor stays idle";

    sim_->clearRequests();
    ASSERT_TRUE(camera_->SetHighSpeedMode(false));
    ExpectReadoutModeLast(kPythonCDSwithNROT);
    EXPECT_FALSE(Decoded(*sim_).zeroRowOverhead);
}

TEST_F(PythonModelTest, HighSpeedModeIsRefusedOnAUsb2HostButTheFlagIsStored)
{
    CameraConfig description = oru_sim::ModelCatalog::find("ORU174MM");
    description.superSpeed = false;
    OpenAndInit(description);
    ASSERT_TRUE(camera_->SetResolution(1280, 1024, 1, IMAGE_TYPE_8BIT));
    const uint32_t frameTimeUs = camera_->Settings().m_iFrameTimeUs;
    sim_->clearRequests();

    EXPECT_FALSE(camera_->SetHighSpeedMode(true));
    EXPECT_TRUE(camera_->Settings().m_bHighSpeed);
    EXPECT_TRUE(Writes().empty()) << "no readout sequence is sent";
    ASSERT_TRUE(camera_->SetResolution(1280, 1024, 1, IMAGE_TYPE_8BIT));
    EXPECT_EQ(camera_->Settings().m_iFrameTimeUs, frameTimeUs)
        << "the sensor still reads out normally";
}

namespace {

// One PYTHON model opened and initialised through the flat API.
class PythonCameraTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        sim_ = &bus_.addCamera(oru_sim::ModelCatalog::find(GetParam()));
        stream_ = std::dynamic_pointer_cast<FrameStream>(sim_->dataSource());
        ASSERT_NE(stream_, nullptr);
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
        ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
        ASSERT_EQ(ORUInitCamera(0), ORU_SUCCESS);
    }
    void TearDown() override { ORUCloseCamera(0); }

    void SetControl(ORU_CONTROL_TYPE control, int32_t value)
    {
        ASSERT_EQ(ORUSetControlValue(0, control, value, ORU_FALSE), ORU_SUCCESS);
    }

    // Whether `frame` is a frame the camera sent, its markers hidden behind
    // the pixels two rows away.
    bool WasSent(const std::vector<unsigned char> &frame, int rowBytes) const
    {
        for (const SentFrame &sent : stream_->sentFrames()) {
            if (sent.bytes.size() != frame.size())
                continue;
            std::vector<uint8_t> hidden = sent.bytes;
            std::copy_n(hidden.begin() + 2 * rowBytes, 4, hidden.begin());
            std::copy_n(hidden.end() - 4 - 2 * rowBytes, 4, hidden.end() - 4);
            if (hidden == frame)
                return true;
        }
        return false;
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
    std::shared_ptr<FrameStream> stream_;
};

} // namespace

TEST_P(PythonCameraTest, StreamsSentFramesBeforeAndAfterAHighSpeedSwitch)
{
    const std::string model = GetParam();
    ORU_CAMERA_INFO info{};
    ASSERT_EQ(ORUGetCameraPropertyByID(0, &info), ORU_SUCCESS);
    EXPECT_EQ(std::string(info.name), "TAV " + model);
    EXPECT_EQ(info.max_width, 1280);
    EXPECT_EQ(info.max_height, 1024);
    EXPECT_EQ(info.is_color == ORU_TRUE, model == "ORU174MC");
    EXPECT_EQ(info.bit_depth, 10);

    const int width = 640;
    const int height = 480;
    ASSERT_EQ(ORUSetROIFormat(0, width, height, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    SetControl(ORU_EXPOSURE, 100);
    stream_->keepSentFrames(32);
    ASSERT_EQ(ORUStartVideoCapture(0), ORU_SUCCESS);
    std::vector<unsigned char> frame(static_cast<size_t>(width * height));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ORUGetVideoData(0, frame.data(), width * height, 5000), ORU_SUCCESS);
        EXPECT_TRUE(WasSent(frame, width)) << "frame " << i;
    }
    EXPECT_TRUE(sim_->sensorState().awake);

    SetControl(ORU_HIGH_SPEED_MODE, 1);
    EXPECT_TRUE(Decoded(*sim_).zeroRowOverhead);
    EXPECT_TRUE(sim_->sensorState().awake) << "the stream restarts after the switch";
    stream_->keepSentFrames(0);
    stream_->keepSentFrames(32);
    // Frames sent before the record was cleared may still be in the ring's
    // two slots, on their way into it and on the bus (more of them on a slow
    // host): one sent after it follows within a few reads.
    bool sentAfterTheSwitch = false;
    for (int i = 0; i < 8 && !sentAfterTheSwitch; ++i) {
        ASSERT_EQ(ORUGetVideoData(0, frame.data(), width * height, 5000), ORU_SUCCESS);
        sentAfterTheSwitch = WasSent(frame, width);
    }
    EXPECT_TRUE(sentAfterTheSwitch);
    ASSERT_EQ(ORUStopVideoCapture(0), ORU_SUCCESS);
    EXPECT_FALSE(sim_->sensorState().awake);
}

TEST_P(PythonCameraTest, GainOffsetAndWindowReachTheSensor)
{
    for (int32_t gain : {0, 59, 60, 200, 360}) {
        SetControl(ORU_GAIN, gain);
        EXPECT_EQ(sim_->sensorState().gainTenthDb, gain);
    }
    SetControl(ORU_OFFSET, 37);
    EXPECT_EQ(sim_->sensorState().blackLevel, 37);

    ASSERT_EQ(ORUSetROIFormat(0, 640, 480, 1, ORU_IMG_RAW16), ORU_SUCCESS);
    ASSERT_EQ(ORUSetStartPos(0, 101, 51), ORU_SUCCESS);
    const oru_sim::SensorState state = sim_->sensorState();
    EXPECT_EQ(state.windowX, 96) << "columns in 8-column kernels";
    EXPECT_EQ(state.windowY, 50) << "rows even";
    EXPECT_EQ(state.windowWidth, 640);
    EXPECT_EQ(state.windowHeight, 480);
    EXPECT_EQ(sim_->fpgaRegister(10) & 0x10, 0x10) << "16-bit output";
}

TEST_P(PythonCameraTest, CloseDuringVideoPowersTheSensorDown)
{
    ASSERT_EQ(ORUSetROIFormat(0, 320, 240, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    ASSERT_EQ(ORUStartVideoCapture(0), ORU_SUCCESS);
    std::vector<unsigned char> frame(320 * 240);
    ASSERT_EQ(ORUGetVideoData(0, frame.data(), 320 * 240, 5000), ORU_SUCCESS);
    ASSERT_TRUE(Decoded(*sim_).powered);

    ASSERT_EQ(ORUCloseCamera(0), ORU_SUCCESS);
    const PythonState state = Decoded(*sim_);
    EXPECT_FALSE(state.powered);
    EXPECT_FALSE(state.sensor.awake);
    EXPECT_EQ(sim_->cameraRegister(kPythonRegSoftReset) & 0x0FFF, 0x0999);
    EXPECT_EQ(sim_->cameraRegister(kPythonRegSerializer) & 0x7, 0);
    EXPECT_FALSE(sim_->streaming());
}

INSTANTIATE_TEST_SUITE_P(Models, PythonCameraTest, ::testing::Values("ORU174MM", "ORU174MC"));
