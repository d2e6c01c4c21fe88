#include "transport/CirBuf.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "log/DbgPrint.h"
#include "transport/FrameMarkers.h"
#include "transport/SectionLock.h"

namespace {

// Absolute time timeoutMs (>= 0) from now on the monotonic clock.
timespec DeadlineAfter(int timeoutMs)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

} // namespace

CirBuf::CirBuf(long slotSize, int slotCount)
    : m_lSlotSize(slotSize < 0 ? 0 : slotSize), m_iSlotCount(slotCount < 1           ? 1
                                                             : slotCount > kMaxSlots ? kMaxSlots
                                                                                     : slotCount),
      m_Slot(), m_iUnread(), m_iHead(0), m_iUnreadCount(0), m_ulPublished(0), m_iNewest(-1),
      m_Mutex(), m_ReadyCond(), m_bReadyCondOk(false)
{
    InitializeCriticalSection(&m_Mutex);
    pthread_condattr_t attr;
    if (pthread_condattr_init(&attr) == 0) {
        m_bReadyCondOk = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 &&
                         pthread_cond_init(&m_ReadyCond, &attr) == 0;
        pthread_condattr_destroy(&attr);
    }
    if (!m_bReadyCondOk)
        DbgPrint(LogSeverity::Error, -1, "CirBuf", "ready condition set-up failed\n");

    // Slot contents are not cleared: the pages are touched only by the
    // frames that fill them.
    int allocated = 0;
    while (allocated < m_iSlotCount) {
        m_Slot[allocated].pData.reset(new (std::nothrow) uint8_t[m_lSlotSize]);
        if (!m_Slot[allocated].pData) {
            DbgPrint(LogSeverity::Error, -1, "CirBuf", "slot %d alloc fail\n", allocated);
            break;
        }
        ++allocated;
    }
    m_iSlotCount = allocated;
}

CirBuf::~CirBuf()
{
    DeleteCriticalSection(&m_Mutex);
    if (m_bReadyCondOk)
        pthread_cond_destroy(&m_ReadyCond);
}

int CirBuf::SlotOf(const uint8_t *data) const
{
    for (int i = 0; i < m_iSlotCount; ++i)
        if (m_Slot[i].pData.get() == data)
            return i;
    return -1;
}

int CirBuf::FreeSlot() const
{
    int best = -1;
    for (int i = 0; i < m_iSlotCount; ++i) {
        const Slot &slot = m_Slot[i];
        if (slot.state == SlotState::kFree && slot.iLocks == 0 &&
            (best < 0 || slot.ulPublished < m_Slot[best].ulPublished))
            best = i;
    }
    return best;
}

uint8_t *CirBuf::BeginInsert()
{
    SectionLock lock(m_Mutex);
    const int slot = FreeSlot();
    if (slot < 0)
        return nullptr;
    m_Slot[slot].state = SlotState::kFilling;
    return m_Slot[slot].pData.get();
}

void CirBuf::CancelInsert(uint8_t *data)
{
    SectionLock lock(m_Mutex);
    const int slot = SlotOf(data);
    if (slot >= 0 && m_Slot[slot].state == SlotState::kFilling)
        m_Slot[slot].state = SlotState::kFree;
}

void CirBuf::Publish(int slot, int length)
{
    Slot &published = m_Slot[slot];
    published.state = SlotState::kUnread;
    published.iLength = length;
    published.ulPublished = ++m_ulPublished;
    m_iUnread[(m_iHead + m_iUnreadCount) % kMaxSlots] = slot;
    ++m_iUnreadCount;
    m_iNewest = slot;
    // Broadcast: a waiting head check does not consume the frame.
    if (m_bReadyCondOk)
        pthread_cond_broadcast(&m_ReadyCond);
}

int CirBuf::EndInsert(uint8_t *data, int length, uint16_t headMarker, int headPos,
                      uint16_t tailMarker, int tailPos, int counterPos0, int counterPos1)
{
    const FrameMarkers markers{headMarker, headPos, tailMarker, tailPos, counterPos0, counterPos1};
    FrameCheck check = FrameCheck::kBadMarker;
    if (length > 0 && length <= m_lSlotSize) {
        check = markers.Check(data, length);
        if (check == FrameCheck::kCounterMismatch)
            DbgPrint(LogSeverity::Debug, -1, "InsertBuff",
                     "Count Addrcount0= %02X, Addrcount1=%02X \n", FrameWordAt(data, counterPos0),
                     FrameWordAt(data, counterPos1));
    }
    SectionLock lock(m_Mutex);
    const int slot = SlotOf(data);
    if (slot < 0 || m_Slot[slot].state != SlotState::kFilling)
        return 2;
    if (check != FrameCheck::kGood) {
        m_Slot[slot].state = SlotState::kFree;
        return 2;
    }
    Publish(slot, length);
    return 0;
}

int CirBuf::InsertBuff(uint8_t *frame, int length, uint16_t headMarker, int headPos,
                       uint16_t tailMarker, int tailPos, int counterPos0, int counterPos1)
{
    if (frame == nullptr || length <= 0 || length > m_lSlotSize)
        return 1;
    uint8_t *slot = BeginInsert();
    if (slot == nullptr)
        return 1;
    std::memcpy(slot, frame, static_cast<size_t>(length));
    return EndInsert(slot, length, headMarker, headPos, tailMarker, tailPos, counterPos0,
                     counterPos1);
}

int CirBuf::TakeOldest(const timespec *deadline, bool consume)
{
    while (m_iUnreadCount == 0) {
        if (!m_bReadyCondOk)
            return -1;
        const int err = deadline != nullptr
                            ? pthread_cond_timedwait(&m_ReadyCond, &m_Mutex.mutex, deadline)
                            : pthread_cond_wait(&m_ReadyCond, &m_Mutex.mutex);
        if (err == ETIMEDOUT && m_iUnreadCount == 0)
            return -1;
    }
    const int slot = m_iUnread[m_iHead];
    if (consume) {
        m_iHead = (m_iHead + 1) % kMaxSlots;
        --m_iUnreadCount;
        m_Slot[slot].state = SlotState::kReading;
    }
    return slot;
}

bool CirBuf::ReadBuff(uint8_t *dest, int length, int timeoutMs, uint8_t ** /*reserved*/)
{
    if (dest == nullptr) {
        DbgPrint(LogSeverity::Error, -1, "ReadBuff", "error, pData is 0\n");
        return false;
    }
    if (length < 0 || length > m_lSlotSize) {
        DbgPrint(LogSeverity::Error, -1, "ReadBuff", "error, length %d\n", length);
        return false;
    }
    timespec deadline{};
    if (timeoutMs != -1)
        deadline = DeadlineAfter(timeoutMs < 0 ? 0 : timeoutMs);
    int slot;
    const uint8_t *frame;
    {
        SectionLock lock(m_Mutex);
        slot = TakeOldest(timeoutMs != -1 ? &deadline : nullptr, true);
        if (slot < 0)
            return false;
        frame = m_Slot[slot].pData.get();
    }
    // The slot is ours while it is being read: nobody refills it.
    std::memcpy(dest, frame, static_cast<size_t>(length));
    SectionLock lock(m_Mutex);
    m_Slot[slot].state = SlotState::kFree;
    return true;
}

bool CirBuf::IsBuffHeadCorrect(uint32_t value, int timeoutMs)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += 1 + (timeoutMs < 0 ? 0 : timeoutMs / 1000);
    deadline.tv_nsec = 0;
    SectionLock lock(m_Mutex);
    const int slot = TakeOldest(timeoutMs != -1 ? &deadline : nullptr, false);
    if (slot < 0) {
        DbgPrint(LogSeverity::Warning, -1, "IsBuffHeadCorrect", "[%s] Read time out wait %dms\n",
                 "IsBuffHeadCorrect", timeoutMs);
        return false;
    }
    return m_lSlotSize >= static_cast<long>(sizeof value) &&
           FrameHeadWord(m_Slot[slot].pData.get()) == value;
}

const uint8_t *CirBuf::LockNewest(int *length)
{
    SectionLock lock(m_Mutex);
    if (m_iNewest < 0 || m_Slot[m_iNewest].state == SlotState::kFilling)
        return nullptr;
    Slot &newest = m_Slot[m_iNewest];
    ++newest.iLocks;
    if (length != nullptr)
        *length = newest.iLength;
    return newest.pData.get();
}

void CirBuf::UnlockNewest(const uint8_t *frame)
{
    SectionLock lock(m_Mutex);
    const int slot = SlotOf(frame);
    if (slot >= 0 && m_Slot[slot].iLocks > 0)
        --m_Slot[slot].iLocks;
}

void CirBuf::ResetCirBuff()
{
    SectionLock lock(m_Mutex);
    for (; m_iUnreadCount > 0; --m_iUnreadCount) {
        m_Slot[m_iUnread[m_iHead]].state = SlotState::kFree;
        m_iHead = (m_iHead + 1) % kMaxSlots;
    }
    m_iHead = 0;
    m_iNewest = -1;
    DbgPrint(LogSeverity::Debug, -1, "ResetCirBuff", "Rst\n");
}
