// The camera registry through the flat API against simulated cameras: stable
// IDs across enumerations, ID reuse after unplugging, the ordinal of devices
// that share a product ID, open/close/property semantics, and concurrent use.
#include <gtest/gtest.h>
#include <libusb.h>

#include <array>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "tests/TempHome.h"
#include "api/CameraRegistry.h"
#include "api/ORUCamera.h"
#include "sim/SimulatedBus.h"

using oru_sim::CameraConfig;
using oru_sim::PortAddress;
using oru_sim::SerialNumber;
using oru_sim::SimulatedCamera;

namespace {

constexpr uint16_t kProductId = 0x1001;

CameraConfig CameraAt(std::vector<int> ports, uint8_t serialTag)
{
    CameraConfig camera = CameraConfig::usb3Camera(kProductId);
    camera.address = PortAddress{1, std::move(ports)};
    camera.serialNumber = SerialNumber{serialTag, 0, 0, 0, 0, 0, 0, 1};
    return camera;
}

// The camera ID of each connected-list index, as ORUGetCameraProperty reports it.
std::vector<int> IdsOfConnected()
{
    std::vector<int> ids;
    const int count = ORUGetNumOfConnectedCameras();
    for (int index = 0; index < count; ++index) {
        ORU_CAMERA_INFO info{};
        EXPECT_EQ(ORUGetCameraProperty(&info, index), ORU_SUCCESS);
        ids.push_back(info.camera_id);
    }
    return ids;
}

// The first serial byte of the device camera `id` opened.
int SerialTagOf(int id)
{
    ORU_ID serial{};
    EXPECT_EQ(ORUGetSerialNumber(id, &serial), ORU_SUCCESS);
    return serial.id[0];
}

class CameraRegistryTest : public ::testing::Test {
protected:
    ~CameraRegistryTest() override
    {
        for (int id = 0; id < kMaxCameras; ++id)
            ORUCloseCamera(id);
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
};

} // namespace

TEST_F(CameraRegistryTest, RepeatedEnumerationsKeepTheIds)
{
    bus_.addCamera(CameraAt({3}, 0xA1));
    bus_.addCamera(CameraAt({1}, 0xA2));

    const std::vector<int> first = IdsOfConnected();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(std::set<int>(first.begin(), first.end()), (std::set<int>{0, 1}));
    EXPECT_EQ(IdsOfConnected(), first);
}

TEST_F(CameraRegistryTest, SameProductCamerasOpenTheirOwnDevicesAndKeepThemAcrossEnumerations)
{
    SimulatedCamera &a = bus_.addCamera(CameraAt({3}, 0xA1));
    bus_.addCamera(CameraAt({1}, 0xA2));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 2);
    ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
    ASSERT_EQ(ORUOpenCamera(1), ORU_SUCCESS);
    const int tag0 = SerialTagOf(0);
    const int tag1 = SerialTagOf(1);
    EXPECT_NE(tag0, tag1) << "two IDs opened the same device";
    EXPECT_EQ(std::set<int>({tag0, tag1}), (std::set<int>{0xA1, 0xA2}));

    // The camera that is not unplugged keeps its ID and its device.
    const int survivor = tag0 == 0xA1 ? 1 : 0;
    bus_.unplug(a);
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    EXPECT_EQ(SerialTagOf(survivor), 0xA2);
}

TEST_F(CameraRegistryTest, UnpluggingIdZeroGivesTheNextNewCameraIdZero)
{
    SimulatedCamera &first = bus_.addCamera(CameraAt({1}, 0xA1));
    bus_.addCamera(CameraAt({2}, 0xA2));
    const std::vector<int> before = IdsOfConnected();
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
    const int tagOfIdZero = SerialTagOf(0);
    ORUCloseCamera(0);

    SimulatedCamera &gone = tagOfIdZero == 0xA1 ? first : *bus_.cameras()[1];
    bus_.unplug(gone);
    bus_.addCamera(CameraAt({4}, 0xB0));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 2);
    ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
    EXPECT_EQ(SerialTagOf(0), 0xB0);
}

TEST_F(CameraRegistryTest, OpenByIndexFollowsTheUsbListOrderOfTheProduct)
{
    bus_.addCamera(CameraAt({3}, 0xA1));
    bus_.addCamera(CameraAt({1}, 0xA2));
    libusb_context *context = nullptr;
    ASSERT_EQ(libusb_init(&context), 0);

    // The same-product devices in list order, by port.
    std::vector<int> listedPorts;
    libusb_device **devices = nullptr;
    const ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        libusb_get_device_descriptor(devices[i], &descriptor);
        if (descriptor.idVendor == ORU_VENDOR_ID && descriptor.idProduct == kProductId)
            listedPorts.push_back(libusb_get_port_number(devices[i]));
    }
    libusb_free_device_list(devices, 1);
    ASSERT_EQ(listedPorts.size(), 2u);

    for (uint8_t index : {1, 2}) {
        libusb_device_handle *handle =
            libusb_open_device_with_vid_pid_index(context, ORU_VENDOR_ID, kProductId, index);
        ASSERT_NE(handle, nullptr) << int(index);
        EXPECT_EQ(libusb_get_port_number(libusb_get_device(handle)), listedPorts[index - 1]);
        libusb_close(handle);
    }
    EXPECT_EQ(libusb_open_device_with_vid_pid_index(context, ORU_VENDOR_ID, kProductId, 3),
              nullptr);
    EXPECT_EQ(libusb_open_device_with_vid_pid_index(context, ORU_VENDOR_ID, 0x1002, 1), nullptr);
    libusb_exit(context);
}

TEST_F(CameraRegistryTest, CloseOfANeverOpenedIdSucceedsAndOfAnInvalidIdFails)
{
    bus_.addCamera(CameraAt({1}, 0xA1));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    EXPECT_EQ(ORUCloseCamera(0), ORU_SUCCESS);
    EXPECT_EQ(ORUCloseCamera(0), ORU_SUCCESS);
    EXPECT_EQ(ORUCloseCamera(1), ORU_ERROR_ID);
    EXPECT_EQ(ORUCloseCamera(128), ORU_ERROR_ID);
    EXPECT_EQ(ORUCloseCamera(-1), ORU_ERROR_ID);
    EXPECT_EQ(ORUOpenCamera(128), ORU_ERROR_ID);
}

TEST_F(CameraRegistryTest, DevicesOutsideTheProductTableAreNotListed)
{
    CameraConfig foreignProduct = CameraAt({1}, 0xA1);
    foreignProduct.productId = 0x1072;
    bus_.addCamera(foreignProduct);
    EXPECT_EQ(ORUGetNumOfConnectedCameras(), 0);
    EXPECT_EQ(ORUOpenCamera(0), ORU_ERROR_ID);
}

TEST_F(CameraRegistryTest, PropertyLeavesACameraAsItFoundIt)
{
    bus_.addCamera(CameraAt({1}, 0xA1));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    int count = 0;

    ORU_CAMERA_INFO info{};
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    EXPECT_EQ(info.camera_id, 0);
    EXPECT_EQ(info.max_width, 6248);
    EXPECT_EQ(ORUGetNumOfControls(0, &count), ORU_ERROR_CAMERA_CLOSED);

    ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    EXPECT_EQ(ORUGetNumOfControls(0, &count), ORU_SUCCESS);

    EXPECT_EQ(ORUGetCameraProperty(&info, 1), ORU_ERROR_INVALID_INDEX);
    EXPECT_EQ(ORUGetCameraProperty(&info, -1), ORU_ERROR_INVALID_INDEX);
}

TEST_F(CameraRegistryTest, EnumerationClosesAnOpenCameraThatWasUnplugged)
{
    SimulatedCamera &camera = bus_.addCamera(CameraAt({1}, 0xA1));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
    bus_.unplug(camera);
    EXPECT_EQ(ORUGetNumOfConnectedCameras(), 0);
    int count = 0;
    EXPECT_EQ(ORUGetNumOfControls(0, &count), ORU_ERROR_ID);
}

TEST_F(CameraRegistryTest, ConcurrentEnumerationOpenAndCloseKeepTheTablesConsistent)
{
    bus_.addCamera(CameraAt({1}, 0xA1));
    bus_.addCamera(CameraAt({2}, 0xA2));
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 2);

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 5; ++round) {
                if (ORUGetNumOfConnectedCameras() != 2)
                    ++failures;
                const int id = (t + round) % 2;
                const ORU_ERROR_CODE opened = ORUOpenCamera(id);
                if (opened != ORU_SUCCESS)
                    ++failures;
                int count = 0;
                const ORU_ERROR_CODE listed = ORUGetNumOfControls(id, &count);
                if (listed != ORU_SUCCESS && listed != ORU_ERROR_CAMERA_CLOSED)
                    ++failures;
                if (ORUCloseCamera(id) != ORU_SUCCESS)
                    ++failures;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(IdsOfConnected().size(), 2u);
}
