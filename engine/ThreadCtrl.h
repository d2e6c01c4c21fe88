// One worker thread running a loop function. The loop receives a pointer to
// its running flag and one argument; it must poll the flag and return soon
// after it turns false. A loop that returns by itself leaves a detached
// thread behind; Stop joins a thread that is still running. Exactly one of
// the two disposes of each thread, decided under the controller's lock, and
// of several concurrent Stops only the first joins: the others wait for that
// join, and Start waits for it before it creates the next thread.
#pragma once

#include <pthread.h>

#include <atomic>

#include "transport/PlatformShims.h"

typedef void (*ThreadFunc)(std::atomic<bool> *running, void *arg);

class ThreadCtrl {
public:
    // Without a function, Start fails until InitFuncPt has given one.
    ThreadCtrl();
    explicit ThreadCtrl(ThreadFunc func);
    // Stops a thread that is still running, so the loop never outlives its
    // flag. Thread safety: owner thread, not the controlled one.
    ~ThreadCtrl();

    ThreadCtrl(const ThreadCtrl &) = delete;
    ThreadCtrl &operator=(const ThreadCtrl &) = delete;

    // Thread safety: any thread; false while a thread runs.
    bool InitFuncPt(ThreadFunc func);
    // The name the threads started from now on carry (at most 15
    // characters, a literal), so that tools such as top tell them apart.
    // Thread safety: owner thread, while no thread runs.
    void SetName(const char *name) { m_szName = name; }
    // Thread safety: any thread; false while a thread runs, without a
    // function, or when the thread cannot be created.
    bool Start(void *arg);
    // Thread safety: any thread but the controlled one; returns once the loop
    // has returned and the thread is joined. Nothing to do when no thread
    // runs.
    void Stop();
    // Thread safety: any thread. Asks the loop to end and returns at once,
    // for loops that need a wake-up from their owner before Stop. A loop
    // that returns before Stop is called detaches as if it had ended by
    // itself, and Stop then has nothing to join.
    void ClearRunFlag();
    // Thread safety: any thread. True from Start until the loop has returned.
    bool IsRunning();

private:
    static void *ThreadBody(void *self);
    // With m_Mutex held once: waits until no Stop is joining.
    void WaitForJoin() ORU_REQUIRES(m_Mutex);

    pthread_t m_hThread ORU_GUARDED_BY(m_Mutex);
    // Given under the lock before the thread starts, read by it unlocked.
    ThreadFunc m_pFunc;
    S_MUTEX_UNIX m_Mutex;
    // Signalled under m_Mutex when a Stop has finished joining.
    pthread_cond_t m_JoinedCond;
    bool m_bStopRequested ORU_GUARDED_BY(m_Mutex);
    std::atomic<bool> m_bRunning;
    bool m_bInside ORU_GUARDED_BY(m_Mutex);  // from Start until the loop has returned
    bool m_bJoining ORU_GUARDED_BY(m_Mutex); // a Stop is joining the thread
    void *m_pArg;
    const char *m_szName;
};
