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

// Transfers of transferBytes that stay below the usbfs allowance together.
int UsbfsLimit(int transferBytes)
{
    const int limit = kUsbfsAllowance / transferBytes;
    return static_cast<int64_t>(limit) * transferBytes == kUsbfsAllowance ? limit - 1 : limit;
}

// At least one transfer, so that a frame always makes progress.
int InFlightLimit(int transferBytes, int count)
{
    return max(min(UsbfsLimit(transferBytes), count), 1);
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

template <typename T>
void FreeArray(T *&array)
{
    delete[] array;
    array = nullptr;
}

} // namespace

void LIBUSB_CALL CCameraFX3::AsyncXferCallback(libusb_transfer *transfer)
{
    auto *camera = static_cast<CCameraFX3 *>(transfer->user_data);
    const int index = camera->AsyncXferIndex(transfer);
    camera->m_iXferStatus = transfer->status;
    if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE)
        camera->m_bRemoved = true;
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
        camera->m_iXferLength = transfer->actual_length;
        camera->m_iSetRecvBytes[index / camera->m_iXferCount] += transfer->actual_length;
    } else if (transfer->status >= LIBUSB_TRANSFER_ERROR &&
               transfer->status <= LIBUSB_TRANSFER_OVERFLOW) {
        camera->m_iXferLength = -1;
    }
    camera->m_pucXferSubmitted[index] = kXferEnded;
    camera->m_ucXferDone = 1;
}

void LIBUSB_CALL CCameraFX3::StepXferCallback(libusb_transfer *transfer)
{
    *static_cast<int *>(transfer->user_data) = 1;
}

// Where the transfer stands in the table (frame set by frame set).
int CCameraFX3::AsyncXferIndex(const libusb_transfer *transfer) const
{
    const int total = m_iXferSets * m_iXferCount;
    for (int i = 0; i < total; ++i)
        if (m_ppXfer[i] == transfer)
            return i;
    return 0;
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

// Cancels every transfer of the frame set still with libusb.
void CCameraFX3::DrainAsyncFrame(int set)
{
    uint8_t *state = m_pucXferSubmitted + set * m_iXferCount;
    for (int i = 0; i < m_iXferCount; ++i)
        if (state[i] == kXferInFlight)
            CancelAsyncXfer(set * m_iXferCount + i);
    std::fill_n(state, m_iXferCount, kXferIdle);
}

void CCameraFX3::FreeAsyncXferTables()
{
    if (m_ppXfer && m_pucXferSubmitted)
        cancelAsyncFrames();
    FreeXferTable(m_ppXfer, m_iXferSets * m_iXferCount);
    FreeArray(m_pucXferSubmitted);
    m_iXferCount = 0;
    m_iXferSets = 0;
    m_iXferFirstSet = 0;
}

int CCameraFX3::initAsyncXfer(int totalBytes, int count, int transferBytes, uint8_t endpoint,
                              uint8_t *buffer)
{
    if (!m_bOpen || !buffer || count < 1 || transferBytes < 1)
        return 0;
    const int64_t lastBytes =
        static_cast<int64_t>(totalBytes) - static_cast<int64_t>(count - 1) * transferBytes;
    if (lastBytes < 1)
        return 0;

    // Frames are queued ahead only as far as they fit the allowance together.
    const int sets = kAsyncFrameSets * static_cast<int64_t>(count) <= UsbfsLimit(transferBytes)
                         ? kAsyncFrameSets
                         : 1;
    if (m_ppXfer && (count != m_iXferCount || sets != m_iXferSets))
        FreeAsyncXferTables();
    if (!m_ppXfer) {
        const int total = sets * count;
        m_ppXfer = new (std::nothrow) libusb_transfer *[total]();
        m_pucXferSubmitted = new (std::nothrow) uint8_t[total]();
        m_iXferCount = count;
        m_iXferSets = sets;
        bool allocated = m_ppXfer && m_pucXferSubmitted;
        for (int i = 0; allocated && i < total; ++i)
            allocated = (m_ppXfer[i] = libusb_alloc_transfer(0)) != nullptr;
        if (!allocated) {
            FreeAsyncXferTables();
            return 0;
        }
    } else {
        cancelAsyncFrames();
    }

    m_iXferInFlightMax = InFlightLimit(transferBytes, count);
    m_iXferBytes = transferBytes;
    m_iXferFrameBytes = totalBytes;
    m_pXferBuffer = buffer;
    for (int i = 0; i < sets * count; ++i) {
        const int piece = i % count;
        const int length = piece == count - 1 ? static_cast<int>(lastBytes) : transferBytes;
        libusb_fill_bulk_transfer(m_ppXfer[i], m_pDevHandle, endpoint,
                                  buffer + static_cast<size_t>(piece) * transferBytes, length,
                                  AsyncXferCallback, this, kNoTimeout);
    }
    return 1;
}

// Submits transfers first..end-1 of the frame set; one that libusb refuses
// stays idle and its bytes are missing from the frame.
void CCameraFX3::SubmitAsyncXfers(int set, int first, int end)
{
    for (int i = set * m_iXferCount + first; i < set * m_iXferCount + end; ++i)
        m_pucXferSubmitted[i] =
            NoteResult(libusb_submit_transfer(m_ppXfer[i])) == 0 ? kXferInFlight : kXferIdle;
    m_iSetSubmitted[set] = end;
}

bool CCameraFX3::queueAsyncFrame(uint8_t *buffer)
{
    if (!m_ppXfer || !m_bOpen || !buffer || m_iXferQueued == m_iXferSets)
        return false;
    const int set = (m_iXferFirstSet + m_iXferQueued) % m_iXferSets;
    for (int i = 0; i < m_iXferCount; ++i)
        m_ppXfer[set * m_iXferCount + i]->buffer = buffer + static_cast<size_t>(i) * m_iXferBytes;
    m_pSetBuffer[set] = buffer;
    m_iSetRecvBytes[set] = 0;
    // A frame beyond the in-flight limit goes out in batches as it comes in.
    SubmitAsyncXfers(set, 0, std::min(m_iXferCount, m_iXferInFlightMax));
    ++m_iXferQueued;
    return true;
}

uint8_t *CCameraFX3::WaitAsyncFrame(uint32_t waitMs, uint32_t pollMs, int expectedBytes,
                                    int *received, bool *cut)
{
    *received = 0;
    *cut = false;
    if (m_iXferQueued == 0)
        return nullptr;
    const int set = m_iXferFirstSet;
    const int first = set * m_iXferCount;
    bool allWell = true;
    bool complete = false;
    uint32_t sliceMs = waitMs;
    for (int j = 0; j < m_iXferCount && !complete; ++j) {
        if (j == m_iSetSubmitted[set]) {
            if (!allWell)
                break;
            SubmitAsyncXfers(set, j, std::min(m_iXferCount, j + m_iXferInFlightMax));
        }
        const int i = first + j;
        if (m_pucXferSubmitted[i] == kXferIdle)
            continue; // its bytes are missing from the count
        if (allWell)
            WaitForXferEnd(i, waitMs, sliceMs);
        complete = m_iSetRecvBytes[set] == expectedBytes;
        // Still with libusb: the budget ran out, or an earlier transfer
        // failed. Short of its length before the frame's last transfer: the
        // camera has ended the frame. Either way the rest of the frame is
        // given up.
        const libusb_transfer &xfer = *m_ppXfer[i];
        if (!complete && m_pucXferSubmitted[i] == kXferInFlight) {
            CancelAsyncXfer(i);
            allWell = false;
        } else if (!complete && (xfer.status != LIBUSB_TRANSFER_COMPLETED ||
                                 (j < m_iXferCount - 1 && xfer.actual_length < xfer.length))) {
            allWell = false;
        }
        m_pucXferSubmitted[i] = kXferIdle;
        m_ucXferDone = 0;
        if (j == 0)
            sliceMs = pollMs;
    }
    // A frame complete early leaves nothing pending normally; make sure.
    DrainAsyncFrame(set);
    m_iXferFirstSet = (set + 1) % m_iXferSets;
    --m_iXferQueued;

    const int bytes = m_iSetRecvBytes[set];
    if (complete) {
        *received = expectedBytes;
    } else if (bytes + kShortPacketSlack == expectedBytes) {
        *received = expectedBytes;
        DbgPrint(LogSeverity::Debug, -1, "startAsyncXfer", "+512\n");
    } else {
        *received = bytes;
        *cut = bytes > 0 && !allWell;
    }
    return m_pSetBuffer[set];
}

uint8_t *CCameraFX3::waitAsyncFrame(uint32_t waitMs, uint32_t pollMs, int *received, bool *cut)
{
    return WaitAsyncFrame(waitMs, pollMs, m_iXferFrameBytes, received, cut);
}

void CCameraFX3::cancelAsyncFrames()
{
    for (; m_iXferQueued > 0; --m_iXferQueued) {
        DrainAsyncFrame(m_iXferFirstSet);
        m_iXferFirstSet = (m_iXferFirstSet + 1) % m_iXferSets;
    }
}

int CCameraFX3::startAsyncXfer(uint32_t waitMs, uint32_t pollMs, int *received, bool *,
                               int expectedBytes)
{
    *received = 0;
    if (!m_ppXfer || !m_bOpen)
        return 1;
    cancelAsyncFrames();
    bool cut = false;
    if (queueAsyncFrame(m_pXferBuffer))
        WaitAsyncFrame(waitMs, pollMs, expectedBytes, received, &cut);
    return 1;
}

void CCameraFX3::releaseAsyncXfer()
{
    if (!m_ppXfer)
        return;
    FreeAsyncXferTables();
    DbgPrint(LogSeverity::Debug, -1, "releaseAsyncXfer", "free transfer!\n");
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
    DbgPrint(LogSeverity::Debug, -1, "waitForAsyncXfer", "wait for length = %d\n", *received);
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
    DbgPrint(LogSeverity::Debug, -1, "finishAsyncXfer", "free transfer!\n");
}
