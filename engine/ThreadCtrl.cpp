#include "engine/ThreadCtrl.h"

#include "log/DbgPrint.h"
#include "transport/SectionLock.h"

ThreadCtrl::ThreadCtrl() : ThreadCtrl(nullptr) {}

ThreadCtrl::ThreadCtrl(ThreadFunc func)
    : m_hThread(), m_pFunc(func), m_Mutex(), m_JoinedCond(), m_bStopRequested(false),
      m_bRunning(false), m_bInside(false), m_bJoining(false), m_pArg(nullptr), m_szName(nullptr)
{
    InitializeCriticalSection(&m_Mutex);
    pthread_cond_init(&m_JoinedCond, nullptr);
}

ThreadCtrl::~ThreadCtrl()
{
    // Also waits, through the lock, for a detaching body to let go of it.
    Stop();
    pthread_cond_destroy(&m_JoinedCond);
    DeleteCriticalSection(&m_Mutex);
}

void ThreadCtrl::WaitForJoin()
{
    while (m_bJoining)
        pthread_cond_wait(&m_JoinedCond, &m_Mutex.mutex);
}

bool ThreadCtrl::InitFuncPt(ThreadFunc func)
{
    SectionLock lock(m_Mutex);
    if (m_bRunning || m_bInside)
        return false;
    m_pFunc = func;
    return true;
}

bool ThreadCtrl::IsRunning()
{
    SectionLock lock(m_Mutex);
    return m_bRunning || m_bInside;
}

bool ThreadCtrl::Start(void *arg)
{
    SectionLock lock(m_Mutex);
    // The handle of the previous thread is still being joined.
    WaitForJoin();
    if (m_bRunning || m_bInside) {
        DbgPrint(LogSeverity::Error, -1, "Start", "thread is already running\n");
        return false;
    }
    if (m_pFunc == nullptr) {
        DbgPrint(LogSeverity::Error, -1, "Start", "pointer is not assigned\n");
        return false;
    }
    m_pArg = arg;
    m_bStopRequested = false;
    m_bRunning = true;
    // Inside counts from here, not from the body's first step: a run flag
    // cleared before the new thread gets going must not look idle.
    m_bInside = true;
    if (pthread_create(&m_hThread, nullptr, ThreadBody, this) != 0) {
        m_bRunning = false;
        m_bInside = false;
        return false;
    }
    return true;
}

void *ThreadCtrl::ThreadBody(void *self)
{
    ThreadCtrl *ctrl = static_cast<ThreadCtrl *>(self);
    if (ctrl->m_szName != nullptr)
        pthread_setname_np(pthread_self(), ctrl->m_szName);
    ctrl->m_pFunc(&ctrl->m_bRunning, ctrl->m_pArg);

    SectionLock lock(ctrl->m_Mutex);
    ctrl->m_bRunning = false;
    ctrl->m_bInside = false;
    // Nobody is going to join a loop that ended by itself.
    if (!ctrl->m_bStopRequested)
        pthread_detach(pthread_self());
    return nullptr;
}

void ThreadCtrl::Stop()
{
    SectionLock lock(m_Mutex);
    if (m_bJoining) {
        // Another Stop joins this thread; a second join would be undefined.
        WaitForJoin();
        return;
    }
    if (!m_bRunning && !m_bInside)
        return;
    m_bStopRequested = true;
    m_bRunning = false;
    m_bJoining = true;
    DbgPrint(LogSeverity::Debug, -1, "Stop", "WaitForSingleObject >\n");
    const pthread_t thread = m_hThread;
    // The loop takes the lock on its way out.
    lock.Unlock();
    pthread_join(thread, nullptr);
    lock.Lock();
    m_bJoining = false;
    pthread_cond_broadcast(&m_JoinedCond);
    DbgPrint(LogSeverity::Debug, -1, "Stop", "WaitForSingleObject <\n");
}

void ThreadCtrl::ClearRunFlag()
{
    SectionLock lock(m_Mutex);
    m_bRunning = false;
}
