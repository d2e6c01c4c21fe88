// The bulk-IN side of an attached device as the camera model sees it: the
// transfers the host has queued, oldest first.
#pragma once

#include <cstddef>
#include <optional>

#include "sim/BulkDataSource.h"

namespace oru_sim {

class BulkTransferPort {
public:
    virtual ~BulkTransferPort() = default;
    virtual size_t waitingTransfers() = 0;
    // Length of the oldest waiting transfer; none when none waits.
    virtual std::optional<size_t> nextCapacity() const = 0;
    // Fills and completes the oldest waiting transfer; false when none waits.
    virtual bool completeNext(const BulkFill& fill) = 0;
    // Ends the oldest waiting transfer with a stall; false when none waits.
    virtual bool stallNext() = 0;
};

}  // namespace oru_sim
