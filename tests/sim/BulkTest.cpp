// Bulk-IN transfers: the counting pattern, completion later from a data
// source while libusb sleeps, and cancellation.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "SimTestFixture.h"
#include "sim/CountingPatternSource.h"

using namespace oru_sim;

namespace {

uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t index)
{
    return static_cast<uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

double cpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct PendingTransfer {
    explicit PendingTransfer(libusb_device_handle* handle, size_t size) : buffer(size, 0xEE)
    {
        transfer = libusb_alloc_transfer(0);
        libusb_fill_bulk_transfer(
            transfer, handle, 0x81, buffer.data(), static_cast<int>(size),
            [](libusb_transfer* done) { static_cast<PendingTransfer*>(done->user_data)->finished = 1; }, this, 0);
    }
    ~PendingTransfer() { libusb_free_transfer(transfer); }

    void waitUntilFinished(libusb_context* context)
    {
        while (!finished) {
            timeval limit{2, 0};
            ASSERT_EQ(libusb_handle_events_timeout_completed(context, &limit, &finished), 0);
        }
    }

    std::vector<uint8_t> buffer;
    libusb_transfer* transfer;
    int finished = 0;
};

}  // namespace

using BulkTest = SimTestFixture;

TEST_F(BulkTest, CountingPatternFillsTransfersWhileStreaming)
{
    SimulatedCamera& camera = addCamera();
    camera.setDataSource(std::make_shared<CountingPatternSource>());
    libusb_device_handle* handle = open(camera);
    std::vector<uint8_t> first(1 << 20);
    std::vector<uint8_t> second(4096);
    int actual = 0;
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, first.data(), 4096, &actual, 100), LIBUSB_ERROR_TIMEOUT)
        << "nothing flows before streaming starts";

    ASSERT_EQ(vendorOut(handle, 0xA9, 0, 0), 0);
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, first.data(), static_cast<int>(first.size()), &actual, 1000), 0);
    ASSERT_EQ(actual, static_cast<int>(first.size()));
    size_t words = first.size() / 2;
    size_t breaks = 0;
    for (size_t i = 1; i < words; ++i)
        breaks += wordAt(first, i) != static_cast<uint16_t>(wordAt(first, i - 1) + 1);
    EXPECT_EQ(breaks, 0u);
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, second.data(), static_cast<int>(second.size()), &actual, 1000), 0);
    EXPECT_EQ(wordAt(second, 0), static_cast<uint16_t>(wordAt(first, words - 1) + 1)) << "carries on";

    ASSERT_EQ(vendorOut(handle, 0xAA, 0, 0), 0);
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, second.data(), 4096, &actual, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_NE(libusb_bulk_transfer(handle, 0x83, second.data(), 4096, &actual, 100), 0) << "no such endpoint";
}

TEST_F(BulkTest, TransferCompletedLaterWhileLibusbSleeps)
{
    SimulatedCamera& camera = addCamera();
    camera.setDataSource(nullptr);
    libusb_device_handle* handle = open(camera);
    PendingTransfer pending(handle, 4096);
    ASSERT_EQ(libusb_submit_transfer(pending.transfer), 0);
    EXPECT_EQ(camera.waitingBulkTransfers(), 1u);

    std::thread source([&camera] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        camera.completeBulkTransfer([](uint8_t* destination, size_t) {
            std::fill_n(destination, 1000, 0x5A);
            return size_t{1000};
        });
    });
    double cpuBefore = cpuSeconds();
    pending.waitUntilFinished(context_);
    double cpuUsed = cpuSeconds() - cpuBefore;
    source.join();

    EXPECT_EQ(pending.transfer->status, LIBUSB_TRANSFER_COMPLETED);
    ASSERT_EQ(pending.transfer->actual_length, 1000);
    EXPECT_EQ(std::count(pending.buffer.begin(), pending.buffer.begin() + 1000, 0x5A), 1000);
    EXPECT_EQ(pending.buffer[1000], 0xEE) << "a short transfer writes no more";
    EXPECT_LT(cpuUsed, 0.1) << "libusb must sleep in poll while the transfer waits";
    EXPECT_EQ(camera.waitingBulkTransfers(), 0u);
}

TEST_F(BulkTest, CancelledTransferReportsCancelled)
{
    SimulatedCamera& camera = addCamera();
    libusb_device_handle* handle = open(camera);
    PendingTransfer pending(handle, 4096);
    ASSERT_EQ(libusb_submit_transfer(pending.transfer), 0);
    ASSERT_EQ(libusb_cancel_transfer(pending.transfer), 0);
    pending.waitUntilFinished(context_);
    EXPECT_EQ(pending.transfer->status, LIBUSB_TRANSFER_CANCELLED);
    EXPECT_EQ(camera.waitingBulkTransfers(), 0u);
    EXPECT_FALSE(camera.completeBulkTransfer([](uint8_t*, size_t) { return size_t{0}; }));
}

TEST_F(BulkTest, StalledTransferReportsStallAndLeavesTheNextWaiting)
{
    SimulatedCamera& camera = addCamera();
    camera.setDataSource(nullptr);
    libusb_device_handle* handle = open(camera);
    PendingTransfer stalled(handle, 4096);
    PendingTransfer next(handle, 4096);
    EXPECT_FALSE(camera.stallBulkTransfer()) << "nothing waits yet";
    ASSERT_EQ(libusb_submit_transfer(stalled.transfer), 0);
    ASSERT_EQ(libusb_submit_transfer(next.transfer), 0);

    ASSERT_TRUE(camera.stallBulkTransfer());
    stalled.waitUntilFinished(context_);
    EXPECT_EQ(stalled.transfer->status, LIBUSB_TRANSFER_STALL);
    EXPECT_EQ(stalled.transfer->actual_length, 0);
    EXPECT_EQ(camera.waitingBulkTransfers(), 1u) << "only the oldest transfer stalls";

    ASSERT_EQ(libusb_cancel_transfer(next.transfer), 0);
    next.waitUntilFinished(context_);
    EXPECT_EQ(next.transfer->status, LIBUSB_TRANSFER_CANCELLED);
}

TEST_F(BulkTest, ClosingTheDeviceDropsItsWaitingTransfers)
{
    SimulatedCamera& camera = addCamera();
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(findDevice(camera), &handle), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    PendingTransfer pending(handle, 4096);
    ASSERT_EQ(libusb_submit_transfer(pending.transfer), 0);
    EXPECT_EQ(camera.waitingBulkTransfers(), 1u);
    libusb_close(handle);

    auto start = std::chrono::steady_clock::now();
    while (camera.waitingBulkTransfers() > 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(camera.waitingBulkTransfers(), 0u);
    EXPECT_FALSE(camera.completeBulkTransfer([](uint8_t* destination, size_t capacity) {
        std::fill_n(destination, capacity, 0x11);
        return capacity;
    }));
    EXPECT_EQ(pending.buffer[0], 0xEE);
}
