#include "log/DbgPrint.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "log/ORULog.h"

std::atomic<bool> g_bDebugPrint{false};

namespace {
constexpr size_t kLineSize = 256;
// The log4cpp priority of each severity, in the order of LogSeverity.
constexpr log4cpp::Priority::PriorityLevel kPriorityOf[] = {
    log4cpp::Priority::ERROR, log4cpp::Priority::WARN, log4cpp::Priority::INFO,
    log4cpp::Priority::DEBUG};

void Write(LogSeverity severity, int level, const char *tag, const char *format, va_list args)
    __attribute__((format(printf, 4, 0)));

void Write(LogSeverity severity, int level, const char *tag, const char *format, va_list args)
{
    char line[kLineSize] = {};
    const int pid = static_cast<int>(getpid());
    const int tid = static_cast<int>(syscall(SYS_gettid));
    int used = level < 1 ? snprintf(line, sizeof line, "[%d,%d %s]: ", pid, tid, tag)
                         : snprintf(line, sizeof line, "[%d,%d %X::%s]: ", pid, tid,
                                    static_cast<unsigned>(level), tag);
    if (used < 0)
        return;
    if (static_cast<size_t>(used) < sizeof line - 1)
        vsnprintf(line + used, sizeof line - used, format, args);

    fputs(line, stderr);

    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n')
        line[len - 1] = '\0';

    // The category passes every priority; the threshold has chosen already.
    ORULog &log = ORULog::get_instance();
    log.setPriority(log4cpp::Priority::DEBUG);
    log.log(kPriorityOf[static_cast<int>(severity)], line);
}

void WriteNote(const char *format, ...) __attribute__((format(printf, 1, 2)));

void WriteNote(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Write(LogSeverity::Warning, -1, "ORU_LOG_LEVEL", format, args);
    va_end(args);
}

// Said once, with the first message that reaches the threshold test.
void ReportRejectedLogLevel()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (const char *rejected = RejectedLogLevel())
            WriteNote("unknown log level \"%s\" ignored, every message is written\n", rejected);
    });
}

void WriteIfAtThreshold(LogSeverity severity, int level, const char *tag, const char *format,
                        va_list args) __attribute__((format(printf, 4, 0)));

void WriteIfAtThreshold(LogSeverity severity, int level, const char *tag, const char *format,
                        va_list args)
{
    ReportRejectedLogLevel();
    if (severity <= GetLogThreshold())
        Write(severity, level, tag, format, args);
}
} // namespace

void DbgPrintV(LogSeverity severity, int level, const char *tag, const char *format, va_list args)
{
    if (g_bDebugPrint.load(std::memory_order_relaxed))
        WriteIfAtThreshold(severity, level, tag, format, args);
}

void DbgPrint(LogSeverity severity, int level, const char *tag, const char *format, ...)
{
    if (!g_bDebugPrint.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, format);
    WriteIfAtThreshold(severity, level, tag, format, args);
    va_end(args);
}
