// The bus's own life: one per process, and no testbed left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "sim/SimulatedBus.h"

using namespace oru_sim;

TEST(BusLifecycleTest, RemovesItsDirectoryAndAllowsOneBusAtATime)
{
    std::string root;
    {
        SimulatedBus bus;
        root = bus.rootDirectory();
        bus.addCamera(CameraSpec{});
        EXPECT_TRUE(std::filesystem::exists(root));
        EXPECT_THROW(SimulatedBus{}, std::runtime_error);
    }
    EXPECT_FALSE(std::filesystem::exists(root));
    SimulatedBus again;
    EXPECT_NE(again.rootDirectory(), root);
}
