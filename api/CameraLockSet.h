// The per-camera lock set of the flat API: one recursive mutex per flat
// function (by lock number), a busy count per mutex and a ready flag.
// A call counts itself in its busy count before it looks at the ready flag,
// so Close never destroys a mutex that a caller is about to take; a count,
// because several callers of one function may queue on its mutex at once.
// Thread safety: Create/Close are called by the registry under its own lock;
// Enter/Leave from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "transport/PlatformShims.h"

class CameraLockSet {
public:
    static constexpr int kLockCount = 128;

    bool IsReady() const { return m_bReady.load(); }
    // Creates the mutexes and marks the set ready (no-op when ready).
    void Create();
    // Called with every mutex held (LockAll): clears the ready flag, releases
    // every mutex, then destroys each once nobody waits on it any more.
    void DestroyLocked();
    // Takes all mutexes in ascending order.
    void LockAll();
    void UnlockAll();

    // Every lock at once, in ascending order, for a call that no other call
    // on the camera may overlap.
    static constexpr int kEveryLock = -1;
    // False (nothing held) when the set is not ready. lockNo may be kEveryLock.
    bool Enter(int lockNo);
    void Leave(int lockNo);

private:
    // The lock numbers a call of lockNo holds: [first, end).
    static int First(int lockNo) { return lockNo == kEveryLock ? 0 : lockNo; }
    static int End(int lockNo) { return lockNo == kEveryLock ? kLockCount : lockNo + 1; }

    S_MUTEX_UNIX m_Mutex[kLockCount];
    std::atomic<int> m_Busy[kLockCount] = {};
    std::atomic<bool> m_bReady{false};
};
