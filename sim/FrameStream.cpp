#include "sim/FrameStream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "sim/FpgaRegister.h"
#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

constexpr size_t kMarkerBytes = 8;  // a frame smaller than its four marker words is no frame

struct MarkerWord {
    size_t offset;  // bytes
    uint16_t value;
};

// The FPGA's marker words in a frame of `frameBytes`; they overwrite pixels.
std::array<MarkerWord, 4> markerWords(size_t frameBytes, uint16_t counter, std::optional<MarkerFault> fault)
{
    size_t words = frameBytes / 2;
    auto unless = [&fault](MarkerFault broken, uint16_t value, uint16_t instead) {
        return fault == broken ? instead : value;
    };
    const uint16_t head = FrameStream::kHeadMarker;
    const uint16_t tail = FrameStream::kTailMarker;
    return {{
        {0, unless(MarkerFault::HeadMarker, head, static_cast<uint16_t>(~head))},
        {2, counter},
        {(words - 2) * 2, unless(MarkerFault::CounterMismatch, counter, static_cast<uint16_t>(counter + 1))},
        {(words - 1) * 2, unless(MarkerFault::TailMarker, tail, static_cast<uint16_t>(~tail))},
    }};
}

// How long `bytes` take at the output rate.
std::chrono::steady_clock::duration onTheWire(size_t bytes, const FrameSettings& settings)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / settings.outputBytesPerSecond));
}

template <typename Time>
std::optional<Time> earliest(std::optional<Time> a, std::optional<Time> b)
{
    if (!a || !b)
        return a ? a : b;
    return std::min(*a, *b);
}

}  // namespace

FrameStream::FrameStream(SimulatedCamera& camera) : FrameStreamBase(camera)
{
    startWorker();
}

FrameStream::~FrameStream()
{
    stopWorker();
}

void FrameStream::registerWritten(SimulatedCamera&, RegisterSpace space, uint16_t address, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (space == RegisterSpace::Fpga) {
        FrameSettings settings = FrameSettings::read(camera_);
        if (address == fpga::kControlRegister && (value & fpga::kStopBit)) {
            // Stopping the data path ends the frame on its way and empties the DDR.
            endOutput();
            forgetHeldFrame();
            exposureStart_.reset();
            edgeExposureEnd_.reset();
        } else if (address == fpga::kTriggerSignalRegister) {
            bool signal = (value & fpga::kTriggerSignalBit) != 0;
            if (settings.longExposureMode()) {
                if (signal && !triggerSignal_) {
                    forgetHeldFrame();  // the DDR is being overwritten
                    exposureStart_ = Clock::now();
                } else if (!signal && triggerSignal_ && exposureStart_) {
                    finishedExposureUs_ =
                        std::chrono::duration<double, std::micro>(Clock::now() - *exposureStart_).count();
                    exposureStart_.reset();
                }
            }
            triggerSignal_ = signal;
        } else if (address == fpga::kBufferControlRegister && (value & fpga::kReloadBit) && held_ &&
                   settings.ddrInUse) {
            heldUnsent_ = true;
        }
        // The signal, the trigger set-up or the mode may have changed.
        followTrigger(settings);
        publishStatus(settings);
    }
    wake();
}

void FrameStream::triggerInputChanged(SimulatedCamera&, bool high)
{
    std::lock_guard<std::mutex> lock(mutex_);
    triggerInput_ = high;
    followTrigger(FrameSettings::read(camera_));
    wake();
}

void FrameStream::powerCycled(SimulatedCamera&)
{
    std::lock_guard<std::mutex> lock(mutex_);
    output_.reset();
    ++epoch_;
    forgetHeldFrame();
    controllerStreaming_ = false;
    nextCounter_ = 0;
    nextExposureEnd_.reset();
    triggerSignal_ = false;
    triggerValid_ = false;
    exposureStart_.reset();
    edgeExposureEnd_.reset();
    finishedExposureUs_.reset();
    wake();
}

std::vector<SyncPulse> FrameStream::syncPulses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return syncPulses_;
}

std::vector<uint8_t> FrameStream::expectedFrame(uint16_t counter) const
{
    FrameSettings settings = FrameSettings::read(camera_);
    FrameRenderer::Pixels pixels = renderer_.render(ImageParameters::from(settings, settings.sensor.exposureUs));
    std::vector<uint8_t> frame(*pixels);
    if (frame.size() >= kMarkerBytes)
        for (const MarkerWord& word : markerWords(frame.size(), counter, std::nullopt)) {
            frame[word.offset] = static_cast<uint8_t>(word.value & 0xFF);
            frame[word.offset + 1] = static_cast<uint8_t>(word.value >> 8);
        }
    return frame;
}

bool FrameStream::flowing(const FrameSettings& settings) const
{
    return controllerStreaming_ && settings.fpgaRunning && settings.sensor.awake &&
           settings.frameBytes() >= kMarkerBytes;
}

std::optional<FrameStream::Clock::time_point> FrameStream::step(std::unique_lock<std::mutex>& lock)
{
    FrameSettings settings = FrameSettings::read(camera_);
    publishStatus(settings);
    if (!flowing(settings)) {
        endOutput();
        nextExposureEnd_.reset();
        finishedExposureUs_.reset();
        // A long exposure goes on while the sensor idles; a triggered one ends.
        if (!settings.longExposureMode()) {
            exposureStart_.reset();
            edgeExposureEnd_.reset();
        }
        return std::nullopt;
    }

    std::optional<Clock::time_point> next;
    Clock::time_point now = Clock::now();
    if (settings.longExposureMode()) {
        nextExposureEnd_.reset();
        if (finishedExposureUs_) {
            double exposureUs = *finishedExposureUs_;
            finishedExposureUs_.reset();
            expose(settings, exposureUs, true, lock);
        }
    } else if (settings.triggeredMode()) {
        nextExposureEnd_.reset();
        next = stepTriggered(settings, now, lock);
    } else {
        auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::micro>(settings.framePeriodUs()));
        if (!nextExposureEnd_) {
            nextExposureEnd_ = now + period;
        } else if (now >= *nextExposureEnd_) {
            // A late worker skips frames rather than bursting them.
            nextExposureEnd_ = std::max(*nextExposureEnd_ + period, now);
            expose(settings, settings.sensor.exposureUs, false, lock);
        }
        next = nextExposureEnd_;
    }

    if (!output_ && heldUnsent_ && camera_.waitingBulkTransfers() > 0) {
        heldUnsent_ = false;
        if (!held_->counter)
            held_->counter = nextCounter_++;
        beginOutput(*held_, lock);
    }
    if (output_)
        next = earliest(next, sendNext(settings, lock));
    return next;
}

void FrameStream::followTrigger(const FrameSettings& settings)
{
    bool signal = settings.triggerExternal ? triggerInput_ : triggerSignal_;
    bool valid = settings.triggeredMode() && signal != settings.triggerActiveLow;
    bool began = valid && !triggerValid_;
    bool ended = !valid && triggerValid_;
    triggerValid_ = valid;
    if (!settings.triggeredMode() || !flowing(settings))
        return;
    if (began && !exposureStart_) {
        beginTriggeredExposure(settings, Clock::now());
        if (!settings.triggerLevel) {
            edgeExposureUs_ = settings.triggerExposureUs;
            edgeExposureEnd_ = *exposureStart_ + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double, std::micro>(edgeExposureUs_));
        }
    } else if (ended && settings.triggerLevel && exposureStart_) {
        finishedExposureUs_ = std::chrono::duration<double, std::micro>(Clock::now() - *exposureStart_).count();
        exposureStart_.reset();
    }
}

void FrameStream::beginTriggeredExposure(const FrameSettings& settings, Clock::time_point now)
{
    exposureStart_ = now;
    for (size_t output = 0; output < settings.syncOutputs.size(); ++output) {
        const FrameSettings::SyncOutput& sync = settings.syncOutputs[output];
        if (sync.enabled)
            syncPulses_.push_back(SyncPulse{static_cast<int>(output), sync.activeHigh,
                                            now + std::chrono::microseconds(sync.delayUs), sync.durationUs});
    }
}

std::optional<FrameStream::Clock::time_point> FrameStream::stepTriggered(const FrameSettings& settings,
                                                                         Clock::time_point now,
                                                                         std::unique_lock<std::mutex>& lock)
{
    // A level that was valid before the stream flowed starts exposing now.
    if (settings.triggerLevel && triggerValid_ && !exposureStart_)
        beginTriggeredExposure(settings, now);
    if (edgeExposureEnd_ && now >= *edgeExposureEnd_) {
        finishedExposureUs_ = edgeExposureUs_;
        edgeExposureEnd_.reset();
        exposureStart_.reset();
    }
    if (finishedExposureUs_) {
        double exposureUs = *finishedExposureUs_;
        finishedExposureUs_.reset();
        expose(settings, exposureUs, true, lock);
    }
    return edgeExposureEnd_;
}

void FrameStream::expose(const FrameSettings& settings, double exposureUs, bool asked,
                         std::unique_lock<std::mutex>& lock)
{
    ImageParameters image = ImageParameters::from(settings, exposureUs);
    if (settings.ddrInUse) {
        held_ = Frame{std::nullopt, image};  // a newer frame replaces one not yet sent
        heldUnsent_ = true;
        publishStatus(settings);
        return;
    }
    Frame frame{nextCounter_++, image};
    if (!output_ && camera_.waitingBulkTransfers() > 0) {
        beginOutput(frame, lock);
    } else if (asked) {
        held_ = frame;
        heldUnsent_ = true;
    }
    // Otherwise the frame is lost, as in a FIFO nobody reads.
}

void FrameStream::beginOutput(Frame frame, std::unique_lock<std::mutex>& lock)
{
    StreamFaults::FrameFaults faults = faults_.takeFrameFaults();
    if (faults.withhold)
        return;
    uint64_t epoch = epoch_;
    // Rendering a large frame takes a while: let the host's requests through.
    lock.unlock();
    FrameRenderer::Pixels pixels = renderer_.render(frame.image);
    lock.lock();
    if (epoch != epoch_)
        return;
    size_t size = pixels->size() - std::min(faults.shortBy, pixels->size());
    output_ = Output{std::move(frame), std::move(pixels), size, 0, faults.marker, faults.unplugAfter, {}};
    if (sent_.keeping())
        output_->record.reserve(size);
    transferDue_.reset();
}

std::optional<FrameStream::Clock::time_point> FrameStream::sendNext(const FrameSettings& settings,
                                                                    std::unique_lock<std::mutex>& lock)
{
    Clock::time_point now = Clock::now();
    if (now < linkFreeAt_)
        return linkFreeAt_;
    std::optional<size_t> capacity = camera_.nextBulkTransferSize();
    if (!capacity) {
        transferDue_.reset();
        return std::nullopt;  // until a transfer is queued
    }
    if (faults_.takeStall()) {
        camera_.stallBulkTransfer();
        endOutput();
        return now;
    }
    size_t bytes = std::min(*capacity, output_->size - output_->sent);
    std::optional<size_t> unplugAfter = output_->unplugAfter;
    if (unplugAfter && output_->sent + bytes > *unplugAfter) {
        endOutput();
        lock.unlock();
        camera_.unplugFromBus();
        lock.lock();
        return std::nullopt;
    }
    if (!transferDue_)
        transferDue_ = std::max(now, linkFreeAt_) + onTheWire(bytes, settings);
    if (now < *transferDue_)
        return transferDue_;

    bool keep = sent_.keeping();
    Output& output = *output_;
    camera_.completeBulkTransfer([this, &output, keep](uint8_t* destination, size_t room) {
        size_t filled = std::min(room, output.size - output.sent);
        output.copyOut(destination, filled, keep);
        // Recorded before the host can reap the frame's last piece.
        if (output.sent >= output.size)
            recordSent();
        return filled;
    });
    linkFreeAt_ = *transferDue_;
    transferDue_.reset();
    if (output.sent >= output.size) {
        endOutput();
        if (unplugAfter) {
            lock.unlock();
            camera_.unplugFromBus();
            lock.lock();
            return std::nullopt;
        }
    } else if (std::optional<size_t> waiting = camera_.nextBulkTransferSize()) {
        // Already waiting: the data flows on without a gap.
        transferDue_ = linkFreeAt_ + onTheWire(std::min(*waiting, output.size - output.sent), settings);
    }
    return now;
}

void FrameStream::Output::copyOut(uint8_t* destination, size_t bytes, bool keep)
{
    std::memcpy(destination, pixels->data() + sent, bytes);
    for (const MarkerWord& word : markerWords(pixels->size(), *frame.counter, marker)) {
        const uint8_t halves[2] = {static_cast<uint8_t>(word.value & 0xFF), static_cast<uint8_t>(word.value >> 8)};
        for (size_t half = 0; half < 2; ++half) {
            size_t at = word.offset + half;
            if (at >= sent && at < sent + bytes)
                destination[at - sent] = halves[half];
        }
    }
    if (keep)
        record.insert(record.end(), destination, destination + bytes);
    sent += bytes;
}

void FrameStream::endOutput()
{
    ++epoch_;
    transferDue_.reset();
    if (!output_)
        return;
    recordSent();
    output_.reset();
}

void FrameStream::recordSent()
{
    if (!sent_.keeping() || output_->sent == 0 || output_->recorded)
        return;
    sent_.add(SentFrame{*output_->frame.counter, std::move(output_->record), output_->frame.image.exposureUs});
    output_->recorded = true;
}

void FrameStream::forgetHeldFrame()
{
    held_.reset();
    heldUnsent_ = false;
}

void FrameStream::publishStatus(const FrameSettings& settings)
{
    bool inSync = settings.fpgaRunning && settings.sensor.awake && !exposureStart_;
    bool holding = settings.ddrInUse && held_;
    uint8_t status = static_cast<uint8_t>((inSync ? fpga::kSyncBit : 0) | (holding ? fpga::kFrameHeldBit : 0));
    camera_.setFpgaRegisterBits(fpga::kStatusRegister, fpga::kSyncBit | fpga::kFrameHeldBit, status);
}

}  // namespace oru_sim
