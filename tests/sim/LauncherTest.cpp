// The oru-sim launcher, run as a user runs it (this test binary itself is not
// under umockdev's preload), and the parts of the simulator that need no bus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/PortAddress.h"
#include "sim/SimulatedBus.h"
#include "sim/StreamFaults.h"
#include "sim/UmockdevPreload.h"

using namespace oru_sim;

namespace {

struct Launch {
    pid_t pid = -1;
    FILE* output = nullptr;  // the launcher's standard output
};

Launch start(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), ORU_SIM_PATH);
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    Launch launch;
    launch.pid = fork();
    if (launch.pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> argv;
        for (std::string& word : arguments)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(99);
    }
    close(pipeFds[1]);
    launch.output = fdopen(pipeFds[0], "r");
    return launch;
}

std::string readLine(FILE* stream)
{
    char line[512];
    if (!std::fgets(line, sizeof line, stream))
        return "";
    std::string text(line);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

int finish(Launch& launch, std::vector<std::string>* lines = nullptr)
{
    for (std::string line = readLine(launch.output); !line.empty() || !std::feof(launch.output);
         line = readLine(launch.output))
        if (lines)
            lines->push_back(line);
    std::fclose(launch.output);
    int status = 0;
    waitpid(launch.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(LauncherTest, RunsTheCommandWithTheCamerasAndReturnsItsExitCode)
{
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> cameras;  // sorted: libusb's order is not the port order
        int exitCode;
    };
    const Case cases[] = {
        {{"--camera", "0x1001", "--", SIM_PROBE_PATH}, {"3a7e:1001 1-1 5000 V30"}, 0},
        {{"--camera", "4098@2-3.1", "--camera=0x1001", SIM_PROBE_PATH, "--exit", "7"},
         {"3a7e:1001 1-1 5000 V30", "3a7e:1002 2-3.1 5000 V30"},
         7},
        {{"--camera", "0x1001", "--", SIM_PROBE_PATH, "--bulk"}, {"3a7e:1001 1-1 5000 V30 bulk ok"}, 0},
        {{"--camera", "0x1001", "--fault", "short-every=2:100", SIM_PROBE_PATH, "--bulk"},
         {"3a7e:1001 1-1 5000 V30 bulk short=3 bad=0"},
         0},
        // The counting pattern fills whole transfers: no frame is the size or carries the markers.
        {{"--camera", "0x1001", "--counting-pattern", "--", SIM_PROBE_PATH, "--bulk"},
         {"3a7e:1001 1-1 5000 V30 bulk short=0 bad=6"},
         0},
        {{"--camera", "0x1001", "--fault", "stall-every=2", SIM_PROBE_PATH, "--bulk"},
         {"3a7e:1001 1-1 5000 V30 bulk short=0 bad=0 stalled=3"},
         0},
        {{"--camera", "0x1001", "--fault", "bad-marker-every=3", SIM_PROBE_PATH, "--bulk"},
         {"3a7e:1001 1-1 5000 V30 bulk short=0 bad=2"},
         0},
        {{"--camera", "0x1001", "--fault=bad-marker-every=2:counter", "--fault", "drop-every=4", SIM_PROBE_PATH,
          "--bulk"},
         {"3a7e:1001 1-1 5000 V30 bulk short=0 bad=3"},
         0},
        {{"--", SIM_PROBE_PATH, "--exit", "3"}, {}, 3},
        // A named model brings its chips: a TMP100 reading 20 degC ambient.
        {{"--camera", "ORU6200MC Pro", "--camera=oru6200mc-PRO@1-4", "--camera", "0x1001@1-2", SIM_PROBE_PATH,
          "--temperature"},
         {"3a7e:1001 1-1 5000 V30 B3:0014", "3a7e:1001 1-2 5000 V30 B3:0000", "3a7e:1001 1-4 5000 V30 B3:0014"},
         0},
        // The ORU120 starts with firmware 0x2F unless told otherwise.
        {{"--camera", "ORU120", "--camera", "oru120@1-3", "--firmware", "0x30", "--", SIM_PROBE_PATH},
         {"3a7e:1005 1-1 480 V2F", "3a7e:1005 1-3 480 V30"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        Launch launch = start(c.arguments);
        std::vector<std::string> lines;
        EXPECT_EQ(finish(launch, &lines), c.exitCode);
        ASSERT_FALSE(lines.empty());
        std::string testbed = lines.front();
        EXPECT_EQ(testbed.rfind("/tmp/umockdev.", 0), 0u) << testbed;
        EXPECT_FALSE(std::filesystem::exists(testbed)) << "testbed left behind";
        std::vector<std::string> cameras(lines.begin() + 1, lines.end());
        std::sort(cameras.begin(), cameras.end());
        EXPECT_EQ(cameras, c.cameras);
    }
}

TEST(LauncherTest, PullsTheCableOutAndPlugsItInAgainAtItsPort)
{
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> seen;
    };
    const Case cases[] = {
        {{"--camera", "0x1001@1-2", "--fault", "unplug-after=1", "--fault", "replug-after=0.2", "--", SIM_PROBE_PATH,
          "--replug-watch", "30"},
         {"removed", "back 1-2 V30"}},
        {{"--camera", "oru120@1-3", "--firmware", "0x30", "--fault", "unplug-after=1", "--fault=replug-after=0.1", "--",
          SIM_PROBE_PATH, "--replug-watch", "30"},
         {"removed", "back 1-3 V30"}},
        {{"--camera", "0x1001", "--fault", "unplug-after=0.5", "--", SIM_PROBE_PATH, "--replug-watch", "2"},
         {"removed", "not back"}},
        {{"--camera", "0x1001", "--fault", "drop-every=2", "--", SIM_PROBE_PATH, "--replug-watch", "0.5"},
         {"still there"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[2] + " " + c.arguments[3]);
        Launch launch = start(c.arguments);
        std::vector<std::string> lines;
        EXPECT_EQ(finish(launch, &lines), 0);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), c.seen);
    }
}

TEST(LauncherTest, ForwardsATerminationSignalAndCleansUp)
{
    Launch launch = start({"--camera", "0x1001", "--", SIM_PROBE_PATH, "--wait"});
    std::string testbed = readLine(launch.output);
    ASSERT_FALSE(testbed.empty());
    EXPECT_TRUE(std::filesystem::exists(testbed));
    kill(launch.pid, SIGTERM);
    EXPECT_EQ(finish(launch), 128 + SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(testbed));
}

TEST(LauncherTest, StateFileShowsEachCamerasTemperatureAndGuidePulses)
{
    const std::string path = testing::TempDir() + "oru-sim-state-" + std::to_string(getpid()) + ".json";
    Launch launch = start(
        {"--camera", "oru6200mc-pro", "--camera", "0x1001@1-3", "--state-file", path, "--", SIM_PROBE_PATH, "--guide"});
    EXPECT_EQ(finish(launch), 0);
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::filesystem::remove(path);
    const std::string state = text.str();
    // A TMP100 at 20 degC ambient on the named model, no chip on the bare product ID.
    EXPECT_NE(
        state.find("{\"product_id\": 4097, \"port\": \"1-1\", \"plugged_in\": true, \"streaming\": false, "
                   "\"sensor_temperature\": 20, \"cooler_power\": 0, \"guide_pulses\": [{\"direction\": \"east\""),
        std::string::npos)
        << state;
    EXPECT_NE(state.find("\"port\": \"1-3\""), std::string::npos) << state;
    size_t duration = state.find("\"duration_ms\": ");
    ASSERT_NE(duration, std::string::npos) << state;
    double milliseconds = std::stod(state.substr(duration + 15));
    EXPECT_GE(milliseconds, 30.0);
    EXPECT_LT(milliseconds, 1000.0);
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

TEST(LauncherTest, ReportsItsOwnFailures)
{
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Case cases[] = {
        {{"--camera", "0x12345", "--", "true"}, 125},
        {{"--camera", "0x1001@1-x", "--", "true"}, 125},
        {{"--camera", "0x1001@1-1", "--camera", "0x1002@1-1", "--", "true"}, 125},
        {{"--frobnicate", "true"}, 125},
        {{"--fault", "drop-every=2", "--camera", "0x1001", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "drop-every=0", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "stall-every=0", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "bad-marker-every=2:middle", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "replug-after=1", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "unplug-after=1", "--camera", "0x1002", "--fault", "replug-after=1", "--",
          "true"},
         125},
        {{"--camera", "0x1001", "--fault", "unplug-after=-1", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "unplug-after=soon", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "unplug-after=", "--", "true"}, 125},
        {{"--camera", "0x1001", "--fault", "unplug-after=nan", "--", "true"}, 125},
        {{"--camera", "0x1001"}, 125},
        {{"--camera", "ORU6200MC", "--", "true"}, 125},
        {{"--firmware", "0x30", "--camera", "oru120", "--", "true"}, 125},
        {{"--counting-pattern", "--camera", "0x1001", "--", "true"}, 125},
        {{"--camera", "oru120", "--firmware", "0x130", "--", "true"}, 125},
        {{"--camera", "oru120", "--firmware", "--", "true"}, 125},
        {{"--thermal-time-constant", "1", "--camera", "0x1001", "--", "true"}, 125},
        {{"--camera", "0x1001", "--thermal-time-constant", "-1", "--", "true"}, 125},
        {{"--camera", "0x1001", "--thermal-time-constant", "fast", "--", "true"}, 125},
        {{"--camera", "0x1001", "--state-file"}, 125},
        {{"--", "/nonexistent/program"}, 127},
    };
    for (const Case& c : cases) {
        Launch launch = start(c.arguments);
        EXPECT_EQ(finish(launch), c.exitCode) << c.arguments.front() << " ... " << c.arguments.back();
    }

    Launch launch = start({"--list-models"});
    std::vector<std::string> lines;
    EXPECT_EQ(finish(launch, &lines), 0);
    const std::vector<std::string> starts = {
        "ORU6200MC Pro (oru6200mc-pro)  TAV ORU6200MC Pro, product ID 0x1001",
        "ORU6200MM Pro (oru6200mm-pro)  TAV ORU6200MM Pro, product ID 0x1002",
        "ORU462MC (oru462mc)  TAV ORU462MC, product ID 0x1003",
        "ORU462MM (oru462mm)  TAV ORU462MM, product ID 0x1004",
        "ORU120 (oru120)  ORU120, product ID 0x1005",
        "ORU174MM (oru174mm)  TAV ORU174MM, product ID 0x1009",
        "ORU174MC (oru174mc)  TAV ORU174MC, product ID 0x100A",
        "PRODUCT-ID",
    };
    ASSERT_EQ(lines.size(), starts.size());
    for (size_t i = 0; i < starts.size(); ++i)
        EXPECT_EQ(lines[i].rfind(starts[i], 0), 0u) << lines[i];
}

TEST(PortAddressTest, ParsesBusAndPortChain)
{
    EXPECT_EQ(PortAddress::parse("1-2"), (PortAddress{1, {2}}));
    EXPECT_EQ(PortAddress::parse("3-1.4.5"), (PortAddress{3, {1, 4, 5}}));
    EXPECT_EQ(PortAddress::parse("3-1.4.5").devpath(), "1.4.5");
    for (const char* bad : {"", "1", "1-", "1-2.", "x-1", "1-0", "0-1", "1-1.2.3.4.5.6.7.8", "1-1000", "1-2 "})
        EXPECT_THROW(PortAddress::parse(bad), std::invalid_argument) << '"' << bad << '"';
}

TEST(BusWithoutPreloadTest, FailsWithAClearMessage)
{
    if (UmockdevPreload::active())
        GTEST_SKIP() << "this test must run without umockdev's preload";
    try {
        SimulatedBus bus;
        FAIL() << "a bus came up without the preload";
    } catch (const std::runtime_error& error) {
        const std::string setting = std::string("LD_PRELOAD=") + UmockdevPreload::kLibrary;
        EXPECT_NE(std::string(error.what()).find(setting), std::string::npos) << error.what();
    }
}

TEST(StreamFaultsTest, OneShotAndPeriodicSwitchesPickTheirFrames)
{
    struct Frame {
        bool withheld;
        size_t shortBy;
    };
    struct Case {
        std::string what;
        std::function<void(StreamFaults&)> set;
        std::vector<Frame> frames;
    };
    const Case cases[] = {
        {"drop-every=3",
         [](StreamFaults& f) { f.apply("drop-every=3"); },
         {{false, 0}, {false, 0}, {true, 0}, {false, 0}, {false, 0}, {true, 0}}},
        {"short-every=2",
         [](StreamFaults& f) { f.apply("short-every=2"); },
         {{false, 0}, {false, 4096}, {false, 0}, {false, 4096}}},
        {"short-every=1:100",
         [](StreamFaults& f) { f.apply("short-every=1:100"); },
         {{false, 100}, {false, 100}, {false, 100}}},
        {"a held-back frame does not use up the next frame's fault",
         [](StreamFaults& f) {
             f.withholdNextFrames(2);
             f.shortenNextFrame(5);
         },
         {{true, 0}, {true, 0}, {false, 5}, {false, 0}}},
        {"switched off",
         [](StreamFaults& f) {
             f.apply("drop-every=1");
             f.withholdFramesPeriodically(0);
         },
         {{false, 0}, {false, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StreamFaults faults;
        c.set(faults);
        for (size_t i = 0; i < c.frames.size(); ++i) {
            StreamFaults::FrameFaults frame = faults.takeFrameFaults();
            EXPECT_EQ(frame.withhold, c.frames[i].withheld) << "frame " << i;
            EXPECT_EQ(frame.shortBy, c.frames[i].shortBy) << "frame " << i;
        }
    }
}

TEST(StreamFaultsTest, PeriodicStallsAndBrokenMarkersPickTheirFrames)
{
    StreamFaults faults;
    faults.apply("stall-every=2");
    faults.apply("bad-marker-every=3:tail");
    faults.withholdNextFrames(1);
    const bool stalls[] = {false, false, true, false, true, false, true};
    const std::optional<MarkerFault> markers[] = {
        std::nullopt, std::nullopt, std::nullopt,           MarkerFault::TailMarker,
        std::nullopt, std::nullopt, MarkerFault::TailMarker};
    for (size_t i = 0; i < std::size(stalls); ++i) {
        StreamFaults::FrameFaults frame = faults.takeFrameFaults();
        EXPECT_EQ(frame.withhold, i == 0) << "frame " << i;
        EXPECT_EQ(frame.marker, markers[i]) << "frame " << i;
        EXPECT_EQ(faults.takeStall(), stalls[i]) << "frame " << i;
        EXPECT_FALSE(faults.takeStall()) << "one stall per frame";
    }
    StreamFaults head;
    head.apply("bad-marker-every=1");
    EXPECT_EQ(head.takeFrameFaults().marker, MarkerFault::HeadMarker);
}

TEST(StreamFaultsTest, RefusesUnknownOrMalformedSwitches)
{
    for (const char* bad :
         {"drop-every=0", "drop-every=x", "drop-every=-1", "drop-every", "short-every=2:", "short-every=:5",
          "short-every=2:0", "stall=1", "stall-every=0", "bad-marker-every",
          "bad-marker-every=2:", "bad-marker-every=:head", "bad-marker-every=2:Head", "unplug-after=1", ""}) {
        StreamFaults faults;
        EXPECT_THROW(faults.apply(bad), std::invalid_argument) << '"' << bad << '"';
    }
}
