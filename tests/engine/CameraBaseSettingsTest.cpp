// Settings of the camera object surviving a save and a load, in a temporary
// HOME, and the rules for old, missing and damaged values.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/DbgPrint.h"
#include "settings/XmlStore.h"
#include "tests/TempHome.h"
#include "tests/TestCamera.h"
#include "tests/TestCoolCamera.h"

namespace {

constexpr char kFile[] = "ORUconfig.xml";
constexpr char kKey[] = "software\\ORU6200MC Pro";

using Named = std::vector<std::pair<std::string, int64_t>>;

Named Persisted(const CCameraBase &c)
{
    return {{"exposure", static_cast<int64_t>(c.m_lExposure)},
            {"gain", c.m_iGain},
            {"offset", c.m_iOffset},
            {"clock", c.m_iCMOSClk},
            {"bandwidth", c.m_iBandwidth},
            {"bandwidth USB3", c.m_iBandwidthUSB3},
            {"cooler power", static_cast<int64_t>(c.m_fCoolPowerPerc * 10)},
            {"target", c.m_iTargetTemp},
            {"overclock", c.m_iOverCLKPerc},
            {"pattern", c.m_iPattern},
            {"libusb level", c.m_iLibusbLogLevel},
            {"auto BL", c.m_bAutoBL},
            {"OO", c.m_ucOO},
            {"EE", c.m_ucEE},
            {"OE", c.m_ucOE},
            {"EO", c.m_ucEO},
            {"auto max gain", c.m_iAutoMaxGain},
            {"auto max ms", c.m_iAutoMaxExpMs},
            {"auto target", c.m_iAutoTargetBrightness},
            {"flip rows", c.m_bFlipHoriz},
            {"flip columns", c.m_bFlipVert},
            {"WB red", c.m_iWB_R},
            {"WB blue", c.m_iWB_B},
            {"auto exposure", c.m_bAutoExp},
            {"auto gain", c.m_bAutoGain},
            {"auto bandwidth", c.m_bAutoBandwidth},
            {"raw output", c.m_bRawOutput},
            {"high speed", c.m_bHighSpeed},
            {"auto WB", c.m_bAutoWB},
            {"HPC", c.m_bHPC},
            {"hardware bin", c.m_bHardwareBin}};
}

std::string FileText(const TempHome &home)
{
    std::ifstream in(home.configFile());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes raw values under the model's key, as another program might have.
void WriteValues(const std::vector<std::pair<const char *, std::vector<unsigned char>>> &values)
{
    xmlHandle key{nullptr, nullptr};
    ASSERT_TRUE(XMLCreateKey(kFile, kKey, &key, nullptr));
    for (const auto &[name, bytes] : values) {
        std::vector<unsigned char> data = bytes;
        XMLSetValueEx(key, name, nullptr, 4, data.data(), static_cast<int>(data.size()));
    }
    XMLCloseKey(&key);
}

bool HasValue(const char *name)
{
    xmlHandle key{nullptr, nullptr};
    if (!XMLOpenKey(kFile, kKey, &key))
        return false;
    int type = 0;
    int size = 0;
    const bool found = XMLQueryValueEx(key, name, nullptr, &type, nullptr, &size);
    XMLCloseKey(&key);
    return found;
}

TEST(CameraSettings, SurviveASaveAndALoad)
{
    TempHome home;
    TestCoolCamera saved;
    saved.m_lExposure = 20000;
    saved.m_iGain = 123;
    saved.m_iOffset = 7;
    saved.m_iCMOSClk = 20000;
    saved.m_iBandwidth = 77;
    saved.m_fCoolPowerPerc = 42.0f;
    saved.m_iTargetTemp = -15;
    saved.m_iOverCLKPerc = 5;
    saved.m_iPattern = 3;
    saved.m_iLibusbLogLevel = 2;
    saved.m_bAutoBL = true;
    saved.m_ucOO = 11, saved.m_ucEE = 12, saved.m_ucOE = 13, saved.m_ucEO = 14;
    saved.m_iAutoMaxGain = 300;
    saved.m_iAutoMaxExpMs = 12345;
    saved.m_iAutoTargetBrightness = 140;
    saved.m_bFlipHoriz = true;
    saved.m_iWB_R = 60, saved.m_iWB_B = 70;
    saved.m_bAutoExp = saved.m_bAutoWB = saved.m_bRawOutput = saved.m_bHPC = true;
    saved.m_bHardwareBin = saved.m_bAutoBandwidth = true;
    snprintf(saved.m_szBMPPath, sizeof saved.m_szBMPPath, "%s", "/data/dark 1.bmp");
    saved.SaveSetting();

    TestCoolCamera loaded;
    loaded.LoadSetting();
    EXPECT_EQ(Persisted(loaded), Persisted(saved));
    EXPECT_STREQ(loaded.m_szBMPPath, "/data/dark 1.bmp");
    EXPECT_NE(FileText(home).find("<software"), std::string::npos);
    EXPECT_NE(FileText(home).find("<ORU6200MC_Pro"), std::string::npos);
}

// Every save rewrites the whole file, so two cameras saving together must
// not write back the file as it was before the other's save.
TEST(CameraSettings, TwoCamerasSavingTogetherKeepBothSaves)
{
    TempHome home;
    TestCoolCamera cooled;
    TestCamera plain(64, 48, false);
    for (int round = 1; round <= 40; ++round) {
        cooled.m_iGain = round;
        plain.m_iGain = 1000 + round;
        std::thread other([&plain] { plain.SaveSetting(); });
        cooled.SaveSetting();
        other.join();

        TestCoolCamera cooledLoaded;
        TestCamera plainLoaded(64, 48, false);
        cooledLoaded.LoadSetting();
        plainLoaded.LoadSetting();
        ASSERT_EQ(cooledLoaded.m_iGain, round) << "round " << round;
        ASSERT_EQ(plainLoaded.m_iGain, 1000 + round) << "round " << round;
    }
}

TEST(CameraSettings, BandwidthIsKeptPerHostLink)
{
    const struct {
        bool usb3Host;
        const char *name;
        int bandwidth, bandwidthUSB3;
    } cases[] = {{true, "FPSPercentageUSB3", 0, 90}, {false, "FPSPercentageUSB2", 90, 100}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        TestCoolCamera saved;
        saved.m_bUSB3Host = c.usb3Host;
        saved.m_iBandwidth = 90;
        saved.SaveSetting();
        EXPECT_TRUE(HasValue(c.name));
        EXPECT_EQ(HasValue("FPSPercentageUSB3") + HasValue("FPSPercentageUSB2"), 1);

        TestCoolCamera loaded;
        loaded.m_iBandwidth = 0;
        loaded.LoadSetting();
        EXPECT_EQ(loaded.m_iBandwidth, c.bandwidth);
        EXPECT_EQ(loaded.m_iBandwidthUSB3, c.bandwidthUSB3);
    }
}

TEST(CameraSettings, ExposureIsStoredAsFourBytesAndLoadsAtMost100ms)
{
    const struct {
        uint64_t exposure;
        const char *text;
        uint64_t loaded;
    } cases[] = {{100000, "a0860100", 100000}, {5000000, "404b4c00", 100000}, {32, "20000000", 32}};
    for (const auto &c : cases) {
        TempHome home;
        TestCoolCamera saved;
        saved.m_lExposure = c.exposure;
        saved.SaveSetting();
        const std::string element = std::string("<Exposure type=\"4\">") + c.text + "</Exposure>";
        EXPECT_NE(FileText(home).find(element), std::string::npos) << element;
        TestCoolCamera loaded;
        loaded.LoadSetting();
        EXPECT_EQ(loaded.m_lExposure, c.loaded) << c.exposure;
    }
}

TEST(CameraSettings, OldAutoExposureLimitInSecondsIsRead)
{
    TempHome home;
    WriteValues({{"AutoExpMax", {10, 0, 0, 0}}});
    TestCoolCamera loaded;
    loaded.LoadSetting();
    EXPECT_EQ(loaded.m_iAutoMaxExpMs, 10000);

    WriteValues({{"AutoExpMaxMs", {0x39, 0x30, 0, 0}}});
    loaded.LoadSetting();
    EXPECT_EQ(loaded.m_iAutoMaxExpMs, 12345) << "the new name wins";
}

TEST(CameraSettings, MissingValuesKeepTheirMembersExceptCoolerPower)
{
    TempHome home;
    TestCoolCamera camera;
    camera.m_fCoolPowerPerc = 55.0f;
    camera.m_iGain = 321;
    camera.LoadSetting();
    EXPECT_EQ(camera.m_fCoolPowerPerc, 55.0f) << "no file: nothing loaded";

    WriteValues({{"Brightness", {9, 0, 0, 0}}});
    camera.LoadSetting();
    EXPECT_EQ(camera.m_iOffset, 9);
    EXPECT_EQ(camera.m_iGain, 321);
    EXPECT_EQ(camera.m_iAutoMaxGain, 50);
    EXPECT_EQ(camera.m_iAutoMaxExpMs, 30000);
    EXPECT_EQ(camera.m_iAutoTargetBrightness, 100);
    EXPECT_EQ(camera.m_fCoolPowerPerc, 0.0f) << "a missing cooler power loads as 0";
}

TEST(CameraSettings, EmptyDarkPathWritesNoElement)
{
    TempHome home;
    TestCoolCamera camera;
    camera.SaveSetting();
    EXPECT_TRUE(HasValue("Gain"));
    EXPECT_FALSE(HasValue("BMPPATH"));
}

TEST(CameraSettings, AnOversizedValueDoesNotSpillIntoOtherMembers)
{
    TempHome home;
    WriteValues({{"Gain", {0x2A, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
                 {"Brightness", {7, 0, 0, 0}},
                 {"WB_Red", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}}});
    TestCoolCamera camera;
    const int blueBefore = camera.m_iWB_B;
    const int clockBefore = camera.m_iCMOSClk;
    camera.LoadSetting();
    EXPECT_EQ(camera.m_iGain, 0x2A);
    EXPECT_EQ(camera.m_iOffset, 7);
    EXPECT_EQ(camera.m_iWB_R, 0x44332211);
    EXPECT_EQ(camera.m_iWB_B, blueBefore);
    EXPECT_EQ(camera.m_iCMOSClk, clockBefore);
}

TEST(CameraSettings, StoredDebugSwitchTurnsTheLogOn)
{
    TempHome home;
    TestCoolCamera saved;
    saved.m_bDebugPrint = true;
    saved.SaveSetting();
    ASSERT_FALSE(g_bDebugPrint);
    TestCoolCamera loaded;
    loaded.LoadSetting();
    EXPECT_TRUE(loaded.m_bDebugPrint);
    EXPECT_TRUE(g_bDebugPrint);
    g_bDebugPrint = false;
}

} // namespace
