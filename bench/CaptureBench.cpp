// Sustained full-frame video of the ORU6200MC Pro through the flat API, the
// real libusb and an in-process simulated camera: frames per second that
// reach the caller and frames the library dropped, beside the rate the
// simulated link allows (390 MB/s x bandwidth), and CPU time per frame of
// the working thread, the ring's insert thread and the calling thread.
// The engine's threads have no names, so they are told apart by when they
// appear (the insert thread with the camera's initialisation, the working
// thread with the capture) and, among those, by the CPU they use.
// Re-runs itself under umockdev's preload when started without it.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/ORUCamera.h"
#include "sim/SimulatedBus.h"
#include "sim/UmockdevPreload.h"

namespace {

constexpr uint16_t kProductId = 0x1001;
constexpr int kWidth = 6248;
constexpr int kHeight = 4176;
constexpr double kLinkBytesPerSecond = 390e6;
constexpr int kBandwidthPercent = 100;
constexpr int kExposureUs = 1000;

using ThreadSet = std::set<pid_t>;
using CpuTimes = std::map<pid_t, double>; // seconds on a CPU, per thread

ThreadSet Threads()
{
    ThreadSet threads;
    DIR *dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return threads;
    while (const dirent *entry = readdir(dir)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (tid > 0)
            threads.insert(tid);
    }
    closedir(dir);
    return threads;
}

// Time the thread has run, from the scheduler's nanosecond account.
double CpuSeconds(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    unsigned long long ns = 0;
    stat >> ns;
    return static_cast<double>(ns) / 1e9;
}

CpuTimes Snapshot()
{
    CpuTimes times;
    for (pid_t tid : Threads())
        times[tid] = CpuSeconds(tid);
    return times;
}

ThreadSet Difference(const ThreadSet &after, const ThreadSet &before)
{
    ThreadSet added;
    for (pid_t tid : after)
        if (before.count(tid) == 0)
            added.insert(tid);
    return added;
}

// CPU seconds the busiest thread of `among` used between the snapshots.
double BusiestUse(const ThreadSet &among, const CpuTimes &before, const CpuTimes &after)
{
    double most = 0;
    for (pid_t tid : among) {
        const auto from = before.find(tid);
        const auto to = after.find(tid);
        if (from != before.end() && to != after.end() && to->second - from->second > most)
            most = to->second - from->second;
    }
    return most;
}

int BytesPerPixel(ORU_IMG_TYPE type)
{
    return type == ORU_IMG_RGB24 ? 3 : type == ORU_IMG_RAW16 ? 2 : 1;
}

void StreamVideo(benchmark::State &state, int id, ORU_IMG_TYPE type, ThreadSet initThreads)
{
    const int32_t frameBytes = kWidth * kHeight * BytesPerPixel(type);
    std::vector<unsigned char> frame(static_cast<size_t>(frameBytes));
    if (ORUSetROIFormat(id, kWidth, kHeight, 1, type) != ORU_SUCCESS ||
        ORUSetControlValue(id, ORU_EXPOSURE, kExposureUs, ORU_FALSE) != ORU_SUCCESS ||
        ORUSetControlValue(id, ORU_BANDWIDTH, kBandwidthPercent, ORU_FALSE) != ORU_SUCCESS) {
        state.SkipWithError("cannot set up the camera");
        return;
    }
    const ThreadSet beforeStart = Threads();
    if (ORUStartVideoCapture(id) != ORU_SUCCESS ||
        ORUGetVideoData(id, frame.data(), frameBytes, 5000) != ORU_SUCCESS) {
        ORUStopVideoCapture(id);
        state.SkipWithError("no first frame");
        return;
    }
    const ThreadSet captureThreads = Difference(Threads(), beforeStart);
    const pid_t caller = static_cast<pid_t>(syscall(SYS_gettid));
    int droppedBefore = 0;
    ORUGetDroppedFrames(id, &droppedBefore);

    const CpuTimes cpuBefore = Snapshot();
    long timeouts = 0;
    for (auto _ : state) {
        if (ORUGetVideoData(id, frame.data(), frameBytes, 2000) != ORU_SUCCESS)
            ++timeouts;
        benchmark::DoNotOptimize(frame.data());
    }
    const CpuTimes cpuAfter = Snapshot();
    int droppedAfter = 0;
    ORUGetDroppedFrames(id, &droppedAfter);
    ORUStopVideoCapture(id);

    const double frames = static_cast<double>(state.iterations() - timeouts);
    const double sensorFrameBytes = static_cast<double>(kWidth) * kHeight;
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["MB/s"] =
        benchmark::Counter(frames * frameBytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["link_fps"] = kLinkBytesPerSecond * kBandwidthPercent / 100 / sensorFrameBytes;
    state.counters["dropped"] = droppedAfter - droppedBefore;
    state.counters["timeouts"] = static_cast<double>(timeouts);
    const double perFrameMs = frames > 0 ? 1000.0 / frames : 0;
    state.counters["work_ms/f"] = BusiestUse(captureThreads, cpuBefore, cpuAfter) * perFrameMs;
    state.counters["insert_ms/f"] = BusiestUse(initThreads, cpuBefore, cpuAfter) * perFrameMs;
    state.counters["caller_ms/f"] = (cpuAfter.at(caller) - cpuBefore.at(caller)) * perFrameMs;
}

} // namespace

int main(int argc, char **argv)
{
    oru_sim::UmockdevPreload::ensureActive(argv);
    benchmark::Initialize(&argc, argv);

    oru_sim::SimulatedBus bus;
    bus.addCamera(oru_sim::CameraConfig::usb3Camera(kProductId));
    ORU_CAMERA_INFO info{};
    if (ORUGetNumOfConnectedCameras() != 1 || ORUGetCameraProperty(&info, 0) != ORU_SUCCESS ||
        ORUOpenCamera(info.camera_id) != ORU_SUCCESS) {
        std::fprintf(stderr, "capture_bench: cannot open the simulated camera\n");
        return 1;
    }
    const int id = info.camera_id;
    const ThreadSet beforeInit = Threads();
    if (ORUInitCamera(id) != ORU_SUCCESS) {
        std::fprintf(stderr, "capture_bench: cannot initialise the simulated camera\n");
        ORUCloseCamera(id);
        return 1;
    }
    const ThreadSet initThreads = Difference(Threads(), beforeInit);

    const struct {
        const char *name;
        ORU_IMG_TYPE type;
    } kOutputs[] = {{"video/6248x4176/RAW8", ORU_IMG_RAW8}, {"video/6248x4176/RGB24", ORU_IMG_RGB24}};
    for (const auto &output : kOutputs)
        benchmark::RegisterBenchmark(output.name, StreamVideo, id, output.type, initThreads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(5.0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ORUCloseCamera(id);
    return 0;
}
