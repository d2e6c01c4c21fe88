// The bulk-in engine of CCameraFX3: one frame into one caller buffer through
// libusb asynchronous transfers, either pipelined (a whole frame submitted at
// once) or one transfer at a time.
//
// A transfer belongs to libusb from its submission until its callback has
// run; it is never resubmitted or freed in between. Callbacks run inside the
// event handling this engine does on the calling thread.
#include <sys/time.h>

#include <algorithm>
#include <cstddef>
#include <new>

#include "log/DbgPrint.h"
#include "transport/CCameraFX3.h"

namespace {

// State of one pipelined transfer, kept in the submitted flags.
enum XferState : uint8_t {
    kXferIdle = 0,     // not submitted in this frame, or already waited for
    kXferInFlight = 1, // owned by libusb
    kXferEnded = 2,    // callback ran, not yet waited for
};

constexpr int kStepXferBytes = 0x100000;
// usbfs memory the udev rule allows; the submitted transfers stay below it.
constexpr int kUsbfsAllowance = 209715200;
constexpr unsigned kNoTimeout = 0xFFFFFFFFu;
constexpr uint32_t kCancelSliceMs = 100;
// A frame missing only its final short packet is delivered as complete.
constexpr int kShortPacketSlack = 512;

struct XferStatusResult {
    int status;
    int result;
};

constexpr XferStatusResult kXferStatusResults[] = {
    {LIBUSB_TRANSFER_COMPLETED, 0},
    {LIBUSB_TRANSFER_ERROR, LIBUSB_ERROR_IO},
    {LIBUSB_TRANSFER_TIMED_OUT, LIBUSB_ERROR_TIMEOUT},
    {LIBUSB_TRANSFER_CANCELLED, LIBUSB_ERROR_IO},
    {LIBUSB_TRANSFER_STALL, LIBUSB_ERROR_PIPE},
    {LIBUSB_TRANSFER_NO_DEVICE, LIBUSB_ERROR_NO_DEVICE},
    {LIBUSB_TRANSFER_OVERFLOW, LIBUSB_ERROR_OVERFLOW},
};
constexpr int kUnknownStatusResult = -99;

int XferStatusToResult(int status)
{
    for (const XferStatusResult &entry : kXferStatusResults)
        if (entry.status == status)
            return entry.result;
    return kUnknownStatusResult;
}

// At least one transfer, so that a frame always makes progress.
int InFlightLimit(int transferBytes, int count)
{
    int limit = min(kUsbfsAllowance / transferBytes, count);
    if (static_cast<int64_t>(limit) * transferBytes == kUsbfsAllowance)
        --limit;
    return max(limit, 1);
}

// A zero slice would make event handling spin instead of sleep.
timeval Slice(uint32_t ms)
{
    ms = std::max<uint32_t>(ms, 1);
    timeval slice;
    slice.tv_sec = static_cast<time_t>(ms / 1000);
    slice.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
    return slice;
}

// Frees the first count transfers of a table, then the table.
void FreeXferTable(libusb_transfer **&table, int count)
{
    if (table)
        for (int i = 0; i < count; ++i)
            libusb_free_transfer(table[i]);
    delete[] table;
    table = nullptr;
}

template <typename T> void FreeArray(T *&array)
{
    delete[] array;
    array = nullptr;
}

} // namespace

void LIBUSB_CALL CCameraFX3::AsyncXferCallback(libusb_transfer *transfer)
{
    auto *camera = static_cast<CCameraFX3 *>(transfer->user_data);
    camera->m_iXferStatus = transfer->status;
    if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE)
        camera->m_bRemoved = true;
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
        camera->m_iXferLength = transfer->actual_length;
        camera->m_iRecvBytes += transfer->actual_length;
    } else if (transfer->status >= LIBUSB_TRANSFER_ERROR &&
               transfer->status <= LIBUSB_TRANSFER_OVERFLOW) {
        camera->m_iXferLength = -1;
    }
    camera->m_pucXferSubmitted[camera->AsyncXferIndex(transfer)] = kXferEnded;
    camera->m_ucXferDone = 1;
}

void LIBUSB_CALL CCameraFX3::StepXferCallback(libusb_transfer *transfer)
{
    *static_cast<int *>(transfer->user_data) = 1;
}

// Transfer i starts i whole transfer lengths into the frame.
int CCameraFX3::AsyncXferIndex(const libusb_transfer *transfer) const
{
    if (m_iXferCount < 2)
        return 0;
    return static_cast<int>((transfer->buffer - m_ppXfer[0]->buffer) / m_ppXfer[0]->length);
}

// Handles events until transfer index has ended or budgetMs have passed,
// sleeping at most sliceMs at a time.
void CCameraFX3::WaitForXferEnd(int index, uint32_t budgetMs, uint32_t sliceMs)
{
    const uint32_t start = GetTickCount();
    while (m_pucXferSubmitted[index] == kXferInFlight) {
        const uint32_t elapsed = GetTickCount() - start;
        if (elapsed >= budgetMs)
            return;
        timeval slice = Slice(std::min(sliceMs, budgetMs - elapsed));
        libusb_handle_events_timeout(m_pUsbContext, &slice);
    }
}

// libusb answers every cancelled transfer with a callback (cancelled,
// completed or no-device), so the wait ends.
void CCameraFX3::CancelAsyncXfer(int index)
{
    libusb_cancel_transfer(m_ppXfer[index]);
    while (m_pucXferSubmitted[index] == kXferInFlight) {
        timeval slice = Slice(kCancelSliceMs);
        libusb_handle_events_timeout(m_pUsbContext, &slice);
    }
}

void CCameraFX3::DrainAsyncXfers()
{
    for (int i = 0; i < m_iXferCount; ++i)
        if (m_pucXferSubmitted[i] == kXferInFlight)
            CancelAsyncXfer(i);
    std::fill_n(m_pucXferSubmitted, m_iXferCount, kXferIdle);
}

void CCameraFX3::FreeAsyncXferTables()
{
    if (m_ppXfer && m_pucXferSubmitted)
        DrainAsyncXfers();
    FreeXferTable(m_ppXfer, m_iXferCount);
    FreeArray(m_pucXferSubmitted);
    m_iXferCount = 0;
}

int CCameraFX3::initAsyncXfer(int totalBytes, int count, int transferBytes, uint8_t endpoint,
                              uint8_t *buffer)
{
    if (!m_bOpen || !buffer || count < 1 || transferBytes < 1)
        return 0;
    const int64_t lastBytes = static_cast<int64_t>(totalBytes) -
                              static_cast<int64_t>(count - 1) * transferBytes;
    if (lastBytes < 1)
        return 0;

    if (m_ppXfer && count != m_iXferCount)
        FreeAsyncXferTables();
    if (!m_ppXfer) {
        m_ppXfer = new (std::nothrow) libusb_transfer *[count]();
        m_pucXferSubmitted = new (std::nothrow) uint8_t[count]();
        m_iXferCount = count;
        bool allocated = m_ppXfer && m_pucXferSubmitted;
        for (int i = 0; allocated && i < count; ++i)
            allocated = (m_ppXfer[i] = libusb_alloc_transfer(0)) != nullptr;
        if (!allocated) {
            FreeAsyncXferTables();
            return 0;
        }
    }

    m_iXferInFlightMax = InFlightLimit(transferBytes, count);
    for (int i = 0; i < count; ++i) {
        const int length = i == count - 1 ? static_cast<int>(lastBytes) : transferBytes;
        libusb_fill_bulk_transfer(m_ppXfer[i], m_pDevHandle, endpoint,
                                  buffer + static_cast<size_t>(i) * transferBytes, length,
                                  AsyncXferCallback, this, kNoTimeout);
    }
    return 1;
}

int CCameraFX3::startAsyncXfer(uint32_t waitMs, uint32_t pollMs, int *received, bool *,
                               int expectedBytes)
{
    m_iRecvBytes = 0;
    if (!m_ppXfer || !m_bOpen) {
        *received = 0;
        return 1;
    }

    bool allWell = true;
    bool complete = false;
    for (int first = 0; allWell && !complete && first < m_iXferCount;
         first += m_iXferInFlightMax) {
        const int end = first + min(m_iXferCount - first, m_iXferInFlightMax);
        for (int i = first; i < end; ++i)
            m_pucXferSubmitted[i] =
                NoteResult(libusb_submit_transfer(m_ppXfer[i])) == 0 ? kXferInFlight : kXferIdle;
        m_ucXferDone = 0;
        uint32_t sliceMs = waitMs;

        for (int j = first; j < end; ++j) {
            if (m_pucXferSubmitted[j] == kXferIdle)
                continue; // its bytes are missing from the count
            if (allWell)
                WaitForXferEnd(j, waitMs, sliceMs);
            if (m_iRecvBytes == expectedBytes) {
                complete = true;
                break;
            }
            // Still with libusb: the budget ran out, or an earlier transfer
            // failed. Either way the rest of the frame is given up.
            if (m_pucXferSubmitted[j] == kXferInFlight) {
                CancelAsyncXfer(j);
                allWell = false;
            } else if (m_ppXfer[j]->status != LIBUSB_TRANSFER_COMPLETED) {
                allWell = false;
            }
            m_pucXferSubmitted[j] = kXferIdle;
            m_ucXferDone = 0;
            if (j == 0)
                sliceMs = pollMs;
        }
    }
    // A frame complete early leaves nothing pending normally; make sure.
    DrainAsyncXfers();

    if (complete) {
        *received = expectedBytes;
    } else if (m_iRecvBytes + kShortPacketSlack == expectedBytes) {
        *received = expectedBytes;
        DbgPrint(-1, "startAsyncXfer", "+512\n");
    } else {
        *received = m_iRecvBytes;
    }
    return 1;
}

void CCameraFX3::releaseAsyncXfer()
{
    if (!m_ppXfer)
        return;
    FreeAsyncXferTables();
    DbgPrint(-1, "releaseAsyncXfer", "free transfer!\n");
}

int CCameraFX3::beginAsyncXfer(uint8_t endpoint, uint8_t *buffer, int totalBytes,
                               uint32_t timeoutMs)
{
    if (!m_bOpen)
        return LIBUSB_ERROR_NO_DEVICE;
    if (!buffer || totalBytes < 1)
        return LIBUSB_ERROR_INVALID_PARAM;
    const int count = totalBytes / kStepXferBytes + (totalBytes % kStepXferBytes != 0 ? 1 : 0);

    if (!m_ppStepXfer) {
        m_piStepXferDone = new (std::nothrow) int[count]();
        m_ppStepXfer = new (std::nothrow) libusb_transfer *[count]();
        bool allocated = m_piStepXferDone && m_ppStepXfer;
        for (int i = 0; allocated && i < count; ++i)
            allocated = (m_ppStepXfer[i] = libusb_alloc_transfer(0)) != nullptr;
        if (!allocated) {
            FreeStepXferTables(count);
            return LIBUSB_ERROR_NO_MEM;
        }
    }

    for (int i = 0; i < count; ++i) {
        const int offset = i * kStepXferBytes;
        m_piStepXferDone[i] = 0;
        libusb_fill_bulk_transfer(m_ppStepXfer[i], m_pDevHandle, endpoint, buffer + offset,
                                  std::min(kStepXferBytes, totalBytes - offset), StepXferCallback,
                                  &m_piStepXferDone[i], timeoutMs);
    }
    return count;
}

int CCameraFX3::waitForAsyncXfer(int index, int *received)
{
    *received = 0;
    if (!m_ppStepXfer || index < 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!m_bOpen)
        return LIBUSB_ERROR_NO_DEVICE;

    libusb_transfer *transfer = m_ppStepXfer[index];
    int &done = m_piStepXferDone[index];
    done = 0;
    const int submitted = NoteResult(libusb_submit_transfer(transfer));
    if (submitted < 0)
        return submitted;
    bool cancelled = false;
    while (!done) {
        const int result = libusb_handle_events_completed(m_pUsbContext, &done);
        if (result < 0 && result != LIBUSB_ERROR_INTERRUPTED && !cancelled) {
            libusb_cancel_transfer(transfer);
            cancelled = true;
        }
    }
    *received = transfer->actual_length;
    DbgPrint(-1, "waitForAsyncXfer", "wait for length = %d\n", *received);
    return NoteResult(XferStatusToResult(transfer->status));
}

void CCameraFX3::FreeStepXferTables(int count)
{
    FreeXferTable(m_ppStepXfer, count);
    FreeArray(m_piStepXferDone);
}

void CCameraFX3::finishAsyncXfer(int count)
{
    if (!m_ppStepXfer)
        return;
    FreeStepXferTables(count);
    DbgPrint(-1, "finishAsyncXfer", "free transfer!\n");
}
