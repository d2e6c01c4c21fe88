// Speed of the camera simulator through the real libusb: control request
// round trips and 1 MiB bulk-IN transfers, against memcpy of 1 MiB as the
// floor. Run plainly, it hosts a simulated bus in this process; run under
// oru-sim (oru-sim --camera 0x1001 --counting-pattern -- sim_bench) it measures
// across processes. Bulk transfers are filled by a counting pattern at once,
// so the figures are the simulator's, not a camera's frame rate.
#include <benchmark/benchmark.h>
#include <libusb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "sim/CountingPatternSource.h"
#include "sim/SimulatedBus.h"
#include "sim/UmockdevPreload.h"

namespace {

constexpr int kTransferSize = 1 << 20;
constexpr int kTransfersInFlight = 4;

libusb_context *context = nullptr;
libusb_device_handle *handle = nullptr;

void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(what);
}

void BM_ControlRoundTrip(benchmark::State &state)
{
    unsigned char value = 0;
    for (auto _ : state)
        check(libusb_control_transfer(handle, 0xC0, 0xBC, 28, 0, &value, 1, 1000) == 1,
              "FPGA register read");
    state.SetItemsProcessed(state.iterations());
}

void BM_BulkIn1MiB(benchmark::State &state)
{
    std::vector<unsigned char> buffer(kTransferSize);
    int actual = 0;
    for (auto _ : state)
        check(libusb_bulk_transfer(handle, 0x81, buffer.data(), kTransferSize, &actual, 1000) == 0,
              "bulk read");
    state.SetBytesProcessed(state.iterations() * kTransferSize);
}

// Several transfers queued at once, resubmitted as they complete, as a
// capture engine runs them.
void BM_BulkIn1MiBQueued(benchmark::State &state)
{
    struct Slot {
        std::vector<unsigned char> buffer = std::vector<unsigned char>(kTransferSize);
        libusb_transfer *transfer = libusb_alloc_transfer(0);
        int done = 0;
    };
    std::vector<std::unique_ptr<Slot>> slots;
    for (int i = 0; i < kTransfersInFlight; ++i) {
        slots.push_back(std::make_unique<Slot>());
        Slot &slot = *slots.back();
        libusb_fill_bulk_transfer(
            slot.transfer, handle, 0x81, slot.buffer.data(), kTransferSize,
            [](libusb_transfer *transfer) { *static_cast<int *>(transfer->user_data) = 1; },
            &slot.done, 1000);
        check(libusb_submit_transfer(slot.transfer) == 0, "submit");
    }
    size_t next = 0;
    for (auto _ : state) {
        Slot &slot = *slots[next];
        while (!slot.done)
            check(libusb_handle_events_completed(context, &slot.done) == 0, "events");
        check(slot.transfer->status == LIBUSB_TRANSFER_COMPLETED, "bulk transfer");
        slot.done = 0;
        check(libusb_submit_transfer(slot.transfer) == 0, "resubmit");
        next = (next + 1) % slots.size();
    }
    for (auto &slot : slots) {
        libusb_cancel_transfer(slot->transfer);
        while (!slot->done)
            libusb_handle_events_completed(context, &slot->done);
        libusb_free_transfer(slot->transfer);
    }
    state.SetBytesProcessed(state.iterations() * kTransferSize);
}

void BM_Memcpy1MiB(benchmark::State &state)
{
    std::vector<unsigned char> from(kTransferSize, 1);
    std::vector<unsigned char> to(kTransferSize);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kTransferSize);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kTransferSize);
}

BENCHMARK(BM_ControlRoundTrip)->UseRealTime();
BENCHMARK(BM_BulkIn1MiB)->UseRealTime();
BENCHMARK(BM_BulkIn1MiBQueued)->UseRealTime();
BENCHMARK(BM_Memcpy1MiB);

} // namespace

int main(int argc, char **argv)
{
    oru_sim::UmockdevPreload::ensureActive(argv);
    bool underLauncher = std::getenv("UMOCKDEV_DIR") != nullptr;
    std::unique_ptr<oru_sim::SimulatedBus> bus;
    if (!underLauncher) {
        bus = std::make_unique<oru_sim::SimulatedBus>();
        bus->addCamera(oru_sim::CameraConfig::usb3Camera(0x1001))
            .setDataSource(std::make_shared<oru_sim::CountingPatternSource>());
    }
    benchmark::AddCustomContext("simulator",
                                underLauncher ? "across processes (oru-sim)" : "in this process");

    benchmark::Initialize(&argc, argv);
    check(libusb_init(&context) == 0, "libusb_init");
    handle = libusb_open_device_with_vid_pid(context, oru_sim::kCameraVendorId, 0x1001);
    check(handle != nullptr,
          "no camera 3a7e:1001 (run under oru-sim --camera 0x1001 --counting-pattern)");
    check(libusb_claim_interface(handle, 0) == 0, "claim interface 0");
    check(libusb_control_transfer(handle, 0x40, 0xA9, 0, 0, nullptr, 0, 1000) == 0,
          "start streaming");
    benchmark::RunSpecifiedBenchmarks();
    libusb_control_transfer(handle, 0x40, 0xAA, 0, 0, nullptr, 0, 1000);
    libusb_close(handle);
    libusb_exit(context);
    benchmark::Shutdown();
    return 0;
}
