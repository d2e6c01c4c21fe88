// Frame ring between the capture working thread and the frame readers.
// The working thread takes a free slot with BeginInsert, lets the bulk
// transfers fill it, and publishes it with EndInsert once its marker words
// pass the checks (CancelInsert gives back a slot that got no whole frame);
// readers take the frames out oldest first with ReadBuff. So a frame is
// written once, by the transfers, and copied once, by its reader. Loops that
// receive elsewhere offer a frame with InsertBuff, which copies it into a
// free slot on the caller's thread.
//
// An unread frame is never overwritten and a slot is never refilled while a
// reader copies it or LockNewest holds it: when no slot is free, BeginInsert
// and InsertBuff find none, and the caller counts its frame as dropped.
//
// Frames are arrays of 16-bit little-endian words. A marker of 0 is not
// checked; counter positions are compared only when both are non-zero.
//
// One lock guards the slot states and the order of the unread frames; the
// copies into and out of a slot run outside it, by whoever the slot's state
// names as its owner. Readers wait for a frame on a condition measured on the
// monotonic clock.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <memory>

#include "transport/PlatformShims.h"

class CirBuf {
public:
    static constexpr int kMaxSlots = 4;

    // slotCount is held to 1..kMaxSlots. If a slot cannot be allocated the
    // ring keeps the slots it got (none: every frame is refused). If the
    // ready condition cannot be set up, reads of an empty ring fail at once.
    CirBuf(long slotSize, int slotCount);
    // Thread safety: owner thread, once no other call is in progress and no
    // slot is held.
    ~CirBuf();

    CirBuf(const CirBuf &) = delete;
    CirBuf &operator=(const CirBuf &) = delete;

    // A free slot for the producer to fill, the one that has held no frame
    // for the longest time; null when every slot is unread, held or being
    // filled. The slot is the caller's until EndInsert or CancelInsert.
    // Thread safety: any thread.
    uint8_t *BeginInsert();
    // Publishes a slot from BeginInsert holding a frame of length bytes:
    // 0 accepted (readers see it after every frame published before it),
    // 2 rejected by a marker or counter check, a position outside the frame
    // or a length outside 1..slot size (the slot is free again).
    // Thread safety: the thread that began the insert.
    int EndInsert(uint8_t *slot, int length, uint16_t headMarker, int headPos, uint16_t tailMarker,
                  int tailPos, int counterPos0, int counterPos1);
    // Gives back a slot from BeginInsert unpublished.
    void CancelInsert(uint8_t *slot);

    // Copies a frame received elsewhere into a free slot and publishes it:
    // 0 accepted, 1 refused without looking at the data (null frame, length
    // outside 1..slot size, no free slot), 2 rejected as by EndInsert.
    // Thread safety: any thread.
    int InsertBuff(uint8_t *frame, int length, uint16_t headMarker, int headPos,
                   uint16_t tailMarker, int tailPos, int counterPos0, int counterPos1);

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

    // The frame published last, read or not, held against refilling until
    // UnlockNewest, with its length; null when there is none (none published
    // since the last reset, or its slot is being filled again). It may be
    // read by a reader at the same time: look, do not touch.
    // Thread safety: any thread; each LockNewest pairs with one UnlockNewest.
    const uint8_t *LockNewest(int *length);
    void UnlockNewest(const uint8_t *frame);

    // Empties the ring: unread frames are dropped. Slots being filled or
    // read stay with their holders.
    // Thread safety: any thread.
    void ResetCirBuff();

    // Slots in the ring.
    int SlotCount() const { return m_iSlotCount; }

private:
    enum class SlotState : uint8_t { kFree, kFilling, kUnread, kReading };

    struct Slot {
        std::unique_ptr<uint8_t[]> pData;
        SlotState state = SlotState::kFree;
        int iLength = 0;
        int iLocks = 0;           // LockNewest holders
        uint64_t ulPublished = 0; // order of publication; 0 never
    };

    // With m_Mutex held.
    int SlotOf(const uint8_t *data) const ORU_REQUIRES(m_Mutex);
    int FreeSlot() const ORU_REQUIRES(m_Mutex);
    void Publish(int slot, int length) ORU_REQUIRES(m_Mutex);
    // Waits for an unread frame and takes the oldest for reading; -1 once
    // the deadline (null: none) has passed.
    int TakeOldest(const timespec *deadline, bool consume) ORU_REQUIRES(m_Mutex);

    long m_lSlotSize;
    int m_iSlotCount;
    Slot m_Slot[kMaxSlots] ORU_GUARDED_BY(m_Mutex);
    // Unread slots in publication order, oldest at m_iHead.
    int m_iUnread[kMaxSlots] ORU_GUARDED_BY(m_Mutex);
    int m_iHead ORU_GUARDED_BY(m_Mutex);
    int m_iUnreadCount ORU_GUARDED_BY(m_Mutex);
    uint64_t m_ulPublished ORU_GUARDED_BY(m_Mutex); // frames published since construction
    int m_iNewest ORU_GUARDED_BY(m_Mutex);          // slot of the frame published last; -1 none
    S_MUTEX_UNIX m_Mutex;
    pthread_cond_t m_ReadyCond;
    bool m_bReadyCondOk;
};
