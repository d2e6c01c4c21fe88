#include "sim/LegacyFrameStream.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "sim/FrameSettings.h"
#include "sim/LegacyUsb2Sensor.h"
#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

constexpr uint16_t kStreamControlRegister = 0x301A;
constexpr size_t kHeadBytes = 4;
constexpr double kUnityColourGain = 128.0;

std::chrono::steady_clock::duration microseconds(double us)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::micro>(us));
}

// How long `bytes` take on the USB2 link.
std::chrono::steady_clock::duration onTheWire(size_t bytes)
{
    return microseconds(static_cast<double>(bytes) / FrameSettings::kHighSpeedLinkRate * 1e6);
}

// A colour site's gain register relative to green, as 128 = unity.
int colourGain(uint16_t site, uint16_t green)
{
    return green > 0 ? static_cast<int>(std::lround(kUnityColourGain * site / green))
                     : static_cast<int>(kUnityColourGain);
}

}  // namespace

LegacyFrameStream::LegacyFrameStream(SimulatedCamera& camera) : FrameStreamBase(camera)
{
    startWorker();
}

LegacyFrameStream::~LegacyFrameStream()
{
    stopWorker();
}

void LegacyFrameStream::registerWritten(SimulatedCamera&, RegisterSpace space, uint16_t address, uint16_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // Any change of the stream control ends the frame under way.
    if (space == RegisterSpace::Camera && address == kStreamControlRegister) {
        endOutput();
        restartFrame();
    }
    wake();
}

void LegacyFrameStream::sensorClockChanged(SimulatedCamera&, bool running)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Clock::time_point now = Clock::now();
    if (!running && !clockStoppedAt_) {
        clockStoppedAt_ = now;
    } else if (running && clockStoppedAt_) {
        Clock::duration stopped = now - *clockStoppedAt_;
        clockStoppedAt_.reset();
        if (frameEnd_) {
            *frameEnd_ += stopped;
            stoppedDuringFrame_ += stopped;
        }
    }
    wake();
}

void LegacyFrameStream::powerCycled(SimulatedCamera&)
{
    std::lock_guard<std::mutex> lock(mutex_);
    endOutput();
    restartFrame();
    controllerStreaming_ = false;
    clockStoppedAt_.reset();
    wake();
}

std::optional<LegacyFrameStream::Clock::time_point> LegacyFrameStream::step(std::unique_lock<std::mutex>& lock)
{
    SensorState sensor = camera_.sensorState();
    size_t frameBytes = static_cast<size_t>(sensor.windowWidth) * static_cast<size_t>(sensor.windowHeight) *
                        (camera_.wideOutput() ? 2 : 1);
    bool streaming = controllerStreaming_ && sensor.awake && sensor.frameTimeUs > 0 && frameBytes >= kHeadBytes;
    if (!streaming) {
        endOutput();
        restartFrame();
        return std::nullopt;
    }

    std::optional<Clock::time_point> next;
    // A stopped clock holds the frame under way; output already read out
    // goes on.
    if (!clockStoppedAt_) {
        Clock::time_point now = Clock::now();
        Clock::duration period = microseconds(sensor.frameTimeUs);
        if (!frameEnd_) {
            frameEnd_ = now + period;
        } else if (now >= *frameEnd_) {
            double exposureUs =
                sensor.exposureUs + std::chrono::duration<double, std::micro>(stoppedDuringFrame_).count();
            // A late worker skips frames rather than bursting them.
            frameEnd_ = std::max(*frameEnd_ + period, now);
            stoppedDuringFrame_ = {};
            expose(exposureUs, lock);
        }
        next = frameEnd_;
    }
    if (output_) {
        std::optional<Clock::time_point> send = sendNext();
        if (send && (!next || *send < *next))
            next = send;
    }
    return next;
}

std::vector<uint8_t> LegacyFrameStream::render(double exposureUs) const
{
    SensorState sensor = camera_.sensorState();
    LegacyUsb2State registers = LegacyUsb2Sensor::decode(camera_);
    ImageParameters p;
    p.geometry = SkyScene::Geometry{sensor.windowWidth, sensor.windowHeight, sensor.windowX, sensor.windowY, 1,
                                    sensor.colorMosaic};
    p.bytesPerPixel = camera_.wideOutput() ? 2 : 1;
    p.exposureUs = exposureUs;
    p.gainTenthDb = sensor.gainTenthDb;
    p.blackLevel = sensor.blackLevel;
    p.adcBits = sensor.adcBits;
    int red = colourGain(registers.redGain, registers.greenGain);
    int blue = colourGain(registers.blueGain, registers.greenGain);
    p.colourGains = {red, static_cast<int>(kUnityColourGain), static_cast<int>(kUnityColourGain), blue};
    std::vector<uint8_t> frame(*renderer_.render(p));
    if (p.bytesPerPixel == 2)
        for (size_t i = 0; i + 1 < frame.size(); i += 2)
            std::swap(frame[i], frame[i + 1]);
    return frame;
}

void LegacyFrameStream::expose(double exposureUs, std::unique_lock<std::mutex>& lock)
{
    if (output_ || camera_.waitingBulkTransfers() == 0)
        return;  // lost, as in a FIFO nobody reads
    StreamFaults::FrameFaults faults = faults_.takeFrameFaults();
    if (faults.withhold)
        return;
    uint64_t epoch = epoch_;
    // Rendering a large frame takes a while: let the host's requests through.
    lock.unlock();
    std::vector<uint8_t> frame = render(exposureUs);
    lock.lock();
    if (epoch != epoch_ || frame.size() < kHeadBytes)
        return;
    uint32_t head = faults.marker == MarkerFault::HeadMarker ? ~kFrameHead : kFrameHead;
    for (size_t i = 0; i < kHeadBytes; ++i)
        frame[i] = static_cast<uint8_t>(head >> (8 * i));
    size_t size = frame.size() - std::min(faults.shortBy, frame.size());
    output_ = Output{std::move(frame), size, 0, exposureUs};
    transferDue_.reset();
}

std::optional<LegacyFrameStream::Clock::time_point> LegacyFrameStream::sendNext()
{
    Clock::time_point now = Clock::now();
    if (now < linkFreeAt_)
        return linkFreeAt_;
    std::optional<size_t> capacity = camera_.nextBulkTransferSize();
    if (!capacity) {
        endOutput();  // no transfer to take the rest: it is lost
        return std::nullopt;
    }
    if (faults_.takeStall()) {
        camera_.stallBulkTransfer();
        endOutput();
        return now;
    }
    size_t bytes = std::min(*capacity, output_->size - output_->sent);
    if (!transferDue_)
        transferDue_ = std::max(now, linkFreeAt_) + onTheWire(bytes);
    if (now < *transferDue_)
        return transferDue_;

    Output& output = *output_;
    camera_.completeBulkTransfer([this, &output](uint8_t* destination, size_t room) {
        size_t filled = std::min(room, output.size - output.sent);
        std::copy_n(output.bytes.begin() + static_cast<long>(output.sent), filled, destination);
        output.sent += filled;
        // Recorded before the host can reap the frame's last piece.
        if (output.sent >= output.size)
            recordSent();
        return filled;
    });
    linkFreeAt_ = *transferDue_;
    transferDue_.reset();
    if (output.sent >= output.size)
        endOutput();
    return now;
}

void LegacyFrameStream::endOutput()
{
    ++epoch_;
    transferDue_.reset();
    if (!output_)
        return;
    recordSent();
    output_.reset();
}

void LegacyFrameStream::recordSent()
{
    if (!sent_.keeping() || output_->sent == 0 || output_->recorded)
        return;
    output_->bytes.resize(output_->sent);
    sent_.add(SentLegacyFrame{output_->exposureUs, std::move(output_->bytes)});
    output_->recorded = true;
}

void LegacyFrameStream::restartFrame()
{
    frameEnd_.reset();
    stoppedDuringFrame_ = {};
}

}  // namespace oru_sim
