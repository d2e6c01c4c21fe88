#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "wrapper/CameraException.h"
#include "wrapper/Udev.h"

namespace {

namespace fs = std::filesystem;
using tav_oru::CameraException;
using namespace tav_oru::internal;

const std::string kRuleLines =
    "ACTION==\"add\", ATTR{idVendor}==\"3a7e\", RUN+=\"/bin/sh -c '/bin/echo 200 "
    ">/sys/module/usbcore/parameters/usbfs_memory_mb'\"\n"
    "# All ORU Cameras and filter wheels\n"
    "SUBSYSTEMS==\"usb\", ATTR{idVendor}==\"3a7e\", MODE=\"0666\"\n";

const std::string kAdviceStart =
    "ORU Camera:\n"
    "the command 'cat /sys/module/usbcore/parameters/usbfs_memory_mb' did not return the "
    "expected value of '200' which may indicate incorrect udev rules for the ORU camera.\n";

class Udev : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/oru-udev-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string limit_file(const std::string &content) const
    {
        const std::string path = (dir_ / "usbfs_memory_mb").string();
        std::ofstream(path) << content;
        return path;
    }

    std::string rules() const
    {
        std::ifstream in(dir_ / kUdevRulesFile);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The text of the exception check_system_udev throws, empty when it returns.
    static std::string check(const std::string &limit_file, const std::string &rules_directory)
    {
        try {
            check_system_udev(limit_file, rules_directory);
        } catch (const CameraException &e) {
            return e.what();
        }
        return {};
    }

    fs::path dir_;
};

TEST_F(Udev, OnlyTwoHundredWithItsNewlinePasses)
{
    struct Case {
        const char *content;
        bool passes;
    };
    const std::vector<Case> cases = {
        {"200\n", true}, {"16\n", false}, {"200", false}, {"", false}, {"2000\n", false},
    };
    for (const Case &c : cases) {
        fs::remove(dir_ / kUdevRulesFile);
        EXPECT_EQ(check(limit_file(c.content), dir_.string()).empty(), c.passes) << c.content;
        EXPECT_EQ(fs::exists(dir_ / kUdevRulesFile), !c.passes) << c.content;
    }
}

TEST_F(Udev, WrongLimitWritesTheRuleFileAndExplains)
{
    EXPECT_EQ(check(limit_file("16\n"), dir_.string()),
              kAdviceStart +
                  "A file '99-oru.rules' has been created in the current directory, please run in "
                  "a terminal:\n"
                  "  sudo install 99-oru.rules /lib/udev/rules.d\n"
                  "and reconnect the camera\n");
    EXPECT_EQ(rules(), kRuleLines);
}

TEST_F(Udev, MissingLimitFileCountsAsWrong)
{
    EXPECT_NE(check((dir_ / "absent").string(), dir_.string()), "");
    EXPECT_EQ(rules(), kRuleLines);
}

TEST_F(Udev, RewritingReplacesTheOldFile)
{
    std::ofstream(dir_ / kUdevRulesFile) << std::string(1000, 'x');
    EXPECT_TRUE(create_udev_file(dir_.string()));
    EXPECT_EQ(rules(), kRuleLines);
}

TEST_F(Udev, UnwritableDirectoryGivesTheFailedAttemptText)
{
    // Tests run as root, for whom a read-only directory is still writable, so
    // the unwritable places are ones that cannot hold a file at all.
    std::ofstream(dir_ / "plain-file") << "x";
    const std::vector<fs::path> places = {dir_ / "missing", dir_ / "plain-file"};
    const std::string limit = limit_file("16\n");
    for (const fs::path &place : places) {
        EXPECT_FALSE(create_udev_file(place.string())) << place;
        EXPECT_EQ(check(limit, place.string()),
                  kAdviceStart +
                      "There has been a failed attempt to create a '99-oru.rules file in the "
                      "current directory.'\n"
                      "See 'install udev rule' in:\n"
                      "https://tav-oru.example.org/linux-manual")
            << place;
    }
}

TEST(UdevCommand, ReturnsAllOfStandardOutput)
{
    struct Case {
        std::string command;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"printf 'abc\\n'", "abc\n"},
        // Longer than one read: nothing may be lost between pieces.
        {"printf '%0300d\\nend\\n' 0", std::string(300, '0') + "\nend\n"},
        {"echo out; echo err >&2; exit 3", "out\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(run_system_command(c.command), c.output) << c.command;
}

} // namespace
