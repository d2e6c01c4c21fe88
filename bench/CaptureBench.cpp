// Video from the simulated ORU6200MC Pro through the flat API, the real
// libusb and an in-process simulator, per image type, size and read-out
// mode: frames per second that reach the caller beside what the link allows
// (390 MB/s x bandwidth) and what the simulated camera can send at all (its
// sensor's frame rate, its FPGA's paced output), dropped frames, CPU time
// per frame of each thread (the caller's includes waking up for each
// frame), the caller's read-out of a frame that waits for it against a
// memcpy of the bytes it delivers (and, for RGB24, the demosaic), and the time from
// ORUStartVideoCapture to the first frame. A first benchmark times opening
// and initialising the camera.
//
// The simulator's threads are those there before the camera is opened; the
// library's are told apart by their names (working loop, automatic
// controls, the rest). The memcpy the read-out is measured against copies
// what another thread wrote a frame period before, as a frame in the ring
// is; memcpy_ms copies it at once, from the cache for smaller frames.
// Settings are kept in a temporary home folder, so every run starts from the
// model's defaults. Re-runs itself under umockdev's preload when started
// without it.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "algorithm/CAlgorithm.h"
#include "api/ORUCamera.h"
#include "sim/FrameSettings.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"
#include "sim/UmockdevPreload.h"

namespace {

constexpr int kFullWidth = 6248;
constexpr int kFullHeight = 4176;
constexpr int kBandwidthPercent = 100;
constexpr int kExposureUs = 1000;
constexpr int kFrameWaitMs = 3000;
constexpr double kLinkBytesPerSecond = 390e6;

using Clock = std::chrono::steady_clock;
using ThreadSet = std::set<pid_t>;
using CpuTimes = std::map<pid_t, double>; // seconds on a CPU, per thread

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

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

std::string ThreadName(pid_t tid)
{
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
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

double Used(pid_t tid, const CpuTimes &before, const CpuTimes &after)
{
    const auto from = before.find(tid);
    const auto to = after.find(tid);
    return from != before.end() && to != after.end() ? to->second - from->second : 0;
}

// CPU seconds of the threads of `among` together.
double Use(const ThreadSet &among, const CpuTimes &before, const CpuTimes &after)
{
    double total = 0;
    for (pid_t tid : among)
        total += Used(tid, before, after);
    return total;
}

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Best CPU time of a few runs of job on this thread, each after prepare.
template <typename Prepare, typename Job>
double BestCpuMs(Prepare prepare, Job job)
{
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
        prepare();
        const double start = ThreadCpuMs();
        job();
        best = std::min(best, ThreadCpuMs() - start);
    }
    return best;
}

int BytesPerPixel(ORU_IMG_TYPE type)
{
    return type == ORU_IMG_RGB24 ? 3 : type == ORU_IMG_RAW16 ? 2 : 1;
}

struct Setup {
    oru_sim::SimulatedCamera *sim = nullptr;
    int id = 0;
    ThreadSet simThreads;    // there before the camera was opened
    size_t initRequests = 0; // control requests the initialisation sent
};

struct Case {
    int width;
    int height;
    ORU_IMG_TYPE type;
    bool highSpeed;
};

// Frames per second the simulated camera can send as it is set now: one
// per sensor frame period, each taking its bytes at the FPGA's paced rate.
double CameraFps(const oru_sim::SimulatedCamera &sim)
{
    const oru_sim::FrameSettings settings = oru_sim::FrameSettings::read(sim);
    const double sensorFps = 1e6 / settings.framePeriodUs();
    const double outputFps =
        settings.outputBytesPerSecond / static_cast<double>(settings.frameBytes());
    return std::min(sensorFps, outputFps);
}

// Reads until a read has waited for its frame, so that every later read
// returns when a frame arrives.
bool CatchUp(int id, std::vector<unsigned char> &frame)
{
    const int32_t size = static_cast<int32_t>(frame.size());
    while (ORUGetVideoData(id, frame.data(), size, 0) == ORU_SUCCESS) {
    }
    return ORUGetVideoData(id, frame.data(), size, kFrameWaitMs) == ORU_SUCCESS;
}

void StreamVideo(benchmark::State &state, const Setup &setup, Case c)
{
    const int id = setup.id;
    const int sensorBytesPerPixel = c.type == ORU_IMG_RAW16 ? 2 : 1;
    const size_t sensorBytes = size_t(c.width) * c.height * sensorBytesPerPixel;
    const size_t outputBytes = size_t(c.width) * c.height * BytesPerPixel(c.type);
    std::vector<unsigned char> frame(outputBytes);
    if (ORUSetControlValue(id, ORU_HIGH_SPEED_MODE, c.highSpeed ? 1 : 0, ORU_FALSE) !=
            ORU_SUCCESS ||
        ORUSetROIFormat(id, c.width, c.height, 1, c.type) != ORU_SUCCESS ||
        ORUSetControlValue(id, ORU_EXPOSURE, kExposureUs, ORU_FALSE) != ORU_SUCCESS ||
        ORUSetControlValue(id, ORU_BANDWIDTH, kBandwidthPercent, ORU_FALSE) != ORU_SUCCESS) {
        state.SkipWithError("cannot set up the camera");
        return;
    }

    // What the caller's read-out is measured against, on this thread.
    std::vector<unsigned char> source(std::max(outputBytes, sensorBytes), 1);
    unsigned char fill = 0;
    const auto written = [&] {
        // On another CPU than this thread's, as the transfers fill a slot.
        const int here = sched_getcpu();
        std::thread([&] {
            const int cpus = static_cast<int>(std::thread::hardware_concurrency());
            if (here >= 0 && cpus > 1) {
                cpu_set_t other;
                CPU_ZERO(&other);
                CPU_SET((here + 1) % cpus, &other);
                sched_setaffinity(0, sizeof other, &other);
            }
            std::memset(source.data(), ++fill, source.size());
        }).join();
    };
    const double memcpyMs =
        BestCpuMs(written, [&] { std::memcpy(frame.data(), source.data(), outputBytes); });
    double demosaicMs = 0;
    if (c.type == ORU_IMG_RGB24) {
        CAlgorithm algorithm;
        algorithm.SetBayer(ORU_BAYER_RG);
        demosaicMs = BestCpuMs(written, [&] {
            algorithm.BayerConv(source.data(), frame.data(), c.width, c.height, IMAGE_TYPE_RGB24,
                                false, false);
        });
    }

    setup.sim->clearRequests();
    const Clock::time_point started = Clock::now();
    if (ORUStartVideoCapture(id) != ORU_SUCCESS ||
        ORUGetVideoData(id, frame.data(), static_cast<int32_t>(outputBytes), kFrameWaitMs) !=
            ORU_SUCCESS) {
        ORUStopVideoCapture(id);
        state.SkipWithError("no first frame");
        return;
    }
    const double firstFrameMs = MsSince(started);
    const size_t startRequests = setup.sim->requests().size();
    if (!CatchUp(id, frame)) {
        ORUStopVideoCapture(id);
        state.SkipWithError("no frame after the first");
        return;
    }
    const pid_t caller = static_cast<pid_t>(syscall(SYS_gettid));
    int droppedBefore = 0;
    ORUGetDroppedFrames(id, &droppedBefore);

    const CpuTimes cpuBefore = Snapshot();
    long timeouts = 0;
    for (auto _ : state) {
        const Clock::time_point asked = Clock::now();
        if (ORUGetVideoData(id, frame.data(), static_cast<int32_t>(outputBytes), kFrameWaitMs) !=
            ORU_SUCCESS)
            ++timeouts;
        state.SetIterationTime(MsSince(asked) / 1e3);
        benchmark::DoNotOptimize(frame.data());
    }
    const CpuTimes cpuAfter = Snapshot();
    // Named while they still run.
    std::map<pid_t, std::string> names;
    for (const auto &entry : cpuAfter)
        names[entry.first] = ThreadName(entry.first);
    int droppedAfter = 0;
    ORUGetDroppedFrames(id, &droppedAfter);
    const double cameraFps = CameraFps(*setup.sim);
    // The read-out alone: reads that find their frame waiting, so that no
    // sleep and wake-up of the caller is in the figure.
    const auto framePeriod = std::chrono::microseconds(static_cast<long>(1.5e6 / cameraFps));
    int readyMisses = 0;
    const double readyReadMs =
        BestCpuMs([&] { std::this_thread::sleep_for(framePeriod); },
                  [&] {
                      if (ORUGetVideoData(id, frame.data(), static_cast<int32_t>(outputBytes), 0) !=
                          ORU_SUCCESS)
                          ++readyMisses;
                  });
    ORUStopVideoCapture(id);

    const double frames = static_cast<double>(state.iterations() - timeouts);
    const double perFrameMs = frames > 0 ? 1000.0 / frames : 0;
    // The library's threads by name: working loop, automatic controls, the rest.
    std::map<std::string, double> libraryMs;
    for (const auto &[tid, name] : names) {
        if (setup.simThreads.count(tid) != 0 || tid == caller)
            continue;
        const std::string group = name == "oru-work" || name == "oru-auto" ? name : "other";
        libraryMs[group] += Used(tid, cpuBefore, cpuAfter) * perFrameMs;
    }
    const double simSeconds = Use(setup.simThreads, cpuBefore, cpuAfter);
    const double callerMs = Used(caller, cpuBefore, cpuAfter) * perFrameMs;
    const double linkFps = kLinkBytesPerSecond * kBandwidthPercent / 100 / sensorBytes;

    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["link_fps"] = linkFps;
    state.counters["cam_fps"] = cameraFps;
    state.counters["%cam"] =
        benchmark::Counter(frames * 100 / cameraFps, benchmark::Counter::kIsRate);
    state.counters["%link"] =
        benchmark::Counter(frames * 100 / linkFps, benchmark::Counter::kIsRate);
    state.counters["dropped"] = droppedAfter - droppedBefore;
    state.counters["timeouts"] = static_cast<double>(timeouts);
    state.counters["work_ms/f"] = libraryMs["oru-work"];
    state.counters["auto_ms/f"] = libraryMs["oru-auto"];
    state.counters["other_ms/f"] = libraryMs["other"];
    state.counters["sim_ms/f"] = simSeconds * perFrameMs;
    state.counters["caller_ms/f"] = callerMs;
    state.counters["memcpy_ms"] = memcpyMs;
    if (c.type == ORU_IMG_RGB24)
        state.counters["demosaic_ms"] = demosaicMs;
    if (readyMisses > 0) {
        state.SkipWithError("a frame waited for was not there");
        return;
    }
    // The same copy from memory in the state a waiting frame's is in:
    // written on another CPU a while ago. Frames of a few MiB stay in the
    // cache of a copy done at once, which no frame from the link does.
    const double waitedMemcpyMs = BestCpuMs(
        [&] {
            written();
            std::this_thread::sleep_for(framePeriod);
        },
        [&] { std::memcpy(frame.data(), source.data(), outputBytes); });
    state.counters["waited_memcpy_ms"] = waitedMemcpyMs;
    state.counters["ready_read_ms"] = readyReadMs;
    state.counters["readout/floor"] = readyReadMs / (waitedMemcpyMs + demosaicMs);
    state.counters["first_ms"] = firstFrameMs;
    state.counters["first_requests"] = static_cast<double>(startRequests);
}

// Opens and initialises the camera; false when that fails.
bool OpenCamera(Setup &setup, double *openMs, double *initMs)
{
    Clock::time_point start = Clock::now();
    if (ORUOpenCamera(setup.id) != ORU_SUCCESS)
        return false;
    *openMs += MsSince(start);
    setup.sim->clearRequests();
    start = Clock::now();
    if (ORUInitCamera(setup.id) != ORU_SUCCESS)
        return false;
    *initMs += MsSince(start);
    setup.initRequests = setup.sim->requests().size();
    return true;
}

// Opening and initialising the camera again, each timed.
void OpenAndInit(benchmark::State &state, Setup &setup)
{
    double openMs = 0;
    double initMs = 0;
    for (auto _ : state) {
        ORUCloseCamera(setup.id);
        if (!OpenCamera(setup, &openMs, &initMs)) {
            state.SkipWithError("cannot open and initialise the camera");
            return;
        }
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["open_ms"] = openMs / runs;
    state.counters["init_ms"] = initMs / runs;
    state.counters["init_requests"] = static_cast<double>(setup.initRequests);
}

// A home folder of our own for the settings file, removed at the end.
class TemporaryHome {
public:
    TemporaryHome()
    {
        char pattern[] = "/tmp/capture_bench.XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path_ = pattern;
            setenv("HOME", pattern, 1);
        }
    }
    ~TemporaryHome()
    {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }

private:
    std::string path_;
};

} // namespace

int main(int argc, char **argv)
{
    oru_sim::UmockdevPreload::ensureActive(argv);
    benchmark::Initialize(&argc, argv);
    TemporaryHome home;

    oru_sim::SimulatedBus bus;
    Setup setup;
    setup.sim = &bus.addCamera(oru_sim::ModelCatalog::find("oru6200mc-pro"));
    setup.simThreads = Threads();
    setup.simThreads.erase(static_cast<pid_t>(syscall(SYS_gettid)));
    ORU_CAMERA_INFO info{};
    if (ORUGetNumOfConnectedCameras() != 1 || ORUGetCameraProperty(&info, 0) != ORU_SUCCESS) {
        std::fprintf(stderr, "capture_bench: no simulated camera\n");
        return 1;
    }
    setup.id = info.camera_id;
    double openMs = 0;
    double initMs = 0;
    if (!OpenCamera(setup, &openMs, &initMs)) {
        std::fprintf(stderr, "capture_bench: cannot open and initialise the simulated camera\n");
        ORUCloseCamera(setup.id);
        return 1;
    }

    benchmark::RegisterBenchmark("open+init", OpenAndInit, std::ref(setup))
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    const struct {
        int width;
        int height;
    } kSizes[] = {{kFullWidth, kFullHeight}, {1920, 1080}};
    const struct {
        const char *name;
        ORU_IMG_TYPE type;
    } kTypes[] = {{"RAW8", ORU_IMG_RAW8}, {"RAW16", ORU_IMG_RAW16}, {"RGB24", ORU_IMG_RGB24}};
    for (const auto &size : kSizes)
        for (bool highSpeed : {false, true})
            for (const auto &type : kTypes) {
                const std::string name = "video/" + std::to_string(size.width) + "x" +
                                         std::to_string(size.height) + "/" + type.name +
                                         (highSpeed ? "/highspeed" : "/normal");
                benchmark::RegisterBenchmark(name.c_str(), StreamVideo, std::cref(setup),
                                             Case{size.width, size.height, type.type, highSpeed})
                    ->Unit(benchmark::kMillisecond)
                    ->UseManualTime()
                    ->MinTime(3.0);
            }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ORUCloseCamera(setup.id);
    return 0;
}
