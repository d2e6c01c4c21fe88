// The ORU462MC pulled out in the middle of things, through the flat API and
// the simulated bus: during video, a snap, a long exposure and a control
// transfer. Every call then reports the camera removed (or a time-out)
// within a second, nothing hangs, enumeration no longer lists the camera,
// and plugged in again it opens under its old ID.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/FlatCalls.h"
#include "tests/FlatCameraTest.h"
#include "tests/Watchdog.h"
#include "sim/RegisterSpace.h"

using oru_sim::RegisterSpace;
using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr uint8_t kReqWriteSensor = 0xB6;
constexpr uint16_t kFpgaTriggerSignal = 11;

// The calls a program makes on an open camera: every flat function, and a
// read of a whole frame that would wait.
std::vector<FlatCall> CameraCalls()
{
    static std::vector<unsigned char> frame(kWidth * kHeight);
    static int32_t value;
    static ORU_BOOL flag;
    std::vector<FlatCall> calls = AllCameraFunctions();
    calls.push_back({"GetVideoData of a whole frame", [](int id) {
                         return ORUGetVideoData(id, frame.data(),
                                                static_cast<int32_t>(frame.size()), 500);
                     }});
    calls.push_back({"GetTemperature", [](int id) {
                         return ORUGetControlValue(id, ORU_TEMPERATURE, &value, &flag);
                     }});
    return calls;
}

class UnplugTest : public FlatCameraTest {
protected:
    void SetUp() override
    {
        OpenCamera("ORU462MC");
        Prepare();
    }

    void Prepare()
    {
        SetRoi(kWidth, kHeight, 1, ORU_IMG_RAW8);
        SetControl(ORU_EXPOSURE, 1000);
    }

    // Waits until `call` stops succeeding, at most a second; its last resul
    static ORU_ERROR_CODE FirstFailure(const std::function<ORU_ERROR_CODE()> &call)
    {
        ORU_ERROR_CODE result = call();
        WaitFor([&] { return (result = call()) != ORU_SUCCESS; }, 1000ms);
        return result;
    }

    void ExpectEveryCallRefusedPromptly()
    {
        for (const FlatCall &f : CameraCalls()) {
            const Clock::time_point start = Clock::now();
            const ORU_ERROR_CODE result = f.call(id_);
            EXPECT_TRUE(result == ORU_ERROR_CAMERA_REMOVED || result == ORU_ERROR_TIMEOUT)
                << f.name << " returned " << result;
            EXPECT_LT(MsSince(start), 1000) << f.name;
        }
    }

    // Enumeration drops the camera; plugged in again at its port it gets
    // its ID back, opens and streams.
    void ExpectItComesBackUnderItsId()
    {
        EXPECT_EQ(ORUGetNumOfConnectedCameras(), 0);
        sim_ = &bus_.replug(*sim_);
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
        ORU_CAMERA_INFO info{};
        ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
        EXPECT_EQ(info.camera_id, id_);
        ASSERT_EQ(ORUOpenCamera(id_), ORU_SUCCESS);
        ASSERT_EQ(ORUInitCamera(id_), ORU_SUCCESS);
        Prepare();
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
        EXPECT_FALSE(VideoFrame().empty());
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    }
};

struct UnplugCase {
    const char *name;
    // Sets the camera to work; returns once the work is under way.
    std::function<void()> begin;
    // After the unplug: what the work in progress reports.
    std::function<void()> check;
};

} // namespace

TEST_F(UnplugTest, EveryCallReportsTheCameraRemovedAndItComesBackUnderItsId)
{
    Watchdog watchdog(120s, "the unplug matrix");
    std::atomic<ORU_ERROR_CODE> pending{ORU_SUCCESS};
    std::atomic<bool> pendingDone{false};
    std::thread worker;
    // A call left pending by a failed case ends with the camera's removal.
    struct Joiner {
        std::thread &thread;
        ~Joiner()
        {
            if (thread.joinable())
                thread.join();
        }
    } joiner{worker};
    Clock::time_point unpluggedAt;

    auto runPending = [&](std::function<ORU_ERROR_CODE()> call) {
        pendingDone = false;
        worker = std::thread([&, call] {
            pending = call();
            pendingDone = true;
        });
    };
    auto pendingEndsRemoved = [&]() {
        EXPECT_TRUE(WaitFor([&] { return pendingDone.load(); }, 1000ms));
        worker.join();
        EXPECT_EQ(pending, ORU_ERROR_CAMERA_REMOVED);
    };
    auto exposureEndsRemoved = [&]() {
        EXPECT_EQ(FirstFailure([&] {
                      ORU_EXPOSURE_STATUS status;
                      return ORUGetExpStatus(id_, &status);
                  }),
                  ORU_ERROR_CAMERA_REMOVED);
        EXPECT_LT(MsSince(unpluggedAt), 1500);
    };
    auto exposing = [&](int32_t exposureUs) {
        std::atomic<bool> started{false};
        sim_->setRegisterObserver([&](RegisterSpace space, uint16_t address, uint16_t value) {
            if (space == RegisterSpace::Fpga && address == kFpgaTriggerSignal && (value & 1) != 0)
                started = true;
        });
        SetControl(ORU_EXPOSURE, exposureUs);
        EXPECT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
        // A long exposure is under way once the trigger signal starts it.
        const bool underWay = WaitFor(
            [&] {
                return exposureUs >= 1000000 ? started.load() : sim_->waitingBulkTransfers() > 0;
            },
            5000ms);
        sim_->setRegisterObserver(nullptr);
        ASSERT_TRUE(underWay);
    };

    const UnplugCase cases[] = {
        {"during video",
         [&]() {
             ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
             ASSERT_FALSE(VideoFrame().empty());
             runPending([&] {
                 std::vector<unsigned char> frame(static_cast<size_t>(frameBytes_));
                 ORU_ERROR_CODE result;
                 while ((result = ORUGetVideoData(id_, frame.data(), frameBytes_, 10000)) ==
                        ORU_SUCCESS) {
                 }
                 return result;
             });
             std::this_thread::sleep_for(100ms);
         },
         pendingEndsRemoved},
        {"during a snap", [&]() { exposing(300000); }, exposureEndsRemoved},
        {"during a long exposure", [&]() { exposing(3000000); }, exposureEndsRemoved},
        {"during a control transfer",
         [&]() {
             sim_->setUnresponsive(true);
             const size_t writes = sim_->requests(kReqWriteSensor).size();
             runPending([&] { return ORUSetControlValue(id_, ORU_GAIN, 150, ORU_FALSE); });
             ASSERT_TRUE(
                 WaitFor([&] { return sim_->requests(kReqWriteSensor).size() > writes; }, 2000ms));
         },
         pendingEndsRemoved},
    };
    for (const UnplugCase &c : cases) {
        SCOPED_TRACE(c.name);
        c.begin();
        if (HasFatalFailure())
            bus_.unplug(*sim_);
        ASSERT_FALSE(HasFatalFailure());
        unpluggedAt = Clock::now();
        bus_.unplug(*sim_);
        c.check();
        ExpectEveryCallRefusedPromptly();
        ExpectItComesBackUnderItsId();
        if (HasFatalFailure())
            return;
    }
}
