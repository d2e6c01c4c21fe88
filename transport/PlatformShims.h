// Small platform functions the engine is written against: recursive critical
// sections on POSIX mutexes, a 32-bit millisecond tick on the monotonic clock,
// and integer min/max. All are stateless and callable from any thread.
#pragma once

#include <pthread.h>
#include <cstdint>
#include <ctime>

#include "transport/ThreadAnnotations.h"

// A recursive mutex kept with its attributes so both can be destroyed. The
// engine's one kind of lock; SectionLock holds it for a scope.
struct ORU_CAPABILITY("mutex") S_MUTEX_UNIX {
    pthread_mutex_t mutex;
    pthread_mutexattr_t attr;

    void Lock() ORU_ACQUIRE() { pthread_mutex_lock(&mutex); }
    void Unlock() ORU_RELEASE() { pthread_mutex_unlock(&mutex); }
    // Tells the analysis that the caller holds the mutex where it cannot
    // see so: in a callback that a function running under it calls.
    void AssertHeld() const ORU_ASSERT_CAPABILITY(this) {}
};

// Returns 0, or the error number of the first failing step (logged).
int InitializeCriticalSection(S_MUTEX_UNIX *section);
// Returns the result of destroying the attributes; failures are logged.
int DeleteCriticalSection(S_MUTEX_UNIX *section);

// Milliseconds of the monotonic clock, wrapping at 2^32 (about 49.7 days).
// Compare only differences of two readings, taken modulo 2^32.
uint32_t GetTickCount();
// The same truncation applied to a given clock reading.
uint32_t TickCountFromTimespec(const timespec &ts);

int max(int a, int b);
int min(int a, int b);
