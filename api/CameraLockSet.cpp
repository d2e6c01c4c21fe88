#include "api/CameraLockSet.h"

#include <unistd.h>

#include "log/DbgPrint.h"

void CameraLockSet::Create()
{
    if (m_bReady.load())
        return;
    // The busy counts are left alone: they always return to 0, and a caller
    // that has just counted itself must stay counted.
    for (int k = 0; k < kLockCount; ++k)
        InitializeCriticalSection(&m_Mutex[k]);
    m_bReady.store(true);
}

void CameraLockSet::LockAll()
{
    for (int k = 0; k < kLockCount; ++k)
        pthread_mutex_lock(&m_Mutex[k].mutex);
}

void CameraLockSet::UnlockAll()
{
    for (int k = 0; k < kLockCount; ++k)
        pthread_mutex_unlock(&m_Mutex[k].mutex);
}

void CameraLockSet::DestroyLocked()
{
    m_bReady.store(false);
    DbgPrint(LogSeverity::Debug, -1, "ORUCloseCamera", "->\n");
    // Every lock is let go first: a call queued for all of them (an
    // initialisation) must get them all before it can leave.
    for (int k = 0; k < kLockCount; ++k)
        pthread_mutex_unlock(&m_Mutex[k].mutex);
    for (int k = 0; k < kLockCount; ++k) {
        while (m_Busy[k].load() != 0) {
            DbgPrint(LogSeverity::Debug, -1, "ORUCloseCamera", "Slp\n");
            usleep(5000);
        }
        DeleteCriticalSection(&m_Mutex[k]);
    }
    DbgPrint(LogSeverity::Debug, -1, "ORUCloseCamera", "<-\n");
}

bool CameraLockSet::Enter(int lockNo)
{
    for (int k = First(lockNo); k < End(lockNo); ++k)
        m_Busy[k].fetch_add(1);
    if (!m_bReady.load()) {
        for (int k = First(lockNo); k < End(lockNo); ++k)
            m_Busy[k].fetch_sub(1);
        return false;
    }
    for (int k = First(lockNo); k < End(lockNo); ++k)
        pthread_mutex_lock(&m_Mutex[k].mutex);
    return true;
}

void CameraLockSet::Leave(int lockNo)
{
    for (int k = First(lockNo); k < End(lockNo); ++k)
        pthread_mutex_unlock(&m_Mutex[k].mutex);
    for (int k = First(lockNo); k < End(lockNo); ++k)
        m_Busy[k].fetch_sub(1);
}
