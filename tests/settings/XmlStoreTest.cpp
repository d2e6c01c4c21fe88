#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <tinyxml.h>

#include "settings/XmlStore.h"
#include "tests/TempHome.h"

namespace {

constexpr char kFile[] = "ORUconfig.xml";

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

void StoreInt(const char *key, const char *name, int32_t value)
{
    xmlHandle handle{};
    ASSERT_TRUE(XMLCreateKey(kFile, key, &handle, nullptr));
    XMLSetValueEx(handle, name, nullptr, 4, reinterpret_cast<unsigned char *>(&value), 4);
    XMLCloseKey(&handle);
}

bool QueryInt(const char *key, const char *name, int32_t *value)
{
    xmlHandle handle{};
    if (!XMLOpenKey(kFile, key, &handle))
        return false;
    int type = 0;
    int size = 4;
    bool found = XMLQueryValueEx(handle, name, nullptr, &type,
                                 reinterpret_cast<unsigned char *>(value), &size);
    XMLCloseKey(&handle);
    return found && type == 4 && size == 4;
}

mode_t ModeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

std::vector<std::string> FolderEntries(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The stored "Gain" of key software\m read straight from the file, as any
// reader would see it; -1 when the file does not parse or lacks it.
int32_t GainInFile(const std::string &path)
{
    TiXmlDocument doc(path.c_str());
    if (!doc.LoadFile())
        return -1;
    TiXmlElement *value = TiXmlHandle(&doc)
                              .FirstChildElement("software")
                              .FirstChildElement("m")
                              .FirstChildElement("Gain")
                              .ToElement();
    if (value == nullptr || value->GetText() == nullptr || strlen(value->GetText()) != 8)
        return -1;
    // Little-endian bytes, two hex digits each.
    const uint32_t bigEndian = static_cast<uint32_t>(std::stoul(value->GetText(), nullptr, 16));
    return static_cast<int32_t>(__builtin_bswap32(bigEndian));
}

} // namespace

class XmlStoreTest : public ::testing::Test {
protected:
    TempHome home;
};

TEST_F(XmlStoreTest, ExposureIsStoredLittleEndianHexWithItsTypeUnderTheCleanedKey)
{
    StoreInt("software\\ORU 462MC Pro", "Exposure", 100000);

    TiXmlDocument doc(home.configFile().c_str());
    ASSERT_TRUE(doc.LoadFile());
    TiXmlElement *value = TiXmlHandle(&doc)
                              .FirstChildElement("software")
                              .FirstChildElement("ORU_462MC_Pro")
                              .FirstChildElement("Exposure")
                              .ToElement();
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value->GetText(), "a0860100");
    EXPECT_STREQ(value->Attribute("type"), "4");
    EXPECT_STREQ(doc.FirstChild()->ToDeclaration()->Version(), "1.0");
    EXPECT_STREQ(doc.FirstChild()->ToDeclaration()->Encoding(), "UTF-8");
    EXPECT_NE(doc.FirstChildElement("software")->Attribute("date"), nullptr);
}

TEST_F(XmlStoreTest, CleaningReplacesEveryReservedCharacterAndKeepsTheRest)
{
    char text[] = " !\"#$%&'()*+,:;<=>?@[]^`{|}~-./\\_09aZ";
    clearSpace(text);
    EXPECT_STREQ(text, "____________________________-./\\_09aZ");
}

TEST_F(XmlStoreTest, PathSplitsAtBothSlashesAndDropsEmptyComponents)
{
    char parts[4][kXmlPathSize];
    ASSERT_EQ(getFolderName("\\software//a\\b/", nullptr), 3);
    ASSERT_EQ(getFolderName("\\software//a\\b/", parts), 3);
    EXPECT_STREQ(parts[0], "software");
    EXPECT_STREQ(parts[1], "a");
    EXPECT_STREQ(parts[2], "b");

    const std::string longName(300, 'x');
    char longPart[1][kXmlPathSize];
    ASSERT_EQ(getFolderName(longName.c_str(), longPart), 1);
    EXPECT_EQ(strlen(longPart[0]), 255u);
}

TEST_F(XmlStoreTest, ValueWrittenTwiceKeepsOneElementWithTheNewerText)
{
    StoreInt("software\\m", "Gain", 1);
    StoreInt("software\\m", "Gain", 2);

    int32_t value = 0;
    ASSERT_TRUE(QueryInt("software\\m", "Gain", &value));
    EXPECT_EQ(value, 2);
    const std::string text = ReadFile(home.configFile());
    EXPECT_EQ(text.find("<Gain"), text.rfind("<Gain"));
}

TEST_F(XmlStoreTest, DamagedElementsAreRemovedAndTheValueIsWrittenOnce)
{
    StoreInt("software\\m", "Gain", 1);
    std::string text = ReadFile(home.configFile());
    // A value without "type" in front of the intact one.
    text.replace(text.find("<Gain"), 0, "<Broken>00</Broken>");
    WriteFile(home.configFile(), text);

    StoreInt("software\\m", "Gain", 7);

    int32_t value = 0;
    ASSERT_TRUE(QueryInt("software\\m", "Gain", &value));
    EXPECT_EQ(value, 7);
    text = ReadFile(home.configFile());
    EXPECT_EQ(text.find("Broken"), std::string::npos);
    EXPECT_EQ(text.find("<Gain"), text.rfind("<Gain"));
}

TEST_F(XmlStoreTest, TruncatedFileReadsAsMissingAndTheNextSaveRepairsIt)
{
    StoreInt("software\\m", "Gain", 5);
    std::string text = ReadFile(home.configFile());
    WriteFile(home.configFile(), text.substr(0, text.size() / 2));

    int32_t value = 0;
    EXPECT_FALSE(QueryInt("software\\m", "Gain", &value));

    StoreInt("software\\m", "Offset", 9);
    ASSERT_TRUE(QueryInt("software\\m", "Offset", &value));
    EXPECT_EQ(value, 9);
    TiXmlDocument doc(home.configFile().c_str());
    EXPECT_TRUE(doc.LoadFile());
}

TEST_F(XmlStoreTest, QueryRefusesOddOrNonHexDigits)
{
    StoreInt("software\\m", "Gain", 5);
    const std::string intact = ReadFile(home.configFile());
    for (const char *bad : {"050000000", "05zz0000", "0x000000"}) {
        std::string text = intact;
        text.replace(text.find("05000000"), 8, bad);
        WriteFile(home.configFile(), text);
        int32_t value = -1;
        EXPECT_FALSE(QueryInt("software\\m", "Gain", &value)) << bad;
        EXPECT_EQ(value, -1) << bad;
    }
}

TEST_F(XmlStoreTest, QueryDecodesAtMostTheCapacityAndReportsTheStoredLength)
{
    xmlHandle handle{};
    ASSERT_TRUE(XMLCreateKey(kFile, "software\\m", &handle, nullptr));
    unsigned char path[] = "/home/user/dark.bmp";
    const int attr = 12;
    XMLSetValueEx(handle, "BMPPATH", &attr, 3, path, 19);

    unsigned char out[8] = {};
    int size = 4;
    int type = 0;
    int gotAttr = 0;
    ASSERT_TRUE(XMLQueryValueEx(handle, "BMPPATH", &gotAttr, &type, out, &size));
    EXPECT_EQ(size, 19);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(gotAttr, 12);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out)), "/hom");
    XMLCloseKey(&handle);
}

TEST_F(XmlStoreTest, OpeningAMissingKeyOrFileFails)
{
    xmlHandle handle{};
    EXPECT_FALSE(XMLOpenKey(kFile, "software\\m", &handle));
    EXPECT_EQ(handle.doc, nullptr);
    StoreInt("software\\m", "Gain", 1);
    EXPECT_FALSE(XMLOpenKey(kFile, "software\\other", &handle));
    EXPECT_EQ(handle.doc, nullptr);
}

TEST_F(XmlStoreTest, SaveLeavesNoTemporaryFileBehind)
{
    StoreInt("software\\m", "Gain", 1);
    StoreInt("software\\m", "Gain", 2);
    int entries = 0;
    for (const auto &entry : std::filesystem::directory_iterator(home.path() + "/.TAV")) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(XmlStoreTest, FolderAndFileAreClosedToOtherUsersWrites)
{
    const std::string folder = home.path() + "/.TAV";
    StoreInt("software\\m", "Gain", 1);
    EXPECT_EQ(ModeOf(folder) & 022, 0u);
    EXPECT_EQ(ModeOf(home.configFile()) & 022, 0u);

    // As older versions left them: everybody may write.
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    ASSERT_EQ(chmod(home.configFile().c_str(), 0666), 0);
    StoreInt("software\\m", "Gain", 2);
    EXPECT_EQ(ModeOf(folder) & 0777, 0755u);
    EXPECT_EQ(ModeOf(home.configFile()) & 0777, 0644u);
}

TEST_F(XmlStoreTest, ALinkInPlaceOfTheFileIsNeitherReadNorWrittenThrough)
{
    const std::string folder = home.path() + "/.TAV";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    // Settings someone else wants this user to load (the log switched on).
    const std::string planted = home.path() + "/planted.xml";
    WriteFile(
        planted,
        "<?xml version=\"1.0\" ?><software><m><Gain type=\"4\">05000000</Gain></m></software>");
    std::filesystem::create_symlink(planted, home.configFile());

    int32_t value = 0;
    EXPECT_FALSE(QueryInt("software\\m", "Gain", &value));

    const std::string before = ReadFile(planted);
    StoreInt("software\\m", "Gain", 7);
    EXPECT_EQ(ReadFile(planted), before);
    EXPECT_TRUE(S_ISREG(ModeOf(home.configFile())));
    ASSERT_TRUE(QueryInt("software\\m", "Gain", &value));
    EXPECT_EQ(value, 7);
}

TEST_F(XmlStoreTest, ALinkInPlaceOfTheFolderIsRefused)
{
    const std::string elsewhere = home.path() + "/elsewhere";
    ASSERT_TRUE(std::filesystem::create_directory(elsewhere));
    std::filesystem::create_directory_symlink(elsewhere, home.path() + "/.TAV");
    xmlHandle handle{};
    EXPECT_FALSE(XMLCreateKey(kFile, "software\\m", &handle, nullptr));
    EXPECT_TRUE(FolderEntries(elsewhere).empty());
}

TEST_F(XmlStoreTest, AnotherUsersFileIsNotRead)
{
    StoreInt("software\\m", "Gain", 5);
    if (chown(home.configFile().c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving a file away needs root";
    int32_t value = 0;
    EXPECT_FALSE(QueryInt("software\\m", "Gain", &value));
}

TEST_F(XmlStoreTest, SaveRemovesTheTemporariesThatNoSaveHolds)
{
    const std::string folder = home.path() + "/.TAV";
    StoreInt("software\\m", "Gain", 1);
    for (const char *name : {"ORUconfig.xml.Ab3xYz", "ORUconfig.xml.bak", "ORUconfig.xml.Ab3xY",
                             "ORUconfig.xml.Ab3-Yz", "other.xml.Ab3xYz", "ORUconfig.xml.held01"})
        WriteFile(folder + "/" + name, "partial");
    // A save in progress elsewhere holds its temporary's lock.
    const int held = open((folder + "/ORUconfig.xml.held01").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    StoreInt("software\\m", "Gain", 2);
    EXPECT_EQ(FolderEntries(folder),
              (std::vector<std::string>{"ORUconfig.xml", "ORUconfig.xml.Ab3-Yz",
                                        "ORUconfig.xml.Ab3xY", "ORUconfig.xml.bak",
                                        "ORUconfig.xml.held01", "other.xml.Ab3xYz"}));

    close(held);
    StoreInt("software\\m", "Gain", 3);
    EXPECT_FALSE(std::filesystem::exists(folder + "/ORUconfig.xml.held01"));
}

// A child saves over and over and is killed at random moments: the file is
// always one whole save, and whatever the killed saves left is gone after
// the next one.
TEST_F(XmlStoreTest, SettingsSurviveAKillAtAnyMomentOfASave)
{
    constexpr int kKills = 60;
    StoreInt("software\\m", "Gain", 0);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayUs(0, 20000);
    int savesSeen = 0;
    int leftBehind = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int32_t gain = 1;; gain = gain % 1000 + 1) {
                xmlHandle handle{};
                if (XMLCreateKey(kFile, "software\\m", &handle, nullptr)) {
                    XMLSetValueEx(handle, "Gain", nullptr, 4,
                                  reinterpret_cast<unsigned char *>(&gain), 4);
                    XMLCloseKey(&handle);
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const int32_t gain = GainInFile(home.configFile());
        ASSERT_GE(gain, 0) << "kill " << kill << ": the file is not one whole save";
        ASSERT_LE(gain, 1000);
        savesSeen += gain > 0;
        leftBehind += FolderEntries(home.path() + "/.TAV").size() > 1;
    }
    RecordProperty("KillsLeavingTemporaries", leftBehind);
    EXPECT_GT(savesSeen, 0) << "no kill came after a save: the loop tested nothing";

    StoreInt("software\\m", "Gain", 1001);
    EXPECT_EQ(FolderEntries(home.path() + "/.TAV"), std::vector<std::string>{"ORUconfig.xml"});
    EXPECT_EQ(GainInFile(home.configFile()), 1001);
}
