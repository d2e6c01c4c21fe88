// Frame throughput of the pipelined bulk-in engine: 6248 x 4176 8-bit frames
// (25 transfers of up to 1 MiB) from a simulated camera whose data source
// fills every transfer as soon as it is queued, with memcpy of one frame as
// the floor. "CPU" is the time the calling thread spends per frame.
// Re-runs itself under umockdev's preload when started without it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "sim/CountingPatternSource.h"
#include "sim/SimulatedBus.h"
#include "sim/UmockdevPreload.h"
#include "tests/OpenedTransport.h"

namespace {

constexpr int kFrameBytes = 6248 * 4176;
constexpr int kXferBytes = 0x100000;
constexpr int kPieces = (kFrameBytes + kXferBytes - 1) / kXferBytes;
constexpr uint16_t kProductId = 0x1001;
constexpr uint8_t kStartStreaming = 0xA9;

void SetFrameCounters(benchmark::State &state)
{
    const double frames = static_cast<double>(state.iterations());
    state.counters["MB/s"] =
        benchmark::Counter(frames * kFrameBytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

void ReceiveFrames(benchmark::State &state, OpenedTransport &camera, std::vector<uint8_t> &frame)
{
    for (auto _ : state) {
        int received = 0;
        camera.startAsyncXfer(1000, 100, &received, nullptr, kFrameBytes);
        if (received != kFrameBytes) {
            state.SkipWithError("short frame");
            break;
        }
        benchmark::DoNotOptimize(frame.data());
    }
    SetFrameCounters(state);
}

void CopyFrames(benchmark::State &state, const std::vector<uint8_t> &from)
{
    std::vector<uint8_t> to(from.size(), 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
    }
    SetFrameCounters(state);
}

} // namespace

int main(int argc, char **argv)
{
    oru_sim::UmockdevPreload::ensureActive(argv);
    benchmark::Initialize(&argc, argv);

    oru_sim::SimulatedBus bus;
    bus.addCamera(oru_sim::CameraConfig::usb3Camera(kProductId))
        .setDataSource(std::make_shared<oru_sim::CountingPatternSource>());
    std::vector<uint8_t> frame(kFrameBytes, 0);
    {
        OpenedTransport camera;
        if (!camera.Open(kProductId) || !camera.SendCMD(kStartStreaming) ||
            !camera.initAsyncXfer(kFrameBytes, kPieces, kXferBytes, 0x81, frame.data())) {
            std::fprintf(stderr, "bulk_bench: cannot open the simulated camera\n");
            return 1;
        }
        benchmark::RegisterBenchmark("startAsyncXfer/6248x4176x1", ReceiveFrames, std::ref(camera),
                                     std::ref(frame))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark("memcpy/6248x4176x1", CopyFrames, std::cref(frame))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RunSpecifiedBenchmarks();
        camera.releaseAsyncXfer();
    }
    benchmark::Shutdown();
    return 0;
}
