#include "Watchdog.h"

#include <dirent.h>
#include <execinfo.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

extern char **environ;

namespace {

std::atomic<int> g_stacksPrinted{0};

// Decimal digits of value into text (async-signal-safe); returns the length.
int FormatNumber(long value, char *text)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < 24);
    for (int i = 0; i < count; ++i)
        text[i] = digits[count - 1 - i];
    return count;
}

void PrintOwnStack()
{
    char header[64] = "--- thread ";
    int length = static_cast<int>(strlen(header));
    length += FormatNumber(static_cast<long>(syscall(SYS_gettid)), header + length);
    memcpy(header + length, " ---\n", 5);
    length += 5;
    if (write(STDERR_FILENO, header, static_cast<size_t>(length)) < 0)
        return;
    void *frames[64];
    const int depth = backtrace(frames, 64);
    backtrace_symbols_fd(frames, depth, STDERR_FILENO);
}

void PrintStackOnSignal(int)
{
    PrintOwnStack();
    g_stacksPrinted.fetch_add(1);
}

std::string FindOnPath(const char *program)
{
    const char *path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

// gdb attached to this process; false when it is missing or cannot attach.
bool PrintStacksWithGdb()
{
    const std::string gdb = FindOnPath("gdb");
    if (gdb.empty())
        return false;
    // Where only ancestors may trace (Yama), let the child attach.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    const std::string pid = std::to_string(getpid());
    const char *argv[] = {"gdb",  "-batch", "-nx", "-p", pid.c_str(), "-ex", "thread apply all bt",
                          nullptr};
    // gdb runs as itself, not under a preload library the tests may carry.
    std::vector<const char *> envp;
    for (char **entry = environ; *entry != nullptr; ++entry)
        if (strncmp(*entry, "LD_PRELOAD=", 11) != 0)
            envp.push_back(*entry);
    envp.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execve(gdb.c_str(), const_cast<char *const *>(argv),
               const_cast<char *const *>(envp.data()));
        _exit(127);
    }
    int status = 0;
    for (int waited = 0; waited < 600; ++waited) {
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        usleep(100000);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return false;
}

// Each thread prints its own backtrace from a signal handler, one at a time.
void PrintStacksBySignal()
{
    struct sigaction action {};
    action.sa_handler = PrintStackOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    const int signal = SIGRTMIN + 3;
    sigaction(signal, &action, nullptr);
    const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    PrintOwnStack();
    DIR *tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return;
    while (const dirent *entry = readdir(tasks)) {
        const pid_t tid = static_cast<pid_t>(atol(entry->d_name));
        if (tid <= 0 || tid == self)
            continue;
        const int before = g_stacksPrinted.load();
        if (syscall(SYS_tgkill, getpid(), tid, signal) != 0)
            continue;
        for (int waited = 0; waited < 100 && g_stacksPrinted.load() == before; ++waited)
            usleep(10000);
    }
    closedir(tasks);
}

} // namespace

Watchdog::Watchdog(std::chrono::milliseconds limit, std::string what) : what_(std::move(what))
{
    // The first backtrace loads the unwinder; later ones run in signal handlers.
    void *frames[4];
    backtrace(frames, 4);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    thread_ = std::thread([this, deadline] { Guard(deadline); });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    disarmed_.notify_all();
    thread_.join();
}

void Watchdog::PrintAllStacks()
{
    if (!PrintStacksWithGdb())
        PrintStacksBySignal();
}

void Watchdog::Guard(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (disarmed_.wait_until(lock, deadline, [this] { return done_; }))
        return;
    fprintf(stderr, "Watchdog: %s did not finish in time; the stacks of every thread follow.\n",
            what_.c_str());
    PrintAllStacks();
    std::abort();
}
