#include "tests/ScriptedBulkSource.h"

#include <algorithm>
#include <utility>

#include "sim/CountingPatternSource.h"
#include "sim/SimulatedCamera.h"

using oru_sim::CountingPatternSource;
using oru_sim::SimulatedCamera;

ScriptedBulkSource::ScriptedBulkSource(std::vector<Step> script) : script_(std::move(script)) {}

void ScriptedBulkSource::streamingStarted(SimulatedCamera &camera)
{
    serve(camera);
}

void ScriptedBulkSource::streamingStopped(SimulatedCamera &) {}

void ScriptedBulkSource::transferQueued(SimulatedCamera &camera)
{
    serve(camera);
}

void ScriptedBulkSource::serve(SimulatedCamera &camera)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
        const Step step = next_ < script_.size() ? script_[next_] : Step{Action::Fill};
        bool ended = false;
        if (step.action == Action::Stall) {
            ended = camera.stallBulkTransfer();
        } else if (step.action == Action::Fill) {
            ended = camera.completeBulkTransfer([&](uint8_t *destination, size_t capacity) {
                requested_.push_back(capacity);
                const size_t bytes = capacity - std::min(step.shortBy, capacity);
                nextWord_ = CountingPatternSource::fillPattern(destination, bytes, nextWord_);
                return bytes;
            });
        }
        if (!ended)
            return;
        ++next_;
    }
}

std::vector<size_t> ScriptedBulkSource::requestedLengths() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_;
}

size_t ScriptedBulkSource::filledTransfers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_.size();
}
