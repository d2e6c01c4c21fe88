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
    // Called with every mutex held (LockAll): clears the ready flag, then
    // releases and destroys each mutex once nobody waits on it any more.
    void DestroyLocked();
    // Takes all mutexes in ascending order.
    void LockAll();
    void UnlockAll();

    // False (nothing held) when the set is not ready.
    bool Enter(int lockNo);
    void Leave(int lockNo);

private:
    S_MUTEX_UNIX m_Mutex[kLockCount];
    std::atomic<int> m_Busy[kLockCount] = {};
    std::atomic<bool> m_bReady{false};
};
