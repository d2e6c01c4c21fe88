// Fault switches, unplug and replug, as libusb reports them.
#include <chrono>
#include <optional>
#include <thread>

#include "SimTestFixture.h"

using namespace oru_sim;
using Clock = std::chrono::steady_clock;

namespace {

long millisecondsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

using FaultTest = SimTestFixture;

TEST_F(FaultTest, FailNextRequests)
{
    struct Step {
        uint8_t request;  // 0xAD answers 2 bytes, 0xBC one
        int result;
    };
    struct Case {
        const char* name;
        int count;
        FailureKind kind;
        std::optional<uint8_t> onlyRequest;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"next two stall",
         2,
         FailureKind::Stall,
         {},
         {{0xAD, LIBUSB_ERROR_PIPE}, {0xBC, LIBUSB_ERROR_PIPE}, {0xAD, 2}}},
        {"only one code", 1, FailureKind::Stall, 0xBC, {{0xAD, 2}, {0xBC, LIBUSB_ERROR_PIPE}, {0xBC, 1}}},
        {"time-out", 1, FailureKind::Timeout, {}, {{0xAD, LIBUSB_ERROR_TIMEOUT}, {0xAD, 2}}},
    };
    const unsigned timeoutMs = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedCamera& camera = addCamera();
        libusb_device_handle* handle = open(camera);
        camera.failNextRequests(c.count, c.kind, c.onlyRequest);
        for (const Step& step : c.steps) {
            std::vector<uint8_t> reply;
            Clock::time_point start = Clock::now();
            EXPECT_EQ(vendorIn(handle, step.request, 0, 0, reply, step.request == 0xAD ? 2 : 1, timeoutMs),
                      step.result);
            if (step.result == LIBUSB_ERROR_TIMEOUT) {
                EXPECT_GE(millisecondsSince(start), static_cast<long>(timeoutMs));
                EXPECT_LT(millisecondsSince(start), 2000);
            }
        }
    }
}

TEST_F(FaultTest, UnresponsiveCameraAnswersNothingUntilSwitchedBack)
{
    SimulatedCamera& camera = addCamera();
    libusb_device_handle* handle = open(camera);
    camera.setUnresponsive(true);
    std::vector<uint8_t> reply;
    EXPECT_EQ(vendorIn(handle, 0xAD, 0, 0, reply, 2, 50), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(vendorOut(handle, 0xBD, 0, 0, {}, 50), LIBUSB_ERROR_TIMEOUT);
    camera.setUnresponsive(false);
    EXPECT_EQ(vendorIn(handle, 0xAD, 0, 0, reply, 2), 2);

    std::vector<ControlRequest> log = camera.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].outcome, RequestOutcome::Unanswered);
    EXPECT_EQ(log[1].outcome, RequestOutcome::Unanswered);
    EXPECT_EQ(log[2].outcome, RequestOutcome::Completed);
}

TEST_F(FaultTest, UnplugEndsPendingTransfersWithNoDevice)
{
    SimulatedCamera& camera = addCamera();
    libusb_device_handle* handle = open(camera);

    std::vector<uint8_t> buffer(1 << 20);
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    int bulkStatus = -1;
    libusb_fill_bulk_transfer(
        transfer, handle, 0x81, buffer.data(), static_cast<int>(buffer.size()),
        [](libusb_transfer* done) { *static_cast<int*>(done->user_data) = done->status; }, &bulkStatus, 0);
    ASSERT_EQ(libusb_submit_transfer(transfer), 0);  // not streaming: it waits

    camera.setUnresponsive(true);
    std::thread unplugger([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bus_.unplug(camera);
    });
    Clock::time_point start = Clock::now();
    std::vector<uint8_t> reply;
    EXPECT_EQ(vendorIn(handle, 0xAD, 0, 0, reply, 2, 5000), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_LT(millisecondsSince(start), 2000);
    unplugger.join();

    while (bulkStatus < 0 && millisecondsSince(start) < 5000) {
        timeval tick{0, 100000};
        libusb_handle_events_timeout(context_, &tick);
    }
    EXPECT_EQ(bulkStatus, LIBUSB_TRANSFER_NO_DEVICE);
    libusb_free_transfer(transfer);

    EXPECT_EQ(vendorOut(handle, 0xBD, 0, 0), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(camera.pluggedIn());
    EXPECT_EQ(findDevice(camera), nullptr);
}

TEST_F(FaultTest, ReplugIsAPowerCycleAtTheSameOrAnotherPort)
{
    auto countEvent = [](libusb_context*, libusb_device*, libusb_hotplug_event event, void* counters) -> int {
        auto* counts = static_cast<int*>(counters);
        ++counts[event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? 0 : 1];
        return 0;
    };
    int counts[2] = {0, 0};  // arrived, left
    libusb_hotplug_callback_handle hotplug;
    ASSERT_EQ(libusb_hotplug_register_callback(context_,
                                               LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                               LIBUSB_HOTPLUG_NO_FLAGS, kCameraVendorId, LIBUSB_HOTPLUG_MATCH_ANY,
                                               LIBUSB_HOTPLUG_MATCH_ANY, countEvent, counts, &hotplug),
              0);

    CameraConfig config;
    config.address = PortAddress{1, {2}};
    SimulatedCamera& camera = addCamera(config);
    libusb_device_handle* oldHandle = open(camera);
    EXPECT_EQ(vendorOut(oldHandle, 0xBD, 38, 0x40), 0);
    camera.writeFlash(0, {0x12});
    int oldNumber = camera.deviceNumber();

    bus_.unplug(camera);
    EXPECT_EQ(findDevice(camera), nullptr);
    bus_.replug(camera, PortAddress{1, {4, 1}});
    EXPECT_EQ(camera.address(), (PortAddress{1, {4, 1}}));
    EXPECT_NE(camera.deviceNumber(), oldNumber);

    libusb_device_handle* handle = open(camera);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(readIn(handle, 0xBC, 38, 0, 1), std::vector<uint8_t>{0}) << "registers start afresh";
    EXPECT_EQ(readIn(handle, 0xC3, 0, 0, 1), std::vector<uint8_t>{0x12}) << "flash keeps its data";
    std::vector<uint8_t> reply;
    EXPECT_EQ(vendorIn(oldHandle, 0xAD, 0, 0, reply, 2), LIBUSB_ERROR_NO_DEVICE);

    int samePortNumber = camera.deviceNumber();
    bus_.replug(camera);  // while plugged in: out and in again at the same port
    EXPECT_EQ(camera.address(), (PortAddress{1, {4, 1}}));
    EXPECT_NE(camera.deviceNumber(), samePortNumber);
    EXPECT_NE(open(camera), nullptr);

    Clock::time_point start = Clock::now();
    while ((counts[0] < 3 || counts[1] < 2) && millisecondsSince(start) < 2000) {
        timeval tick{0, 50000};
        libusb_handle_events_timeout(context_, &tick);
    }
    EXPECT_EQ(counts[0], 3) << "arrivals";
    EXPECT_EQ(counts[1], 2) << "departures";
    libusb_hotplug_deregister_callback(context_, hotplug);
}
