// A bulk data source for tests: ends the camera's bulk-IN transfers, in the
// order they were queued, as its script says (filled, short, stalled or left
// waiting), and records the length each filled transfer asked for. Filled
// bytes carry the counting pattern on from one transfer to the next.
// Transfers past the end of the script are filled completely.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "sim/BulkDataSource.h"

class ScriptedBulkSource : public oru_sim::BulkDataSource {
public:
    enum class Action {
        Fill,  // complete with all asked-for bytes but shortBy
        Stall, // end with a stall
        Hold,  // leave waiting, and every transfer after it
    };
    struct Step {
        Action action;
        size_t shortBy = 0;
    };

    explicit ScriptedBulkSource(std::vector<Step> script = {});

    void streamingStarted(oru_sim::SimulatedCamera &camera) override;
    void streamingStopped(oru_sim::SimulatedCamera &camera) override;
    void transferQueued(oru_sim::SimulatedCamera &camera) override;

    std::vector<size_t> requestedLengths() const;
    size_t filledTransfers() const;

private:
    void serve(oru_sim::SimulatedCamera &camera);

    mutable std::mutex mutex_;
    const std::vector<Step> script_;
    size_t next_ = 0; // script step of the next waiting transfer
    uint16_t nextWord_ = 0;
    std::vector<size_t> requested_;
};
