#include "transport/CirBuf.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "log/DbgPrint.h"
#include "transport/FrameMarkers.h"
#include "transport/SectionLock.h"

namespace {

// Absolute time timeoutMs (>= 0) from now on the given clock.
timespec DeadlineAfter(clockid_t clock, int timeoutMs)
{
    timespec deadline{};
    clock_gettime(clock, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

// Waits on cond (section held once by the caller) until done() holds or
// the deadline (null: none) passes; returns done().
template <typename Done>
bool WaitUntil(pthread_cond_t &cond, S_MUTEX_UNIX &section, const timespec *deadline, Done done)
{
    while (!done()) {
        const int err = deadline != nullptr
                            ? pthread_cond_timedwait(&cond, &section.mutex, deadline)
                            : pthread_cond_wait(&cond, &section.mutex);
        if (err == ETIMEDOUT)
            return done();
    }
    return true;
}

} // namespace

CirBuf::CirBuf(long slotSize, int slotCount)
    : m_iReadIdx(0), m_InsertThr(), m_lSlotSize(slotSize < 0 ? 0 : slotSize), m_pSlot(),
      m_pPending(nullptr), m_usHeadMarker(0), m_usTailMarker(0), m_iHeadPos(0), m_iTailPos(0),
      m_iCountPos0(0), m_iCountPos1(0), m_bValid(false), m_iLength(0), m_iFilled(0),
      m_bBusy(false), m_iWriteIdx(0), m_ReadyMutex(), m_ReadyCond(), m_ReadyCondAttr(),
      m_bReadyCondAttrOk(false), m_bReadyCondOk(false), m_InsertCond(), m_IdleCond(),
      m_IdleClock(CLOCK_MONOTONIC), m_InsertMutex(), m_SlotMutex(),
      m_iSlotCount(slotCount < 1 ? 1 : slotCount > kMaxSlots ? kMaxSlots : slotCount)
{
    for (S_MUTEX_UNIX &slot : m_SlotMutex)
        InitializeCriticalSection(&slot);
    InitializeCriticalSection(&m_InsertMutex);
    InitCondMutex();
    pthread_cond_init(&m_InsertCond, nullptr);
    if (m_bReadyCondOk) {
        pthread_cond_init(&m_IdleCond, &m_ReadyCondAttr);
    } else {
        pthread_cond_init(&m_IdleCond, nullptr);
        m_IdleClock = CLOCK_REALTIME;
    }

    // Slot contents are not cleared: every frame overwrites what it reads back.
    int allocated = 0;
    while (allocated < m_iSlotCount) {
        m_pSlot[allocated].reset(new (std::nothrow) uint8_t[m_lSlotSize]);
        if (!m_pSlot[allocated]) {
            DbgPrint(-1, "CirBuf", "slot %d alloc fail\n", allocated);
            break;
        }
        ++allocated;
    }
    m_iSlotCount = allocated;

    m_InsertThr.InitFuncPt(InsertBufThd);
}

CirBuf::~CirBuf()
{
    // A still running insert thread would wait on the conditions freed below.
    m_InsertThr.ClearRunFlag();
    WakeInsertThread();
    m_InsertThr.Stop();

    for (S_MUTEX_UNIX &slot : m_SlotMutex)
        DeleteCriticalSection(&slot);
    DeleteCriticalSection(&m_InsertMutex);
    DestroyCondMutex();
    pthread_cond_destroy(&m_InsertCond);
    pthread_cond_destroy(&m_IdleCond);
}

void CirBuf::InitCondMutex()
{
    int err = InitializeCriticalSection(&m_ReadyMutex);
    if (err != 0) {
        DbgPrint(-1, "InitCondMutex", "InitializeCriticalSection fail: %s\n", strerror(err));
        return;
    }
    err = pthread_condattr_init(&m_ReadyCondAttr);
    if (err != 0) {
        DbgPrint(-1, "InitCondMutex", "pthread_condattr_init fail: %s\n", strerror(err));
        return;
    }
    m_bReadyCondAttrOk = true;
    err = pthread_condattr_setclock(&m_ReadyCondAttr, CLOCK_MONOTONIC);
    if (err != 0) {
        DbgPrint(-1, "InitCondMutex", "pthread_condattr_setclock fail: %s\n", strerror(err));
        return;
    }
    m_bReadyCondOk = pthread_cond_init(&m_ReadyCond, &m_ReadyCondAttr) == 0;
}

void CirBuf::DestroyCondMutex()
{
    int err = 0;
    if (m_bReadyCondAttrOk && (err = pthread_condattr_destroy(&m_ReadyCondAttr)) != 0)
        DbgPrint(-1, "DestroyCondMutex", "pthread_condattr_destroy fail: %s\n", strerror(err));
    if ((err = DeleteCriticalSection(&m_ReadyMutex)) != 0)
        DbgPrint(-1, "DestroyCondMutex", "DeleteCriticalSection fail: %s\n", strerror(err));
    if (m_bReadyCondOk && (err = pthread_cond_destroy(&m_ReadyCond)) != 0)
        DbgPrint(-1, "DestroyCondMutex", "pthread_cond_destroy fail: %s\n", strerror(err));
}

bool CirBuf::StartInstBufThr()
{
    return m_InsertThr.Start(this);
}

void CirBuf::StopInstBufThr()
{
    m_InsertThr.ClearRunFlag();
    DbgPrint(-1, "StopInstBufThr", ">> wait InsertBufThr exit\n");
    DbgPrint(-1, "StopInstBufThr", "StopInstBufThr 0\n");
    WakeInsertThread();
    DbgPrint(-1, "StopInstBufThr", "StopInstBufThr 1\n");
    m_InsertThr.Stop();
    DbgPrint(-1, "StopInstBufThr", "<< wait InsertBufThr exit\n");
}

void CirBuf::WakeInsertThread()
{
    SectionLock lock(m_InsertMutex);
    pthread_cond_signal(&m_InsertCond);
}

int CirBuf::InsertBuff(uint8_t *frame, int length, uint16_t headMarker, int headPos,
                       uint16_t tailMarker, int tailPos, int counterPos0, int counterPos1)
{
    if (frame == nullptr || length <= 0 || length > m_lSlotSize || m_iFilled >= m_iSlotCount ||
        m_bBusy || m_pPending != nullptr)
        return 1;

    // Quick to get: with nothing pending the insert thread is not copying.
    SectionLock lock(m_InsertMutex);
    if (m_pPending != nullptr)
        return 1;
    m_iHeadPos = headPos;
    m_iTailPos = tailPos;
    m_iCountPos0 = counterPos0;
    m_iCountPos1 = counterPos1;
    m_usHeadMarker = headMarker;
    m_usTailMarker = tailMarker;
    m_iLength = length;
    m_bValid = false;

    const FrameMarkers markers{headMarker, headPos, tailMarker, tailPos, counterPos0, counterPos1};
    switch (markers.Check(frame, length)) {
    case FrameCheck::kGood:
        break;
    case FrameCheck::kBadMarker:
        return 2;
    case FrameCheck::kCounterMismatch:
        DbgPrint(-1, "InsertBuff", "Count Addrcount0= %02X, Addrcount1=%02X \n",
                 FrameWordAt(frame, counterPos0), FrameWordAt(frame, counterPos1));
        return 2;
    }

    m_bValid = true;
    m_pPending = frame;
    pthread_cond_signal(&m_InsertCond);
    return 0;
}

bool CirBuf::WaitInsertIdle(int timeoutMs)
{
    timespec deadline{};
    if (timeoutMs != -1)
        deadline = DeadlineAfter(m_IdleClock, timeoutMs < 0 ? 0 : timeoutMs);
    // The copy runs under the insert lock, so holding it means none is in
    // progress; only a frame not yet taken by the thread is left to wait for.
    SectionLock lock(m_InsertMutex);
    return WaitUntil(m_IdleCond, m_InsertMutex, timeoutMs != -1 ? &deadline : nullptr,
                     [this] { return m_pPending == nullptr; });
}

void CirBuf::InsertBufThd(std::atomic<bool> *running, void *arg)
{
    CirBuf *ring = static_cast<CirBuf *>(arg);
    DbgPrint(-1, "InsertBufThd", "InsertBufThr begin\n");
    while (*running) {
        SectionLock lock(ring->m_InsertMutex);
        WaitUntil(ring->m_InsertCond, ring->m_InsertMutex, nullptr,
                  [ring, running] { return ring->m_pPending != nullptr || !*running; });
        ring->m_bBusy = true;
        if (ring->m_pPending != nullptr && ring->m_bValid)
            ring->CopyPendingFrame();
        ring->m_pPending = nullptr;
        ring->m_bValid = false;
        ring->m_bBusy = false;
        pthread_cond_broadcast(&ring->m_IdleCond);
    }
    DbgPrint(-1, "InsertBufThd", "thread InsertBufThd Exit\n");
}

void CirBuf::CopyPendingFrame()
{
    // The insert lock is held: ResetCirBuff cannot move the write index.
    const int slot = m_iWriteIdx;
    SectionLock slotLock(m_SlotMutex[slot]);
    memcpy(m_pSlot[slot].get(), m_pPending.load(), static_cast<size_t>(m_iLength));
    if (++m_iFilled == 1 && m_bReadyCondOk) {
        SectionLock readyLock(m_ReadyMutex);
        // Broadcast: a waiting head check does not consume the frame.
        pthread_cond_broadcast(&m_ReadyCond);
    }
    m_iWriteIdx = (slot + 1) % m_iSlotCount;
}

int CirBuf::LockOldestFrame(const timespec *deadline)
{
    for (;;) {
        if (m_iFilled == 0) {
            if (!m_bReadyCondOk)
                return -1;
            SectionLock lock(m_ReadyMutex);
            if (!WaitUntil(m_ReadyCond, m_ReadyMutex, deadline, [this] { return m_iFilled > 0; }))
                return -1;
        }
        // Another reader or a reset may have moved the index meanwhile: only
        // a slot still at the read index with a frame in the ring counts.
        const int slot = m_iReadIdx;
        pthread_mutex_lock(&m_SlotMutex[slot].mutex);
        if (slot == m_iReadIdx && m_iFilled > 0)
            return slot;
        pthread_mutex_unlock(&m_SlotMutex[slot].mutex);
    }
}

bool CirBuf::ReadBuff(uint8_t *dest, int length, int timeoutMs, uint8_t ** /*reserved*/)
{
    if (dest == nullptr) {
        DbgPrint(-1, "ReadBuff", "error, pData is 0\n");
        return false;
    }
    if (length < 0 || length > m_lSlotSize) {
        DbgPrint(-1, "ReadBuff", "error, length %d\n", length);
        return false;
    }
    timespec deadline{};
    if (timeoutMs != -1)
        deadline = DeadlineAfter(CLOCK_MONOTONIC, timeoutMs < 0 ? 0 : timeoutMs);
    const int slot = LockOldestFrame(timeoutMs != -1 ? &deadline : nullptr);
    if (slot < 0)
        return false;
    memcpy(dest, m_pSlot[slot].get(), static_cast<size_t>(length));
    --m_iFilled;
    m_iReadIdx = (slot + 1) % m_iSlotCount;
    pthread_mutex_unlock(&m_SlotMutex[slot].mutex);
    return true;
}

bool CirBuf::IsBuffHeadCorrect(uint32_t value, int timeoutMs)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += 1 + (timeoutMs < 0 ? 0 : timeoutMs / 1000);
    deadline.tv_nsec = 0;
    const int slot = LockOldestFrame(timeoutMs != -1 ? &deadline : nullptr);
    if (slot < 0) {
        DbgPrint(-1, "IsBuffHeadCorrect", "[%s] Read time out wait %dms\n", "IsBuffHeadCorrect",
                 timeoutMs);
        return false;
    }
    uint32_t head = 0;
    const bool hasHead = m_lSlotSize >= static_cast<long>(sizeof head);
    if (hasHead)
        head = FrameHeadWord(m_pSlot[slot].get());
    pthread_mutex_unlock(&m_SlotMutex[slot].mutex);
    return hasHead && head == value;
}

void CirBuf::ResetCirBuff()
{
    SectionLock insertLock(m_InsertMutex);
    for (S_MUTEX_UNIX &slot : m_SlotMutex)
        pthread_mutex_lock(&slot.mutex);
    m_iFilled = 0;
    m_iReadIdx = 0;
    m_iWriteIdx = 0;
    m_pPending = nullptr;
    m_bValid = false;
    pthread_cond_broadcast(&m_IdleCond);
    DbgPrint(-1, "ResetCirBuff", "Rst\n");
    for (S_MUTEX_UNIX &slot : m_SlotMutex)
        pthread_mutex_unlock(&slot.mutex);
}

uint8_t *CirBuf::GetWriteBuf(int *count)
{
    if (count != nullptr)
        *count = m_iSlotCount;
    return m_pSlot[m_iWriteIdx].get();
}
