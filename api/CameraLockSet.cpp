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
    DbgPrint(-1, "ORUCloseCamera", "->\n");
    for (int k = 0; k < kLockCount; ++k) {
        pthread_mutex_unlock(&m_Mutex[k].mutex);
        while (m_Busy[k].load() != 0) {
            DbgPrint(-1, "ORUCloseCamera", "Slp\n");
            usleep(5000);
        }
        DeleteCriticalSection(&m_Mutex[k]);
    }
    DbgPrint(-1, "ORUCloseCamera", "<-\n");
}

bool CameraLockSet::Enter(int lockNo)
{
    m_Busy[lockNo].fetch_add(1);
    if (!m_bReady.load()) {
        m_Busy[lockNo].fetch_sub(1);
        return false;
    }
    pthread_mutex_lock(&m_Mutex[lockNo].mutex);
    return true;
}

void CameraLockSet::Leave(int lockNo)
{
    pthread_mutex_unlock(&m_Mutex[lockNo].mutex);
    m_Busy[lockNo].fetch_sub(1);
}
