#include "transport/PlatformShims.h"

#include <cerrno>
#include <cstring>

#include "log/DbgPrint.h"

int InitializeCriticalSection(S_MUTEX_UNIX *section)
{
    // pthread functions return their error number instead of setting errno.
    int err = pthread_mutexattr_init(&section->attr);
    if (err != 0) {
        DbgPrint(LogSeverity::Error, -1, "InitializeCriticalSection",
                 "pthread_mutexattr_init fail: %s\n", strerror(err));
        return err;
    }
    err = pthread_mutexattr_settype(&section->attr, PTHREAD_MUTEX_RECURSIVE);
    if (err != 0) {
        DbgPrint(LogSeverity::Error, -1, "InitializeCriticalSection",
                 "pthread_mutexattr_settype fail: %s\n", strerror(err));
        return err;
    }
    err = pthread_mutex_init(&section->mutex, &section->attr);
    if (err != 0) {
        DbgPrint(LogSeverity::Error, -1, "InitializeCriticalSection",
                 "pthread_mutex_init fail: %s\n", strerror(err));
        return err;
    }
    return 0;
}

int DeleteCriticalSection(S_MUTEX_UNIX *section)
{
    int err = pthread_mutex_destroy(&section->mutex);
    if (err != 0)
        DbgPrint(LogSeverity::Error, -1, "DeleteCriticalSection",
                 "pthread_mutex_destroy fail: %s\n", strerror(err));
    err = pthread_mutexattr_destroy(&section->attr);
    if (err != 0)
        DbgPrint(LogSeverity::Error, -1, "DeleteCriticalSection",
                 "pthread_mutexattr_destroy fail: %s\n", strerror(err));
    return err;
}

uint32_t TickCountFromTimespec(const timespec &ts)
{
    // Unsigned arithmetic: the wrap is the intended truncation, on 32-bit
    // hosts too (where time_t * 1000 would overflow a signed long).
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

uint32_t GetTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return TickCountFromTimespec(ts);
}

int max(int a, int b)
{
    return a > b ? a : b;
}

int min(int a, int b)
{
    return a < b ? a : b;
}
