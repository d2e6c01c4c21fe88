// The simulated camera's frame stream at full size: 6248 x 4176 8-bit frames
// through the DDR at 100 % bandwidth (the 390 MB/s link is the limit), read
// by a host that keeps a frame's worth of 1 MiB transfers queued on raw
// libusb. "CPU cores" is the whole process's CPU time (stream, umockdev and
// libusb threads) per second. A second benchmark renders a full frame with
// new settings every time, as when exposure changes from frame to frame.
// Re-runs itself under umockdev's preload when started without it.
#include <benchmark/benchmark.h>
#include <libusb.h>
#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "sim/FrameRenderer.h"
#include "sim/FrameStream.h"
#include "sim/SimulatedBus.h"
#include "sim/UmockdevPreload.h"

namespace {

constexpr int kWidth = 6248;
constexpr int kHeight = 4176;
constexpr int kFrameBytes = kWidth * kHeight;
constexpr int kTransferBytes = 1 << 20;
constexpr int kTransfers = (kFrameBytes + kTransferBytes - 1) / kTransferBytes;
constexpr uint16_t kProductId = 0x1001;

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Keeps the transfers queued; a transfer shorter than 1 MiB ends a frame.
class FrameReader {
public:
    FrameReader(libusb_context *context, libusb_device_handle *handle) : context_(context)
    {
        for (int i = 0; i < kTransfers; ++i) {
            buffers_.emplace_back(kTransferBytes);
            libusb_transfer *transfer = libusb_alloc_transfer(0);
            libusb_fill_bulk_transfer(transfer, handle, 0x81, buffers_.back().data(),
                                      kTransferBytes, &FrameReader::done, this, 0);
            transfers_.push_back(transfer);
        }
    }

    ~FrameReader()
    {
        running_ = false;
        for (libusb_transfer *transfer : transfers_)
            libusb_cancel_transfer(transfer);
        while (inFlight_ > 0) {
            timeval slice{0, 100000};
            libusb_handle_events_timeout(context_, &slice);
        }
        for (libusb_transfer *transfer : transfers_)
            libusb_free_transfer(transfer);
    }

    bool start()
    {
        for (libusb_transfer *transfer : transfers_) {
            if (libusb_submit_transfer(transfer) != 0)
                return false;
            ++inFlight_;
        }
        return true;
    }

    // Waits for the next frame end; false when the stream broke or stalled.
    bool nextFrame()
    {
        long target = frames_ + 1;
        while (frames_ < target && !failed_) {
            timeval slice{2, 0};
            if (libusb_handle_events_timeout_completed(context_, &slice, nullptr) != 0)
                return false;
        }
        return !failed_;
    }

    size_t bytes() const { return bytes_; }

private:
    static void done(libusb_transfer *transfer)
    {
        auto *reader = static_cast<FrameReader *>(transfer->user_data);
        --reader->inFlight_;
        if (transfer->status != LIBUSB_TRANSFER_COMPLETED) {
            reader->failed_ = reader->running_;
            return;
        }
        reader->bytes_ += static_cast<size_t>(transfer->actual_length);
        if (transfer->actual_length < kTransferBytes)
            ++reader->frames_;
        if (reader->running_ && libusb_submit_transfer(transfer) == 0)
            ++reader->inFlight_;
    }

    libusb_context *context_;
    std::vector<std::vector<uint8_t>> buffers_;
    std::vector<libusb_transfer *> transfers_;
    int inFlight_ = 0;
    long frames_ = 0;
    size_t bytes_ = 0;
    bool running_ = true;
    bool failed_ = false;
};

void StreamFrames(benchmark::State &state, FrameReader &reader)
{
    if (!reader.nextFrame()) { // the first frame waits for an exposure
        state.SkipWithError("no frame");
        return;
    }
    size_t bytesBefore = reader.bytes();
    double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        if (!reader.nextFrame()) {
            state.SkipWithError("stream broke");
            break;
        }
    }
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(reader.bytes() - bytesBefore) / 1e6, benchmark::Counter::kIsRate);
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["CPU cores"] =
        benchmark::Counter(processCpuSeconds() - cpuBefore, benchmark::Counter::kIsRate);
}

void RenderFrames(benchmark::State &state)
{
    oru_sim::FrameSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.colourGains = {128, 128, 128, 128};
    oru_sim::FrameRenderer renderer({});
    double exposureUs = 10000;
    for (auto _ : state) {
        exposureUs += 1; // new settings: a full render every time
        benchmark::DoNotOptimize(
            renderer.render(oru_sim::ImageParameters::from(settings, exposureUs)));
    }
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kFrameBytes / 1e6, benchmark::Counter::kIsRate);
}

bool writeFpga(libusb_device_handle *handle, uint16_t reg, uint16_t value)
{
    return libusb_control_transfer(handle, 0x40, 0xBD, reg, value, nullptr, 0, 1000) == 0;
}

libusb_device_handle *openStreamingCamera(libusb_context *context)
{
    libusb_device_handle *handle =
        libusb_open_device_with_vid_pid(context, oru_sim::kCameraVendorId, kProductId);
    bool ready = handle && libusb_claim_interface(handle, 0) == 0 &&
                 writeFpga(handle, 4, kWidth & 0xFF) && writeFpga(handle, 5, kWidth >> 8) &&
                 writeFpga(handle, 8, kHeight & 0xFF) && writeFpga(handle, 9, kHeight >> 8) &&
                 writeFpga(handle, 24, 0x80) && // DDR self-test
                 libusb_control_transfer(handle, 0x40, 0xA9, 0, 0, nullptr, 0, 1000) == 0;
    if (!ready && handle) {
        libusb_close(handle);
        handle = nullptr;
    }
    return handle;
}

} // namespace

int main(int argc, char **argv)
{
    oru_sim::UmockdevPreload::ensureActive(argv);
    benchmark::Initialize(&argc, argv);

    oru_sim::SimulatedBus bus;
    bus.addCamera(oru_sim::CameraConfig::usb3Camera(kProductId));
    libusb_context *context = nullptr;
    libusb_device_handle *handle = nullptr;
    if (libusb_init(&context) != 0 || !(handle = openStreamingCamera(context))) {
        std::fprintf(stderr, "frame_stream_bench: cannot open the simulated camera\n");
        return 1;
    }
    {
        FrameReader reader(context, handle);
        if (!reader.start()) {
            std::fprintf(stderr, "frame_stream_bench: cannot queue the transfers\n");
            return 1;
        }
        benchmark::RegisterBenchmark("FrameStream/6248x4176x1", StreamFrames, std::ref(reader))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(3.0);
        benchmark::RegisterBenchmark("FrameRenderer/6248x4176x1", RenderFrames)
            ->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks();
    }
    libusb_close(handle);
    libusb_exit(context);
    benchmark::Shutdown();
    return 0;
}
