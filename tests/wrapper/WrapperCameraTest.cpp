// The wrapper's Camera on a simulated ORU6200MC Pro, through the flat API and
// the real libusb: the region the camera reads out and what get_roi reports,
// and the value a control really gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "tests/TempHome.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"
#include "wrapper/Camera.h"
#include "wrapper/ControllableException.h"
#include "wrapper/UnknownControllableException.h"

using tav_oru::Camera;
using tav_oru::ImageType;
using tav_oru::ROI;

namespace {

class WrapperCameraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim_ = &bus_.addCamera(oru_sim::ModelCatalog::find("ORU6200MC Pro"));
        camera_ = std::make_unique<Camera>(0);
    }

    static ROI Roi(int start_x, int start_y, int bins)
    {
        return ROI{start_x, start_y, 640, 480, bins, ImageType::raw8};
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    oru_sim::SimulatedCamera *sim_ = nullptr;
    std::unique_ptr<Camera> camera_;
};

} // namespace

TEST_F(WrapperCameraTest, GetRoiReportsTheStartTheSensorReadsFrom)
{
    struct Case {
        int start_x, start_y, bins;
    };
    for (const Case c : {Case{16, 8, 1}, Case{1001, 501, 1}, Case{40, 20, 2}}) {
        SCOPED_TRACE(std::to_string(c.start_x) + "," + std::to_string(c.start_y) + " bin " +
                     std::to_string(c.bins));
        camera_->set_roi(Roi(c.start_x, c.start_y, c.bins));
        const ROI reported = camera_->get_roi();
        EXPECT_EQ(reported.start_x * c.bins, sim_->sensorState().windowX);
        EXPECT_EQ(reported.start_y * c.bins, sim_->sensorState().windowY);
        EXPECT_EQ(reported.width, 640);
        EXPECT_EQ(reported.bins, c.bins);
        EXPECT_EQ(reported.type, ImageType::raw8);
    }
}

TEST_F(WrapperCameraTest, SettingTheReportedRoiLeavesTheWindowWhereItIs)
{
    camera_->set_roi(Roi(1600, 900, 1));
    const int x = sim_->sensorState().windowX;
    const int y = sim_->sensorState().windowY;
    ASSERT_GT(x, 0);
    ASSERT_GT(y, 0);
    camera_->set_roi(camera_->get_roi());
    EXPECT_EQ(sim_->sensorState().windowX, x);
    EXPECT_EQ(sim_->sensorState().windowY, y);
}

TEST_F(WrapperCameraTest, SetControlReturnsTheClampedValue)
{
    EXPECT_EQ(camera_->set_control("Gain", 100000), 700);
    EXPECT_EQ(camera_->get_control("Gain").value, 700);
    EXPECT_EQ(camera_->set_control("Gain", -5), 0);
    EXPECT_EQ(camera_->set_control("Gain", 250), 250);
}

TEST_F(WrapperCameraTest, ReadOnlyAndUnknownControlsAreRefused)
{
    try {
        camera_->set_control("Temperature", 20);
        FAIL() << "a read-only control was written";
    } catch (const tav_oru::ControllableException &error) {
        EXPECT_STREQ(error.what(), "failed to change the value of Temperature: not writable");
    }
    try {
        camera_->set_control("Gian", 20);
        FAIL() << "an unknown control was written";
    } catch (const tav_oru::UnknownControllableException &error) {
        EXPECT_STREQ(error.what(), "no such controllable: Gian");
        EXPECT_EQ(error.name(), "Gian");
        const auto &names = error.known_names();
        EXPECT_EQ(names.size(), camera_->get_controls().size());
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
        EXPECT_NE(std::find(names.begin(), names.end(), "Gain"), names.end());
    }
}
