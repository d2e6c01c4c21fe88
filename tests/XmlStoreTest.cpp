#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
