// Polling the exposure status until it moves on.
#pragma once

#include <functional>
#include <optional>

#include "api/ORUCamera.h"

namespace tav_oru::internal {

// Reads the status every 500 microseconds until it differs from status and
// returns the new one. A failing read throws out of the loop, so a closed
// camera ends the wait. When keep_waiting is set and answers false at a poll,
// the wait ends with no status.
std::optional<ORU_EXPOSURE_STATUS>
wait_for_status_change(ORU_EXPOSURE_STATUS status,
                       const std::function<ORU_EXPOSURE_STATUS()> &read_status,
                       const std::function<bool()> &keep_waiting);

} // namespace tav_oru::internal
