// The FPGA register map as it reaches the simulated FPGA: holds, byte order,
// clamps, read-modify-write with shadows and the DDR self-test.
#include <functional>
#include <string>

#include "sim/VendorRequest.h"
#include "tests/SimCameraTest.h"

using oru_sim::CameraConfig;
using oru_sim::FailureKind;

using FPGARegisterMapTest = SimCameraTest;

namespace {

// A held group as it must appear on the wire: hold, data ascending, release.
std::vector<std::pair<uint16_t, uint16_t>> Held(uint16_t firstReg, std::vector<uint16_t> values)
{
    std::vector<std::pair<uint16_t, uint16_t>> writes{{1, 1}};
    for (uint16_t value : values)
        writes.emplace_back(firstReg++, value);
    writes.emplace_back(1, 0);
    return writes;
}

} // namespace

TEST_F(FPGARegisterMapTest, MultiRegisterValuesAndClamps)
{
    struct Case {
        std::string name;
        std::function<OruStatus(CCameraFX3 &)> call;
        std::vector<std::pair<uint16_t, uint16_t>> writes;
    };
    const std::vector<Case> cases = {
        {"Width 0x1234", [](CCameraFX3 &c) { return c.SetFPGAWidth(0x1234); },
         Held(4, {0x34, 0x12})},
        {"HMAX", [](CCameraFX3 &c) { return c.SetFPGAHMAX(0xA1B2); }, Held(19, {0xB2, 0xA1})},
        {"Gain", [](CCameraFX3 &c) { return c.SetFPGAGain(128, 129, 130, 0x1FF); },
         Held(12, {128, 129, 130, 0x1FF})},
        {"VMAX in range", [](CCameraFX3 &c) { return c.SetFPGAVMAX(0x123456); },
         Held(16, {0x56, 0x34, 0x12})},
        {"VMAX clamped", [](CCameraFX3 &c) { return c.SetFPGAVMAX(0x12345678); },
         Held(16, {0xFF, 0xFF, 0xFF})},
        {"TrigExp below 32", [](CCameraFX3 &c) { return c.SetExtTrigExpTime(10); },
         Held(44, {32, 0, 0, 0})},
        {"TrigExp above 2e9", [](CCameraFX3 &c) { return c.SetExtTrigExpTime(3000000000u); },
         Held(44, {0x00, 0x94, 0x35, 0x77})},
        {"SyncB keep above 2e9", [](CCameraFX3 &c) { return c.SetExtSyncBKeepTime(0xFFFFFFFFu); },
         Held(60, {0x00, 0x94, 0x35, 0x77})},
        {"SyncA delay", [](CCameraFX3 &c) { return c.SetExtSyncADelayTime(0x01020304); },
         Held(48, {0x04, 0x03, 0x02, 0x01})},
        {"BinDataLen all ones", [](CCameraFX3 &c) { return c.SetFPGABinDataLen(0xFFFFFFFFu); },
         Held(64, {0xFE, 0xFF, 0xFF, 0xFF})},
        {"Bandwidth 100%", [](CCameraFX3 &c) { return c.SetFPGABandWidth(100.0f); },
         Held(36, {1, 0})},
        {"Bandwidth 50%", [](CCameraFX3 &c) { return c.SetFPGABandWidth(50.0f); },
         Held(36, {0, 1})},
        {"Bandwidth 40%", [](CCameraFX3 &c) { return c.SetFPGABandWidth(40.0f); },
         Held(36, {0x80, 0x01})},
        {"Bandwidth 1%", [](CCameraFX3 &c) { return c.SetFPGABandWidth(1.0f); },
         Held(36, {0x00, 0x63})},
        {"Bandwidth 0.1%", [](CCameraFX3 &c) { return c.SetFPGABandWidth(0.1f); },
         Held(36, {0xFE, 0xFF})},
        {"Bandwidth 0%", [](CCameraFX3 &c) { return c.SetFPGABandWidth(0.0f); },
         Held(36, {0xFE, 0xFF})},
        {"Bandwidth above 100%", [](CCameraFX3 &c) { return c.SetFPGABandWidth(150.0f); },
         Held(36, {1, 0})},
        {"CoolPower 0", [](CCameraFX3 &c) { return c.SetFPGACoolPower(0); }, {{38, 15}}},
        {"CoolPower -5", [](CCameraFX3 &c) { return c.SetFPGACoolPower(-5); }, {{38, 15}}},
        {"CoolPower 300", [](CCameraFX3 &c) { return c.SetFPGACoolPower(300); }, {{38, 255}}},
        {"CoolPower 100", [](CCameraFX3 &c) { return c.SetFPGACoolPower(100); }, {{38, 100}}},
        {"Heater", [](CCameraFX3 &c) { return c.SetFPGAHeaterPowerPercent(60); }, {{42, 60}}},
        {"Extend IO", [](CCameraFX3 &c) { return c.SetExtendIOValue(0xA5); }, {{34, 0xA5}}},
    };
    Plug();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim_->clearRequests();
        EXPECT_TRUE(c.call(camera_));
        EXPECT_EQ(Sent(oru_sim::kWriteFpgaRegister), c.writes);
        EXPECT_TRUE(Sent(oru_sim::kReadFpgaRegister).empty());
    }
}

TEST_F(FPGARegisterMapTest, BitOperationsReadModifyWrite)
{
    struct Case {
        std::string name;
        std::function<OruStatus(CCameraFX3 &)> call;
        uint8_t reg, before, after;
    };
    const std::vector<Case> cases = {
        {"FPGAStop", [](CCameraFX3 &c) { return c.FPGAStop(); }, 0, 0x21, 0x31},
        {"FPGAStart", [](CCameraFX3 &c) { return c.FPGAStart(); }, 0, 0xFF, 0xEF},
        {"TriggerMode on", [](CCameraFX3 &c) { return c.EnableFPGATriggerMode(true); }, 0, 0x01,
         0x81},
        {"EnableFPGADDR(true) clears bit 6", [](CCameraFX3 &c) { return c.EnableFPGADDR(true); },
         10, 0xFF, 0xBF},
        {"EnableFPGADDR(false)", [](CCameraFX3 &c) { return c.EnableFPGADDR(false); }, 10, 0x00,
         0x40},
        {"PatternSelect(false)", [](CCameraFX3 &c) { return c.SetFPGAPatternSelect(false); }, 10,
         0x00, 0x02},
        {"XHS stop", [](CCameraFX3 &c) { return c.EnableFPGAXHSStop(true); }, 11, 0x81, 0x91},
        {"Reload", [](CCameraFX3 &c) { return c.FPGABufReload(); }, 24, 0x80, 0x81},
        {"EnableCfan(true) clears bit 7", [](CCameraFX3 &c) { return c.EnableCfan(true); }, 25,
         0xFF, 0x7F},
        {"EnableCfan(false)", [](CCameraFX3 &c) { return c.EnableCfan(false); }, 25, 0x41, 0xC1},
        {"BinType(true)", [](CCameraFX3 &c) { return c.SetFPGABinType(true); }, 39, 0x83, 0x03},
        {"TrigType(false)", [](CCameraFX3 &c) { return c.SelectExtTrigType(false); }, 40, 0x01,
         0x11},
        {"SyncB off", [](CCameraFX3 &c) { return c.EnableExtSyncB(false); }, 41, 0x33, 0x31},
        {"SyncA level(false)", [](CCameraFX3 &c) { return c.SelectExtSyncALevel(false); }, 41, 0x00,
         0x10},
        {"ADC wide, 8-bit out",
         [](CCameraFX3 &c) { return c.SetFPGAADCWidthOutputWidth(ADC_BIT_WIDE, false); }, 10, 0x30,
         0x21},
        {"ADC narrow, 16-bit out",
         [](CCameraFX3 &c) { return c.SetFPGAADCWidthOutputWidth(ADC_BIT_NARROW, true); }, 10, 0x01,
         0x10},
        {"LVDS 1", [](CCameraFX3 &c) { return c.SetFPGALVDSChannel(LVDS_CHANNEL_1); }, 0, 0x00,
         0x06},
        {"LVDS 2", [](CCameraFX3 &c) { return c.SetFPGALVDSChannel(LVDS_CHANNEL_2); }, 0, 0x00,
         0x04},
        {"LVDS 3", [](CCameraFX3 &c) { return c.SetFPGALVDSChannel(LVDS_CHANNEL_3); }, 0, 0xF9,
         0xFB},
        {"LVDS 4 as 0", [](CCameraFX3 &c) { return c.SetFPGALVDSChannel(LVDS_CHANNEL_4); }, 0, 0xFF,
         0xF9},
        {"LVDS out of range unchanged",
         [](CCameraFX3 &c) { return c.SetFPGALVDSChannel(static_cast<LVDS_CHANNEL>(7)); }, 0, 0xA5,
         0xA5},
        {"BinMode 2", [](CCameraFX3 &c) { return c.SetFPGABinMode(FPGA_BIN_MODE_2); }, 39, 0xFD,
         0xFE},
        {"BinMode out of range unchanged",
         [](CCameraFX3 &c) { return c.SetFPGABinMode(static_cast<FPGA_BIN_MODE>(-1)); }, 39, 0x81,
         0x81},
    };
    Plug();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim_->setFpgaRegister(c.reg, c.before);
        sim_->clearRequests();
        EXPECT_TRUE(c.call(camera_));
        EXPECT_EQ(sim_->fpgaRegister(c.reg), c.after);
        const auto log = sim_->requests();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].setup.request, oru_sim::kReadFpgaRegister);
        EXPECT_EQ(log[0].setup.value, c.reg);
        EXPECT_EQ(log[1].setup.request, oru_sim::kWriteFpgaRegister);
    }
}

TEST_F(FPGARegisterMapTest, FailedReadKeepsShadowAndResetWritesShadowWithoutReading)
{
    Plug();
    sim_->setFpgaRegister(0, 0x20);
    ASSERT_TRUE(camera_.FPGAStop()); // shadow now 0x30
    sim_->setFpgaRegister(0, 0x00);
    sim_->failNextRequests(1, FailureKind::Stall, oru_sim::kReadFpgaRegister);
    EXPECT_TRUE(camera_.EnableFPGAWaitMode(true));
    EXPECT_EQ(sim_->fpgaRegister(0), 0x70) << "the write must build on the kept shadow";

    sim_->clearRequests();
    camera_.FPGAReset();
    EXPECT_EQ(Sent(oru_sim::kWriteFpgaRegister), (std::vector<RegisterWrite>{{0, 0x70}}));
    EXPECT_TRUE(Sent(oru_sim::kReadFpgaRegister).empty());
    // The shadow now has bit 0 set again, which the next change carries.
    sim_->failNextRequests(1, FailureKind::Stall, oru_sim::kReadFpgaRegister);
    camera_.FPGAStart();
    EXPECT_EQ(sim_->fpgaRegister(0), 0x61);
}

TEST_F(FPGARegisterMapTest, DDRSelfTest)
{
    struct Case {
        oru_sim::DdrBehaviour ddr;
        bool passes;
        size_t testWrites;
    };
    const Case cases[] = {
        {oru_sim::DdrBehaviour::ReadyAfterSelfTest, true, 1},
        {oru_sim::DdrBehaviour::NeverReady, false, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.passes ? "ready after one write" : "never ready");
        CameraConfig config = CameraConfig::usb3Camera(0x1001);
        config.ddr = c.ddr;
        Plug(config);
        EXPECT_EQ(camera_.FPGADDRTest(), c.passes);
        const RegisterWrite selfTestWrite{24, 0x80};
        EXPECT_EQ(Sent(oru_sim::kWriteFpgaRegister),
                  std::vector<RegisterWrite>(c.testWrites, selfTestWrite));
        EXPECT_EQ(Sent(oru_sim::kReadFpgaRegister).size(), c.passes ? 2u : 5u);
        camera_.CloseDevice();
        bus_.unplug(*sim_);
    }
}
