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
    return {{"exposure", static_cast<int64_t>(c.Settings().m_lExposure)},
            {"gain", c.Settings().m_iGain},
            {"offset", c.Settings().m_iOffset},
            {"clock", c.Settings().m_iCMOSClk},
            {"bandwidth", c.Settings().m_iBandwidth},
            {"bandwidth USB3", c.Settings().m_iBandwidthUSB3},
            {"cooler power", static_cast<int64_t>(c.Settings().m_fCoolPowerPerc * 10)},
            {"target", c.Settings().m_iTargetTemp},
            {"overclock", c.Settings().m_iOverCLKPerc},
            {"pattern", c.Settings().m_iPattern},
            {"libusb level", c.Settings().m_iLibusbLogLevel},
            {"auto BL", c.Settings().m_bAutoBL},
            {"OO", c.Settings().m_ucOO},
            {"EE", c.Settings().m_ucEE},
            {"OE", c.Settings().m_ucOE},
            {"EO", c.Settings().m_ucEO},
            {"auto max gain", c.Settings().m_iAutoMaxGain},
            {"auto max ms", c.Settings().m_iAutoMaxExpMs},
            {"auto target", c.Settings().m_iAutoTargetBrightness},
            {"flip rows", c.Settings().m_bFlipHoriz},
            {"flip columns", c.Settings().m_bFlipVert},
            {"WB red", c.Settings().m_iWB_R},
            {"WB blue", c.Settings().m_iWB_B},
            {"auto exposure", c.Settings().m_bAutoExp},
            {"auto gain", c.Settings().m_bAutoGain},
            {"auto bandwidth", c.Settings().m_bAutoBandwidth},
            {"raw output", c.Settings().m_bRawOutput},
            {"high speed", c.Settings().m_bHighSpeed},
            {"auto WB", c.Settings().m_bAutoWB},
            {"HPC", c.Settings().m_bHPC},
            {"hardware bin", c.Settings().m_bHardwareBin}};
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
    CameraSettings &set = saved.EditableSettings();
    set.m_lExposure = 20000;
    set.m_iGain = 123;
    set.m_iOffset = 7;
    set.m_iCMOSClk = 20000;
    set.m_iBandwidth = 77;
    set.m_fCoolPowerPerc = 42.0f;
    set.m_iTargetTemp = -15;
    set.m_iOverCLKPerc = 5;
    set.m_iPattern = 3;
    set.m_iLibusbLogLevel = 2;
    set.m_bAutoBL = true;
    set.m_ucOO = 11, set.m_ucEE = 12, set.m_ucOE = 13, set.m_ucEO = 14;
    set.m_iAutoMaxGain = 300;
    set.m_iAutoMaxExpMs = 12345;
    set.m_iAutoTargetBrightness = 140;
    set.m_bFlipHoriz = true;
    set.m_iWB_R = 60, set.m_iWB_B = 70;
    set.m_bAutoExp = set.m_bAutoWB = set.m_bRawOutput = set.m_bHPC = true;
    set.m_bHardwareBin = set.m_bAutoBandwidth = true;
    snprintf(set.m_szBMPPath, sizeof set.m_szBMPPath, "%s", "/data/dark 1.bmp");
    saved.SaveSetting();

    TestCoolCamera loaded;
    loaded.LoadSetting();
    EXPECT_EQ(Persisted(loaded), Persisted(saved));
    EXPECT_STREQ(loaded.Settings().m_szBMPPath, "/data/dark 1.bmp");
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
        cooled.EditableSettings().m_iGain = round;
        plain.EditableSettings().m_iGain = 1000 + round;
        std::thread other([&plain] { plain.SaveSetting(); });
        cooled.SaveSetting();
        other.join();

        TestCoolCamera cooledLoaded;
        TestCamera plainLoaded(64, 48, false);
        cooledLoaded.LoadSetting();
        plainLoaded.LoadSetting();
        ASSERT_EQ(cooledLoaded.Settings().m_iGain, round) << "round " << round;
        ASSERT_EQ(plainLoaded.Settings().m_iGain, 1000 + round) << "round " << round;
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
        saved.EditableSettings().m_bUSB3Host = c.usb3Host;
        saved.EditableSettings().m_iBandwidth = 90;
        saved.SaveSetting();
        EXPECT_TRUE(HasValue(c.name));
        EXPECT_EQ(HasValue("FPSPercentageUSB3") + HasValue("FPSPercentageUSB2"), 1);

        TestCoolCamera loaded;
        loaded.EditableSettings().m_iBandwidth = 0;
        loaded.LoadSetting();
        EXPECT_EQ(loaded.Settings().m_iBandwidth, c.bandwidth);
        EXPECT_EQ(loaded.Settings().m_iBandwidthUSB3, c.bandwidthUSB3);
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
        saved.EditableSettings().m_lExposure = c.exposure;
        saved.SaveSetting();
        const std::string element = std::string("<Exposure type=\"4\">") + c.text + "</Exposure>";
        EXPECT_NE(FileText(home).find(element), std::string::npos) << element;
        TestCoolCamera loaded;
        loaded.LoadSetting();
        EXPECT_EQ(loaded.Settings().m_lExposure, c.loaded) << c.exposure;
    }
}

TEST(CameraSettings, OldAutoExposureLimitInSecondsIsRead)
{
    TempHome home;
    WriteValues({{"AutoExpMax", {10, 0, 0, 0}}});
    TestCoolCamera loaded;
    loaded.LoadSetting();
    EXPECT_EQ(loaded.Settings().m_iAutoMaxExpMs, 10000);

    WriteValues({{"AutoExpMaxMs", {0x39, 0x30, 0, 0}}});
    loaded.LoadSetting();
    EXPECT_EQ(loaded.Settings().m_iAutoMaxExpMs, 12345) << "the new name wins";
}

TEST(CameraSettings, MissingValuesKeepTheirMembersExceptCoolerPower)
{
    TempHome home;
    TestCoolCamera camera;
    camera.EditableSettings().m_fCoolPowerPerc = 55.0f;
    camera.EditableSettings().m_iGain = 321;
    camera.LoadSetting();
    EXPECT_EQ(camera.Settings().m_fCoolPowerPerc, 55.0f) << "no file: nothing loaded";

    WriteValues({{"Brightness", {9, 0, 0, 0}}});
    camera.LoadSetting();
    EXPECT_EQ(camera.Settings().m_iOffset, 9);
    EXPECT_EQ(camera.Settings().m_iGain, 321);
    EXPECT_EQ(camera.Settings().m_iAutoMaxGain, 50);
    EXPECT_EQ(camera.Settings().m_iAutoMaxExpMs, 30000);
    EXPECT_EQ(camera.Settings().m_iAutoTargetBrightness, 100);
    EXPECT_EQ(camera.Settings().m_fCoolPowerPerc, 0.0f) << "a missing cooler power loads as 0";
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
    const int blueBefore = camera.Settings().m_iWB_B;
    const int clockBefore = camera.Settings().m_iCMOSClk;
    camera.LoadSetting();
    EXPECT_EQ(camera.Settings().m_iGain, 0x2A);
    EXPECT_EQ(camera.Settings().m_iOffset, 7);
    EXPECT_EQ(camera.Settings().m_iWB_R, 0x44332211);
    EXPECT_EQ(camera.Settings().m_iWB_B, blueBefore);
    EXPECT_EQ(camera.Settings().m_iCMOSClk, clockBefore);
}

TEST(CameraSettings, StoredDebugSwitchTurnsTheLogOn)
{
    TempHome home;
    TestCoolCamera saved;
    saved.EditableSettings().m_bDebugPrint = true;
    saved.SaveSetting();
    ASSERT_FALSE(g_bDebugPrint);
    TestCoolCamera loaded;
    loaded.LoadSetting();
    EXPECT_TRUE(loaded.Settings().m_bDebugPrint);
    EXPECT_TRUE(g_bDebugPrint);
    g_bDebugPrint = false;
}

} // namespace
