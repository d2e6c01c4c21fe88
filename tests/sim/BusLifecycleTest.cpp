// The bus's own life: one per process, and no testbed left behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "sim/SimulatedBus.h"

using namespace oru_sim;

TEST(BusLifecycleTest, RemovesItsDirectoryAndAllowsOneBusAtATime)
{
    std::string root;
    {
        SimulatedBus bus;
        root = bus.rootDirectory();
        bus.addCamera(CameraConfig{});
        EXPECT_TRUE(std::filesystem::exists(root));
        EXPECT_THROW(SimulatedBus{}, std::runtime_error);
    }
    EXPECT_FALSE(std::filesystem::exists(root));
    SimulatedBus again;
    EXPECT_NE(again.rootDirectory(), root);
}

TEST(BusLifecycleTest, RemovesTestbedsThatDeadProcessesLeftBehind)
{
    namespace fs = std::filesystem;
    long pidMax = 0;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
    ASSERT_GT(pidMax, 0);
    fs::path temporary = fs::temp_directory_path();
    struct Leftover {
        fs::path path;
        long ownerPid;  // 0: no owner file
        bool removed;
    };
    const Leftover leftovers[] = {
        {temporary / "umockdev.oru-test-dead", pidMax + 1, true},
        {temporary / "umockdev.oru-test-alive", static_cast<long>(getppid()), false},
        {temporary / "umockdev.oru-test-foreign", 0, false},
    };
    for (const Leftover& leftover : leftovers) {
        fs::create_directories(leftover.path / "sys");
        if (leftover.ownerPid != 0)
            std::ofstream(leftover.path / "oru-sim.owner") << leftover.ownerPid << "\n";
    }
    {
        SimulatedBus bus;
    }
    for (const Leftover& leftover : leftovers) {
        EXPECT_EQ(!fs::exists(leftover.path), leftover.removed) << leftover.path;
        fs::remove_all(leftover.path);
    }
}
