// Frame ring between the capture working thread and the frame readers.
// The working thread offers each received frame with InsertBuff; after the
// marker checks a private insert thread copies it into the next free slot,
// and readers take frames out in order with ReadBuff. An unread frame is
// never overwritten: a frame offered while the ring is full or a copy is
// still due is refused, and the caller counts it as dropped.
//
// Frames are arrays of 16-bit little-endian words. A marker of 0 is not
// checked; counter positions are compared only when both are non-zero.
//
// Locks, always taken in this order: the insert lock (frame hand-over,
// held by the insert thread for the whole copy), the slot locks in slot
// order (one slot's contents and the indexes that point at it), the ready
// lock (the condition readers wait on while the ring is empty).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/ThreadCtrl.h"
#include "transport/PlatformShims.h"

class CirBuf {
public:
    static constexpr int kMaxSlots = 2;

    // slotCount is held to 1..kMaxSlots. If a slot cannot be allocated the
    // ring keeps the slots it got (none: every frame is refused). If the
    // ready condition cannot be set up, reads of an empty ring fail at once.
    CirBuf(long slotSize, int slotCount);
    // Stops the insert thread if it still runs, then frees everything.
    // Thread safety: owner thread, once no other call is in progress.
    ~CirBuf();

    CirBuf(const CirBuf &) = delete;
    CirBuf &operator=(const CirBuf &) = delete;

    // Thread safety: owner thread; pairs with StopInstBufThr.
    bool StartInstBufThr();
    // Thread safety: owner thread; returns once the insert thread has ended.
    void StopInstBufThr();

    // 0 accepted (copied later on the insert thread), 1 refused without
    // looking at the data (null frame, length outside 1..slot size, ring
    // full, or the previous frame not yet copied), 2 rejected by a marker or
    // counter check or a position outside the frame.
    // Thread safety: one producer thread at a time.
    int InsertBuff(uint8_t *frame, int length, uint16_t headMarker, int headPos,
                   uint16_t tailMarker, int tailPos, int counterPos0, int counterPos1);

    // The producer calls this after an accepted InsertBuff and before it
    // touches that frame buffer again: blocks until the insert thread has
    // finished copying it (nothing pending or being copied). -1 waits
    // without limit. False on time-out, which is certain when the insert
    // thread does not run.
    // Thread safety: any thread.
    bool WaitInsertIdle(int timeoutMs);

    // Copies the oldest unread frame's first length bytes into dest and
    // consumes it. Waits while the ring is empty: timeoutMs -1 without
    // limit, other negatives not at all. False on time-out, null dest or
    // length outside 0..slot size. The last argument is ignored.
    // Thread safety: any thread; concurrent readers take distinct frames.
    bool ReadBuff(uint8_t *dest, int length, int timeoutMs, uint8_t **reserved);

    // Waits like ReadBuff (with a whole-second deadline), then tells whether
    // the first 32-bit word of the oldest unread frame equals value, in host
    // byte order. Consumes nothing.
    // Thread safety: any thread.
    bool IsBuffHeadCorrect(uint32_t value, int timeoutMs);

    // Empties the ring, including a frame accepted but not yet copied.
    // Thread safety: any thread; waits for a copy in or out to finish.
    void ResetCirBuff();

    // The slot the insert thread fills next; stores the slot count in count
    // unless it is null. The contents are not synchronised with the ring.
    // Thread safety: any thread.
    uint8_t *GetWriteBuf(int *count);

private:
    static void InsertBufThd(std::atomic<bool> *running, void *arg);
    void InitCondMutex();
    void DestroyCondMutex();
    void WakeInsertThread();
    void CopyPendingFrame();
    // Waits for an unread frame, then returns its slot index with that
    // slot's lock held, or -1 once the deadline (null: none) has passed.
    int LockOldestFrame(const timespec *deadline);

    std::atomic<int> m_iReadIdx;
    ThreadCtrl m_InsertThr;
    long m_lSlotSize;
    std::unique_ptr<uint8_t[]> m_pSlot[kMaxSlots];
    std::atomic<uint8_t *> m_pPending;
    uint16_t m_usHeadMarker;
    uint16_t m_usTailMarker;
    int m_iHeadPos;
    int m_iTailPos;
    int m_iCountPos0;
    int m_iCountPos1;
    bool m_bValid;
    int m_iLength;
    std::atomic<int> m_iFilled;
    std::atomic<bool> m_bBusy;
    std::atomic<int> m_iWriteIdx;
    S_MUTEX_UNIX m_ReadyMutex;
    pthread_cond_t m_ReadyCond;
    pthread_condattr_t m_ReadyCondAttr;
    bool m_bReadyCondAttrOk;
    bool m_bReadyCondOk;
    pthread_cond_t m_InsertCond;
    // Signalled when a pending frame has been copied or dropped; measured
    // on m_IdleClock (monotonic unless the ready attributes failed).
    pthread_cond_t m_IdleCond;
    clockid_t m_IdleClock;
    S_MUTEX_UNIX m_InsertMutex;
    S_MUTEX_UNIX m_SlotMutex[kMaxSlots];
    int m_iSlotCount;
};
