#include "log/DbgPrint.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "log/ORULog.h"

std::atomic<bool> g_bDebugPrint{false};

namespace {
constexpr size_t kLineSize = 256;
constexpr int kInfoPriority = 700;
}

void DbgPrint(int level, const char *tag, const char *format, ...)
{
    if (!g_bDebugPrint.load(std::memory_order_relaxed))
        return;

    char line[kLineSize] = {};
    const int pid = static_cast<int>(getpid());
    const int tid = static_cast<int>(syscall(SYS_gettid));
    int used = level < 1 ? snprintf(line, sizeof line, "[%d,%d %s]: ", pid, tid, tag)
                         : snprintf(line, sizeof line, "[%d,%d %X::%s]: ", pid, tid,
                                    static_cast<unsigned>(level), tag);
    if (used < 0)
        return;
    if (static_cast<size_t>(used) < sizeof line - 1) {
        va_list args;
        va_start(args, format);
        vsnprintf(line + used, sizeof line - used, format, args);
        va_end(args);
    }

    fputs(line, stderr);

    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n')
        line[len - 1] = '\0';

    ORULog &log = ORULog::get_instance();
    log.setPriority(static_cast<log4cpp::Priority::PriorityLevel>(kInfoPriority));
    log.info(line);
}
