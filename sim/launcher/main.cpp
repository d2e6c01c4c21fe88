// oru-sim: runs a program with simulated cameras attached to a simulated USB
// bus, and returns the program's exit code (128 + signal number when a
// signal ended it; 125 when oru-sim itself fails, 126 / 127 when the program
// cannot be run or found).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/LauncherOptions.h"
#include "launcher/PlugSchedule.h"
#include "launcher/StateFile.h"
#include "sim/CameraBoard.h"
#include "sim/CountingPatternSource.h"
#include "sim/FrameStream.h"
#include "sim/LegacyFrameStream.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"
#include "sim/UmockdevPreload.h"

extern char** environ;

namespace {

constexpr int kLauncherFailed = 125;
constexpr int kCannotExecute = 126;
constexpr int kNotFound = 127;
constexpr int kForwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t childPid = 0;

void forwardSignal(int signalNumber)
{
    if (childPid > 0)
        kill(childPid, signalNumber);
}

sigset_t forwardedSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : kForwardedSignals)
        sigaddset(&set, signalNumber);
    return set;
}

// Starts the command with the default signal set-up; the host keeps the
// forwarded signals blocked until the child's pid is known.
int runCommand(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);

    sigset_t forwarded = forwardedSignalSet();
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setsigdefault(&attributes, &forwarded);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        std::fprintf(stderr, "oru-sim: cannot run %s: %s\n", argv[0], std::strerror(error));
        return error == ENOENT ? kNotFound : kCannotExecute;
    }

    childPid = pid;
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kForwardedSignals)
        sigaction(signalNumber, &action, nullptr);
    pthread_sigmask(SIG_UNBLOCK, &forwarded, nullptr);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pthread_sigmask(SIG_BLOCK, &forwarded, nullptr);
    childPid = 0;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace oru_sim;
    try {
        LauncherOptions options = LauncherOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(LauncherOptions::usage().c_str(), stdout);
            return 0;
        }
        if (options.listModels) {
            for (const std::string& line : ModelCatalog::describe())
                std::printf("%s\n", line.c_str());
            return 0;
        }
        UmockdevPreload::ensureActive(argv);

        // Blocked before the bus starts its threads, so that only this thread
        // takes them, forwards them and cleans up.
        sigset_t forwarded = forwardedSignalSet();
        pthread_sigmask(SIG_BLOCK, &forwarded, nullptr);
        SimulatedBus bus;
        std::vector<std::pair<SimulatedCamera*, PlugFaults>> plugFaults;
        for (size_t i = 0; i < options.cameras.size(); ++i) {
            SimulatedCamera& camera = bus.addCamera(options.cameras[i]);
            plugFaults.emplace_back(&camera, options.plugFaults[i]);
            if (options.countingPattern[i])
                camera.setDataSource(std::make_shared<CountingPatternSource>());
            StreamFaults* faults = nullptr;
            if (auto stream = std::dynamic_pointer_cast<FrameStream>(camera.dataSource()))
                faults = &stream->faults();
            else if (auto legacy = std::dynamic_pointer_cast<LegacyFrameStream>(camera.dataSource()))
                faults = &legacy->faults();
            for (const std::string& fault : options.faults[i])
                if (faults)
                    faults->apply(fault);
            if (options.thermalTimeConstant[i]) {
                ThermalSettings thermal = camera.board().thermalSettings();
                thermal.timeConstantSeconds = *options.thermalTimeConstant[i];
                camera.board().setThermalSettings(thermal);
            }
        }
        // Stopped, with whatever it has not done yet, before the bus goes.
        PlugSchedule schedule(bus, std::move(plugFaults));
        std::optional<StateFile> stateFile;
        if (!options.stateFile.empty())
            stateFile.emplace(bus, options.stateFile, std::chrono::milliseconds(100));
        return runCommand(options.command);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "oru-sim: %s\n%s", error.what(), LauncherOptions::usage().c_str());
        return kLauncherFailed;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "oru-sim: %s\n", error.what());
        return kLauncherFailed;
    }
}
